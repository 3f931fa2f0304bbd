// The queue commands: what each does to the list, what it refuses during a
// run, and the queue file after each one, read back by the model's loader.

#include "CoordinatorTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::CoordinatorFixture;
using Coordinator = EncodingCoordinator;
using Status = EncodeJob::Status;

// Jobs as "name" or "name (off)" entries, in order.
std::vector<std::string> names(const QueuePersistence::JobList& jobs) {
    std::vector<std::string> entries;
    for (const auto& job : jobs)
        entries.push_back(job->sourceURL().filename().string() + (job->enabled() ? "" : " (off)"));
    return entries;
}
std::vector<std::string> names(const Coordinator& coordinator) { return names(coordinator.jobs()); }
std::vector<std::string> savedQueue(const CoordinatorFixture& fixture) {
    return names(QueuePersistence::load(fixture.queueFolder()));
}

// A coordinator with one queued file per name, restored from a saved queue.
std::unique_ptr<test::TestCoordinator> queued(CoordinatorFixture& fixture, const std::vector<std::string>& files) {
    QueuePersistence::JobList jobs;
    for (const auto& file : files) jobs.push_back(std::make_shared<EncodeJob>(test::touch(fixture.folder / file)));
    QueuePersistence::save(jobs, fixture.queueFolder());
    return fixture.make();
}

TEST(QueueCommands, AddingFilesFiltersByExtensionAndDuplicatesAndAlwaysSaves) {
    CoordinatorFixture fixture;
    auto coordinator = queued(fixture, {"a.mov"});
    const fs::path a = fixture.folder / "a.mov";
    const fs::path loud = test::touch(fixture.folder / "LOUD.MOV");
    const fs::path still = test::touch(fixture.folder / "still.jpeg");
    const fs::path bare = test::touch(fixture.folder / "bare");
    const fs::path notes = test::touch(fixture.folder / "notes.txt");
    // Named as movies, but a folder, a named pipe and a link to a device: nothing a job can read.
    const fs::path folder = fixture.folder / "folder.mov", pipe = fixture.folder / "pipe.mov",
                   device = fixture.folder / "tape.mov";
    fs::create_directory(folder);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", device);
    auto changes = test::countEmissions(coordinator.get(), &Coordinator::jobsChanged);

    struct Row {
        std::vector<fs::path> files;
        Coordinator::Duplicates duplicates;
        std::vector<std::string> expected;
        int changes;
        std::vector<fs::path> refused;  // returned: skipped for their type, not as duplicates
    } rows[] = {
        {{loud, bare, notes, loud}, Coordinator::Duplicates::skipped, {"a.mov", "LOUD.MOV"}, 1, {bare, notes}},
        {{a, loud}, Coordinator::Duplicates::skipped, {"a.mov", "LOUD.MOV"}, 1, {}},
        {{still, still}, Coordinator::Duplicates::allowed, {"a.mov", "LOUD.MOV", "still.jpeg", "still.jpeg"}, 2, {}},
        {{folder, pipe, device},
         Coordinator::Duplicates::allowed,
         {"a.mov", "LOUD.MOV", "still.jpeg", "still.jpeg"},
         2,
         {folder, pipe, device}},
        {{test::touch(fixture.folder / "caf\xe9.mov")},  // a Latin-1 name, kept as its bytes
         Coordinator::Duplicates::allowed,
         {"a.mov", "LOUD.MOV", "still.jpeg", "still.jpeg", "caf\xe9.mov"},
         3,
         {}},
    };
    for (const auto& row : rows) {
        fs::remove(fixture.queueFolder() / QueuePersistence::kFileName);
        EXPECT_EQ(coordinator->addFiles(row.files, row.duplicates), row.refused);
        EXPECT_EQ(names(*coordinator), row.expected);
        EXPECT_EQ(savedQueue(fixture), row.expected) << "saved even when nothing was added";
        EXPECT_EQ(*changes, row.changes);
    }
    EXPECT_NE(coordinator->jobs()[2]->id(), coordinator->jobs()[3]->id());
    EXPECT_EQ(coordinator->jobs()[3]->status(), Status::waiting);

    auto unrestored = fixture.make(Coordinator::Restore::no);
    EXPECT_TRUE(unrestored->jobs().empty()) << "the queue file was read without restore";
    unrestored->addFiles({loud}, Coordinator::Duplicates::allowed);
    unrestored->clearFinished();
    EXPECT_EQ(savedQueue(fixture), rows[4].expected) << "the queue file was written without restore";
}

TEST(QueueCommands, MovingFollowsListMoveOffsets) {
    struct Row {
        std::vector<std::size_t> from;
        std::size_t to;
        std::vector<std::string> expected;
    } rows[] = {
        {{0, 1}, 3, {"C.mov", "A.mov", "B.mov", "D.mov"}}, {{3}, 0, {"D.mov", "A.mov", "B.mov", "C.mov"}},
        {{1}, 1, {"A.mov", "B.mov", "C.mov", "D.mov"}},    {{1}, 2, {"A.mov", "B.mov", "C.mov", "D.mov"}},
        {{2, 0}, 4, {"B.mov", "D.mov", "A.mov", "C.mov"}}, {{9, 1}, 99, {"A.mov", "C.mov", "D.mov", "B.mov"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "to " << row.to);
        CoordinatorFixture fixture;
        auto coordinator = queued(fixture, {"A.mov", "B.mov", "C.mov", "D.mov"});
        const auto before = names(*coordinator);
        auto changes = test::countEmissions(coordinator.get(), &Coordinator::jobsChanged);
        coordinator->move(row.from, row.to);
        EXPECT_EQ(names(*coordinator), row.expected);
        EXPECT_EQ(savedQueue(fixture), row.expected);
        EXPECT_EQ(*changes, row.expected == before ? 0 : 1);
    }
}

TEST(QueueCommands, ClearFinishedKeepsEverythingElseInOrder) {
    CoordinatorFixture fixture;
    auto coordinator = queued(fixture, {"done.mov", "failed.mov", "cancelled.mov", "waiting.mov"});
    coordinator->jobs()[0]->setStatus(Status::finished);
    coordinator->jobs()[1]->setStatus(Status::failed);
    coordinator->jobs()[2]->setStatus(Status::cancelled);
    coordinator->setEnabled(*coordinator->jobs()[2], false);
    coordinator->clearFinished();
    const std::vector<std::string> expected{"failed.mov", "cancelled.mov (off)", "waiting.mov"};
    EXPECT_EQ(names(*coordinator), expected);
    EXPECT_EQ(savedQueue(fixture), expected);
}

TEST(QueueCommands, RetryResetsTheRunButKeepsTheJobsOwnChoices) {
    CoordinatorFixture fixture;
    auto coordinator = queued(fixture, {"clip.mov"});
    EncodeJob& job = *coordinator->jobs()[0];
    job.setOutputs({JobOutputSpec("Web", ExportConfiguration{})});
    job.setStatus(Status::finished);
    job.setProgress(1);
    job.setOutputURL(fixture.folder / "clip_ProRes.mov");
    job.setErrorMessage("old");
    job.setUploadState(EncodeJob::UploadState::uploaded);
    job.setUploadMessage("sent");
    coordinator->setEnabled(job, false);

    coordinator->retry(job);
    EXPECT_EQ(job.status(), Status::waiting);
    EXPECT_EQ(job.progress(), 0);
    EXPECT_FALSE(job.outputURL());
    EXPECT_FALSE(job.errorMessage());
    EXPECT_EQ(job.uploadState(), EncodeJob::UploadState::none);
    EXPECT_FALSE(job.uploadMessage());
    EXPECT_FALSE(job.enabled());
    ASSERT_EQ(job.outputs().size(), 1u);
    const auto saved = QueuePersistence::load(fixture.queueFolder());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0]->outputs().at(0).name, "Web");
}

// During a run the commands that shrink or reorder the queue do nothing at
// all; adding and switching jobs on or off still work and save.
TEST(QueueCommands, WhileRunningOnlyAddAndEnableAreAccepted) {
    struct Row {
        const char* name;
        std::function<void(Coordinator&)> command;
        bool accepted;
    } rows[] = {
        {"remove", [](Coordinator& c) { c.remove(*c.jobs()[0]); }, false},
        {"retry", [](Coordinator& c) { c.retry(*c.jobs()[0]); }, false},
        {"move", [](Coordinator& c) { c.move({0}, 2); }, false},
        {"clearFinished", [](Coordinator& c) { c.clearFinished(); }, false},
        {"addFiles", [](Coordinator& c) { c.addFiles({c.jobs()[0]->sourceURL()}, Coordinator::Duplicates::allowed); },
         true},
        {"setEnabled", [](Coordinator& c) { c.setEnabled(*c.jobs()[1], false); }, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CoordinatorFixture fixture;
        auto coordinator = queued(fixture, {"A.mov", "B.mov"});
        coordinator->jobs()[0]->setStatus(Status::finished);
        coordinator->setRunning(true);
        fs::remove(fixture.queueFolder() / QueuePersistence::kFileName);
        const auto spies = test::spyOnEverySignal(coordinator.get());

        row.command(*coordinator);
        EXPECT_EQ(coordinator->jobs()[0]->status(), Status::finished);
        if (!row.accepted) {
            EXPECT_EQ(names(*coordinator), (std::vector<std::string>{"A.mov", "B.mov"}));
            for (const auto& spy : spies) EXPECT_EQ(spy->count(), 0) << spy->signal().toStdString();
            EXPECT_FALSE(fs::exists(fixture.queueFolder() / QueuePersistence::kFileName)) << "a refusal saved";
        } else {
            EXPECT_EQ(savedQueue(fixture), names(*coordinator));
            EXPECT_NE(names(*coordinator), (std::vector<std::string>{"A.mov", "B.mov"}));
        }
    }
}

}  // namespace
}  // namespace fw

// A queue file and a history file that no reader could walk: the coordinator
// starts on an empty queue and history, and the files' bytes outlive the
// first add and the first real encode.

#include "CoordinatorTestSupport.h"

#include <QTest>

#include <algorithm>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// A list whose one element is nested `depth` levels deep, arrays or objects.
std::string deepList(std::size_t depth, bool objects) {
    std::string text = "[";
    for (std::size_t level = 0; level < depth; ++level) text += objects ? "{\"a\":" : "[";
    text += "1";
    text.append(depth, objects ? '}' : ']');
    return text + "]";
}

TEST(StoredFiles, QueueAndHistoryNestedTooDeepKeepTheirBytesAcrossAnAddAndAnEncode) {
    CoordinatorFixture fixture;
    const fs::path folder = fixture.queueFolder();
    fs::create_directories(folder);
    const struct {
        std::string queue, history;
    } rows[] = {{deepList(100000, false), deepList(100000, true)}, {deepList(100000, true), deepList(100000, false)}};
    const fs::path clip = generated("stored.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=0.3",
                                                   "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    ASSERT_FALSE(clip.empty());
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        const auto& row = rows[index];
        SCOPED_TRACE(index);
        for (const char* name : {"queue.json", "history.json", "queue.unreadable.json", "history.unreadable.json"})
            fs::remove(folder / name);
        std::ofstream(folder / "queue.json") << row.queue;
        std::ofstream(folder / "history.json") << row.history;

        EncodeHistoryStore history(folder);
        CoordinatorServices services = fixture.services();
        services.history = &history;
        TestCoordinator coordinator(services, EncodingCoordinator::Restore::yes);
        EXPECT_TRUE(coordinator.jobs().empty());
        EXPECT_TRUE(history.records().empty());

        coordinator.addFiles({clip}, EncodingCoordinator::Duplicates::allowed);
        ASSERT_EQ(coordinator.jobs().size(), 1u);
        EXPECT_EQ(readText(folder / "queue.unreadable.json"), row.queue);
        EXPECT_EQ(QueuePersistence::load(folder).size(), 1u) << "the new queue file holds the file added";
        EXPECT_EQ(readText(folder / "history.json"), row.history) << "untouched until the first record";

        coordinator.setOutputDirectory(fixture.folder.path());
        coordinator.startEncoding();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator.isRunning(); }, 50000));
        EXPECT_EQ(coordinator.jobs()[0]->status(), EncodeJob::Status::finished)
            << coordinator.jobs()[0]->errorMessage().value_or("");
        EXPECT_EQ(readText(folder / "history.unreadable.json"), row.history);
        EXPECT_EQ(EncodeHistoryStore(folder).records().size(), 1u) << "the new history file holds the encode";
        EXPECT_EQ(readText(folder / "queue.unreadable.json"), row.queue) << "still whole after the run's save";
    }
}

// Queued files on a drive that is not there at launch are left out of the
// queue but not lost: saves keep their entries as written, and the launch
// that finds the files again restores them, flags and outputs included, after
// the jobs that were there.
TEST(StoredFiles, QueuedFilesOnADriveNotThereAtLaunchComeBackWhenItIs) {
    const struct {
        const char* name;
        std::vector<bool> onDrive;  // each queued file, in queue order
    } rows[] = {
        {"first", {true, false, false}},
        {"last", {false, false, true}},
        {"all", {true, true, true}},
        {"middle two", {false, true, true, false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CoordinatorFixture fixture;
        fs::create_directories(fixture.folder / "drive");
        QueuePersistence::JobList queued;
        for (std::size_t index = 0; index < row.onDrive.size(); ++index) {
            const fs::path folder = row.onDrive[index] ? fixture.folder / "drive" : fixture.folder.path();
            auto job = std::make_shared<EncodeJob>(touch(folder / (std::to_string(index) + ".mov")));
            job->setEnabled(index % 2 == 0);
            job->setOutputs({JobOutputSpec("Output " + std::to_string(index), ExportConfiguration{})});
            queued.push_back(std::move(job));
        }
        QueuePersistence::save(queued, fixture.queueFolder());
        fs::rename(fixture.folder / "drive", fixture.folder / "unplugged");
        const auto there = std::size_t(std::count(row.onDrive.begin(), row.onDrive.end(), false));
        {
            auto coordinator = fixture.make();
            EXPECT_EQ(coordinator->jobs().size(), there);
            coordinator->addFiles({touch(fixture.folder / "added.mov")}, EncodingCoordinator::Duplicates::allowed);
        }
        fs::rename(fixture.folder / "unplugged", fixture.folder / "drive");
        std::vector<std::string> expected, restored;
        for (const bool drive : {false, true})
            for (std::size_t index = 0; index < row.onDrive.size(); ++index)
                if (row.onDrive[index] == drive)
                    expected.push_back(queued[index]->sourceURL().string() + (index % 2 == 0 ? " on " : " off ") +
                                       "Output " + std::to_string(index));
        // The added job follows the jobs that were there.
        expected.insert(expected.begin() + std::ptrdiff_t(there), (fixture.folder / "added.mov").string() + " on ");
        for (const auto& job : QueuePersistence::load(fixture.queueFolder()))
            restored.push_back(job->sourceURL().string() + (job->enabled() ? " on " : " off ") +
                               (job->outputs().empty() ? "" : job->outputs()[0].name));
        EXPECT_EQ(restored, expected);
    }
}

// Queued files on a drive that leaves while the window runs keep their
// entries, in their places, through whatever saves the queue then: a file
// handed over by a second launch, or a run in which they fail. Once the
// drive is back, the next launch restores them.
TEST(StoredFiles, QueuedFilesOnADriveThatLeavesDuringASessionKeepTheirPlaces) {
    const fs::path clip = generated("stored.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=0.3",
                                                   "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    ASSERT_FALSE(clip.empty());
    const struct {
        const char* name;
        std::function<void(TestCoordinator&, CoordinatorFixture&)> save;
        std::vector<std::string> restored;  // each job's file, flag and first output's name
    } rows[] = {
        {"a file handed over",
         [](TestCoordinator& coordinator, CoordinatorFixture& fixture) {
             coordinator.addFiles({touch(fixture.folder / "handed.mov")}, EncodingCoordinator::Duplicates::allowed);
         },
         {"usb/a.mp4 on ", "c.mp4 off ", "usb/b.mp4 on Web", "handed.mov on "}},
        {"a run in which they fail",
         [](TestCoordinator& coordinator, CoordinatorFixture& fixture) {
             coordinator.setOutputDirectory(fixture.folder.path());
             coordinator.startEncoding();
             ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator.isRunning(); }, 50000));
             for (const std::size_t failed : {0, 2}) {
                 EXPECT_EQ(coordinator.jobs()[failed]->status(), EncodeJob::Status::failed);
                 EXPECT_NE(coordinator.jobs()[failed]->errorMessage().value_or("").find("No such file or directory"),
                           std::string::npos);
             }
         },
         {"usb/a.mp4 on ", "c.mp4 off ", "usb/b.mp4 on Web"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CoordinatorFixture fixture;
        fs::create_directories(fixture.folder / "usb");
        for (const char* name : {"usb/a.mp4", "c.mp4", "usb/b.mp4"}) fs::copy_file(clip, fixture.folder / name);
        auto coordinator = fixture.make();
        coordinator->addFiles({fixture.folder / "usb/a.mp4", fixture.folder / "c.mp4", fixture.folder / "usb/b.mp4"},
                              EncodingCoordinator::Duplicates::allowed);
        ASSERT_EQ(coordinator->jobs().size(), 3u);
        coordinator->setEnabled(*coordinator->jobs()[1], false);
        coordinator->setOutputs(*coordinator->jobs()[2], {JobOutputSpec("Web", ExportConfiguration{})});
        fs::rename(fixture.folder / "usb", fixture.folder / "unplugged");
        row.save(*coordinator, fixture);
        EXPECT_EQ(coordinator->jobs().size(), row.restored.size());

        fs::rename(fixture.folder / "unplugged", fixture.folder / "usb");
        std::vector<std::string> restored;
        const auto relaunched = fixture.make();
        for (const auto& job : relaunched->jobs())
            restored.push_back(job->sourceURL().lexically_relative(fixture.folder.path()).string() +
                               (job->enabled() ? " on " : " off ") +
                               (job->outputs().empty() ? "" : job->outputs()[0].name));
        EXPECT_EQ(restored, row.restored);
    }
}

}  // namespace
}  // namespace fw::test

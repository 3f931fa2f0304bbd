// A queue file and a history file that no reader could walk: the coordinator
// starts on an empty queue and history, and the files' bytes outlive the
// first add and the first real encode.

#include "CoordinatorTestSupport.h"

#include <QTest>

#include <algorithm>
#include <fstream>

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
// the jobs that were there. A drive unplugged while the window runs leaves
// its files' entries in their places through the save of a file handed over,
// or of a run in which they fail.
TEST(StoredFiles, QueuedFilesOnADriveNotThereAtLaunchComeBackWhenItIs) {
    enum class Unplugged { beforeLaunch, beforeAHandOver, beforeARun };
    const struct {
        const char* name;
        std::vector<bool> onDrive;  // each queued file, in queue order
        Unplugged when = Unplugged::beforeLaunch;
    } rows[] = {
        {"first", {true, false, false}},
        {"last", {false, false, true}},
        {"all", {true, true, true}},
        {"middle two", {false, true, true, false}},
        {"first and last, then a hand-over", {true, false, true}, Unplugged::beforeAHandOver},
        {"first and last, then a run", {true, false, true}, Unplugged::beforeARun},
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
        const bool atLaunch = row.when == Unplugged::beforeLaunch;
        if (atLaunch) fs::rename(fixture.folder / "drive", fixture.folder / "unplugged");
        const auto there =
            atLaunch ? std::size_t(std::count(row.onDrive.begin(), row.onDrive.end(), false)) : queued.size();
        {
            auto coordinator = fixture.make();
            EXPECT_EQ(coordinator->jobs().size(), there);
            if (!atLaunch) fs::rename(fixture.folder / "drive", fixture.folder / "unplugged");
            if (row.when == Unplugged::beforeARun)
                coordinator->startEncoding();
            else
                coordinator->addFiles({touch(fixture.folder / "added.mov")}, EncodingCoordinator::Duplicates::allowed);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator->isRunning(); }, 50000));
        }
        fs::rename(fixture.folder / "unplugged", fixture.folder / "drive");
        std::vector<std::string> expected, restored;
        for (const bool drive : {false, true})
            for (std::size_t index = 0; index < row.onDrive.size(); ++index)
                if (atLaunch ? row.onDrive[index] == drive : !drive)
                    expected.push_back(queued[index]->sourceURL().string() + (index % 2 == 0 ? " on " : " off ") +
                                       "Output " + std::to_string(index));
        // The added job follows the jobs that were there.
        if (row.when != Unplugged::beforeARun)
            expected.insert(expected.begin() + std::ptrdiff_t(there), (fixture.folder / "added.mov").string() + " on ");
        for (const auto& job : QueuePersistence::load(fixture.queueFolder()))
            restored.push_back(job->sourceURL().string() + (job->enabled() ? " on " : " off ") +
                               (job->outputs().empty() ? "" : job->outputs()[0].name));
        EXPECT_EQ(restored, expected);
    }
}

}  // namespace
}  // namespace fw::test

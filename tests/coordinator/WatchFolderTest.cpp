// The watch folder on a real folder with inotify: files are taken once, when
// they have finished arriving; the system's own outputs are never taken back.

#include "CoordinatorTestSupport.h"

#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Writes each output under a hidden name and renames it into place, as the
// real encoders do; a source not ending in "END" (still arriving) fails.
class RecordingBackend final : public EncoderBackend {
public:
    IntSize naturalPixelSize(const fs::path&) const override { return {64, 48}; }
    void encode(const fs::path& source, const fs::path& destination, const ExportConfiguration&,
                const SourceEncodeOptions&, const ProgressCallback&, const PreviewCallback&,
                std::stop_token) const override {
        {
            const std::lock_guard lock(mutex_);
            encoded_.push_back(source.filename().string());
        }
        std::ifstream input(source);
        const std::string content((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
        if (!content.ends_with("END")) throw std::runtime_error("truncated source");
        const fs::path staged = destination.parent_path() / ("." + destination.filename().string() + ".staged");
        std::ofstream(staged) << "encoded END";
        fs::rename(staged, destination);
    }
    fs::path stitch(const std::vector<fs::path>&, const ExportConfiguration&, const SourceEncodeOptions&,
                    const std::function<fs::path(IntSize)>&, const ProgressCallback&, const PreviewCallback&,
                    std::stop_token) const override {
        throw std::runtime_error("not used");
    }
    std::vector<std::string> encoded() const {
        const std::lock_guard lock(mutex_);
        return encoded_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::vector<std::string> encoded_;
};

constexpr auto kSettle = 300ms;

struct WatchFixture : CoordinatorFixture {
    std::shared_ptr<RecordingBackend> backend = std::make_shared<RecordingBackend>();
    std::unique_ptr<TestCoordinator> coordinator;
    fs::path watched = folder / "watched";
    fs::path outside = folder / "outside";

    enum class Watch { now, later };
    explicit WatchFixture(bool autoStart, std::chrono::milliseconds settle = kSettle, Watch watch = Watch::now) {
        fs::create_directories(watched);
        fs::create_directories(outside);
        CoordinatorServices wired = services();
        wired.encoders = backend;
        wired.watchSettleInterval = settle;
        coordinator = std::make_unique<TestCoordinator>(wired, EncodingCoordinator::Restore::yes);
        coordinator->setAutoStartWatched(autoStart);
        if (watch == Watch::now) coordinator->startWatching(watched);
    }
    std::vector<std::string> queued() const {
        std::vector<std::string> names;
        for (const auto& job : coordinator->jobs()) names.push_back(job->sourceURL().filename().string());
        return names;
    }
    // A file made outside and renamed into the folder, complete by default.
    void moveIn(const std::string& name, const char* content = "movie END") {
        std::ofstream(outside / name) << content;
        fs::rename(outside / name, watched / name);
    }
    // A file in the folder held open for writing.
    int open(const char* name, int flags = O_TRUNC) const {
        return ::open((watched / name).c_str(), O_WRONLY | O_CREAT | flags, 0644);
    }
};

// The threads of this process named like the watch thread.
int watchThreads() {
    int count = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        count += name.starts_with("watchfolder");
    }
    return count;
}

TEST(WatchFolder, FilesAreTakenOnceWhenTheyHaveFinishedArriving) {
    WatchFixture fixture(/*autoStart=*/false, kSettle, WatchFixture::Watch::later);
    std::ofstream(fixture.watched / "there.mov") << "movie END";  // taken when it has held still
    fixture.coordinator->startWatching(fixture.watched);
    QTest::qWait(kSettle.count() / 3);
    EXPECT_TRUE(fixture.queued().empty()) << "taken before two looks";
    // Chunks closer together than the settling interval, the file held open.
    const int descriptor = fixture.open("slow.mov");
    ASSERT_GE(descriptor, 0);
    for (int chunk = 0; chunk < 12; ++chunk) {
        ASSERT_EQ(::write(descriptor, "0123456789", 10), 10);
        QTest::qWait(60);
        ASSERT_LE(fixture.queued().size(), 1u) << "taken while arriving, after chunk " << chunk;
    }
    ASSERT_EQ(::write(descriptor, "END", 3), 3);
    ::close(descriptor);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == 2; }, 5000));
    QTest::qWait(3 * kSettle.count());
    EXPECT_EQ(fixture.queued(), (std::vector<std::string>{"there.mov", "slow.mov"}));
}

TEST(WatchFolder, EntriesMovedInAreTakenAtOnceWhenTheyAreOrdinaryMedia) {
    enum class Kind { file, emptyFile, folder };
    struct Case {
        std::string name;
        Kind kind;
        bool taken;
    };
    const std::vector<Case> cases{
        {"moved.mov", Kind::file, true},         {"UPPER.MOV", Kind::file, true},
        {"clip_prores.mov", Kind::file, true},  // own-output names are case-sensitive
        {".hidden.mov", Kind::file, false},      {"folder.mov", Kind::folder, false},
        {"empty.mov", Kind::emptyFile, false},   {"notes.txt", Kind::file, false},
        {"clip_ProRes.mov", Kind::file, false},  {"clip_HEVC-Alpha.mp4", Kind::file, false},
        {"clip_NotchLC.mov", Kind::file, false}, {"clip_proxy.mov", Kind::file, false},
        {"clip_audio.m4a", Kind::file, false},
    };
    // A long settling interval: whatever is taken was taken because it moved in.
    WatchFixture fixture(/*autoStart=*/false, 20s);
    // A watch preset without a name: one shared output named "Preset" per job.
    fixture.coordinator->setWatchConfiguration(fixture.coordinator->primaryConfiguration());
    QTest::qWait(50);
    std::vector<std::string> expected;
    for (const auto& row : cases) {
        if (row.kind == Kind::folder)
            fs::create_directories(fixture.watched / row.name);
        else
            fixture.moveIn(row.name, row.kind == Kind::emptyFile ? "" : "movie END");
        if (row.taken) expected.push_back(row.name);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() >= expected.size(); }, 5000));
    QTest::qWait(200);
    auto queued = fixture.queued();
    std::ranges::sort(queued);
    std::ranges::sort(expected);
    EXPECT_EQ(queued, expected);
    for (const auto& job : fixture.coordinator->jobs()) {
        ASSERT_EQ(job->outputs().size(), 1u);
        EXPECT_EQ(job->outputs().front().name, "Preset");
        EXPECT_EQ(job->outputs().front().configuration, fixture.coordinator->primaryConfiguration());
    }
}

TEST(WatchFolder, OwnOutputsWrittenIntoTheWatchedFolderAreNeverTakenBack) {
    struct Case {
        std::string templateText;
        std::size_t outputs;  // outputs of one name: the second is numbered "-2"
    };
    const std::vector<Case> cases{{"{name}_{codec}", 1}, {"done {name}", 1}, {"{name} out", 2}};
    for (const auto& row : cases) {
        WatchFixture fixture(/*autoStart=*/row.outputs == 1);
        fixture.coordinator->setNaming({row.templateText});
        QTest::qWait(50);
        fixture.moveIn("source.mov");
        if (row.outputs > 1) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !fixture.queued().empty(); }, 5000));
            const auto configuration = fixture.coordinator->primaryConfiguration();
            fixture.coordinator->jobs().front()->setOutputs({{"A", configuration}, {"B", configuration}});
            fixture.coordinator->setAutoStartWatched(true);
            fixture.coordinator->startEncoding();
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.backend->encoded().size() == row.outputs; }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fixture.coordinator->isRunning(); }, 5000));
        QTest::qWait(4 * kSettle.count());  // time for any output to be taken and encoded
        EXPECT_EQ(fixture.queued(), std::vector<std::string>{"source.mov"}) << row.templateText;
        EXPECT_EQ(fixture.backend->encoded(), std::vector<std::string>(row.outputs, "source.mov")) << row.templateText;
        EXPECT_EQ(fixture.coordinator->jobs().front()->status(), EncodeJob::Status::finished);
        EXPECT_EQ(std::distance(fs::directory_iterator(fixture.watched), fs::directory_iterator()),
                  static_cast<std::ptrdiff_t>(1 + row.outputs));
    }
}

TEST(WatchFolder, FileThatFailedWhileArrivingIsTakenAgainWhenItChanges) {
    WatchFixture fixture(/*autoStart=*/true);
    QTest::qWait(50);
    const int descriptor = fixture.open("stalled.mov");
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(::write(descriptor, "first half", 10), 10);
    // The writer stalls past the settling interval: the file is taken and fails.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !fixture.queued().empty() && !fixture.coordinator->isRunning() &&
                   fixture.coordinator->jobs().front()->status() == EncodeJob::Status::failed;
        },
        5000));
    ASSERT_EQ(::write(descriptor, " END", 4), 4);
    ::close(descriptor);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return fixture.coordinator->jobs().front()->status() == EncodeJob::Status::finished; }, 5000));
    EXPECT_EQ(fixture.backend->encoded(), (std::vector<std::string>{"stalled.mov", "stalled.mov"}));
    EXPECT_EQ(fixture.queued(), std::vector<std::string>{"stalled.mov"});
}

TEST(WatchFolder, TheWatchThreadIsJoinedWhenTheWatchEndsOrItsOwnerGoes) {
    for (const bool destroyOwner : {false, true}) {
        const int before = watchThreads();
        WatchFixture fixture(/*autoStart=*/false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return watchThreads() == before + 1; }, 2000));
        // A file still settling when the watch ends is never reported.
        const int descriptor = fixture.open("late.mov", 0);
        ASSERT_GE(descriptor, 0);
        QTest::qWait(20);
        // A file moved in whose report is already posted when the watch ends.
        fixture.moveIn("posted.mov");
        std::this_thread::sleep_for(100ms);
        if (destroyOwner)
            fixture.coordinator.reset();
        else
            fixture.coordinator->stopWatching();
        ::close(descriptor);
        // QThread::wait() returns while the thread's last system steps run.
        EXPECT_TRUE(QTest::qWaitFor([&] { return watchThreads() == before; }, 500)) << "destroyOwner " << destroyOwner;
        QTest::qWait(2 * kSettle.count());
        if (!destroyOwner) {
            EXPECT_FALSE(fixture.coordinator->isWatching());
            EXPECT_TRUE(fixture.queued().empty());
        }
    }
}

}  // namespace
}  // namespace fw::test

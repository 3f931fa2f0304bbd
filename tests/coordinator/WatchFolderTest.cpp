// The watch folder on a real folder with inotify: files are taken when they
// have finished arriving, and again when written again; the system's own
// outputs, known by their paths, are never taken back.

#include "CoordinatorTestSupport.h"
#include "coordinator/EncoderBackend.h"
#include "model/EncodingError.h"
#include "support/Outputs.h"
#include "support/Probe.h"

#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Writes each output ("encoded " and the source) under a hidden name and
// renames it into place, as the real encoders do; a source not ending in
// "END" (still arriving) fails, and so does one whose size or time changed
// during its encode. The encode of a held source waits until it is let go,
// or its batch stops.
class RecordingBackend final : public EncoderBackend {
public:
    void hold(std::string name) {
        const std::lock_guard lock(mutex_);
        held_ = std::move(name);
    }
    void letGo() {
        {
            const std::lock_guard lock(mutex_);
            held_.clear();
        }
        letGo_.notify_all();
    }
    jobs::SourceProbe probe(const fs::path& source, const ExportConfiguration&) const override {
        return jobs::SourceProbe::sized(source, {64, 48});
    }
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback&, const PreviewCallback&,
                        std::stop_token stop) const override {
        const fs::path& source = plan.source();
        const fs::path& destination = plan.destination;
        const auto look = [&] {
            struct stat status {};
            ::stat(source.c_str(), &status);
            return std::pair(status.st_size, status.st_mtim.tv_sec * 1'000'000'000 + status.st_mtim.tv_nsec);
        };
        const auto before = look();
        {
            std::unique_lock lock(mutex_);
            encoded_.push_back(source.filename().string());
            letGo_.wait(lock, stop, [&] { return held_ != source.filename().string(); });
            if (stop.stop_requested()) throw EncodingError::cancelled();
        }
        std::ifstream input(source);
        const std::string content((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
        if (!content.ends_with("END")) throw std::runtime_error("truncated source");
        if (look() != before) throw std::runtime_error("source changed while it was encoded");
        const fs::path staged = destination.parent_path() / ("." + destination.filename().string() + ".staged");
        std::ofstream(staged) << "encoded " << content;
        fs::rename(staged, destination);
        return {};
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
    mutable std::condition_variable_any letGo_;
    std::string held_;
    mutable std::vector<std::string> encoded_;
};

constexpr auto kSettle = 300ms;
// A wait for a condition ends as soon as it holds: room for a loaded machine.
constexpr int kPatience_ms = 60000;

void wait(std::chrono::milliseconds interval) { QTest::qWait(static_cast<int>(interval.count())); }

struct WatchFixture : CoordinatorFixture {
    std::shared_ptr<RecordingBackend> backend = std::make_shared<RecordingBackend>();
    std::unique_ptr<TestCoordinator> coordinator;
    fs::path watched = folder / "watched";
    fs::path outside = folder / "outside";

    enum class Watch { now, later };
    explicit WatchFixture(bool autoStart, std::chrono::milliseconds settle = kSettle, Watch watch = Watch::now,
                          std::shared_ptr<EncoderBackend> encoders = nullptr,
                          std::chrono::milliseconds quiet = std::chrono::milliseconds::zero()) {
        fs::create_directories(watched);
        fs::create_directories(outside);
        wired = services();
        wired.encoders = encoders ? std::move(encoders) : backend;
        wired.watchSettleInterval = settle;
        wired.watchQuietInterval = quiet.count() > 0 ? quiet : 20 * settle;
        wired.watchPathLookInterval = std::min(settle, WatchFolderMonitor::kPathLookInterval);
        restart(autoStart, watch);
    }
    // A new coordinator over the same files, as after a relaunch.
    void restart(bool autoStart, Watch watch = Watch::now,
                 EncodingCoordinator::Restore restore = EncodingCoordinator::Restore::yes) {
        coordinator.reset();
        coordinator = std::make_unique<TestCoordinator>(wired, restore);
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
    // A file written in place and closed, as a copy over it does; with
    // O_APPEND, one piece of a copier that closes the file between pieces.
    void write(const char* name, const std::string& content, int flags = O_TRUNC) const {
        const int descriptor = open(name, flags);
        ASSERT_GE(descriptor, 0);
        ASSERT_EQ(::write(descriptor, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(descriptor);
    }
    // Waits until the monitor reads the folder's events.
    bool watching() const {
        return QTest::qWaitFor([&] { return coordinator->watchHasBegun(); }, kPatience_ms);
    }
    bool settled() const {
        return QTest::qWaitFor([&] { return !coordinator->isRunning(); }, kPatience_ms);
    }
    std::vector<EncodeJob::Status> statuses() const {
        std::vector<EncodeJob::Status> list;
        for (const auto& job : coordinator->jobs()) list.push_back(job->status());
        return list;
    }

    CoordinatorServices wired;
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
    // Held open, a file is never quiet for this long, however late a chunk comes.
    WatchFixture fixture(/*autoStart=*/false, kSettle, WatchFixture::Watch::later, nullptr, /*quiet=*/1h);
    std::ofstream(fixture.watched / "there.mov") << "movie END";  // taken when it has held still
    const auto began = std::chrono::steady_clock::now();
    fixture.coordinator->startWatching(fixture.watched);
    ASSERT_TRUE(fixture.watching());
    QTest::qWait(kSettle.count() / 3);
    // Its stillness counts from the watch's start: said only while too little time has passed.
    if (std::chrono::steady_clock::now() - began < kSettle) {
        EXPECT_TRUE(fixture.queued().empty()) << "taken before two looks";
    }
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == 2; }, kPatience_ms));
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
    // Names the system gives its own outputs are no reason to skip a user's file.
    const std::vector<Case> cases{
        {"moved.mov", Kind::file, true},       {"UPPER.MOV", Kind::file, true},
        {".hidden.mov", Kind::file, false},    {"folder.mov", Kind::folder, false},
        {"empty.mov", Kind::emptyFile, false}, {"notes.txt", Kind::file, false},
        {"clip_ProRes.mov", Kind::file, true}, {"clip_HEVC-Alpha.mp4", Kind::file, true},
        {"clip_proxy.mov", Kind::file, true},  {"clip_audio.m4a", Kind::file, true},
    };
    // A long settling interval: whatever is taken was taken because it moved in.
    WatchFixture fixture(/*autoStart=*/false, 20s);
    // A watch preset without a name: one shared output named "Preset" per job.
    fixture.coordinator->setWatchConfiguration(fixture.coordinator->primaryConfiguration());
    ASSERT_TRUE(fixture.watching());
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
        ASSERT_TRUE(fixture.watching());
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

// A copy that stalls longer than the settling interval with the file held
// open is not finished: the file is taken when its writer closes it, and the
// whole clip is encoded.
TEST(WatchFolder, FileWrittenInTwoHalvesWithAPauseIsTakenWhenClosedAndEncodedWhole) {
    const fs::path clip = test::generated(
        "four.mkv", {"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=4", "-c:v", "mjpeg", "-q:v", "8"});
    ASSERT_FALSE(clip.empty());
    const auto bytes = test::readFile(clip);
    WatchFixture fixture(/*autoStart=*/true, kSettle, WatchFixture::Watch::now,
                         std::make_shared<EngineEncoderBackend>());
    ASSERT_TRUE(fixture.watching());
    const int descriptor = fixture.open("copied.mkv");
    ASSERT_GE(descriptor, 0);
    const std::size_t half = bytes.size() / 2;
    ASSERT_EQ(::write(descriptor, bytes.data(), half), static_cast<ssize_t>(half));
    QTest::qWait(4 * kSettle.count());
    EXPECT_TRUE(fixture.queued().empty()) << "taken while its writer paused";
    ASSERT_EQ(::write(descriptor, bytes.data() + half, bytes.size() - half), static_cast<ssize_t>(bytes.size() - half));
    ::close(descriptor);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == 1; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return fixture.statuses() == std::vector{EncodeJob::Status::finished} && !fixture.coordinator->isRunning();
        },
        20000))
        << fixture.coordinator->jobs().front()->errorMessage().value_or("");
    const auto output = fixture.coordinator->jobs().front()->outputURL();
    ASSERT_TRUE(output);
    EXPECT_NEAR(test::number(test::probe(*output)["format"]["duration"]), 4.0, 0.1);
    QTest::qWait(3 * kSettle.count());
    EXPECT_EQ(fixture.queued(), std::vector<std::string>{"copied.mkv"}) << "the output was taken back";
}

// A writer that never closes its file: taken once it has been quiet for long.
TEST(WatchFolder, FileHeldOpenIsTakenAfterALongQuiet) {
    WatchFixture fixture(/*autoStart=*/false, kSettle, WatchFixture::Watch::later);
    fixture.wired.watchQuietInterval = 4 * kSettle;
    fixture.restart(/*autoStart=*/false);
    ASSERT_TRUE(fixture.watching());
    const int descriptor = fixture.open("open.mov");
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(::write(descriptor, "movie END", 9), 9);
    const auto written = std::chrono::steady_clock::now();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fixture.queued().empty(); }, 10000));
    EXPECT_GE(std::chrono::steady_clock::now() - written, fixture.wired.watchQuietInterval);
    ::close(descriptor);
}

// A file written where no event reaches the folder (through another link to
// it here, as a remote writer on a shared folder does) is taken only once two
// looks a settling interval apart agree.
TEST(WatchFolder, FileStillGrowingBetweenLooksIsNotTaken) {
    // Far more than a step of growth, so a loaded machine's late step is no pause.
    constexpr auto settle = 3 * kSettle;
    WatchFixture fixture(/*autoStart=*/false, settle);
    ASSERT_TRUE(fixture.watching());
    std::ofstream(fixture.outside / "grow.mov") << "start";
    fs::create_hard_link(fixture.outside / "grow.mov", fixture.watched / "grow.mov");
    std::ofstream growing(fixture.outside / "grow.mov", std::ios::app);
    for (int step = 0; step < 24; ++step) {
        growing << "more" << std::flush;
        QTest::qWait(100);
        ASSERT_TRUE(fixture.queued().empty()) << "taken while growing, at step " << step;
    }
    growing << " END";
    growing.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == 1; }, 5000));
}

// A file written again after it was taken: a job still to run takes the new
// content, a failed one goes back to waiting, and after a finished job a new
// one comes. A change of times alone is no new content.
TEST(WatchFolder, FileWrittenAgainAfterItWasTakenIsTakenAgain) {
    using Status = EncodeJob::Status;
    struct Case {
        const char* name;
        bool autoStart;
        std::string first;  // without "END" the encode fails
        std::string second;
        std::vector<Status> before;
        std::vector<Status> after;
        std::size_t encodes;
    };
    const std::string large = std::string(300'000, 'a') + "END";
    std::string changedLate = large;
    changedLate[200'000] = 'b';
    const std::vector<Case> cases{
        {"waiting", false, "movie END", "whole movie END", {Status::waiting}, {Status::waiting}, 0},
        {"finished", true, "movie END", "whole movie END", {Status::finished}, {Status::finished, Status::finished}, 2},
        // In place, to the same size: its bytes tell.
        {"same size", true, "movie END", "other END", {Status::finished}, {Status::finished, Status::finished}, 2},
        {"failed", true, "half a movie", "whole movie END", {Status::failed}, {Status::finished}, 2},
        // Large, and changed far past its start.
        {"same size, changed late",
         true,
         large,
         changedLate,
         {Status::finished},
         {Status::finished, Status::finished},
         2},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        WatchFixture fixture(row.autoStart, kSettle, WatchFixture::Watch::now, nullptr, /*quiet=*/4 * kSettle);
        ASSERT_TRUE(fixture.watching());
        fixture.write("again.mov", row.first);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fixture.queued().empty(); }, 5000));
        ASSERT_TRUE(fixture.settled());
        EXPECT_EQ(fixture.statuses(), row.before);
        fixture.write("again.mov", row.second);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return fixture.statuses() == row.after && fixture.backend->encoded().size() == row.encodes; }, 5000));
        ASSERT_TRUE(fixture.settled());
        fs::last_write_time(fixture.watched / "again.mov", fs::file_time_type::clock::now() - 1h);
        // Past the longest interval after which any change could take it.
        wait(fixture.wired.watchQuietInterval + 3 * kSettle);
        EXPECT_EQ(fixture.statuses(), row.after);
        EXPECT_EQ(fixture.backend->encoded().size(), row.encodes);
    }
}

// The system's own outputs are known by the paths it wrote, in this session
// and, through the encode history, after a relaunch; a user's file is queued
// whatever its name.
TEST(WatchFolder, OwnOutputsAreKnownByPathAlsoAfterARestartAndUsersFilesByAnyName) {
    WatchFixture fixture(/*autoStart=*/true, kSettle, WatchFixture::Watch::later);
    EncodeHistoryStore history(fixture.folder / "support");
    fixture.wired.history = &history;
    fixture.restart(/*autoStart=*/false);
    fixture.coordinator->setNaming({"done {name}"});
    ASSERT_TRUE(fixture.watching());
    fixture.moveIn("interview_audio.wav");
    fixture.moveIn("source.mov");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == 2; }, 5000));
    // Two outputs of one job: the history keeps both.
    const auto configuration = fixture.coordinator->primaryConfiguration();
    fixture.coordinator->jobs().back()->setOutputs({{"A", configuration}, {"B", configuration}});
    fixture.coordinator->startEncoding();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.backend->encoded().size() == 3; }, 5000));
    ASSERT_TRUE(fixture.settled());
    for (const char* output : {"done interview_audio.mov", "done source.mov", "done source-2.mov"})
        EXPECT_TRUE(fs::exists(fixture.watched / output)) << output;

    // Relaunched without its queue: only the history knows the outputs.
    EncodeHistoryStore reloaded(fixture.folder / "support");
    fixture.wired.history = &reloaded;
    fixture.restart(/*autoStart=*/false, WatchFixture::Watch::now, EncodingCoordinator::Restore::no);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() >= 2; }, 5000));
    QTest::qWait(3 * kSettle.count());
    auto queued = fixture.queued();
    std::ranges::sort(queued);
    EXPECT_EQ(queued, (std::vector<std::string>{"interview_audio.wav", "source.mov"}));
    fixture.coordinator.reset();  // before the histories go
}

// A file already queued is skipped however the watched folder's path spells
// it: through a link to the folder, or with ".." in it.
TEST(WatchFolder, AFileQueuedThroughAnotherPathToTheFolderIsNotQueuedAgain) {
    const struct {
        const char* name;
        std::function<fs::path(const WatchFixture&)> watchedAs;
    } rows[] = {
        {"a link to the folder",
         [](const WatchFixture& fixture) {
             fs::create_directory_symlink(fixture.watched, fixture.folder / "link");
             return fixture.folder / "link";
         }},
        {"a path through ..", [](const WatchFixture& fixture) { return fixture.outside / ".." / "watched"; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WatchFixture fixture(/*autoStart=*/true, kSettle, WatchFixture::Watch::later);
        std::ofstream(fixture.watched / "x.mov") << "movie END";
        std::ofstream(fixture.watched / "y.mov") << "movie END";
        fixture.coordinator->addFiles({fixture.watched / "x.mov"}, EncodingCoordinator::Duplicates::allowed);
        fixture.coordinator->startWatching(row.watchedAs(fixture));
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.backend->encoded().size() >= 2; }, kPatience_ms));
        ASSERT_TRUE(fixture.settled());
        wait(3 * kSettle);  // past the settling of any later report
        EXPECT_EQ(fixture.queued(), (std::vector<std::string>{"x.mov", "y.mov"}));
        auto encoded = fixture.backend->encoded();
        std::ranges::sort(encoded);
        EXPECT_EQ(encoded, (std::vector<std::string>{"x.mov", "y.mov"}));
        EXPECT_FALSE(fs::exists(fixture.watched / "x_ProRes-2.mov"));
    }
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

// A copier that closes the file between pieces, as chunked and resumable
// copiers do: the file is one job, taken after its last piece and encoded whole.
TEST(WatchFolder, FileCopiedInPiecesClosedBetweenThemIsOneJobOfTheWholeFile) {
    constexpr std::chrono::milliseconds settle = 1s;  // far longer than a gap between pieces
    WatchFixture fixture(/*autoStart=*/true, settle);
    ASSERT_TRUE(fixture.watching());
    for (int piece = 0; piece < 12; ++piece) {
        const std::string content = piece == 11 ? "END" : std::string(256, static_cast<char>('a' + piece));
        if (piece == 6) {
            // Opened, and the piece late: a file held open has not had its last close.
            const int descriptor = fixture.open("pieces.mov", O_APPEND);
            ASSERT_GE(descriptor, 0);
            wait(2 * settle);
            ASSERT_TRUE(fixture.queued().empty()) << "taken while held open for a piece";
            ASSERT_EQ(::write(descriptor, content.data(), content.size()), static_cast<ssize_t>(content.size()));
            ::close(descriptor);
        } else {
            fixture.write("pieces.mov", content, O_APPEND);
        }
        QTest::qWait(100);
        ASSERT_TRUE(fixture.queued().empty()) << "taken after piece " << piece;
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return fixture.statuses() == std::vector{EncodeJob::Status::finished} && !fixture.coordinator->isRunning();
        },
        10000))
        << fixture.queued().size() << " jobs";
    wait(3 * settle);
    EXPECT_EQ(fixture.queued(), std::vector<std::string>{"pieces.mov"});
    EXPECT_EQ(fixture.backend->encoded(), std::vector<std::string>{"pieces.mov"});
}

// A copier that closes the file between pieces and pauses longer than the
// settling interval: each pause ends an arrival, yet the copy ends as one job
// with one finished output of the whole file. A waiting job leaves the queue
// while the file is written again and comes back as it was (the same job, so
// whatever was set on it is kept); an encode of a part fails, and its job
// takes the file again once it has finished arriving, as does a job that
// finished with a part that looked whole.
TEST(WatchFolder, FileCopiedInPiecesWithLongPausesEndsAsOneFinishedJobOfTheWholeFile) {
    using Status = EncodeJob::Status;
    struct Case {
        const char* name;
        bool autoStart;
        bool held;  // its encode held until the copy has ended
        std::vector<std::string> pieces;
        Status inThePauses;
        std::size_t encodes;
    };
    const std::vector<Case> cases{
        {"its job waiting", false, false, {"first ", "second ", "END"}, Status::waiting, 1},
        {"its job encoding", true, true, {"first ", "second ", "END"}, Status::encoding, 2},
        {"its job finished with a part", true, false, {"part END", " rest END"}, Status::finished, 2},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        WatchFixture fixture(row.autoStart);
        if (row.held) fixture.backend->hold("pieces.mov");
        ASSERT_TRUE(fixture.watching());
        std::optional<Uuid> firstJob;
        for (std::size_t piece = 0; piece < row.pieces.size(); ++piece) {
            fixture.write("pieces.mov", row.pieces[piece], O_APPEND);
            if (!row.autoStart && piece > 0) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().empty(); }, 5000)) << "kept while written";
            }
            ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.statuses() == std::vector{row.inThePauses}; }, 5000));
            if (!firstJob) firstJob = fixture.coordinator->jobs().front()->id();
            if (row.held) wait(3 * kSettle);  // taken again while the first part encodes
        }
        fixture.backend->letGo();
        if (!row.autoStart) fixture.coordinator->startEncoding();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return fixture.statuses() == std::vector{Status::finished} && !fixture.coordinator->isRunning() &&
                       fixture.backend->encoded().size() >= row.encodes;
            },
            5000))
            << fixture.queued().size() << " jobs";
        wait(3 * kSettle);
        EXPECT_EQ(fixture.queued(), std::vector<std::string>{"pieces.mov"});
        EXPECT_EQ(fixture.coordinator->jobs().front()->id(), *firstJob);
        EXPECT_EQ(fixture.backend->encoded(), std::vector<std::string>(row.encodes, "pieces.mov"));
        const auto output = fixture.coordinator->jobs().front()->outputURL();
        ASSERT_TRUE(output);
        std::ifstream written(*output);
        std::string whole = "encoded ";
        for (const auto& piece : row.pieces) whole += piece;
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), whole);
    }
}

// A change of times or permissions is no new content: it never takes a file,
// neither one already taken and encoded nor one whose copy has stalled.
TEST(WatchFolder, ChangesOfTimesOrPermissionsAloneNeverTakeAFile) {
    enum class Change { time, permissions, timeThroughAWriter };
    const std::vector<std::pair<std::string, Change>> changes{
        {"time", Change::time}, {"mode", Change::permissions}, {"touch", Change::timeThroughAWriter}};
    const auto change = [](const fs::path& file, Change kind) {
        switch (kind) {
        case Change::time: fs::last_write_time(file, fs::last_write_time(file) - 1h); break;
        case Change::permissions: fs::permissions(file, fs::perms::group_write, fs::perm_options::add); break;
        case Change::timeThroughAWriter: {
            // As `touch` does: opened for writing, its times set, closed unwritten.
            const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
            ASSERT_GE(descriptor, 0);
            EXPECT_EQ(::futimens(descriptor, nullptr), 0);
            ::close(descriptor);
            break;
        }
        }
    };
    const auto named = [](const char* state, const std::string& what) { return state + ("-" + what + ".mov"); };
    using Status = EncodeJob::Status;
    WatchFixture fixture(/*autoStart=*/false);
    const auto encodeAll = [&](std::size_t jobs) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == jobs; }, 5000));
        fixture.coordinator->startEncoding();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return fixture.statuses() == std::vector(jobs, Status::finished) && !fixture.coordinator->isRunning();
            },
            5000));
    };
    ASSERT_TRUE(fixture.watching());
    for (const auto& [name, kind] : changes) fixture.write(named("encoded", name).c_str(), "movie END");
    encodeAll(3);
    // Copies stalled halfway, their writers holding them open.
    std::vector<int> writers;
    for (const auto& [name, kind] : changes) {
        writers.push_back(fixture.open(named("stalled", name).c_str()));
        ASSERT_GE(writers.back(), 0);
        ASSERT_EQ(::write(writers.back(), "half ", 5), 5);
    }
    for (const auto& [name, kind] : changes) {
        change(fixture.watched / named("encoded", name), kind);
        change(fixture.watched / named("stalled", name), kind);
    }
    const auto changed = std::chrono::steady_clock::now();
    wait(3 * kSettle);
    EXPECT_EQ(fixture.queued().size(), 3u) << "a stalled copy was taken after a change of its attributes";
    for (const int writer : writers) {
        EXPECT_EQ(::write(writer, "rest END", 8), 8);
        ::close(writer);
    }
    encodeAll(6);
    // Past the quiet interval of a file written and never closed, from the changes.
    wait(std::chrono::duration_cast<std::chrono::milliseconds>(changed + fixture.wired.watchQuietInterval +
                                                               3 * kSettle - std::chrono::steady_clock::now()));
    EXPECT_EQ(fixture.queued().size(), 6u) << "an encoded file was taken again after a change of its attributes";
    auto encoded = fixture.backend->encoded();
    std::ranges::sort(encoded);
    auto queued = fixture.queued();
    std::ranges::sort(queued);
    EXPECT_EQ(encoded, queued);
}

// A file renamed or deleted just after it was written is never a job under
// its old name; a waiting job whose file is gone leaves the queue quietly,
// and a renamed file is taken under its new name.
TEST(WatchFolder, FilesRenamedOrDeletedAreTakenUnderTheirNewNamesOrNotAtAll) {
    using Status = EncodeJob::Status;
    enum class Then { renamed, deleted, movedAwayAndBack, deletedAndLinkedAnew };
    struct Case {
        const char* name;
        bool waitForTheJob;  // else renamed or deleted a moment after it was written
        Then then;
        std::vector<std::string> queued;
        std::vector<Status> statuses;
    };
    const std::vector<Case> cases{
        {"renamed just after it was written", false, Then::renamed, {"new.mov"}, {Status::finished}},
        {"deleted just after it was written", false, Then::deleted, {}, {}},
        {"renamed while its job waits", true, Then::renamed, {"new.mov"}, {Status::waiting}},
        {"deleted while its job waits", true, Then::deleted, {}, {}},
        {"moved away while its job waits, and back", true, Then::movedAwayAndBack, {"old.mov"}, {Status::waiting}},
        {"deleted while its job waits, and linked anew",
         true,
         Then::deletedAndLinkedAnew,
         {"old.mov"},
         {Status::waiting}},
    };
    constexpr std::chrono::milliseconds settle = 600ms;  // far longer than "just after"
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        WatchFixture fixture(/*autoStart=*/!row.waitForTheJob, settle);
        ASSERT_TRUE(fixture.watching());
        fixture.write("old.mov", "movie END");
        if (row.waitForTheJob) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued() == std::vector<std::string>{"old.mov"}; }, 5000));
        } else {
            QTest::qWait(100);  // its events read
        }
        switch (row.then) {
        case Then::renamed: fs::rename(fixture.watched / "old.mov", fixture.watched / "new.mov"); break;
        case Then::deleted: fs::remove(fixture.watched / "old.mov"); break;
        case Then::movedAwayAndBack:
            fs::rename(fixture.watched / "old.mov", fixture.outside / "old.mov");
            ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().empty(); }, 5000));
            fs::rename(fixture.outside / "old.mov", fixture.watched / "old.mov");
            break;
        case Then::deletedAndLinkedAnew:
            fs::remove(fixture.watched / "old.mov");
            ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().empty(); }, 5000));
            std::ofstream(fixture.outside / "other.mov") << "another movie END";
            fs::create_hard_link(fixture.outside / "other.mov", fixture.watched / "old.mov");
            break;
        }
        wait(2 * settle);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return fixture.queued() == row.queued && fixture.statuses() == row.statuses; }, 5000))
            << fixture.queued().size() << " jobs";
        ASSERT_TRUE(fixture.settled());
        const bool encoded = row.statuses == std::vector{Status::finished};
        EXPECT_EQ(fixture.backend->encoded(), encoded ? row.queued : std::vector<std::string>{});
    }
}

// With Auto on, files that arrive while a batch runs wait for it to end, and
// the next batch then starts for them; after a cancelled batch they wait.
TEST(WatchFolder, FilesArrivingWhileABatchRunsAreEncodedWhenItEnds) {
    using Status = EncodeJob::Status;
    struct Case {
        const char* name;
        bool cancel;
        std::vector<Status> after;
        std::vector<std::string> encoded;
    };
    const std::vector<Case> cases{
        {"ended", false, {Status::finished, Status::finished}, {"first.mov", "second.mov"}},
        {"cancelled", true, {Status::cancelled, Status::waiting}, {"first.mov"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        WatchFixture fixture(/*autoStart=*/true);
        fixture.backend->hold("first.mov");
        ASSERT_TRUE(fixture.watching());
        fixture.moveIn("first.mov");
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.statuses() == std::vector{Status::encoding}; }, 5000));
        fixture.moveIn("second.mov");
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == 2; }, 5000));
        EXPECT_EQ(fixture.statuses(), (std::vector{Status::encoding, Status::waiting}));
        if (row.cancel)
            fixture.coordinator->cancelEncoding();
        else
            fixture.backend->letGo();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return fixture.statuses() == row.after && fixture.backend->encoded() == row.encoded &&
                       !fixture.coordinator->isRunning();
            },
            5000));
        wait(3 * kSettle);
        EXPECT_EQ(fixture.statuses(), row.after);
        EXPECT_EQ(fixture.backend->encoded(), row.encoded);
    }
}

// Earlier outputs beside their sources, there when the watch begins or moved
// in later, stay out: a file named after a source in the same folder with a
// codec or proxy suffix. So named with no such source beside it, a file is
// the user's.
TEST(WatchFolder, EarlierOutputsBesideTheirSourcesAreNotTaken) {
    struct Case {
        std::string name;
        bool taken;
    };
    const std::vector<Case> there{
        {"a.mov", true},
        {"a_ProRes.mov", false},
        {"a_ProRes-2.mov", false},
        {"a_proxy.mov", false},
        {"a_H264.mp4", false},
        {"a_prores.mov", true},
        {"a_ProRes_x.mov", true},
        {"b.WAV", true},
        {"b_HEVC-Alpha.mov", false},
        {"b_HEVC-Alpha-2.mov", false},
        {"interview_audio.wav", true},
        {"f.mp3", true},
        {"f_audio.m4a", false},
        {"lonely_H264.mp4", true},
        {"my-clip.mov", true},
        {"my-clip_H264-2.mp4", false},
        {"c d.mkv", true},
        {"c d_DXV3.mov", false},
        // The extension its codec writes, or none of ours.
        {"talk.wav", true},
        {"talk_audio.wav", true},
        {"talk_audio.m4a", false},
        {"a_ProRes.mp4", true},
        {"a_H264.mov", true},
        {"a_proxy.mp4", false},
        {"a_PNG.png", false},
        {"a_JPEG.jpeg", true},
    };
    const std::vector<Case> movedIn{{"e.mp4", true}, {"e_NotchLC.mov", false}, {"a_Hap.mov", false}};
    WatchFixture fixture(/*autoStart=*/false, kSettle, WatchFixture::Watch::later);
    std::vector<std::string> expected;
    for (const auto& row : there) {
        std::ofstream(fixture.watched / row.name) << "movie END";
        if (row.taken) expected.push_back(row.name);
    }
    fixture.coordinator->startWatching(fixture.watched);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() >= expected.size(); }, 5000));
    for (const auto& row : movedIn) {
        fixture.moveIn(row.name);
        if (row.taken) expected.push_back(row.name);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() >= expected.size(); }, 5000));
    wait(3 * kSettle);
    auto queued = fixture.queued();
    std::ranges::sort(queued);
    std::ranges::sort(expected);
    EXPECT_EQ(queued, expected);
}

// A waiting job withdrawn while its file is written again (a sync tool
// copying it anew: truncated, then written) stays in the saved queue as it
// was, loads as an ordinary job after a relaunch, and comes back as the same
// job once the file has arrived, also when it ends with the very bytes it had.
TEST(WatchFolder, JobsWithdrawnWhileTheirFileIsWrittenAgainAreSavedAndComeBackAsTheyWere) {
    const struct Case {
        const char* name;
        std::string again;    // what the file ends with
        int jobs;             // of the one file
        bool relaunch;        // while they are withdrawn
        bool linked = false;  // the folder watched through a link, the second job queued by its real path
    } cases[] = {
        {"the same bytes", "movie END", 1, false},
        {"other bytes", "the other movie END", 1, false},
        {"two jobs of the file", "movie END", 2, false},
        {"relaunched meanwhile", "movie END", 2, true},
        {"two jobs, one through a linked folder", "movie END", 2, false, true},
    };
    ExportConfiguration web;
    web.codec = OutputCodec::h264;
    // Each job as "<file> on|off Web" ("?" for outputs other than the one Web), with its id when asked.
    const auto looks = [&web](const std::vector<std::shared_ptr<EncodeJob>>& jobs, bool ids = false) {
        std::vector<std::string> seen;
        for (const auto& job : jobs) {
            const auto& outputs = job->outputs();
            const bool asWeb = outputs.size() == 1 && outputs[0].name == "Web" && outputs[0].configuration == web;
            seen.push_back(job->sourceURL().filename().string() + (job->enabled() ? " on " : " off ") +
                           (asWeb ? "Web" : "?") + (ids ? " " + job->id().string() : ""));
        }
        return seen;
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        WatchFixture fixture(/*autoStart=*/false, kSettle, WatchFixture::Watch::later);
        if (row.linked) fs::create_directory_symlink(fixture.watched, fixture.folder / "link");
        fixture.coordinator->startWatching(row.linked ? fixture.folder / "link" : fixture.watched);
        ASSERT_TRUE(fixture.watching());
        fixture.write("synced.mov", "movie END");
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == 1; }, 5000));
        if (row.jobs == 2)
            fixture.coordinator->addFiles({fixture.watched / "synced.mov"}, EncodingCoordinator::Duplicates::allowed);
        for (const auto& job : fixture.coordinator->jobs()) {
            fixture.coordinator->setEnabled(*job, false);
            fixture.coordinator->setOutputs(*job, {JobOutputSpec("Web", web)});
        }
        const std::vector<std::string> asSet(row.jobs, "synced.mov off Web");
        const std::vector<std::string> asSetWithIds = looks(fixture.coordinator->jobs(), true);

        const int descriptor = fixture.open("synced.mov");  // truncated, still held
        ASSERT_GE(descriptor, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().empty(); }, 5000)) << "kept while written";
        EXPECT_EQ(looks(QueuePersistence::load(fixture.queueFolder())), asSet) << "saved while withdrawn";
        if (row.relaunch) {
            fixture.restart(/*autoStart=*/false);
            EXPECT_EQ(looks(fixture.coordinator->jobs()), asSet) << "loaded as ordinary jobs";
        }
        ASSERT_EQ(::write(descriptor, row.again.data(), row.again.size()), static_cast<ssize_t>(row.again.size()));
        ::close(descriptor);
        ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.queued().size() == asSet.size(); }, 5000)) << "came back";
        wait(3 * kSettle);  // past the settling of any later report
        EXPECT_EQ(looks(QueuePersistence::load(fixture.queueFolder())), asSet);
        // The same jobs, unless a relaunch made them anew.
        EXPECT_EQ(looks(fixture.coordinator->jobs(), !row.relaunch), row.relaunch ? asSet : asSetWithIds);
    }
}

// The watch follows its path: when the folder there is moved away, deleted
// or replaced (its parent included), or only made after the watch began,
// files arriving at the path are taken as before. What left with the old
// folder leaves the queue; a file found again with its bytes (as after a
// remount, however long it was away) keeps its job, also a finished one, is
// not taken again once its job was cleared, and a waiting job of it comes
// back as the same job; one of other bytes is new.
TEST(WatchFolder, TheWatchFollowsItsPathWhenTheFolderThereIsReplaced) {
    enum class Replace { movedAway, deleted, parentMovedAway, madeLater, otherMovedIn, copyMovedIn, swappedIn, back };
    const struct {
        const char* name;
        Replace replace;
        std::vector<std::string> queued;  // sorted
        bool done = false;                // before.mov encoded before
        const char* swapped = "";         // what the folder swapped or brought back in holds at before.mov
        bool pathLooks = true;            // else only the parent's events tell of a folder there
        bool cleared = false;             // Clear Finished once before.mov was encoded
    } rows[] = {
        // Away until the watch has seen it gone, as a drive unplugged, and back as a copy.
        {"done, back as a copy", Replace::back, {"after.mov", "before.mov"}, true, "movie END"},
        {"done and cleared, back as a copy", Replace::back, {"after.mov"}, true, "movie END", true, true},
        {"done, other bytes back", Replace::back, {"after.mov", "before.mov", "before.mov"}, true, "MOVIE END"},
        {"waiting, back as a copy", Replace::back, {"after.mov", "before.mov"}, false, "movie END"},
        {"deleted, made anew, no look at the path", Replace::deleted, {"after.mov"}, false, "", false},
        {"its job done, a copy swapped in", Replace::swappedIn, {"after.mov", "before.mov"}, true, "movie END"},
        {"its job done, other bytes of its size swapped in",
         Replace::swappedIn,
         {"after.mov", "before.mov", "before.mov"},
         true,
         "MOVIE END"},
        {"moved away, made anew", Replace::movedAway, {"after.mov"}},
        {"deleted with its files, made anew", Replace::deleted, {"after.mov"}},
        {"its parent moved away, both made anew", Replace::parentMovedAway, {"after.mov"}},
        {"not there when the watch began", Replace::madeLater, {"after.mov"}},
        {"moved away, another folder moved in", Replace::otherMovedIn, {"after.mov", "there.mov"}},
        {"moved away, a copy of it moved in", Replace::copyMovedIn, {"after.mov", "before.mov"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WatchFixture fixture(/*autoStart=*/false, kSettle, WatchFixture::Watch::later);
        if (!row.pathLooks) fixture.wired.watchPathLookInterval = std::chrono::hours(1);
        fixture.restart(/*autoStart=*/false, WatchFixture::Watch::later);
        const fs::path drive = fixture.folder / "drive";
        fixture.watched = drive / "watched";
        fs::create_directories(fixture.watched);
        if (row.replace == Replace::madeLater) {
            fs::remove(fixture.watched);
            fixture.coordinator->startWatching(fixture.watched);
            wait(kSettle);  // its first looks at the path found nothing
        } else {
            fixture.coordinator->startWatching(fixture.watched);
            ASSERT_TRUE(fixture.watching());
            fixture.moveIn("before.mov");
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return fixture.queued() == std::vector<std::string>{"before.mov"}; }, 5000));
            if (row.done) fixture.coordinator->startEncoding();
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return !row.done || fixture.statuses()[0] == EncodeJob::Status::finished; }));
            if (row.cleared) fixture.coordinator->clearFinished();
        }
        const auto firstJob = fixture.coordinator->jobs().empty() ? Uuid() : fixture.coordinator->jobs()[0]->id();
        const fs::path other = fixture.folder / "other";
        switch (row.replace) {
        case Replace::movedAway: fs::rename(fixture.watched, drive / "watched.old"); break;
        case Replace::deleted: fs::remove_all(fixture.watched); break;
        case Replace::parentMovedAway:
            fs::rename(drive, fixture.folder / "drive.old");
            fs::create_directory(drive);
            break;
        case Replace::madeLater: break;
        case Replace::otherMovedIn:
            fs::create_directory(other);
            std::ofstream(other / "there.mov") << "another movie END";
            fs::rename(fixture.watched, drive / "watched.old");
            fs::rename(other, fixture.watched);
            break;
        case Replace::copyMovedIn:
            fs::create_directory(other);
            fs::copy_file(fixture.watched / "before.mov", other / "before.mov");
            fs::rename(fixture.watched, drive / "watched.old");
            fs::rename(other, fixture.watched);
            break;
        case Replace::back:
            fs::rename(fixture.watched, drive / "watched.old");
            ASSERT_TRUE(QTest::qWaitFor([&] { return !fixture.coordinator->watchHasBegun(); }, 5000));
            ASSERT_TRUE(QTest::qWaitFor([&] { return row.done || fixture.queued().empty(); }, 5000));
            fs::create_directory(other);
            std::ofstream(other / "before.mov") << row.swapped;
            fs::rename(other, fixture.watched);
            break;
        case Replace::swappedIn:  // at once: the path never lacks the file
            fs::create_directory(other);
            std::ofstream(other / "before.mov") << row.swapped;
            ASSERT_EQ(::renameat2(AT_FDCWD, other.c_str(), AT_FDCWD, fixture.watched.c_str(), RENAME_EXCHANGE), 0);
            break;
        }
        fs::create_directory(fixture.watched);  // no-op where a folder was moved in
        fixture.write("after.mov", "later movie END");
        const auto sorted = [&] {
            auto names = fixture.queued();
            std::ranges::sort(names);
            return names;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return sorted() == row.queued; }, 5000)) << fixture.queued().size();
        wait(3 * kSettle);  // past the settling of any later report
        EXPECT_EQ(sorted(), row.queued);
        EXPECT_TRUE(fixture.coordinator->isWatching());
        EXPECT_EQ(fixture.coordinator->watchFolderURL(), fixture.watched);
        EXPECT_TRUE(row.replace != Replace::back || row.done ||
                    std::ranges::any_of(fixture.coordinator->jobs(), [&](auto& job) { return job->id() == firstJob; }))
            << "the waiting job comes back as it was";
    }
}

}  // namespace
}  // namespace fw::test

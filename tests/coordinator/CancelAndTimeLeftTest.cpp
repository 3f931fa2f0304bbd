// Cancelling a batch as the window sees it, and the time it says is left:
// over a gated backend on a clock the test moves, and through the real
// encoders at 4K.

#include "CoordinatorTestSupport.h"
#include "coordinator/EncoderBackend.h"
#include "model/EncodingError.h"
#include "model/ProgressEstimate.h"

#include <QTest>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

namespace fs = std::filesystem;
using Status = EncodeJob::Status;

// Knows each source's length by name and holds every encode until the test
// lets that source through or the batch is stopped.
class GatedBackend final : public EncoderBackend {
public:
    explicit GatedBackend(std::map<std::string, double> lengths) : lengths_(std::move(lengths)) {}

    jobs::SourceProbe probe(const fs::path& source, const ExportConfiguration&) const override {
        return jobs::SourceProbe::sized(source, {64, 48});
    }
    std::optional<double> timelineSeconds(const fs::path& source) const override {
        const auto found = lengths_.find(source.filename().string());
        return found == lengths_.end() ? std::nullopt : std::optional(found->second);
    }
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback&, const PreviewCallback&,
                        std::stop_token stop) const override {
        const fs::path& source = plan.source();
        const fs::path& destination = plan.destination;
        std::unique_lock lock(mutex_);
        if (!gate_.wait(lock, stop, [&] { return released_.contains(source.filename().string()); }))
            throw EncodingError::cancelled();
        std::ofstream(destination) << "encoded";
        return {};
    }
    fs::path stitch(const std::vector<fs::path>&, const ExportConfiguration&, const SourceEncodeOptions&,
                    const std::function<fs::path(IntSize)>&, const ProgressCallback&, const PreviewCallback&,
                    std::stop_token) const override {
        throw std::runtime_error("not used");
    }

    void release(const std::string& name) {
        const std::lock_guard lock(mutex_);
        released_.insert(name);
        gate_.notify_all();
    }

private:
    std::map<std::string, double> lengths_;
    mutable std::mutex mutex_;
    mutable std::condition_variable_any gate_;
    std::set<std::string> released_;
};

struct GatedBatch : CoordinatorFixture {
    std::shared_ptr<GatedBackend> backend;
    Date now = fixedNow();
    std::unique_ptr<TestCoordinator> coordinator;

    GatedBatch(const std::vector<std::string>& names, std::map<std::string, double> lengths)
        : backend(std::make_shared<GatedBackend>(std::move(lengths))) {
        CoordinatorServices wired = services();
        wired.encoders = backend;
        wired.clock = [this] { return now; };
        coordinator = std::make_unique<TestCoordinator>(wired, EncodingCoordinator::Restore::no);
        std::vector<fs::path> files;
        for (const auto& name : names) files.push_back(touch(folder / name));
        coordinator->addFiles(files, EncodingCoordinator::Duplicates::allowed);
        coordinator->setMaxConcurrentJobs(1);
        coordinator->setOutputDirectory(folder.path());
    }
    EncodeJob& job(std::size_t index) { return *coordinator->jobs().at(index); }
    static bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); }
};

// A short sound, a still and a long movie, encoded one after another at the
// same pace of one timeline second per second: the countdown follows the work
// actually left, falls at every step and never shows 0:00 before the end.
TEST(BatchTimeLeft, AMixedBatchCountsDownByItsWorkAndNeverReachesZeroEarly) {
    struct Piece {
        std::string name;
        double seconds;
    };
    const Piece pieces[] = {{"voice.wav", 10}, {"poster.png", 5}, {"feature.mov", 60}};
    GatedBatch batch({"voice.wav", "poster.png", "feature.mov"}, {{"voice.wav", 10}, {"feature.mov", 60}});
    batch.coordinator->setStillDuration(5);
    const Date start = batch.now;
    batch.coordinator->startEncoding();
    ASSERT_TRUE(GatedBatch::waitFor([&] { return batch.job(0).status() == Status::encoding; }));
    // The run measures its jobs off the main thread; their weights land soon after it starts.
    batch.job(0).setProgress(0.5);
    ASSERT_TRUE(GatedBatch::waitFor([&] { return std::abs(batch.coordinator->overallProgress() - 5.0 / 75) < 1e-9; }));

    std::vector<double> moments;  // seconds into the run, the last a moment before its end
    for (double t = 1; t < 74; t += 2.5) moments.push_back(t);
    moments.push_back(74.6);
    std::size_t current = 0;
    double begun = 0;  // when the current piece began, in seconds of the run
    double previous = HUGE_VAL;
    for (const double t : moments) {
        SCOPED_TRACE(t);
        while (t >= begun + pieces[current].seconds) {
            // The piece ends, and the next begins, on the clock at its end.
            batch.now = start + std::chrono::duration_cast<Date::duration>(
                                    std::chrono::duration<double>(begun + pieces[current].seconds));
            batch.backend->release(pieces[current].name);
            ASSERT_TRUE(GatedBatch::waitFor([&] { return batch.job(current).status() == Status::finished; }));
            begun += pieces[current].seconds;
            ++current;
            ASSERT_TRUE(GatedBatch::waitFor([&] { return batch.job(current).status() == Status::encoding; }));
        }
        // As the encoder would report it.
        batch.job(current).setProgress((t - begun) / pieces[current].seconds);
        batch.now = start + std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(t));
        const std::optional<double> left = batch.coordinator->estimatedTimeRemaining(batch.now);
        ASSERT_TRUE(left.has_value());
        EXPECT_NEAR(*left, 75 - t, 0.01 * 75 + 1e-6);
        EXPECT_LT(*left, previous);
        EXPECT_NE(ProgressEstimate::formatCountdown(*left), "0:00");
        previous = *left;
    }
    batch.backend->release(pieces[2].name);
    ASSERT_TRUE(GatedBatch::waitFor([&] { return !batch.coordinator->isRunning(); }));
    EXPECT_FALSE(batch.coordinator->estimatedTimeRemaining(batch.now));
}

// Side by side, the countdown is the model's for the limit the run keeps:
// four equal jobs two at once, ten seconds in and half done, have 30 s to go.
TEST(BatchTimeLeft, JobsSideBySideCountDownByTheLimitTheRunKeeps) {
    const std::vector<std::string> names{"a.mov", "b.mov", "c.mov", "d.mov"};
    GatedBatch batch(names, {{"a.mov", 20}, {"b.mov", 20}, {"c.mov", 20}, {"d.mov", 20}});
    batch.coordinator->setMaxConcurrentJobs(2);
    const Date start = batch.now;
    batch.coordinator->startEncoding();
    ASSERT_TRUE(GatedBatch::waitFor(
        [&] { return batch.job(0).status() == Status::encoding && batch.job(1).status() == Status::encoding; }));
    EXPECT_EQ(batch.job(2).status(), Status::waiting);
    std::vector<ProgressEstimate::JobWork> model;
    for (std::size_t index = 0; index < names.size(); ++index) {
        const bool running = index < 2;
        if (running) batch.job(index).setProgress(0.5);
        ProgressEstimate::JobWork job;
        job.progress = running ? 0.5 : 0;
        if (running) job.beganSeconds = 0;
        model.push_back(job);
    }
    batch.now = start + std::chrono::seconds(10);
    const std::optional<double> left = batch.coordinator->estimatedTimeRemaining(batch.now);
    ASSERT_TRUE(left.has_value());
    EXPECT_NEAR(*left, *ProgressEstimate::remaining(model, 10, 2), 1e-6);
    EXPECT_NEAR(*left, 30, 0.5);
    for (const auto& name : names) batch.backend->release(name);
    ASSERT_TRUE(GatedBatch::waitFor([&] { return !batch.coordinator->isRunning(); }));
}

// From Cancel until the batch has stopped the coordinator is cancelling, and
// says which rows are: the batch's running and waiting jobs, not a disabled one
// nor one added during the run.
TEST(BatchCancel, TheBatchIsCancellingUntilItHasStoppedAndSaysWhichRowsAre) {
    GatedBatch batch({"a.mov", "b.mov", "off.mov"}, {});
    batch.coordinator->setEnabled(batch.job(2), false);
    auto changes = countEmissions(batch.coordinator.get(), &EncodingCoordinator::isCancellingChanged);
    batch.coordinator->startEncoding();
    batch.coordinator->addFiles({touch(batch.folder / "late.mov")}, EncodingCoordinator::Duplicates::allowed);
    ASSERT_TRUE(GatedBatch::waitFor([&] { return batch.job(0).status() == Status::encoding; }));
    EXPECT_FALSE(batch.coordinator->isCancelling());
    EXPECT_FALSE(batch.coordinator->isBeingCancelled(batch.job(0))) << "not before Cancel";

    batch.coordinator->cancelEncoding();
    EXPECT_TRUE(batch.coordinator->isCancelling());
    EXPECT_EQ(*changes, 1);
    const std::vector<bool> cancelling = {true, true, false, false};
    for (std::size_t index = 0; index < cancelling.size(); ++index)
        EXPECT_EQ(batch.coordinator->isBeingCancelled(batch.job(index)), cancelling[index]) << index;
    batch.coordinator->cancelEncoding();  // pressed twice
    EXPECT_EQ(*changes, 1);

    ASSERT_TRUE(GatedBatch::waitFor([&] { return !batch.coordinator->isRunning(); }));
    EXPECT_FALSE(batch.coordinator->isCancelling());
    EXPECT_EQ(*changes, 2);
    for (std::size_t index = 0; index < cancelling.size(); ++index)
        EXPECT_FALSE(batch.coordinator->isBeingCancelled(batch.job(index))) << index;
    EXPECT_EQ(batch.job(0).status(), Status::cancelled);
    EXPECT_EQ(batch.job(1).status(), Status::cancelled);
    EXPECT_EQ(batch.job(3).status(), Status::waiting);
}

// Cancel reaches the encoders' frame loops and abandons what they hold in
// flight (the look-ahead of H.264 and HEVC, the HEIC pictures of a sequence):
// three 4K encodes side by side stop at once, and leave nothing behind.
TEST(BatchCancel, Cancelling4KEncodesStopsThemAtOnceAndLeavesNothing) {
    CoordinatorFixture fixture;
    const fs::path made =
        generated("cancel-4k.mp4", {"-f", "lavfi", "-i", "testsrc2=size=3840x2160:rate=30:duration=4", "-c:v",
                                    "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    ASSERT_FALSE(made.empty());
    const fs::path sources = fixture.folder / "sources", outputs = fixture.folder / "outputs";
    fs::create_directories(sources);
    fs::create_directories(outputs);
    fs::copy_file(made, sources / "clip4k.mp4");
    auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
    const OutputCodec codecs[] = {OutputCodec::h264, OutputCodec::hevc, OutputCodec::heic};
    for (const OutputCodec codec : codecs) {
        coordinator->addFiles({sources / "clip4k.mp4"}, EncodingCoordinator::Duplicates::allowed);
        ExportConfiguration configuration;
        configuration.codec = codec;
        coordinator->jobs().back()->setOutputs({JobOutputSpec(std::string(rawValue(codec)), configuration)});
    }
    coordinator->setImageSequence(true);
    coordinator->setMaxConcurrentJobs(3);
    coordinator->setOutputDirectory(outputs);
    const auto entries = [&] { return std::distance(fs::directory_iterator(outputs), fs::directory_iterator()); };

    coordinator->startEncoding();
    // Every encode has its staged file or folder, and two more seconds of frames.
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries() == 3; }, 60000));
    QTest::qWait(2000);
    ASSERT_TRUE(coordinator->isRunning()) << "still encoding when cancelled";
    const auto cancelled = std::chrono::steady_clock::now();
    coordinator->cancelEncoding();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator->isRunning(); }, 30000));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - cancelled).count();
    std::printf("[ measure  ] 4K H.264, HEVC and HEIC side by side: %.2f s from Cancel to the end of the batch\n",
                seconds);
    // Generous for a loaded two-core machine; the encoders themselves stop in well under a second.
    EXPECT_LE(seconds, 3.0);
    for (const auto& job : coordinator->jobs()) EXPECT_EQ(job->status(), Status::cancelled);
    EXPECT_EQ(entries(), 0) << "no output, no staged file, no picture folder";
    EXPECT_EQ(fixture.history.records().size(), 0u);
}

}  // namespace
}  // namespace fw::test

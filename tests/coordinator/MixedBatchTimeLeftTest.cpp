// The time left that a batch of unequal jobs shows: movies, a sound and a
// still, run side by side or one after another on a simulated machine where
// each job takes what it really costs, on a clock the test moves. After the
// first tenth of the work the countdown stays within a factor of 1.5 of the
// time really left, and it never reads 0:00 before the end.

#include "CoordinatorTestSupport.h"
#include "coordinator/EncoderBackend.h"
#include "model/EncodingError.h"
#include "model/ProgressEstimate.h"

#include <QTest>

#include <algorithm>
#include <chrono>
#include <condition_variable>
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
using Measure = ProgressEstimate::SourceMeasure;

// Knows what each source holds by name and holds every encode until the test
// lets that source through or the batch is stopped.
class PacedBackend final : public EncoderBackend {
public:
    explicit PacedBackend(std::map<std::string, Measure> sources) : sources_(std::move(sources)) {}

    jobs::SourceProbe probe(const fs::path& source, const ExportConfiguration&) const override {
        return jobs::SourceProbe::sized(source, {64, 48});
    }
    std::optional<Measure> measure(const fs::path& source) const override {
        const auto found = sources_.find(source.filename().string());
        return found == sources_.end() ? std::nullopt : std::optional(found->second);
    }
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback&, const PreviewCallback&,
                        std::stop_token stop) const override {
        std::unique_lock lock(mutex_);
        if (!gate_.wait(lock, stop, [&] { return released_.contains(plan.source().filename().string()); }))
            throw EncodingError::cancelled();
        std::ofstream(plan.destination) << "encoded";
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
    std::map<std::string, Measure> sources_;
    mutable std::mutex mutex_;
    mutable std::condition_variable_any gate_;
    std::set<std::string> released_;
};

struct Piece {
    std::string name;
    Measure measure;
    double costSeconds;  // what it takes alone on the simulated machine
};

Measure movie(double seconds, double width, double height) {
    return {.kind = Measure::Kind::movie, .seconds = seconds, .frameRate = 30, .pixels = width * height};
}
Measure sound(double seconds) { return {.kind = Measure::Kind::sound, .seconds = seconds}; }
Measure still(double width, double height) { return {.kind = Measure::Kind::still, .pixels = width * height}; }

// The simulated run: the pieces in queue order, at most `atOnce` side by
// side. Each job has threads for twice its share of the cores (as the
// coordinator gives them), and jobs side by side split the machine: with n
// running, each goes at min(2 / atOnce, 1 / n) of the machine. One moment
// every `step` seconds: each job's progress then, and the jobs that ended.
struct Moment {
    double seconds;
    std::vector<double> progress;
    std::vector<std::size_t> ended;
};

std::vector<Moment> simulate(const std::vector<Piece>& pieces, std::size_t atOnce, double step) {
    const std::size_t count = pieces.size();
    std::vector<double> progress(count, 0);
    std::vector<bool> begun(count, false), done(count, false);
    std::vector<Moment> moments;
    double seconds = 0;
    const auto running = [&] {
        std::vector<std::size_t> indices;
        for (std::size_t index = 0; index < count; ++index)
            if (begun[index] && !done[index]) indices.push_back(index);
        return indices;
    };
    const auto startWaiting = [&] {
        std::size_t side = running().size();
        for (std::size_t index = 0; index < count && side < atOnce; ++index)
            if (!begun[index]) {
                begun[index] = true;
                ++side;
            }
    };
    startWaiting();
    while (!running().empty()) {
        const auto now = running();
        const double share = std::min(2.0 / static_cast<double>(atOnce), 1.0 / static_cast<double>(now.size()));
        seconds += step;
        Moment moment{seconds, {}, {}};
        for (const std::size_t index : now) {
            progress[index] = std::min(progress[index] + share * step / pieces[index].costSeconds, 1.0);
            if (progress[index] >= 1) {
                done[index] = true;
                moment.ended.push_back(index);
            }
        }
        moment.progress = progress;
        moments.push_back(moment);
        startWaiting();
    }
    return moments;
}

struct Scenario {
    const char* name;
    std::vector<Piece> pieces;
    std::size_t atOnce;
    OutputCodec codec;
};

// The work done by the end of `moment`, as a share of the whole batch's.
double doneShare(const std::vector<Piece>& pieces, const Moment& moment) {
    double done = 0, total = 0;
    for (std::size_t index = 0; index < pieces.size(); ++index) {
        done += moment.progress[index] * pieces[index].costSeconds;
        total += pieces[index].costSeconds;
    }
    return done / total;
}

TEST(BatchTimeLeft, AMixedBatchCountsDownWithinHalfAgainOfTheTimeReallyLeft) {
    // Costs as measured on this system's encoders: a second of 1080p HEVC
    // about 4.4 s alone (each clip's content makes it a little more or
    // less), 7 s of sound 0.4 s, 12 s of 720p GIF 3.5 s, a still as a GIF
    // picture 0.07 s.
    const std::vector<Piece> hevcAndSound = {
        {"interview.mov", movie(12, 1920, 1080), 12 * 4.4 * 1.1},
        {"voice.wav", sound(7), 0.4},
        {"drone.mov", movie(20, 1920, 1080), 20 * 4.4 * 0.9},
        {"timelapse.mov", movie(31, 1920, 1080), 31 * 4.4},
    };
    const std::vector<Piece> gifAndStill = {
        {"poster.png", still(1920, 1080), 0.07},
        {"spin.mov", movie(12, 1280, 720), 3.5},
    };
    const Scenario scenarios[] = {
        {"HEVC clips and a sound side by side", hevcAndSound, 4, OutputCodec::hevc},
        {"HEVC clips and a sound, two at once", hevcAndSound, 2, OutputCodec::hevc},
        {"HEVC clips and a sound, one at a time", hevcAndSound, 1, OutputCodec::hevc},
        {"a GIF and a still side by side", gifAndStill, 2, OutputCodec::gif},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        CoordinatorFixture fixture;
        std::map<std::string, Measure> measures;
        for (const Piece& piece : scenario.pieces) measures[piece.name] = piece.measure;
        auto backend = std::make_shared<PacedBackend>(measures);
        const Date start = fixedNow();
        Date now = start;
        CoordinatorServices services = fixture.services();
        services.encoders = backend;
        services.clock = [&now] { return now; };
        services.coreCount = 8;
        TestCoordinator coordinator(services, EncodingCoordinator::Restore::no);
        std::vector<fs::path> files;
        for (const Piece& piece : scenario.pieces) files.push_back(touch(fixture.folder / piece.name));
        coordinator.addFiles(files, EncodingCoordinator::Duplicates::allowed);
        coordinator.setSelectedCodec(scenario.codec);
        coordinator.setMaxConcurrentJobs(static_cast<int>(scenario.atOnce));
        coordinator.setOutputDirectory(fixture.folder.path());
        const auto job = [&](std::size_t index) -> EncodeJob& { return *coordinator.jobs().at(index); };
        const auto waitFor = [](const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); };

        const std::vector<Moment> moments = simulate(scenario.pieces, scenario.atOnce, 0.25);
        const double end = moments.back().seconds;
        // Every place is taken at the start, on the clock at 0.
        const auto placesTaken = [&] {
            std::size_t encoding = 0, waiting = 0;
            for (const auto& each : coordinator.jobs()) {
                encoding += each->status() == Status::encoding;
                waiting += each->status() == Status::waiting;
            }
            return encoding == std::min(scenario.atOnce, encoding + waiting);
        };
        coordinator.startEncoding();
        ASSERT_TRUE(waitFor([&] { return job(0).status() == Status::encoding && placesTaken(); }));
        // The run weighs its jobs off the main thread: by what each costs.
        job(0).setProgress(1);
        double weighed = 0, total = 0;
        for (const Piece& piece : scenario.pieces) {
            const bool isStill = piece.measure.kind == Measure::Kind::still;
            const double work = ProgressEstimate::outputWork(piece.measure, isStill ? 5 : piece.measure.seconds,
                                                             scenario.codec != OutputCodec::gif);
            total += work;
            if (&piece == &scenario.pieces.front()) weighed = work;
        }
        ASSERT_TRUE(waitFor([&] { return std::abs(coordinator.overallProgress() - weighed / total) < 1e-9; }));
        job(0).setProgress(0);

        int checked = 0;
        for (const Moment& moment : moments) {
            SCOPED_TRACE(moment.seconds);
            now = start + std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(moment.seconds));
            for (std::size_t index = 0; index < scenario.pieces.size(); ++index)
                if (job(index).status() == Status::encoding) job(index).setProgress(moment.progress[index]);
            for (const std::size_t index : moment.ended) {
                backend->release(scenario.pieces[index].name);
                ASSERT_TRUE(waitFor([&] { return job(index).status() == Status::finished; }));
            }
            // The places freed are taken by the next jobs at once.
            if (!moment.ended.empty() && moment.seconds < end) {
                ASSERT_TRUE(waitFor(placesTaken));
            }
            if (moment.seconds >= end) break;
            const double reallyLeft = end - moment.seconds;
            const std::optional<double> left = coordinator.estimatedTimeRemaining(now);
            if (doneShare(scenario.pieces, moment) < 0.1) continue;
            ASSERT_TRUE(left.has_value());
            EXPECT_NE(ProgressEstimate::formatCountdown(*left), "0:00");
            if (reallyLeft < 1) continue;
            EXPECT_LE(std::max(*left / reallyLeft, reallyLeft / *left), 1.5)
                << "shows " << *left << " s with " << reallyLeft << " s to go";
            ++checked;
        }
        EXPECT_GE(checked, 5);
        ASSERT_TRUE(waitFor([&] { return !coordinator.isRunning(); }));
    }
}

}  // namespace
}  // namespace fw::test

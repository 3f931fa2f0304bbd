// The batch run over a scripted backend: scheduling, cancellation, reports
// arriving late, and quitting, without real encodes.

#include "CoordinatorTestSupport.h"
#include "coordinator/EncoderBackend.h"
#include "model/EncodingError.h"
#include "platform/media/PixelBuffer.h"

#include <QTest>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

namespace fs = std::filesystem;
using Status = EncodeJob::Status;

// Encodes by writing a staged file and renaming it, as the real encoders do.
// Each encode reports 0.5 (a source named "*busy*" a thousand smaller steps
// first, each with a preview offered, as an encoder reports every frame), then waits at the gate until it
// opens or a stop is requested; a source named "*fail*" fails after the gate.
// A source named "*stubborn*" waits for the gate whatever a stop says (an
// encoder slow to notice); one named "*fragile*" fails with an ordinary error
// when stopped (a writer whose pipe closed under it). Stitches of a "*fragile*"
// clip wait at the gate the same way. An H.264 output says 1.25 s of its sound was concealed, 3 pictures and 0.25 s
// of sound left out, a ProRes one 0.5 s, 7 and 2 s.
class ScriptedBackend final : public EncoderBackend {
public:
    struct State {
        int running = 0, mostRunning = 0, ended = 0, previewsRendered = 0;
        std::vector<std::string> started, destinations;
        std::vector<std::string> stitched;  // each stitch's clips, "a.mov+c.mov"
        std::set<int> threads;              // every encode's share of the cores
        ProgressCallback lateProgress;
        // The bursts as the clock saw them: a busy machine may stretch them.
        std::optional<std::chrono::steady_clock::time_point> firstStep, lastStep;
        double longestBurstSeconds = 0;
    };

    jobs::SourceProbe probe(const fs::path& source, const ExportConfiguration&) const override {
        return jobs::SourceProbe::sized(source, {64, 48});
    }

    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop) const override {
        const fs::path& source = plan.source();
        const fs::path& destination = plan.destination;
        const ExportConfiguration& configuration = plan.configuration;
        const SourceEncodeOptions& options = plan.options;
        const fs::path staged = destination.string() + ".partial";
        std::ofstream(staged) << "partial";
        {
            std::unique_lock lock(mutex_);
            state_.started.push_back(source.filename().string() + ":" + std::string(rawValue(configuration.codec)));
            std::string settings;
            if (options.batch.audio.normalizeLoudness) settings += " loudness";
            if (options.batch.filters) settings += " filters";
            if (options.batch.colorProperties) settings += " tags";
            if (options.batch.metadata) settings += " metadata";
            state_.destinations.push_back(destination.filename().string() + settings);
            state_.mostRunning = std::max(state_.mostRunning, ++state_.running);
            state_.threads.insert(options.batch.threads);
            state_.lateProgress = progress;
        }
        if (source.filename().string().find("busy") != std::string::npos) {
            const auto begun = std::chrono::steady_clock::now();
            for (int step = 1; step < 1000; ++step) {
                progress(step / 2000.0);
                preview.offer([this] {
                    std::lock_guard lock(mutex_);
                    ++state_.previewsRendered;
                    return PreviewFrame{media::PixelBuffer::create(2, 2, media::PixelFormat::bgra8)};
                });
            }
            progress(0.5);
            const auto ended = std::chrono::steady_clock::now();
            const std::lock_guard lock(mutex_);
            state_.firstStep = std::min(state_.firstStep.value_or(begun), begun);
            state_.lastStep = std::max(state_.lastStep.value_or(ended), ended);
            state_.longestBurstSeconds =
                std::max(state_.longestBurstSeconds, std::chrono::duration<double>(ended - begun).count());
        } else {
            progress(0.5);
        }
        const std::string name = source.filename().string();
        std::unique_lock lock(mutex_);
        const bool opened = name.find("stubborn") != std::string::npos
                                ? (gate_.wait(lock, [this] { return open_; }), !stop.stop_requested())
                                : gate_.wait(lock, stop, [this] { return open_; });
        --state_.running;
        ++state_.ended;
        if (!opened) {
            fs::remove(staged);
            if (name.find("fragile") != std::string::npos) throw std::runtime_error("Broken pipe");
            throw EncodingError::cancelled();
        }
        if (source.filename().string().find("fail") != std::string::npos) {
            fs::remove(staged);
            throw std::runtime_error("Permission denied writing the file");
        }
        fs::rename(staged, destination);
        if (configuration.codec == OutputCodec::h264) return {1.25, 3, 0.25};
        if (configuration.codec == OutputCodec::proRes) return {0.5, 7, 2};
        return {};
    }

    // Joins nothing: names the file from a fixed size and writes it, or fails
    // when a clip is named "*fail*".
    fs::path stitch(const std::vector<fs::path>& clips, const ExportConfiguration&, const SourceEncodeOptions&,
                    const std::function<fs::path(IntSize)>& destination, const ProgressCallback& progress,
                    const PreviewCallback&, std::stop_token stop) const override {
        std::string joined;
        for (const auto& clip : clips) joined += (joined.empty() ? "" : "+") + clip.filename().string();
        {
            const std::lock_guard lock(mutex_);
            state_.stitched.push_back(joined);
        }
        if (joined.find("fragile") != std::string::npos) {
            progress(0.5);
            std::unique_lock lock(mutex_);
            if (!gate_.wait(lock, stop, [this] { return open_; })) throw std::runtime_error("Broken pipe");
        }
        for (const auto& clip : clips)
            if (clip.filename().string().find("fail") != std::string::npos) throw std::runtime_error("joining failed");
        const fs::path file = destination({64, 48});
        progress(0.5);
        std::ofstream(file) << "joined";
        return file;
    }

    void open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        gate_.notify_all();
    }
    State state() const {
        const std::lock_guard lock(mutex_);
        return state_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable_any gate_;
    bool open_ = false;
    mutable State state_;
};

class Notes final : public Notifier {
public:
    void post(const std::string&, const std::string& body) override { bodies.push_back(body); }
    std::vector<std::string> bodies;
};

// Records the names of the files sent, from any worker; read only once the batch has ended.
class SentFiles final : public Uploader {
public:
    std::optional<std::string> upload(const fs::path& file, const PublishSettings&, const std::optional<std::string>&,
                                      std::stop_token) override {
        const std::lock_guard lock(mutex_);
        sent.push_back(file.filename().string());
        return std::nullopt;
    }
    std::vector<std::string> sent;

private:
    std::mutex mutex_;
};

struct BatchFixture : CoordinatorFixture {
    std::shared_ptr<ScriptedBackend> backend = std::make_shared<ScriptedBackend>();
    std::shared_ptr<Notes> notes = std::make_shared<Notes>();
    std::shared_ptr<SentFiles> uploads = std::make_shared<SentFiles>();
    std::unique_ptr<TestCoordinator> coordinator;
    std::vector<int> counts;  // of the last batchFinished

    explicit BatchFixture(const std::vector<std::string>& names, int maxConcurrentJobs = 6) {
        CoordinatorServices wired = services();
        wired.encoders = backend;
        wired.notifier = notes;
        wired.uploader = uploads;
        coordinator = std::make_unique<TestCoordinator>(wired, EncodingCoordinator::Restore::yes);
        QObject::connect(coordinator.get(), &EncodingCoordinator::batchFinished, coordinator.get(),
                         [this](int finished, int failed, int cancelled) {
                             counts = {finished, failed, cancelled};
                         });
        std::vector<fs::path> files;
        for (const auto& name : names) files.push_back(touch(folder / name));
        coordinator->addFiles(files, EncodingCoordinator::Duplicates::allowed);
        coordinator->setMaxConcurrentJobs(maxConcurrentJobs);
        coordinator->setOutputDirectory(folder.path());
    }
    EncodeJob& job(std::size_t index) { return *coordinator->jobs().at(index); }
    std::vector<Status> statuses() const {
        std::vector<Status> result;
        for (const auto& each : coordinator->jobs()) result.push_back(each->status());
        return result;
    }
    bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); }
    bool waitForEnd() {
        return waitFor([this] { return !coordinator->isRunning(); });
    }
    // Files in the folder whose name contains `part`.
    int filesNamed(const std::string& part) const {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(folder.path()))
            count += entry.path().filename().string().find(part) != std::string::npos;
        return count;
    }
};

ExportConfiguration output(OutputCodec codec) {
    ExportConfiguration configuration;
    configuration.codec = codec;
    return configuration;
}

std::vector<std::string> names(int count) {
    std::vector<std::string> result;
    for (int index = 0; index < count; ++index) result.push_back("clip" + std::to_string(index) + ".mov");
    return result;
}

// Jobs side by side share the cores: each encode is given twice its share of them
// (0 lets a lone job's libraries take the whole machine).
TEST(BatchRun, AtMostTheLimitEncodeAtOnceInQueueOrderSharingTheCores) {
    struct Case {
        int setting;
        int files;
        int expected;  // on six cores
        int threads;
    } const cases[] = {{1, 8, 1, 0}, {2, 8, 2, 6}, {0, 8, 1, 0}, {64, 8, 6, 2}, {4, 3, 3, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        BatchFixture fixture(names(c.files), c.setting);
        auto running = countEmissions(fixture.coordinator.get(), &EncodingCoordinator::isRunningChanged);
        fixture.coordinator->startEncoding();
        fixture.coordinator->startEncoding();  // pressed twice: still one batch
        ASSERT_TRUE(fixture.waitFor([&] { return fixture.backend->state().running == c.expected; }));
        QTest::qWait(50);
        // Both reach only the next batch: every output still lands in the first folder.
        fixture.coordinator->setMaxConcurrentJobs(8);
        fixture.coordinator->setOutputDirectory(fixture.folder / "next");
        fixture.backend->open();
        ASSERT_TRUE(fixture.waitForEnd());
        fixture.coordinator->startEncoding();  // nothing pending any more
        EXPECT_EQ(*running, 2);
        EXPECT_EQ(fixture.backend->state().mostRunning, c.expected);
        EXPECT_EQ(fixture.backend->state().threads, std::set<int>{c.threads});
        if (c.expected == 1) {
            std::vector<std::string> expectedOrder;
            for (const auto& name : names(c.files)) expectedOrder.push_back(name + ":ProRes");
            EXPECT_EQ(fixture.backend->state().started, expectedOrder);
        }
        EXPECT_EQ(fixture.counts, (std::vector<int>{c.files, 0, 0}));
        EXPECT_EQ(fixture.filesNamed("_ProRes.mov"), c.files);
        EXPECT_EQ(fixture.filesNamed(".partial"), 0);
        EXPECT_EQ(fixture.history.records().size(), static_cast<std::size_t>(c.files));
        EXPECT_EQ(fixture.notes->bodies, std::vector<std::string>{"Encoded " + std::to_string(c.files) + " files."});
    }
}

// Each stage at which a cancel, or quitting, can arrive, with what must hold after it.
TEST(BatchRun, CancellingAtEveryStageLeavesOnlyWhatWasWritten) {
    enum class Stage { beforeAnyJobBegan, whileEncoding, afterTheEncodesBeforeTheirReports, quitWhileEncoding };
    for (const Stage stage : {Stage::beforeAnyJobBegan, Stage::whileEncoding, Stage::afterTheEncodesBeforeTheirReports,
                              Stage::quitWhileEncoding}) {
        SCOPED_TRACE(static_cast<int>(stage));
        BatchFixture fixture({"a.mov", "b.mov", "c.mov", "d.mov", "off.mov"}, 2);
        fixture.coordinator->setEnabled(fixture.job(4), false);
        fixture.coordinator->startEncoding();
        fixture.coordinator->addFiles({touch(fixture.folder / "late.mov")}, EncodingCoordinator::Duplicates::allowed);
        if (stage == Stage::whileEncoding || stage == Stage::quitWhileEncoding) {
            ASSERT_TRUE(fixture.waitFor(
                [&] { return fixture.job(0).progress() == 0.5 && fixture.backend->state().running == 2; }));
        }
        if (stage == Stage::afterTheEncodesBeforeTheirReports) {
            fixture.backend->open();
            // Workers go on to jobs c and d only through the pool, not through reports.
            while (fixture.backend->state().ended < 4) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (stage == Stage::quitWhileEncoding) {
            fixture.coordinator->prepareToQuit(std::chrono::seconds(5));  // waits, and saves the queue
            EXPECT_FALSE(fixture.coordinator->isRunning());
            EXPECT_EQ(FolderQueueStore(fixture.queueFolder()).load().size(), 6u);
        } else {
            fixture.coordinator->cancelEncoding();
            ASSERT_TRUE(fixture.waitForEnd());
        }

        // Outputs written before the cancel count as finished; nothing else began. The disabled
        // job and the one added during the run are not the batch's.
        const int finished = stage == Stage::afterTheEncodesBeforeTheirReports ? 4 : 0;
        const Status ended = finished ? Status::finished : Status::cancelled;
        EXPECT_EQ(fixture.statuses(), (std::vector{ended, ended, ended, ended, Status::waiting, Status::waiting}));
        EXPECT_EQ(fixture.filesNamed("_ProRes.mov"), finished);
        EXPECT_EQ(fixture.filesNamed(".partial"), 0);
        EXPECT_EQ(fixture.counts, (std::vector<int>{finished, 0, 4 - finished}));
        EXPECT_TRUE(fixture.notes->bodies.empty());
    }
}

// Quitting waits only so long for the encodes: one still running then ends
// the batch as cancelled with the rest, and its late report changes nothing.
TEST(BatchRun, QuittingLeavesNoJobEncodingThoughAnEncodeOutlastsTheWait) {
    BatchFixture fixture({"stubborn.mov", "b.mov", "c.mov"}, 2);
    fixture.coordinator->startEncoding();
    ASSERT_TRUE(fixture.waitFor([&] {
        return fixture.job(0).progress() == 0.5 && fixture.job(1).progress() == 0.5 &&
               fixture.backend->state().running == 2;
    }));
    fixture.coordinator->prepareToQuit(std::chrono::milliseconds(100));
    EXPECT_FALSE(fixture.coordinator->isRunning());
    EXPECT_EQ(fixture.statuses(), (std::vector{Status::cancelled, Status::cancelled, Status::cancelled}));
    EXPECT_EQ(fixture.counts, (std::vector<int>{0, 0, 3}));

    fixture.backend->open();
    ASSERT_TRUE(fixture.waitFor([&] { return fixture.backend->state().ended == 2; }));
    fixture.coordinator.reset();  // waits for the last worker, whose report has nowhere to go
    EXPECT_EQ(fixture.history.records().size(), 0u);
    EXPECT_EQ(fixture.filesNamed(".partial"), 0);
    EXPECT_EQ(fixture.filesNamed("_ProRes.mov"), 0);
}

// An encode that fails because it was stopped was cancelled: it is counted and
// shown so, with no message and no history record.
TEST(BatchRun, AJobFailingAfterCancelIsCancelledNotFailed) {
    for (const bool stitch : {false, true}) {
        SCOPED_TRACE(stitch ? "stitch" : "encode");
        BatchFixture fixture({"fragile.mov", "b.mov"}, 2);
        if (stitch)
            fixture.coordinator->startStitch();
        else
            fixture.coordinator->startEncoding();
        const std::size_t first = stitch ? 2 : 0, end = stitch ? 3 : 2;
        ASSERT_TRUE(fixture.waitFor([&] {
            for (std::size_t index = first; index < end; ++index)
                if (fixture.job(index).progress() != 0.5) return false;
            return true;
        }));
        fixture.coordinator->cancelEncoding();
        ASSERT_TRUE(fixture.waitForEnd());
        for (std::size_t index = first; index < end; ++index) {
            EXPECT_EQ(fixture.job(index).status(), Status::cancelled) << index;
            EXPECT_EQ(fixture.job(index).errorMessage(), std::nullopt) << index;
        }
        EXPECT_EQ(fixture.counts, (std::vector<int>{0, 0, static_cast<int>(end - first)}));
        EXPECT_EQ(fixture.history.records().size(), 0u);
        EXPECT_TRUE(fixture.notes->bodies.empty());
    }
}

TEST(BatchRun, OutputsShareTheJobsProgressAndLateReportsAreDropped) {
    BatchFixture fixture({"fail.mov", "two.mov", "off.mov"}, 2);
    fixture.coordinator->setEnabled(fixture.job(2), false);
    fixture.job(1).setOutputs({JobOutputSpec("one", {}), JobOutputSpec("two", output(OutputCodec::h264))});
    fixture.coordinator->startEncoding();
    // Each job's report reaches the main thread on its own: wait for both.
    ASSERT_TRUE(fixture.waitFor([&] { return fixture.job(0).progress() == 0.5 && fixture.job(1).progress() == 0.25; }));
    EXPECT_EQ(fixture.coordinator->overallProgress(), (0.5 + 0.25) / 2);
    fixture.backend->open();
    ASSERT_TRUE(fixture.waitForEnd());

    EXPECT_EQ(fixture.statuses(), (std::vector{Status::failed, Status::finished, Status::waiting}));
    EXPECT_EQ(fixture.job(0).errorMessage(),
              "Couldn\u2019t write to the output folder (permission denied). Re-choose the Output Folder.");
    EXPECT_EQ(fixture.job(0).outputURL(), std::nullopt);
    EXPECT_TRUE(fixture.coordinator->writtenOutputs(fixture.job(0)).empty());
    const auto both = fixture.coordinator->writtenOutputs(fixture.job(1));
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].filename(), "two_ProRes.mov");
    EXPECT_EQ(both[1].filename(), "two_H264.mp4");
    EXPECT_TRUE(fs::exists(both[0]) && fs::exists(both[1]));
    EXPECT_EQ(fixture.job(1).outputURL(), both.back());
    const auto records = fixture.history.records();
    ASSERT_EQ(records.size(), 2u);
    const auto two =
        std::find_if(records.begin(), records.end(), [](const auto& r) { return r.sourceName == "two.mov"; });
    ASSERT_NE(two, records.end());
    EXPECT_EQ(two->codec, std::string(rawValue(OutputCodec::proRes)) + ", " + std::string(rawValue(OutputCodec::h264)));
    EXPECT_TRUE(two->succeeded);
    EXPECT_EQ(two->concealedSoundSeconds, 1.25);
    EXPECT_EQ(fixture.job(1).concealedSoundSeconds(), 1.25) << "the most any output concealed";
    EXPECT_EQ(two->damagedPictures, 7);
    EXPECT_EQ(fixture.job(1).damagedPictures(), 7) << "the most any output left out";
    EXPECT_EQ(two->leftOutSoundSeconds, 2);
    EXPECT_EQ(fixture.job(1).leftOutSoundSeconds(), 2) << "the most sound any output left out";
    EXPECT_EQ(fixture.counts, (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(fixture.notes->bodies, std::vector<std::string>{"Encoded 1 file, 1 failed."});

    // A report from an encoder thread after its job ended never lands.
    fixture.backend->state().lateProgress(0.1);
    QTest::qWait(20);
    EXPECT_EQ(fixture.job(1).progress(), 1.0);
}

// Every job's burst of progress reaches it as a few changes; the batch's jobs
// share one preview throttle, so only a few previews are even rendered.
TEST(BatchRun, EncodersBurstsOfProgressAndPreviewsReachTheCoordinatorAsAFewChanges) {
    for (const int jobs : {1, 6}) {
        SCOPED_TRACE(jobs);
        std::vector<std::string> busy;
        for (int index = 0; index < jobs; ++index) busy.push_back("busy" + std::to_string(index) + ".mov");
        BatchFixture fixture(busy, jobs);
        std::vector<std::vector<double>> seen(static_cast<std::size_t>(jobs));
        for (int index = 0; index < jobs; ++index)
            fixture.job(index).changed().connect([&, index](EncodeJob::Property property) {
                if (property == EncodeJob::Property::progress)
                    seen[static_cast<std::size_t>(index)].push_back(fixture.job(index).progress());
            });
        auto previews = countEmissions(fixture.coordinator.get(), &EncodingCoordinator::livePreviewImageChanged);
        fixture.coordinator->startEncoding();
        ASSERT_TRUE(fixture.waitFor([&] {
            return fixture.backend->state().running == jobs &&
                   std::all_of(seen.begin(), seen.end(), [](const auto& each) { return !each.empty(); });
        }));
        QTest::qWait(20);
        fixture.backend->open();
        ASSERT_TRUE(fixture.waitForEnd());
        // One change per report interval of 0.1 s gets through, and the last; a
        // burst that a busy machine stretched over several intervals has a few more.
        const auto state = fixture.backend->state();
        const auto intervals = [](double seconds) { return static_cast<std::size_t>(seconds / 0.1); };
        for (const auto& each : seen) {
            EXPECT_LE(each.size(), 3 + intervals(state.longestBurstSeconds));
            EXPECT_EQ(each.back(), 1.0);
        }
        const int rendered = state.previewsRendered;
        EXPECT_GE(rendered, 1);
        ASSERT_TRUE(state.firstStep && state.lastStep);
        EXPECT_LE(static_cast<std::size_t>(rendered),
                  3 + intervals(std::chrono::duration<double>(*state.lastStep - *state.firstStep).count()));
        EXPECT_EQ(*previews, rendered + 1);  // each rendered one shown, then cleared at the end
    }
}

// A proxy is a side product: the job keeps what its own encode left (a
// failure and its message included) unless the proxy itself fails.
TEST(BatchRun, ProxiesAreOneOutputPerPendingJobAndLeaveTheJobsToEncode) {
    BatchFixture fixture({"a.mov", "b.mov", "fail.mov", "off.mov"}, 1);
    fixture.coordinator->setEnabled(fixture.job(3), false);
    fixture.job(1).setStatus(Status::failed);
    fixture.job(1).setErrorMessage("The disk is full.");
    fixture.job(1).setProgress(1);
    fixture.job(0).setOutputs({JobOutputSpec("own", ExportConfiguration{})});
    fixture.coordinator->setAudio({.normalizeLoudness = true});
    fixture.coordinator->setColor({true, ColorTag::pq});
    fixture.coordinator->setProxy({ProxySettings::Codec::h264, ResolutionPreset::sd480});
    fixture.backend->open();
    fixture.coordinator->startProxies();
    ASSERT_TRUE(fixture.waitForEnd());

    // Colour tags go with the pictures; the sound stays as it is.
    EXPECT_EQ(fixture.backend->state().destinations,
              (std::vector<std::string>{"a_proxy.mp4 tags", "b_proxy.mp4 tags", "fail_proxy.mp4 tags"}));
    EXPECT_EQ(fixture.statuses(), (std::vector{Status::waiting, Status::failed, Status::failed, Status::waiting}));
    std::vector<std::pair<double, std::optional<std::string>>> progressAndMessages;
    for (const auto& job : fixture.coordinator->jobs())
        progressAndMessages.emplace_back(job->progress(), job->errorMessage());
    EXPECT_EQ(progressAndMessages,
              (decltype(progressAndMessages){{0, std::nullopt},
                                             {1, "The disk is full."},
                                             {1,
                                              "Couldn\u2019t write to the output folder (permission denied). "
                                              "Re-choose the Output Folder."},
                                             {0, std::nullopt}}));
    EXPECT_EQ(fixture.job(0).outputURL(), std::nullopt);
    EXPECT_TRUE(fixture.coordinator->writtenOutputs(fixture.job(0)).empty());
    EXPECT_EQ(fixture.counts, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(fixture.history.records().size(), 3u);

    // The ordinary encode still takes every job, with the batch's settings.
    fixture.coordinator->startEncoding();
    ASSERT_TRUE(fixture.waitForEnd());
    EXPECT_EQ(fixture.backend->state().destinations.size(), 6u);
    EXPECT_EQ(fixture.job(0).status(), Status::finished);
    EXPECT_EQ(fixture.backend->state().destinations.back(), "fail_ProRes.mov loudness tags");
}

TEST(BatchRun, AStitchIsAJobOfItsOwnNeverSavedNorRunAsItsFirstClip) {
    struct Case {
        std::vector<std::string> names;
        Status result;
    } const cases[] = {{{"a.mov", "off.mov", "c.mov", "done.mov"}, Status::finished},
                       {{"a.mov", "off.mov", "fail.mov", "done.mov"}, Status::failed}};
    for (const auto& c : cases) {
        BatchFixture fixture(c.names, 2);
        fixture.coordinator->setEnabled(fixture.job(1), false);
        fixture.job(3).setStatus(Status::finished);
        fixture.coordinator->startStitch();
        ASSERT_TRUE(fixture.waitForEnd());
        ASSERT_EQ(fixture.coordinator->jobs().size(), 5u);
        EncodeJob& result = fixture.job(4);
        EXPECT_EQ(result.displayName(), "Stitched \u00B7 2 clips");
        EXPECT_EQ(result.outputURL(),
                  c.result == Status::finished ? std::optional(fixture.folder / "stitched_ProRes.mov") : std::nullopt);
        EXPECT_EQ(fixture.statuses(),
                  (std::vector{Status::waiting, Status::waiting, Status::waiting, Status::finished, c.result}));
        EXPECT_EQ(FolderQueueStore(fixture.queueFolder()).load().size(), 4u);
        EXPECT_TRUE(fixture.notes->bodies.empty());

        // The next batch encodes the clips' own jobs, not the result.
        fixture.backend->open();
        fixture.coordinator->startEncoding();
        ASSERT_TRUE(fixture.waitForEnd());
        EXPECT_EQ(fixture.backend->state().started.size(), 2u);
        EXPECT_EQ(result.status(), c.result);

        // Retrying the result stitches the same clips again, at once.
        fixture.coordinator->retry(result);
        EXPECT_TRUE(fixture.coordinator->isRunning());
        ASSERT_TRUE(fixture.waitForEnd());
        EXPECT_EQ(result.status(), c.result);
        const std::string clips = "a.mov+" + c.names[2];
        EXPECT_EQ(fixture.backend->state().stitched, (std::vector{clips, clips}));
        EXPECT_EQ(fixture.backend->state().started.size(), 2u);
    }
}

TEST(BatchRun, WithPublishingOnEachJobSendsItsSuccessfulFilesBeforeItEnds) {
    BatchFixture fixture({"a.mov", "fail.mov"}, 1);
    fixture.job(0).setOutputs({JobOutputSpec("one", {}), JobOutputSpec("two", output(OutputCodec::h264))});
    PublishSettings publish;
    publish.endpoint = "https://uploads.example.test/media/";
    fixture.coordinator->setPublish(publish);
    fixture.backend->open();
    fixture.coordinator->startEncoding();  // publishing off
    ASSERT_TRUE(fixture.waitForEnd());
    EXPECT_TRUE(fixture.uploads->sent.empty());

    publish.isEnabled = true;
    fixture.coordinator->setPublish(publish);
    fixture.coordinator->retry(fixture.job(0));
    fixture.coordinator->startProxies();  // proxies are never sent
    ASSERT_TRUE(fixture.waitForEnd());
    EXPECT_TRUE(fixture.uploads->sent.empty());
    fixture.coordinator->startEncoding();
    ASSERT_TRUE(fixture.waitForEnd());
    EXPECT_EQ(fixture.uploads->sent, (std::vector<std::string>{"a_ProRes.mov", "a_H264.mp4"}));
    EXPECT_EQ(fixture.job(0).uploadState(), EncodeJob::UploadState::uploaded);
    EXPECT_EQ(fixture.job(1).uploadState(), EncodeJob::UploadState::none);
}

// Jobs side by side publishing to one URL: every POST is sent, whichever job
// ends first; a PUT there would replace the file before, so one goes.
TEST(BatchRun, EveryOutputIsPostedToOneURLButPutThereOnce) {
    for (const auto method : {PublishSettings::Method::post, PublishSettings::Method::put}) {
        SCOPED_TRACE(std::string(rawValue(method)));
        BatchFixture fixture({"a.mov", "b.mov"}, 2);
        for (int index : {0, 1})
            fixture.job(index).setOutputs({JobOutputSpec("one", {}), JobOutputSpec("two", output(OutputCodec::h264))});
        PublishSettings publish;
        publish.isEnabled = true;
        publish.endpoint = "https://uploads.example.test/in?sig=1";
        publish.method = method;
        fixture.coordinator->setPublish(publish);
        fixture.backend->open();
        fixture.coordinator->startEncoding();
        ASSERT_TRUE(fixture.waitForEnd());
        auto sent = fixture.uploads->sent;
        std::sort(sent.begin(), sent.end());
        if (method == PublishSettings::Method::post) {
            EXPECT_EQ(sent, (std::vector<std::string>{"a_H264.mp4", "a_ProRes.mov", "b_H264.mp4", "b_ProRes.mov"}));
            for (int index : {0, 1}) EXPECT_EQ(fixture.job(index).uploadState(), EncodeJob::UploadState::uploaded);
        } else {
            EXPECT_EQ(sent.size(), 1u);
            for (int index : {0, 1}) EXPECT_EQ(fixture.job(index).uploadState(), EncodeJob::UploadState::failed);
        }
        EXPECT_EQ(fixture.statuses(), (std::vector{Status::finished, Status::finished}));
    }
}

}  // namespace
}  // namespace fw::test

// The batch run: scheduling on the coordinator's own pool, the per-job chain
// on a worker, and the reports that carry its changes to the main thread.

#include "coordinator/EncodingCoordinator.h"

#include "coordinator/CaptionSidecar.h"
#include "coordinator/EncoderBackend.h"
#include "coordinator/UploadPass.h"
#include "coordinator/WatchFolderMonitor.h"
#include "encoders/EncodeRoute.h"
#include "encoders/LoudnessGain.h"
#include "jobs/OutputNaming.h"
#include "jobs/OutputPlan.h"
#include "jobs/SettingsBounds.h"
#include "model/EncodingError.h"
#include "model/ProgressEstimate.h"
#include "model/SupportedMediaType.h"
#include "pipeline/PreviewRenderer.h"
#include "platform/core/ThreadName.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>

namespace fw {

namespace fs = std::filesystem;

namespace {

// The least time between two progress reports of one job, and between two
// previews of a batch: an encode reports every frame, each report costs the
// main thread a wake-up, and the window shows one live preview at a time.
constexpr double kReportIntervalSeconds = 0.1;

// The history's codec text for an output of a source without pictures.
constexpr const char* kAudioOnlyLabel = "Audio (AAC)";

// Lets a report through when the last one let through is old enough. Held by
// callbacks, which an encoder may keep past the job.
std::shared_ptr<PreviewThrottle> reportGate() { return std::make_shared<PreviewThrottle>(kReportIntervalSeconds); }

}  // namespace

// One batch. The snapshot fields are written before the first worker starts
// and only read after; `active` is the main thread's; the reservations are
// shared by the workers.
struct EncodingCoordinator::Run {
    // A proxy run gives every job the one proxy output and leaves the jobs'
    // own state (status, progress, message, outputs) as it found it, failures
    // apart.
    // A stitch has one job, the result, made from `clips`.
    enum class Kind { encode, proxies, stitch };
    Kind kind = Kind::encode;
    struct JobState {
        EncodeJob::Status status;
        double progress;
        std::optional<std::string> errorMessage;
    };
    std::map<Uuid, JobState> before;

    // A proxy run's job as the run found it.
    void restore(EncodeJob& job) const {
        const JobState& state = before.at(job.id());
        job.setProgress(state.progress);
        job.setErrorMessage(state.errorMessage);
        job.setStatus(state.status);
    }
    int finished = 0, failed = 0;  // outcomes reported so far
    std::uint64_t id = 0;
    std::stop_source stop;
    JobList batch;
    std::vector<fs::path> clips;
    std::set<Uuid> active;        // began and not yet ended
    std::map<Uuid, double> work;  // ProgressEstimate::outputWork of the outputs of the jobs measured so far
    // When each job began and ended (the coordinator's clock), and how many
    // run side by side: what the time left is estimated from.
    std::map<Uuid, Date> began, ended;
    std::size_t jobsAtOnce = 1;
    std::size_t open = 0;  // workers that have not reported their end
    ExportConfiguration configuration;
    SourceEncodeOptions options;
    OptionalPath outputDirectory;
    MetadataSettings metadata;
    // Automatic uploads: only an ordinary batch with publishing on and an uploader.
    std::optional<PublishSettings> publish;
    std::optional<std::string> secret;
    std::shared_ptr<Uploader> uploader;
    PublishTargets targets;
    Date date;
    std::shared_ptr<EncoderBackend> encoders;
    OutputReservations reservations;
    // The coordinator's record of its own files, which the watch folder skips.
    std::shared_ptr<OwnOutputs> ownOutputs = std::make_shared<OwnOutputs>();
    // One for all the jobs: previews are rendered only while it lets them through.
    const std::shared_ptr<PreviewThrottle> previewGate = reportGate();

    // Posts `change` to the coordinator's thread.
    template <class Change>
    static void post(EncodingCoordinator* coordinator, Change&& change) {
        QMetaObject::invokeMethod(coordinator, std::forward<Change>(change), Qt::QueuedConnection);
    }

    // The job's progress while output `index` of `count` is encoded, through
    // the job's one gate.
    ProgressCallback progressOf(EncodingCoordinator* coordinator, const Uuid& jobId, std::size_t index,
                                std::size_t count, const std::shared_ptr<PreviewThrottle>& gate) const {
        return [coordinator, runId = id, jobId, index, count, gate](double fraction) {
            if (fraction < 1 && !gate->shouldEmit()) return;
            post(coordinator, [coordinator, runId, jobId, value = jobs::jobProgress(index, count, fraction)] {
                coordinator->jobProgressed(runId, jobId, value);
            });
        };
    }

    // The job's previews, through the batch's one gate.
    PreviewCallback previewOf(EncodingCoordinator* coordinator, const Uuid& jobId) const {
        return PreviewCallback(
            [coordinator, runId = id, jobId](const PreviewFrame& frame) {
                post(coordinator, [coordinator, runId, jobId, image = frame.image] {
                    coordinator->jobPreviewed(runId, jobId, image);
                });
            },
            previewGate);
    }

    // Uploads a job's written files as one step of its chain, before it ends;
    // a failed upload is the job's upload state, never its outcome. Picture
    // folders are not sent.
    void publishWritten(EncodeJob& job, const std::vector<fs::path>& written) {
        std::vector<fs::path> files;
        for (const auto& file : written) {
            std::error_code error;
            if (!fs::is_directory(file, error)) files.push_back(file);
        }
        if (!files.empty()) publishJobFiles(job, files, *publish, secret, *uploader, targets, stop.get_token());
    }

    // Reserves and records the name, with its caption sidecar's, before
    // anything is written there.
    fs::path reserve(const fs::path& source, const fs::path& destination,
                     OutputReservations::Kind outputKind = OutputReservations::Kind::file) {
        const fs::path reserved = reservations.reserve(source, destination, outputKind);
        ownOutputs->record(reserved);
        if (outputKind == OutputReservations::Kind::file) ownOutputs->record(CaptionSidecar::location(reserved));
        return reserved;
    }
};

// What a worker found out about its job.
struct EncodingCoordinator::JobReport {
    enum class Outcome { finished, failed, cancelled, skipped };
    Outcome outcome = Outcome::skipped;
    std::vector<fs::path> written;  // successful outputs, in order
    std::optional<std::string> errorMessage;
    std::string codecs;  // every output's codec, for the history
    // Of each figure of damage, the most any output found (each reads the
    // same source).
    EncodeResult damage;
};

namespace {

// The outputs of one job: its own when it has some, else the batch's one.
std::vector<ExportConfiguration> outputConfigurations(const EncodeJob& job, const ExportConfiguration& batch) {
    std::vector<ExportConfiguration> configurations;
    for (const auto& spec : job.outputs()) configurations.push_back(spec.configuration);
    if (configurations.empty()) configurations.push_back(batch);
    return configurations;
}

bool isCancellation(const std::exception& error) {
    const auto* encoding = dynamic_cast<const EncodingError*>(&error);
    return encoding != nullptr && encoding->kind() == EncodingError::Kind::cancelled;
}

bool containsPermission(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find("permission") != std::string::npos;
}

}  // namespace

// ------------------------------------------------------------------- commands

EncodingCoordinator::~EncodingCoordinator() {
    // The watch thread reports here: it ends before anything else goes.
    monitor_.reset();
    // The workers report to this object: stop them and wait for every one.
    if (run_) run_->stop.request_stop();
    if (pool_) pool_->waitForDone();
    if (measuring_) measuring_->waitForDone();
}

void EncodingCoordinator::startEncoding() {
    if (!canStart()) return;
    emit aboutToStart();
    startEncodingRun();
}

void EncodingCoordinator::startEncodingRun() {
    if (!canStart()) return;
    auto run = std::make_shared<Run>();
    run->configuration = primaryConfiguration();
    if (auto prepared = filters_.prepared(); prepared.isActive())
        run->options.batch.filters = std::make_shared<const PreparedFilters>(std::move(prepared));
    run->options.batch.audio = audio_;
    run->options.batch.colorProperties = color_.properties();
    run->options.batch.metadata = metadata_.movie();
    run->options.images = imageSequence_ ? SourceEncodeOptions::Images::sequence : SourceEncodeOptions::Images::single;
    run->metadata = metadata_;
    if (publish_.isEnabled && publish_.isConfigured() && services_.uploader) {
        run->publish = publish_;
        run->secret = services_.secrets ? services_.secrets->secret() : std::nullopt;
        run->uploader = services_.uploader;
    }
    beginRun(run);
}

void EncodingCoordinator::startProxies() {
    if (!hasPendingWork()) return;
    emit aboutToStart();
    // Pictures and sound as they are (no filters, no loudness); tags,
    // metadata and captions go with them as with any output.
    auto run = std::make_shared<Run>();
    run->kind = Run::Kind::proxies;
    run->configuration = proxy_.configuration();
    run->options.batch.colorProperties = color_.properties();
    run->options.batch.metadata = metadata_.movie();
    run->metadata = metadata_;
    beginRun(run);
}

void EncodingCoordinator::startStitch() {
    if (!canStitch()) return;
    emit aboutToStart();
    StitchRequest request;
    for (const auto& job : jobs_)
        if (isPendingJob(*job)) request.clips.push_back(job->sourceURL());
    request.configuration = primaryConfiguration();
    // The result is a job of its own for this session: never saved, never
    // taken by a later batch as an encode of its first clip.
    auto result = std::make_shared<EncodeJob>(request.clips.front());
    result->setDisplayName("Stitched \u00B7 " + std::to_string(request.clips.size()) + " clips");
    stitches_.emplace(result->id(), std::move(request));
    jobs_.push_back(result);
    emit jobsChanged();
    beginStitch(result);
}

void EncodingCoordinator::beginStitch(const std::shared_ptr<EncodeJob>& result) {
    const StitchRequest& request = stitches_.at(result->id());
    auto run = std::make_shared<Run>();
    run->kind = Run::Kind::stitch;
    run->clips = request.clips;
    run->configuration = request.configuration;
    run->options.batch.colorProperties = color_.properties();
    run->options.batch.metadata = metadata_.movie();
    run->metadata = metadata_;
    run->batch.push_back(result);
    beginRun(run);
}

void EncodingCoordinator::beginRun(const std::shared_ptr<Run>& run) {
    run->id = ++runCount_;
    if (run->kind != Run::Kind::stitch)
        for (const auto& job : jobs_) {
            if (!isPendingJob(*job)) continue;
            run->batch.push_back(job);
            run->before[job->id()] = {job->status(), job->progress(), job->errorMessage()};
        }
    run->options.stillClipSeconds = boundedStillDuration();
    run->outputDirectory = outputDirectory_;
    run->date = services_.clock();
    run->encoders = services_.encoders;
    run->ownOutputs = ownOutputs_;
    // No output of the batch may replace any file of the queue.
    for (const auto& job : jobs_) run->reservations.protect(job->sourceURL());
    run->open = run->batch.size();

    if (!pool_) {
        pool_ = std::make_unique<QThreadPool>();
        pool_->setObjectName(QStringLiteral("coordinator.jobs"));
    }
    pool_->setMaxThreadCount(std::max(std::min(maxConcurrentJobs_, services_.coreCount), 1));
    run->jobsAtOnce = std::clamp<std::size_t>(run->batch.size(), 1, static_cast<std::size_t>(pool_->maxThreadCount()));
    run_ = run;
    setRunning(true);
    setRunStartedAt(run->date);
    if (run->batch.empty()) return endRun();
    run->options.batch.threads =
        threadsPerJob(services_.coreCount, std::min(pool_->maxThreadCount(), static_cast<int>(run->batch.size())));
    // The pool starts runnables of one priority in the order given.
    for (const auto& job : run->batch) pool_->start([this, run, job] { runJob(this, run, job); });
    if (run->batch.size() > 1) measureWork(run);
}

void EncodingCoordinator::measureWork(const std::shared_ptr<Run>& run) {
    struct Measured {
        Uuid id;
        fs::path source;
        std::vector<ExportConfiguration> outputs;
    };
    std::vector<Measured> jobs;
    for (const auto& job : run->batch)
        jobs.push_back({job->id(), job->sourceURL(),
                        run->kind == Run::Kind::encode ? outputConfigurations(*job, run->configuration)
                                                       : std::vector{run->configuration}});
    if (!measuring_) {
        measuring_ = std::make_unique<QThreadPool>();
        measuring_->setObjectName(QStringLiteral("coordinator.measure"));
        measuring_->setMaxThreadCount(1);
    }
    // Opening every source takes a moment each: never on the main thread.
    measuring_->start([this, jobs = std::move(jobs), runId = run->id, stop = run->stop.get_token(),
                       stillSeconds = run->options.stillClipSeconds, encoders = run->encoders] {
        nameThisThread("coordinator.measure");
        std::map<Uuid, double> work;
        for (const auto& job : jobs) {
            if (stop.stop_requested()) return;
            const std::optional<ProgressEstimate::SourceMeasure> measure = encoders->measure(job.source);
            if (!measure) continue;
            const bool still = measure->kind == ProgressEstimate::SourceMeasure::Kind::still;
            double total = 0;
            for (const auto& output : job.outputs) {
                double seconds = still ? stillSeconds : measure->seconds;
                if (output.trim && !still) seconds = output.trim->resolvedDuration(seconds);
                total += ProgressEstimate::outputWork(*measure, seconds, makesStillClip(output.resolvingAlpha().codec));
            }
            work[job.id] = total;
        }
        QMetaObject::invokeMethod(
            this, [this, runId, work = std::move(work)] { jobsMeasured(runId, work); }, Qt::QueuedConnection);
    });
}

void EncodingCoordinator::jobsMeasured(std::uint64_t runId, const std::map<Uuid, double>& work) {
    if (run_ && run_->id == runId) run_->work = work;
}

int EncodingCoordinator::threadsPerJob(int coreCount, int jobsAtOnce) {
    if (jobsAtOnce <= 1) return 0;
    return std::max(1, 2 * coreCount / jobsAtOnce);
}

void EncodingCoordinator::cancelEncoding() {
    // Jobs not yet begun stay waiting until the end of the batch marks them:
    // a worker may already have written an output whose report is on its way.
    if (!run_) return;
    run_->stop.request_stop();
    setCancelling(true);
}

void EncodingCoordinator::prepareToQuit(std::chrono::milliseconds timeout) {
    if (!run_) return;
    cancelEncoding();
    if (pool_) pool_->waitForDone(static_cast<int>(timeout.count()));
    // The outcomes the workers reported before they ended count.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (run_) endRun();
}

std::vector<StoredFileReport> EncodingCoordinator::saveUnsavedQueue() {
    if (!persists_ || services_.queue->unsaved().empty()) return {};
    saveQueue();
    return services_.queue->unsaved();
}

const EncodingCoordinator::JobList& EncodingCoordinator::runJobs() const { return run_->batch; }
const std::map<Uuid, double>& EncodingCoordinator::runWork() const { return run_->work; }

std::optional<double> EncodingCoordinator::runTimeLeft(Date now) const {
    const auto secondsIn = [this](const std::map<Uuid, Date>& moments, const Uuid& id) -> std::optional<double> {
        const auto found = moments.find(id);
        if (found == moments.end()) return std::nullopt;
        return std::chrono::duration<double>(found->second - run_->date).count();
    };
    std::vector<ProgressEstimate::JobWork> jobs;
    for (const auto& job : run_->batch) {
        ProgressEstimate::JobWork each;
        each.progress = job->progress();
        if (const auto measured = run_->work.find(job->id()); measured != run_->work.end())
            each.work = measured->second;
        each.beganSeconds = secondsIn(run_->began, job->id());
        each.endedSeconds = secondsIn(run_->ended, job->id());
        jobs.push_back(each);
    }
    return ProgressEstimate::remaining(jobs, std::chrono::duration<double>(now - run_->date).count(), run_->jobsAtOnce);
}

bool EncodingCoordinator::isBeingCancelled(const EncodeJob& job) const {
    if (!isCancelling_ || !run_) return false;
    const auto status = job.status();
    if (status != EncodeJob::Status::waiting && status != EncodeJob::Status::encoding) return false;
    return std::any_of(run_->batch.begin(), run_->batch.end(),
                       [&](const auto& member) { return member->id() == job.id(); });
}

std::vector<fs::path> EncodingCoordinator::writtenOutputs(const EncodeJob& job) const {
    const auto found = successfulOutputs_.find(job.id());
    return found == successfulOutputs_.end() ? std::vector<fs::path>{} : found->second;
}

// ------------------------------------------------------------------ the worker

void EncodingCoordinator::runJob(EncodingCoordinator* coordinator, const std::shared_ptr<Run>& run,
                                 const std::shared_ptr<EncodeJob>& job) {
    nameThisThread("coordinator.job");
    const std::uint64_t runId = run->id;
    JobReport report;
    const std::stop_token stop = run->stop.get_token();
    if (stop.stop_requested()) {
        Run::post(coordinator, [coordinator, runId, job, report] { coordinator->jobEnded(runId, job, report); });
        return;
    }
    Run::post(coordinator, [coordinator, runId, job] { coordinator->jobBegan(runId, job); });
    if (run->kind == Run::Kind::stitch) return runStitch(coordinator, run, job);

    const fs::path& source = job->sourceURL();
    const auto configurations = run->kind == Run::Kind::proxies ? std::vector{run->configuration}
                                                                : outputConfigurations(*job, run->configuration);
    bool anyFailed = false;
    report.outcome = JobReport::Outcome::finished;
    // Loudness is measured once per job for each trim its outputs use (one,
    // unless its own outputs trim differently); camera-RAW sources never.
    std::vector<std::pair<std::optional<TrimRange>, float>> gains;
    const auto gainFor = [&](const std::optional<TrimRange>& trim) {
        if (SupportedMediaType::isCameraRaw(source)) return 1.0f;
        for (const auto& [measuredTrim, gain] : gains)
            if (measuredTrim == trim) return gain;
        gains.emplace_back(trim, loudnessGain(source, trim, run->options.batch.audio, stop));
        return gains.back().second;
    };
    // One gate for all the job's outputs: the job has one progress.
    const auto progressGate = reportGate();
    const jobs::OutputPlace place{run->outputDirectory, run->date};
    const jobs::ReserveName reserve = [&run](const fs::path& from, const fs::path& name,
                                             OutputReservations::Kind kind) { return run->reserve(from, name, kind); };
    for (std::size_t index = 0; index < configurations.size(); ++index) {
        const ExportConfiguration& settings = configurations[index];
        const ProgressCallback progress =
            run->progressOf(coordinator, job->id(), index, configurations.size(), progressGate);
        // A source without pictures becomes an AAC file whatever the codec: the history says so.
        bool soundOnly = false;
        try {
            const ExportConfiguration bounded = SettingsBounds::bounded(settings).resolvingAlpha();
            SourceEncodeOptions options = run->options;
            options.batch.loudnessGain = gainFor(bounded.trim);
            options.withoutPictures = SourceEncodeOptions::WithoutPictures::soundOnly;
            const jobs::OutputPlan plan =
                jobs::planOutput(run->encoders->probe(source, bounded), settings, std::move(options), place, reserve);
            soundOnly = plan.soundOnly;
            const EncodeResult result =
                run->encoders->encode(plan, progress, run->previewOf(coordinator, job->id()), stop);
            report.damage = mostOfEach(report.damage, result);
            report.written.push_back(plan.destination);
            if (plan.sidecar) CaptionSidecar::write(run->metadata, plan.destination);
        } catch (const std::exception& error) {
            if (isCancellation(error) || stop.stop_requested()) {
                report.outcome = JobReport::Outcome::cancelled;
                break;
            }
            anyFailed = true;
            report.errorMessage = failureMessage(error, run->outputDirectory.has_value());
        }
        if (!report.codecs.empty()) report.codecs += ", ";
        report.codecs += soundOnly ? std::string_view(kAudioOnlyLabel) : rawValue(settings.codec);
    }
    if (report.outcome != JobReport::Outcome::cancelled && anyFailed) report.outcome = JobReport::Outcome::failed;
    if (run->publish && report.outcome != JobReport::Outcome::cancelled) run->publishWritten(*job, report.written);
    Run::post(coordinator,
              [coordinator, runId, job, report = std::move(report)] { coordinator->jobEnded(runId, job, report); });
}

void EncodingCoordinator::runStitch(EncodingCoordinator* coordinator, const std::shared_ptr<Run>& run,
                                    const std::shared_ptr<EncodeJob>& job) {
    const std::uint64_t runId = run->id;
    const Uuid jobId = job->id();
    const std::stop_token stop = run->stop.get_token();
    const ProgressCallback progress = run->progressOf(coordinator, jobId, 0, 1, reportGate());
    const PreviewCallback preview = run->previewOf(coordinator, jobId);
    const ExportConfiguration configuration = SettingsBounds::bounded(run->configuration).resolvingAlpha();
    const auto destination = [&](IntSize nameSize) {
        const fs::path named = OutputNaming::stitchDestination(run->clips.front(), configuration, nameSize,
                                                               run->outputDirectory, run->date);
        return run->reserve(run->clips.front(), named);
    };
    JobReport report;
    report.codecs = rawValue(run->configuration.codec);
    report.outcome = JobReport::Outcome::finished;
    try {
        const fs::path written =
            run->encoders->stitch(run->clips, configuration, run->options, destination, progress, preview, stop);
        report.written.push_back(written);
        CaptionSidecar::write(run->metadata, written);
    } catch (const std::exception& error) {
        if (isCancellation(error) || stop.stop_requested()) {
            report.outcome = JobReport::Outcome::cancelled;
        } else {
            report.outcome = JobReport::Outcome::failed;
            report.errorMessage = failureMessage(error, run->outputDirectory.has_value());
        }
    }
    Run::post(coordinator,
              [coordinator, runId, job, report = std::move(report)] { coordinator->jobEnded(runId, job, report); });
}

std::string EncodingCoordinator::failureMessage(const std::exception& error, bool toFolder) {
    std::string message = error.what();
    if (!containsPermission(message)) return message;
    return toFolder ? "Couldn\u2019t write to the output folder (permission denied). Re-choose the Output Folder."
                    : "Couldn\u2019t write next to the source file. Choose an Output Folder in Destinations.";
}

// -------------------------------------------------------- reports, main thread

void EncodingCoordinator::jobBegan(std::uint64_t runId, const std::shared_ptr<EncodeJob>& job) {
    if (!run_ || run_->id != runId) return;
    run_->active.insert(job->id());
    run_->began[job->id()] = services_.clock();
    job->setStatus(EncodeJob::Status::encoding);
    job->setProgress(0);
    job->setErrorMessage(std::nullopt);
    job->setStartedAt(services_.clock());
    if (run_->kind == Run::Kind::proxies) return;
    forgetSuccessfulOutputs(*job);
    job->setOutputURL(std::nullopt);
    job->setDamage({});
}

void EncodingCoordinator::jobProgressed(std::uint64_t runId, const Uuid& jobId, double progress) {
    if (!run_ || run_->id != runId || !run_->active.contains(jobId)) return;
    for (const auto& job : run_->batch)
        if (job->id() == jobId) job->setProgress(progress);
}

void EncodingCoordinator::jobPreviewed(std::uint64_t runId, const Uuid& jobId, const ImageRef& image) {
    if (!run_ || run_->id != runId || !run_->active.contains(jobId)) return;
    setLivePreviewImage(image);
}

void EncodingCoordinator::jobEnded(std::uint64_t runId, const std::shared_ptr<EncodeJob>& job,
                                   const JobReport& report) {
    if (!run_ || run_->id != runId) return;
    const bool began = run_->active.erase(job->id()) > 0;
    run_->ended[job->id()] = services_.clock();
    const bool proxies = run_->kind == Run::Kind::proxies;
    if (began) {
        if (!report.written.empty() && !proxies) {
            for (const auto& file : report.written) recordSuccessfulOutput(*job, file);
            job->setOutputURL(report.written.back());
        }
        switch (report.outcome) {
        case JobReport::Outcome::cancelled:
            if (proxies)
                run_->restore(*job);
            else
                job->setStatus(EncodeJob::Status::cancelled);
            break;
        case JobReport::Outcome::finished:
        case JobReport::Outcome::failed: {
            const bool succeeded = report.outcome == JobReport::Outcome::finished;
            ++(succeeded ? run_->finished : run_->failed);
            if (proxies && succeeded) {
                // A proxy is a side product: the job's own encode is still to come.
                run_->restore(*job);
            } else {
                job->setErrorMessage(report.errorMessage);
                job->setDamage(report.damage);
                job->setProgress(1);
                job->setStatus(succeeded ? EncodeJob::Status::finished : EncodeJob::Status::failed);
            }
            if (services_.history != nullptr)
                services_.history->record(
                    job->displayName().value_or(job->fileName()),
                    report.written.empty() ? std::nullopt : std::optional<fs::path>(report.written.back()),
                    report.codecs, succeeded, report.errorMessage,
                    report.written.empty()
                        ? std::vector<fs::path>{}
                        : std::vector<fs::path>(report.written.begin(), std::prev(report.written.end())),
                    report.damage);
            break;
        }
        case JobReport::Outcome::skipped: break;
        }
    }
    if (--run_->open == 0) endRun();
}

void EncodingCoordinator::endRun() {
    const auto run = std::move(run_);
    run_.reset();
    const bool cancelled = run->stop.stop_requested();
    // The batch's own jobs that did not end: not begun, or (quitting) still encoding.
    if (cancelled)
        for (const auto& job : run->batch)
            if (job->status() == EncodeJob::Status::waiting || job->status() == EncodeJob::Status::encoding) {
                if (run->kind == Run::Kind::proxies)
                    run->restore(*job);
                else
                    job->setStatus(EncodeJob::Status::cancelled);
            }
    const int finished = run->finished, failed = run->failed;
    const int cancelledCount = static_cast<int>(run->batch.size()) - finished - failed;
    setRunning(false);
    setCancelling(false);
    setRunStartedAt(std::nullopt);
    setLivePreviewImage(nullptr);
    saveQueue();
    if (!cancelled && run->kind != Run::Kind::stitch) postCompletionNotification(finished, failed);
    emit batchFinished(finished, failed, cancelledCount);
    startBatchForWatchedFiles(cancelled);
}

}  // namespace fw

#include "coordinator/EncodingCoordinator.h"

#include "coordinator/CaptionSidecar.h"
#include "coordinator/EncoderBackend.h"
#include "coordinator/UploadPass.h"
#include "jobs/OutputNaming.h"
#include "jobs/SettingsBounds.h"
#include "model/EncodingError.h"
#include "model/ProgressEstimate.h"
#include "model/SupportedMediaType.h"
#include "platform/core/PathIdentity.h"
#include "platform/core/SourceFileKind.h"

#include <algorithm>
#include <set>
#include <system_error>

namespace fw {

namespace {

constexpr const char* kOutputDirectoryKey = "OutputDirectoryPath";

}  // namespace

EncodingCoordinator::EncodingCoordinator(CoordinatorServices services, Restore restore, QObject* parent)
    : QObject(parent), services_(std::move(services)), persists_(restore == Restore::yes) {
    services_.coreCount = std::max(services_.coreCount, 1);
    maxConcurrentJobs_ = services_.coreCount;
    if (!persists_) return;
    jobs_ = services_.queue->load();
    restoreOutputDirectory();
}

template <class T>
void EncodingCoordinator::assign(T& field, const T& value, void (EncodingCoordinator::*changed)()) {
    if (field == value) return;
    field = value;
    (this->*changed)();
}

// ---------------------------------------------------------------- setters

void EncodingCoordinator::setSelectedCodec(OutputCodec value) {
    assign(selectedCodec_, value, &EncodingCoordinator::selectedCodecChanged);
}
void EncodingCoordinator::setOutputAlpha(bool value) {
    assign(outputAlpha_, value, &EncodingCoordinator::outputAlphaChanged);
}
void EncodingCoordinator::setDxvHighQuality(bool value) {
    assign(dxvHighQuality_, value, &EncodingCoordinator::dxvHighQualityChanged);
}
void EncodingCoordinator::setProResVariant(ProResVariant value) {
    assign(proResVariant_, value, &EncodingCoordinator::proResVariantChanged);
}
void EncodingCoordinator::setH264(const H264Settings& value) {
    assign(h264_, value, &EncodingCoordinator::h264Changed);
}
void EncodingCoordinator::setResize(const ResizeSettings& value) {
    assign(resize_, value, &EncodingCoordinator::resizeChanged);
}
void EncodingCoordinator::setTrimEnabled(bool value) {
    assign(trimEnabled_, value, &EncodingCoordinator::trimEnabledChanged);
}
void EncodingCoordinator::setTrimStart(double value) {
    assign(trimStart_, value, &EncodingCoordinator::trimStartChanged);
}
void EncodingCoordinator::setTrimEnd(double value) { assign(trimEnd_, value, &EncodingCoordinator::trimEndChanged); }
void EncodingCoordinator::setGeometry(const GeometrySettings& value) {
    assign(geometry_, value, &EncodingCoordinator::geometryChanged);
}
void EncodingCoordinator::setNaming(const NamingSettings& value) {
    assign(naming_, value, &EncodingCoordinator::namingChanged);
}
void EncodingCoordinator::setTenBit(bool value) { assign(tenBit_, value, &EncodingCoordinator::tenBitChanged); }
void EncodingCoordinator::setProxy(const ProxySettings& value) {
    assign(proxy_, value, &EncodingCoordinator::proxyChanged);
}
void EncodingCoordinator::setStillDuration(double value) {
    assign(stillDuration_, value, &EncodingCoordinator::stillDurationChanged);
}
void EncodingCoordinator::setNotifyOnCompletion(bool value) {
    assign(notifyOnCompletion_, value, &EncodingCoordinator::notifyOnCompletionChanged);
}
void EncodingCoordinator::setImageSequence(bool value) {
    assign(imageSequence_, value, &EncodingCoordinator::imageSequenceChanged);
}
void EncodingCoordinator::setFilters(const FilterSettings& value) {
    // The LUT and the picture have no cheap equality: every write counts.
    filters_ = value;
    emit filtersChanged();
}
void EncodingCoordinator::setAudio(const AudioSettings& value) {
    assign(audio_, value, &EncodingCoordinator::audioChanged);
}
void EncodingCoordinator::setMetadata(const MetadataSettings& value) {
    assign(metadata_, value, &EncodingCoordinator::metadataChanged);
}
void EncodingCoordinator::setColor(const ColorSettings& value) {
    assign(color_, value, &EncodingCoordinator::colorChanged);
}
void EncodingCoordinator::setPublish(const PublishSettings& value) {
    assign(publish_, value, &EncodingCoordinator::publishChanged);
}
void EncodingCoordinator::setWatchConfiguration(const OptionalConfiguration& value) {
    assign(watchConfiguration_, value, &EncodingCoordinator::watchConfigurationChanged);
}
void EncodingCoordinator::setWatchPresetName(const OptionalText& value) {
    assign(watchPresetName_, value, &EncodingCoordinator::watchPresetNameChanged);
}
void EncodingCoordinator::setMaxConcurrentJobs(int value) {
    assign(maxConcurrentJobs_, value, &EncodingCoordinator::maxConcurrentJobsChanged);
}
void EncodingCoordinator::setAutoStartWatched(bool value) {
    assign(autoStartWatched_, value, &EncodingCoordinator::autoStartWatchedChanged);
}
void EncodingCoordinator::setRunning(bool value) { assign(isRunning_, value, &EncodingCoordinator::isRunningChanged); }
void EncodingCoordinator::setCancelling(bool value) {
    assign(isCancelling_, value, &EncodingCoordinator::isCancellingChanged);
}
void EncodingCoordinator::setRunStartedAt(const OptionalDate& value) {
    assign(runStartedAt_, value, &EncodingCoordinator::runStartedAtChanged);
}
void EncodingCoordinator::setUploading(bool value) {
    assign(isUploading_, value, &EncodingCoordinator::isUploadingChanged);
}
void EncodingCoordinator::setLivePreviewImage(const ImageRef& value) {
    assign(livePreviewImage_, value, &EncodingCoordinator::livePreviewImageChanged);
}
void EncodingCoordinator::setWatchFolderURL(const OptionalPath& value) {
    assign(watchFolderURL_, value, &EncodingCoordinator::watchFolderURLChanged);
}

// --------------------------------------------------------- output folder

void EncodingCoordinator::setOutputDirectory(const OptionalPath& value) {
    const bool changed = outputDirectory_ != value;
    outputDirectory_ = value;
    // Written on every call, changed or not: a stale key must never outlive
    // the choice shown in the window.
    if (value)
        services_.userDefaults->set(kOutputDirectoryKey, Json(value->string()));
    else
        services_.userDefaults->remove(kOutputDirectoryKey);
    if (changed) emit outputDirectoryChanged();
}

void EncodingCoordinator::restoreOutputDirectory() {
    const auto saved = services_.userDefaults->string(kOutputDirectoryKey);
    if (!saved || saved->empty()) return;
    std::error_code error;
    if (!std::filesystem::is_directory(*saved, error)) return;  // the key stays for a remounted disk
    setOutputDirectory(std::filesystem::path(*saved));
}

// --------------------------------------------------------- derived values

std::optional<TrimRange> EncodingCoordinator::trimRange() const {
    if (!trimEnabled_) return std::nullopt;
    TrimRange trim{trimStart_, std::nullopt};
    if (trimStart_ < trimEnd_) trim.end = trimEnd_;
    return SettingsBounds::bounded(trim);
}

ExportConfiguration EncodingCoordinator::primaryConfiguration() const {
    ExportConfiguration configuration;
    configuration.codec = selectedCodec_;
    configuration.proResVariant = proResVariant_;
    configuration.h264 = h264_;
    configuration.resize = resize_;
    configuration.naming = naming_;
    configuration.trim = trimRange();
    const GeometrySettings geometry = SettingsBounds::bounded(geometry_);
    if (geometry.isActive() || geometry.convertsFrameRate()) configuration.geometry = geometry;
    configuration.tenBit = tenBit_;
    configuration.alpha = outputAlpha_;
    configuration.dxvHighQuality = dxvHighQuality_;
    return SettingsBounds::bounded(configuration);
}

double EncodingCoordinator::boundedStillDuration() const { return SettingsBounds::stillDuration(stillDuration_); }

double EncodingCoordinator::overallProgress() const {
    std::vector<ProgressEstimate::JobWork> counted;
    for (const auto& job : run_ ? runJobs() : jobs_) {
        const auto status = job->status();
        if (status == EncodeJob::Status::failed || status == EncodeJob::Status::cancelled) continue;
        ProgressEstimate::JobWork each;
        each.progress = job->progress();
        if (run_)
            if (const auto measured = runWork().find(job->id()); measured != runWork().end())
                each.work = measured->second;
        counted.push_back(each);
    }
    return ProgressEstimate::overallProgress(counted);
}

std::optional<double> EncodingCoordinator::estimatedTimeRemaining(Date now) const {
    if (!isRunning_ || !runStartedAt_) return std::nullopt;
    const double progress = overallProgress();
    if (!(progress > 0.01 && progress < 1.0)) return std::nullopt;
    if (run_)
        if (const std::optional<double> left = runTimeLeft(now)) return left;
    return ProgressEstimate::remaining(progress, std::chrono::duration<double>(now - *runStartedAt_).count());
}

namespace {

bool isPending(const EncodeJob& job) {
    const auto status = job.status();
    return job.enabled() && (status == EncodeJob::Status::waiting || status == EncodeJob::Status::failed);
}

}  // namespace

bool EncodingCoordinator::isPendingJob(const EncodeJob& job) const {
    return isPending(job) && !stitches_.contains(job.id());
}

bool EncodingCoordinator::hasPendingWork() const {
    if (isRunning_) return false;
    return std::any_of(jobs_.begin(), jobs_.end(), [this](const auto& job) { return isPendingJob(*job); });
}

OutputCodec EncodingCoordinator::outputCodec() const {
    ExportConfiguration configuration;
    configuration.codec = selectedCodec_;
    configuration.alpha = outputAlpha_;
    return configuration.resolvingAlpha().codec;
}

bool EncodingCoordinator::canStart() const { return isProducible(outputCodec()) && hasPendingWork(); }

bool EncodingCoordinator::canStitch() const {
    if (isRunning_) return false;
    if (selectedCodec_ != OutputCodec::proRes && !hasBitrateControls(selectedCodec_)) return false;
    if (!isProducible(outputCodec())) return false;
    return std::count_if(jobs_.begin(), jobs_.end(), [this](const auto& job) { return isPendingJob(*job); }) > 1;
}

bool EncodingCoordinator::canPublish() const {
    if (!publish_.isConfigured() || isUploading_) return false;
    return std::any_of(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job->status() == EncodeJob::Status::finished && job->outputURL().has_value();
    });
}

void EncodingCoordinator::apply(const ExportConfiguration& configuration) {
    setSelectedCodec(configuration.codec);
    setOutputAlpha(configuration.alpha || configuration.codec == OutputCodec::hevcAlpha);
    setDxvHighQuality(configuration.dxvHighQuality);
    setProResVariant(configuration.proResVariant);
    setH264(configuration.h264);
    setResize(configuration.resize);
    setNaming(configuration.naming);
    setTrimEnabled(configuration.trim.has_value());
    setTrimStart(configuration.trim ? configuration.trim->start : 0.0);
    setTrimEnd(configuration.trim ? configuration.trim->end.value_or(0.0) : 0.0);
    setGeometry(configuration.geometry.value_or(GeometrySettings{}));
    setTenBit(configuration.tenBit);
}

// --------------------------------------------------------- queue commands

void EncodingCoordinator::replaceJobs(JobList jobs) {
    if (jobs != jobs_) {
        jobs_ = std::move(jobs);
        emit jobsChanged();
    }
    saveQueue();
}

void EncodingCoordinator::saveQueue() {
    if (!persists_) return;
    if (stitches_.empty() && withdrawnUntilBack_.empty()) return services_.queue->save(jobs_);
    JobList saved;
    std::copy_if(jobs_.begin(), jobs_.end(), std::back_inserter(saved),
                 [this](const auto& job) { return !stitches_.contains(job->id()); });
    // Still the user's while their files are written again or away: saved
    // where they come back, after the others.
    for (const auto& [file, withdrawn] : withdrawnUntilBack_)
        saved.insert(saved.end(), withdrawn.begin(), withdrawn.end());
    services_.queue->save(saved);
}

std::vector<std::filesystem::path> EncodingCoordinator::addFiles(const std::vector<std::filesystem::path>& files,
                                                                 Duplicates duplicates,
                                                                 const std::optional<Uuid>& handOver) {
    // The same launch again: what it handed over is queued already.
    if (handOver && std::ranges::any_of(jobs_, [&handOver](const auto& job) { return job->handOver() == handOver; })) {
        replaceJobs(jobs_);
        return {};
    }
    std::vector<std::filesystem::path> unsupported;
    std::set<std::filesystem::path> queued;  // identities, so a file is one however spelt
    if (duplicates == Duplicates::skipped)
        for (const auto& job : jobs_) queued.insert(pathIdentity(job->sourceURL()));
    JobList jobs = jobs_;
    for (const auto& file : files) {
        if (!SupportedMediaType::isSupported(file) || notARegularFile(file)) {
            unsupported.push_back(file);
            continue;
        }
        if (duplicates == Duplicates::skipped && !queued.insert(pathIdentity(file)).second) continue;
        jobs.push_back(std::make_shared<EncodeJob>(file, handOver));
    }
    replaceJobs(std::move(jobs));
    return unsupported;
}

void EncodingCoordinator::remove(const EncodeJob& job) {
    if (isRunning_) return;
    JobList jobs = jobs_;
    std::erase_if(jobs, [&job](const auto& queued) { return queued->id() == job.id(); });
    replaceJobs(std::move(jobs));
}

void EncodingCoordinator::retry(EncodeJob& job) {
    if (isRunning_) return;
    job.setStatus(EncodeJob::Status::waiting);
    job.setProgress(0);
    job.setErrorMessage(std::nullopt);
    job.setOutputURL(std::nullopt);
    job.setDamage({});
    job.setUploadState(EncodeJob::UploadState::none);
    job.setUploadMessage(std::nullopt);
    forgetSuccessfulOutputs(job);
    replaceJobs(jobs_);
    // No batch takes a stitch's result, so retrying it stitches again now.
    if (stitches_.contains(job.id()))
        for (const auto& queued : jobs_)
            if (queued->id() == job.id()) return beginStitch(queued);
}

void EncodingCoordinator::setEnabled(EncodeJob& job, bool enabled) {
    job.setEnabled(enabled);
    replaceJobs(jobs_);
}

void EncodingCoordinator::setOutputs(EncodeJob& job, std::vector<JobOutputSpec> outputs) {
    if (isRunning_) return;
    job.setOutputs(std::move(outputs));
    replaceJobs(jobs_);
}

void EncodingCoordinator::move(const std::vector<std::size_t>& sourceOffsets, std::size_t destination) {
    if (isRunning_) return;
    std::set<std::size_t> offsets;
    for (std::size_t offset : sourceOffsets)
        if (offset < jobs_.size()) offsets.insert(offset);
    destination = std::min(destination, jobs_.size());

    JobList moving;
    JobList staying;
    std::size_t insertion = destination;
    for (std::size_t index = 0; index < jobs_.size(); ++index) {
        if (offsets.count(index) == 0) {
            staying.push_back(jobs_[index]);
            continue;
        }
        moving.push_back(jobs_[index]);
        if (index < destination) --insertion;
    }
    staying.insert(staying.begin() + static_cast<std::ptrdiff_t>(insertion), moving.begin(), moving.end());
    replaceJobs(std::move(staying));
}

void EncodingCoordinator::clearFinished() {
    if (isRunning_) return;
    JobList jobs = jobs_;
    std::erase_if(jobs, [](const auto& job) { return job->status() == EncodeJob::Status::finished; });
    replaceJobs(std::move(jobs));
}

void EncodingCoordinator::forgetQueuedFilesNotFound() {
    if (!persists_) return;
    services_.queue->forgetAbsent();
    saveQueue();
}

// ------------------------------------------------------ naming and sizing

IntSize EncodingCoordinator::naturalPixelSize(const std::filesystem::path& source) const {
    return jobs::naturalPixelSize(services_.encoders->probe(source, ExportConfiguration{}));
}

std::filesystem::path EncodingCoordinator::audioDestinationURL(const std::filesystem::path& source,
                                                               const ExportConfiguration& configuration) const {
    return OutputNaming::audioDestination(source, configuration, outputDirectory_, services_.clock());
}

// -------------------------------------------------------- caption sidecar

void EncodingCoordinator::writeCaptionSidecar(const std::filesystem::path& output) const {
    CaptionSidecar::write(metadata_, output);
}

}  // namespace fw

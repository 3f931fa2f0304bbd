#include "coordinator/CoordinatorServices.h"

#include "coordinator/EncoderBackend.h"
#include "jobs/PlanExecutor.h"

namespace fw {

void QueueStore::tell(std::vector<StoredFileReport> reports, const std::filesystem::path& file) {
    // A save writes the file unless it reports why not.
    unsavedReports_.follow(reports, true, file);
    for (const StoredFileReport& report : reports) reports_.emit(report);
    std::erase_if(reports, [](const StoredFileReport& report) { return !report.leavesUnsaved(); });
    unsaved_ = std::move(reports);
}

void QueueStore::tellSetAside(std::vector<StoredFileReport> reports, const std::filesystem::path& file) {
    unsavedReports_.follow(reports, false, file);
    for (const StoredFileReport& report : reports) reports_.emit(report);
}

QueuePersistence::JobList FolderQueueStore::load() {
    QueuePersistence::Loaded loaded = QueuePersistence::loadKeepingAbsent(folder_);
    absent_ = std::move(loaded.absent);
    absentTold_ = false;
    return std::move(loaded.jobs);
}

void FolderQueueStore::setAsideUnreadable() {
    const std::filesystem::path file = folder_ / QueuePersistence::kFileName;
    std::vector<StoredFileReport> reports = QueuePersistence::setAsideUnreadable(folder_);
    if (!absent_.empty() && !absentTold_) {
        absentTold_ = true;
        StoredFileReport absent{StoredFileReport::Kind::sourcesAbsent, file, {}, {}, {}};
        absent.absentSources = absent_.size();
        reports.push_back(std::move(absent));
    }
    tellSetAside(std::move(reports), file);
}

void FolderQueueStore::save(const QueuePersistence::JobList& jobs) {
    tell(QueuePersistence::save(jobs, folder_, absent_), folder_ / QueuePersistence::kFileName);
}

jobs::SourceProbe EngineEncoderBackend::probe(const std::filesystem::path& source,
                                              const ExportConfiguration& configuration) const {
    return jobs::probeSource(source, configuration);
}

std::optional<ProgressEstimate::SourceMeasure> EncoderBackend::measure(const std::filesystem::path& source) const {
    ProgressEstimate::SourceMeasure measure;
    if (isStillImageSource(source)) {
        measure.kind = ProgressEstimate::SourceMeasure::Kind::still;
        return measure;
    }
    const std::optional<double> seconds = timelineSeconds(source);
    if (!seconds) return std::nullopt;
    measure.seconds = *seconds;
    return measure;
}

std::optional<double> EngineEncoderBackend::timelineSeconds(const std::filesystem::path& source) const {
    return fw::timelineSeconds(source);
}

std::optional<ProgressEstimate::SourceMeasure> EngineEncoderBackend::measure(
    const std::filesystem::path& source) const {
    return sourceMeasure(source);
}

EncodeResult EngineEncoderBackend::encode(const jobs::OutputPlan& plan, const ProgressCallback& progress,
                                          const PreviewCallback& preview, std::stop_token stop) const {
    return jobs::encodePlan(plan, progress, preview, std::move(stop));
}

std::filesystem::path EngineEncoderBackend::stitch(const std::vector<std::filesystem::path>& clips,
                                                   const ExportConfiguration& configuration,
                                                   const SourceEncodeOptions& options,
                                                   const std::function<std::filesystem::path(IntSize)>& destination,
                                                   const ProgressCallback& progress, const PreviewCallback& preview,
                                                   std::stop_token stop) const {
    return encodeStitch(clips, configuration, options, destination, progress, preview, std::move(stop));
}

}  // namespace fw

#include "coordinator/CoordinatorServices.h"

#include "pipeline/DisplayedSize.h"
#include "platform/media/Asset.h"

#include <algorithm>
#include <thread>

namespace fw {

QueuePersistence::JobList FolderQueueStore::load() { return QueuePersistence::load(folder_); }

void FolderQueueStore::save(const QueuePersistence::JobList& jobs) { QueuePersistence::save(jobs, folder_); }

IntSize EngineEncoderBackend::naturalPixelSize(const std::filesystem::path& source) const {
    return displayedPixelSize(*media::Asset::open(source));
}

std::optional<double> EngineEncoderBackend::timelineSeconds(const std::filesystem::path& source) const {
    return fw::timelineSeconds(source);
}

void EngineEncoderBackend::encode(const std::filesystem::path& source, const std::filesystem::path& destination,
                                  const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                                  const ProgressCallback& progress, const PreviewCallback& preview,
                                  std::stop_token stop) const {
    encodeSource(source, destination, configuration, options, progress, preview, std::move(stop));
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

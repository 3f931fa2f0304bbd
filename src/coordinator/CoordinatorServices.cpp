#include "coordinator/CoordinatorServices.h"

#include "coordinator/EncoderBackend.h"
#include "coordinator/HttpUploader.h"
#include "coordinator/KeychainStore.h"
#include "coordinator/NotificationManager.h"
#include "jobs/PlanExecutor.h"
#include "platform/core/CoreCount.h"
#include "platform/core/XdgPaths.h"

#include <algorithm>
#include <thread>

namespace fw {

QueuePersistence::JobList FolderQueueStore::load() { return QueuePersistence::load(folder_); }

void FolderQueueStore::save(const QueuePersistence::JobList& jobs) { QueuePersistence::save(jobs, folder_); }

jobs::SourceProbe EngineEncoderBackend::probe(const std::filesystem::path& source,
                                              const ExportConfiguration& configuration) const {
    return jobs::probeSource(source, configuration);
}

std::optional<double> EngineEncoderBackend::timelineSeconds(const std::filesystem::path& source) const {
    return fw::timelineSeconds(source);
}

void EngineEncoderBackend::encode(const jobs::OutputPlan& plan, const ProgressCallback& progress,
                                  const PreviewCallback& preview, std::stop_token stop) const {
    jobs::encodePlan(plan, progress, preview, std::move(stop));
}

std::filesystem::path EngineEncoderBackend::stitch(const std::vector<std::filesystem::path>& clips,
                                                   const ExportConfiguration& configuration,
                                                   const SourceEncodeOptions& options,
                                                   const std::function<std::filesystem::path(IntSize)>& destination,
                                                   const ProgressCallback& progress, const PreviewCallback& preview,
                                                   std::stop_token stop) const {
    return encodeStitch(clips, configuration, options, destination, progress, preview, std::move(stop));
}

CoordinatorServices CoordinatorServices::standard() {
    CoordinatorServices services;
    services.queue = std::make_shared<FolderQueueStore>(xdg::applicationSupportDirectory());
    services.history = &EncodeHistoryStore::shared();
    services.userDefaults = &UserDefaults::standard();
    services.encoders = std::make_shared<EngineEncoderBackend>();
    services.secrets = std::make_shared<KeychainStore>();
    services.notifier = std::make_shared<NotificationManager>();
    services.uploader = std::make_shared<HttpUploader>();
    services.coreCount = usableCoreCount();
    return services;
}

}  // namespace fw

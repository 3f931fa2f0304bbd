#include "coordinator/CoordinatorServices.h"

#include "coordinator/HttpUploader.h"
#include "coordinator/KeychainStore.h"
#include "coordinator/NotificationManager.h"
#include "pipeline/DisplayedSize.h"
#include "platform/core/XdgPaths.h"
#include "platform/media/Asset.h"

#include <algorithm>
#include <thread>

namespace fw {

QueuePersistence::JobList FolderQueueStore::load() { return QueuePersistence::load(folder_); }

void FolderQueueStore::save(const QueuePersistence::JobList& jobs) { QueuePersistence::save(jobs, folder_); }

IntSize EngineEncoderBackend::naturalPixelSize(const std::filesystem::path& source) const {
    return displayedPixelSize(*media::Asset::open(source));
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
    services.coreCount = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    return services;
}

}  // namespace fw

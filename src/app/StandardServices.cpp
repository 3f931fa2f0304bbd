#include "app/StandardServices.h"

#include "coordinator/EncoderBackend.h"
#include "coordinator/HttpUploader.h"
#include "coordinator/KeychainStore.h"
#include "coordinator/NotificationManager.h"
#include "platform/core/CoreCount.h"
#include "platform/core/XdgPaths.h"

#include <memory>

namespace fw::app {

CoordinatorServices standardServices() {
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

}  // namespace fw::app

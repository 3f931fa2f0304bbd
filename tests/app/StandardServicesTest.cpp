// The application's own services: every one the coordinator can use is wired,
// each the concrete kind the application runs with, its stores in the
// user's data and config folders.

#include "app/StandardServices.h"
#include "coordinator/EncoderBackend.h"
#include "coordinator/HttpUploader.h"
#include "coordinator/KeychainStore.h"
#include "coordinator/NotificationManager.h"
#include "platform/core/CoreCount.h"
#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

TEST(StandardServices, WiresEveryServiceWithItsConcreteKind) {
    test::TempDir home;
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    const CoordinatorServices services = standardServices();

    const auto* queue = dynamic_cast<const FolderQueueStore*>(services.queue.get());
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->folder(), home / "data/Framewright");
    EXPECT_EQ(services.history, &EncodeHistoryStore::shared());
    EXPECT_EQ(services.userDefaults, &UserDefaults::standard());
    EXPECT_NE(dynamic_cast<const EngineEncoderBackend*>(services.encoders.get()), nullptr);
    EXPECT_NE(dynamic_cast<const KeychainStore*>(services.secrets.get()), nullptr);
    EXPECT_NE(dynamic_cast<const NotificationManager*>(services.notifier.get()), nullptr);
    EXPECT_NE(dynamic_cast<const HttpUploader*>(services.uploader.get()), nullptr);
    EXPECT_EQ(services.coreCount, usableCoreCount());
}

}  // namespace
}  // namespace fw::app

// The completion notification on a private session bus, against a fake
// notification service that can hold back its answer to the permission check.

#include "coordinator/NotificationManager.h"

#include "PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

#include <vector>

namespace fw::test {
namespace {

class FakeNotificationService : public QDBusVirtualObject {
public:
    bool holdCapabilities = false;
    int capabilityQuestions = 0;
    std::vector<QString> received;  // "application|replaced id|summary|body"

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("GetCapabilities")) {
            ++capabilityQuestions;
            held_.push_back(message);
            if (!holdCapabilities) releaseCapabilities(connection);
            return true;
        }
        if (message.member() == QLatin1String("Notify")) {
            const auto arguments = message.arguments();
            received.push_back(QStringList{arguments.value(0).toString(), arguments.value(1).toString(),
                                           arguments.value(3).toString(), arguments.value(4).toString()}
                                   .join('|'));
            connection.send(message.createReply(static_cast<uint>(received.size())));
            return true;
        }
        return false;
    }
    QString introspect(const QString&) const override { return {}; }

    void releaseCapabilities(const QDBusConnection& connection) {
        for (const QDBusMessage& message : held_)
            connection.send(message.createReply(QStringList{QStringLiteral("body")}));
        held_.clear();
    }

private:
    std::vector<QDBusMessage> held_;
};

class NotificationManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.address().isEmpty()) GTEST_SKIP() << "dbus-daemon could not be started";
        client_ = QDBusConnection::connectToBus(bus_.address(), QStringLiteral("fw-notify-client"));
        service_ = QDBusConnection::connectToBus(bus_.address(), QStringLiteral("fw-notify-service"));
        ASSERT_TRUE(client_.isConnected() && service_.isConnected());
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("fw-notify-client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fw-notify-service"));
    }
    void registerService() {
        ASSERT_TRUE(service_.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &fake_));
        ASSERT_TRUE(service_.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    PrivateSessionBus bus_;
    QDBusConnection client_{QString()};
    QDBusConnection service_{QString()};
    FakeNotificationService fake_;
};

TEST_F(NotificationManagerTest, PostsWaitingForThePermissionCheckAreDelivered) {
    registerService();
    fake_.holdCapabilities = true;
    NotificationManager manager(client_);
    manager.requestAuthorizationIfNeeded();  // as the window does when first shown
    manager.post("Framewright", NotificationManager::summary(3, 1));
    manager.post("Framewright", NotificationManager::summary(1, 0));
    ASSERT_TRUE(waitUntil([&] { return fake_.capabilityQuestions == 1; }));
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(fake_.received.empty());
    EXPECT_EQ(manager.permission(), NotificationManager::Permission::asking);

    fake_.releaseCapabilities(service_);
    ASSERT_TRUE(waitUntil([&] { return fake_.received.size() == 2; }));
    manager.post("Framewright", NotificationManager::summary(0, 2));
    ASSERT_TRUE(waitUntil([&] { return fake_.received.size() == 3; }));
    // Never replacing the previous one (id 0).
    EXPECT_EQ(fake_.received, (std::vector<QString>{"Framewright|0|Framewright|Encoded 3 files, 1 failed.",
                                                    "Framewright|0|Framewright|Encoded 1 file.",
                                                    "Framewright|0|Framewright|Encoded 0 files, 2 failed."}));
    EXPECT_EQ(fake_.capabilityQuestions, 1);
}

TEST_F(NotificationManagerTest, WithoutAServiceNothingIsShownAndTheCheckIsNotRepeated) {
    NotificationManager manager(client_);
    manager.post("Framewright", "first");
    ASSERT_TRUE(waitUntil([&] { return manager.permission() == NotificationManager::Permission::refused; }));
    registerService();  // appearing later in the process changes nothing
    manager.post("Framewright", "second");
    waitUntil([] { return false; }, 200);
    EXPECT_TRUE(fake_.received.empty());
    EXPECT_EQ(fake_.capabilityQuestions, 0);
}

TEST(NotificationManager, NoBusMeansSilence) {
    NotificationManager manager(QDBusConnection(QStringLiteral("fw-never-connected")));
    manager.post("Framewright", "body");
    EXPECT_EQ(manager.permission(), NotificationManager::Permission::refused);
}

}  // namespace
}  // namespace fw::test

#include "coordinator/NotificationManager.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QVariantMap>

namespace fw {

namespace {

constexpr auto kService = "org.freedesktop.Notifications";
constexpr auto kPath = "/org/freedesktop/Notifications";
constexpr auto kInterface = "org.freedesktop.Notifications";

}  // namespace

NotificationManager::NotificationManager(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void NotificationManager::requestAuthorizationIfNeeded() {
    if (permission_ != Permission::notAsked) return;
    if (!bus_.isConnected()) {
        decide(false);
        return;
    }
    permission_ = Permission::asking;
    const QDBusMessage question =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(question), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        decide(!answered->isError());
    });
}

void NotificationManager::post(const std::string& title, const std::string& body) {
    requestAuthorizationIfNeeded();
    switch (permission_) {
    case Permission::notAsked:
    case Permission::asking: waiting_.emplace_back(title, body); break;
    case Permission::granted: send(title, body); break;
    case Permission::refused: break;
    }
}

void NotificationManager::decide(bool granted) {
    permission_ = granted ? Permission::granted : Permission::refused;
    auto waiting = std::exchange(waiting_, {});
    if (granted) {
        for (const auto& [title, body] : waiting) send(title, body);
    }
    emit permissionDecided();
}

void NotificationManager::send(const std::string& title, const std::string& body) {
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    notify << QStringLiteral("Framewright") << 0u << QString() << QString::fromStdString(title)
           << QString::fromStdString(body) << QStringList() << hints << -1;
    // The answer (the notification's id) is not needed; a failure is silent.
    bus_.asyncCall(notify);
}

}  // namespace fw

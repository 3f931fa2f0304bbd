#pragma once
// The end-of-batch notification over org.freedesktop.Notifications on the
// session bus.
//
// Permission: the desktop has no per-application question, so the manager's
// one check per process is whether a notification service answers at all
// (GetCapabilities). Until that answer comes, posts wait in order and are
// sent once it is yes; with no service (or no bus) they are dropped, and
// nothing anywhere fails. Each post is a new notification (replaces_id 0),
// never replacing an earlier one.
//
// Threads: the thread the manager lives on (the GUI thread) only.

#include "coordinator/CoordinatorServices.h"

#include <QDBusConnection>
#include <QObject>

#include <string>
#include <utility>
#include <vector>

namespace fw {

class NotificationManager final : public QObject, public Notifier {
    Q_OBJECT

public:
    enum class Permission { notAsked, asking, granted, refused };

    // The application's name goes out as the notification's app_name.
    explicit NotificationManager(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Starts the one check of the process; later calls do nothing.
    void requestAuthorizationIfNeeded() override;
    // Title and body as the summary line and the text under it.
    void post(const std::string& title, const std::string& body) override;

    Permission permission() const { return permission_; }

signals:
    void permissionDecided();

private:
    void decide(bool granted);
    void send(const std::string& title, const std::string& body);

    QDBusConnection bus_;
    Permission permission_ = Permission::notAsked;
    std::vector<std::pair<std::string, std::string>> waiting_;
};

}  // namespace fw

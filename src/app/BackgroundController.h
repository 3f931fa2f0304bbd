#pragma once
// Keeps the application working in the background: launch at login (the
// autostart entry) and tray agent mode, in which the main window is hidden
// and only the tray icon remains, so the watch folder keeps converting.
// One per process, built by the application shell; the settings window and
// the tray menu bind their toggles to it.
//
// Nothing here is saved: launch at login is read back from the autostart
// entry at construction, agent mode starts off. Writing a property's current
// value does nothing and emits nothing.
//
// Failures: a failed autostart change is never thrown. Its message becomes
// lastError() and launchAtLogin() is brought back to the entry's real state
// (a failed registration is followed by a removal). A later successful change
// clears the message.
//
// Thread-safety: GUI thread only.

#include "app/AutostartEntry.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>

namespace fw::app {

class BackgroundController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(bool runAsMenuBarAgent READ runAsMenuBarAgent WRITE setRunAsMenuBarAgent NOTIFY runAsMenuBarAgentChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    // `executable`: the absolute path the autostart entry starts.
    BackgroundController(AutostartEntry entry, std::filesystem::path executable, QObject* parent = nullptr);

    bool launchAtLogin() const { return launchAtLogin_; }
    void setLaunchAtLogin(bool value);
    bool runAsMenuBarAgent() const { return runAsMenuBarAgent_; }
    // Refused (nothing changes) while agentModeUnavailableReason() is set, so
    // the application is never left without a window.
    void setRunAsMenuBarAgent(bool value);
    // Empty, or the message of the last failed autostart change.
    const QString& lastError() const { return lastError_; }

    // Empty while agent mode can be used; else why not (no system tray).
    const QString& agentModeUnavailableReason() const { return agentModeUnavailableReason_; }
    void setAgentModeUnavailableReason(const QString& reason);
    // Called with the new mode after each change of runAsMenuBarAgent: the
    // shell hides or shows and raises the main window.
    void setAgentModeHandler(std::function<void(bool agent)> handler) { agentModeHandler_ = std::move(handler); }

signals:
    void launchAtLoginChanged();
    void runAsMenuBarAgentChanged();
    void lastErrorChanged();
    void agentModeAvailabilityChanged();

private:
    void applyLoginItem();
    void setLastError(const QString& value);

    AutostartEntry entry_;
    std::filesystem::path executable_;
    bool launchAtLogin_;
    bool runAsMenuBarAgent_ = false;
    QString lastError_;
    QString agentModeUnavailableReason_;
    std::function<void(bool)> agentModeHandler_;
};

}  // namespace fw::app

#pragma once
// The tray icon ("Framewright") and its menu: the batch status, the watch
// folder, the launch-at-login and agent-mode switches (bound to the
// background controller, like the settings window's), "Show Main Window",
// Start or Cancel, and Quit. Every line follows the coordinator live.
// Where the desktop has no tray the menu still exists (nothing shows it), and
// the shell disables agent mode with a reason.
// Thread-safety: GUI thread only.

#include "coordinator/EncodingCoordinator.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace fw::app {

class BackgroundController;
class QueueWatcher;

class TrayMenu : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> showMainWindow = [] {};
        std::function<void()> quit = [] {};
    };

    TrayMenu(EncodingCoordinator& coordinator, BackgroundController& background, QueueWatcher& watcher, Actions actions,
             QObject* parent = nullptr);
    ~TrayMenu() override;

    // The status line: "Idle", or while running "Encoding F/N · P%" with F the
    // finished jobs, N all jobs, and P the progress in percent truncated toward
    // zero, clamped to 0…100 (a non-finite progress shows 0).
    static QString statusText(bool running, int finished, int total, double progress);

    QMenu& menu() const { return *menu_; }
    // Shows the icon in the tray. False when the desktop has none.
    bool showIcon();

private:
    void refresh();

    EncodingCoordinator& coordinator_;
    BackgroundController& background_;
    Actions actions_;
    std::unique_ptr<QMenu> menu_;
    QAction* status_ = nullptr;
    QAction* watchFolder_ = nullptr;
    QAction* start_ = nullptr;
    QAction* cancel_ = nullptr;
    QSystemTrayIcon* icon_ = nullptr;
};

}  // namespace fw::app

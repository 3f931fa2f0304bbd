#pragma once
// The main window's menu bar:
//   File    Add Files… (Ctrl+O), Settings… (Ctrl+,), Quit (Ctrl+Q)
//   Encode  Start Encoding (Ctrl+R), Make Proxies (Ctrl+Alt+R),
//           Cancel Encoding (Ctrl+.), Clear Finished (Ctrl+Shift+K)
//   View    Encode History (Ctrl+Y)
//   Help    Welcome to Framewright, Framewright User Manual,
//           Check for Updates…, About Framewright
// The Encode items are enabled by the coordinator's rules, re-read whenever
// the queue or the run changes, so a disabled item's shortcut does nothing.
// The shortcuts work in every window of the application, not only the main one.
// Thread-safety: GUI thread only.

#include "coordinator/EncodingCoordinator.h"

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenuBar;

namespace fw::app {

class QueueWatcher;

// What the menus ask of the shell.
struct MenuActions {
    std::function<void(const QString& id)> openWindow = [](const QString&) {};
    std::function<void()> addFiles = [] {};
    std::function<void()> showSettings = [] {};
    std::function<void()> checkForUpdates = [] {};
    std::function<void()> quit = [] {};
};

class AppMenus : public QObject {
    Q_OBJECT

public:
    // Fills `bar` (its child from now on). Each action has an objectName:
    // "addFiles", "settings", "quit", "startEncoding", "makeProxies",
    // "cancelEncoding", "clearFinished", "encodeHistory", "welcome", "manual",
    // "checkForUpdates", "about".
    AppMenus(QMenuBar& bar, EncodingCoordinator& coordinator, QueueWatcher& watcher, MenuActions actions);

private:
    void refresh();

    EncodingCoordinator& coordinator_;
    MenuActions actions_;
    QAction* start_ = nullptr;
    QAction* proxies_ = nullptr;
    QAction* cancel_ = nullptr;
    QAction* clear_ = nullptr;
};

}  // namespace fw::app

#pragma once
// The Settings window: three tabs.
//   Performance  parallel encodes (disabled while a run is in progress) and
//                the completion notification, bound to the coordinator.
//   Background   tray agent mode and launch at login, bound to the background
//                controller, with its last error in red.
//   Updates      the running version, automatic checks, beta channel and a
//                manual check. The two switches hold copies read once when the
//                window is made and written back on each change.
// Nothing here is saved by the window: every control writes straight into
// the object that owns the setting. Escape closes the window.
// Thread-safety: GUI thread only.

#include "app/UpdateSettings.h"
#include "coordinator/EncodingCoordinator.h"

#include <QString>
#include <QWidget>

namespace fw::app {

class BackgroundController;

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    SettingsWindow(EncodingCoordinator& coordinator, BackgroundController& background, UpdateSettings updates,
                   QWidget* parent = nullptr);

private:
    QWidget* performanceTab(EncodingCoordinator& coordinator);
    QWidget* backgroundTab(EncodingCoordinator& coordinator, BackgroundController& background);
    QWidget* updatesTab();

    UpdateSettings updates_;
};

}  // namespace fw::app

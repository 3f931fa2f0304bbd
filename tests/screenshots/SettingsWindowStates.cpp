// The Settings window's three tabs: Performance during a run (the slider
// locked), Background after a failed autostart change, and Updates.

#include "ScreenshotRegistry.h"
#include "app/BackgroundController.h"
#include "app/SettingsWindow.h"

#include <QTabWidget>

#include <fstream>

namespace fw::screenshots {

namespace {

QWidget* settingsOnTab(ScreenshotScene& scene, int tab, bool failedAutostart) {
    // A file where the autostart folder should be makes the change fail.
    if (failedAutostart) std::ofstream(scene.folder() / "autostart") << "";
    auto* background =
        new app::BackgroundController(app::AutostartEntry(scene.folder() / "autostart/app.desktop"), "/usr/bin/fw");
    app::UpdateSettings updates;
    updates.currentVersion = [] { return QStringLiteral("1.4.0 (212)"); };
    auto* window = new app::SettingsWindow(scene.coordinator(), *background, updates);
    background->setParent(window);
    if (failedAutostart) background->setLaunchAtLogin(true);
    window->findChild<QTabWidget*>("settingsTabs")->setCurrentIndex(tab);
    return window;
}

}  // namespace

FW_SCREENSHOT_STATE("settings-performance") {
    scene.queue({"Interview_A.mov"});
    scene.encoders().script("Interview_A.mov", {0.3, false});
    scene.coordinator().startEncoding();
    scene.waitUntil([&] { return scene.coordinator().isRunning(); });
    return settingsOnTab(scene, 0, false);
}

FW_SCREENSHOT_STATE("settings-background") { return settingsOnTab(scene, 1, true); }

FW_SCREENSHOT_STATE("settings-updates") { return settingsOnTab(scene, 2, false); }

}  // namespace fw::screenshots

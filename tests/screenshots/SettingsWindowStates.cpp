// The Settings window's three tabs: Performance during a run (the slider
// locked), Background after a failed autostart change (light and dark when
// the entry is no file), and Updates.

#include "ScreenshotRegistry.h"
#include "app/BackgroundController.h"
#include "app/SettingsWindow.h"

#include <QTabWidget>

#include <sys/stat.h>
#include <fstream>

namespace fw::screenshots {

namespace {

// How the autostart change fails: a file where its folder should be, or a
// FIFO in the entry's place (left as it is).
enum class Autostart { works, folderBlocked, entryAFifo };

QWidget* settingsOnTab(ScreenshotScene& scene, int tab, Autostart autostart) {
    const bool failedAutostart = autostart != Autostart::works;
    if (autostart == Autostart::folderBlocked) std::ofstream(scene.folder() / "autostart") << "";
    if (autostart == Autostart::entryAFifo) {
        std::filesystem::create_directories(scene.folder() / "autostart");
        ::mkfifo((scene.folder() / "autostart/app.desktop").c_str(), 0644);
    }
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
    return settingsOnTab(scene, 0, Autostart::works);
}

FW_SCREENSHOT_STATE("settings-background") { return settingsOnTab(scene, 1, Autostart::folderBlocked); }

// The entry's place taken by something that is no file: the switch springs back and says why.
FW_SCREENSHOT_STATE("settings-background-entry-not-a-file") { return settingsOnTab(scene, 1, Autostart::entryAFifo); }

FW_SCREENSHOT_STATE("settings-dark-background-entry-not-a-file") {
    scene.useDarkPalette();
    return settingsOnTab(scene, 1, Autostart::entryAFifo);
}

FW_SCREENSHOT_STATE("settings-updates") { return settingsOnTab(scene, 2, Autostart::works); }

}  // namespace fw::screenshots

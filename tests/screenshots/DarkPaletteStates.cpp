// The windows in a dark desktop palette, and what the action bar says when
// the chosen format cannot be written: the queue's rows with the ring, every
// settings card open with a rotation chosen, HEVC with alpha, and Settings.
// Also the column of cards in a larger font, as some desktops set it, the
// cards' empty fields with their placeholders, light and dark, and every card
// open as the desktop switched between light and dark under the window.

#include "ScreenshotRegistry.h"
#include "app/BackgroundController.h"
#include "app/SettingsWindow.h"
#include "ui/MainWindow.h"

#include <QScrollArea>

namespace fw::screenshots {

namespace {

using Status = EncodeJob::Status;

// Waiting, encoding at 42 % (the ring and its countdown), failed, finished.
ui::MainWindow* windowWithRows(ScreenshotScene& scene) {
    const auto jobs = scene.queue({"Interview_A.mov", "Drone_Flyover.mp4", "Timelapse_Night.mov", "Product_Spin.mov"});
    auto& coordinator = scene.coordinator();
    jobs[2]->setStatus(Status::failed);
    jobs[2]->setErrorMessage("Could not read the video track.");
    jobs[3]->setStatus(Status::finished);
    jobs[3]->setProgress(1);
    jobs[3]->setOutputURL(scene.folder() / "Product_Spin_prores.mov");
    coordinator.setEnabled(*jobs[0], false);
    coordinator.setEnabled(*jobs[2], false);
    scene.encoders().script("Drone_Flyover.mp4", {0.42, false});
    coordinator.startEncoding();
    scene.waitUntil([&] { return jobs[1]->progress() == 0.42; });
    coordinator.setEnabled(*jobs[0], true);
    coordinator.setEnabled(*jobs[2], true);
    scene.advanceClock(std::chrono::seconds(61));
    return scene.mainWindow();
}

// Every card shown and open, 90° chosen, the column scrolled down to it.
ui::MainWindow* windowWithEveryCard(ScreenshotScene& scene) {
    scene.flags().setFlag(QStringLiteral("showAdvancedSettings"), true);
    for (const char* card : {"destinations", "transform", "trim", "filters", "audio"})
        scene.flags().setFlag(QStringLiteral("card.%1.expanded").arg(QLatin1String(card)), true);
    GeometrySettings geometry = scene.coordinator().geometry();
    geometry.rotation = Rotation::r90;
    scene.coordinator().setGeometry(geometry);
    scene.queue({"Interview_A.mov", "Drone_Flyover.mp4"});
    ui::MainWindow* window = scene.mainWindow();
    window->resize(scene.sizes().front());
    window->show();
    scene.waitUntil([] { return false; }, std::chrono::milliseconds(200));
    window->findChild<QScrollArea*>(QStringLiteral("settingsScroll"))
        ->ensureWidgetVisible(window->findChild<QWidget*>(QStringLiteral("rotation90")), 50, 120);
    return window;
}

// HEVC with its alpha switch on: Encode and Stitch greyed, and why.
ui::MainWindow* windowWithHevcAlpha(ScreenshotScene& scene) {
    scene.queue({"Interview_A.mov", "Drone_Flyover.mp4"});
    scene.coordinator().setSelectedCodec(OutputCodec::hevc);
    scene.coordinator().setOutputAlpha(true);
    return scene.mainWindow();
}

// The Metadata and File Name cards open and empty: their fields' placeholders.
ui::MainWindow* windowWithEmptyFields(ScreenshotScene& scene) {
    scene.flags().setFlag(QStringLiteral("showAdvancedSettings"), true);
    for (const char* card : {"metadata", "filename", "publish"})
        scene.flags().setFlag(QStringLiteral("card.%1.expanded").arg(QLatin1String(card)), true);
    MetadataSettings metadata = scene.coordinator().metadata();
    metadata.enabled = true;
    scene.coordinator().setMetadata(metadata);
    ui::MainWindow* window = scene.mainWindow();
    window->resize(scene.sizes().front());
    window->show();
    scene.waitUntil([] { return false; }, std::chrono::milliseconds(200));
    window->findChild<QScrollArea*>(QStringLiteral("settingsScroll"))
        ->ensureWidgetVisible(window->findChild<QWidget*>(QStringLiteral("metadataComment")), 50, 200);
    return window;
}

}  // namespace

FW_SCREENSHOT_STATE("main-empty-fields") { return windowWithEmptyFields(scene); }

FW_SCREENSHOT_STATE("main-dark-empty-fields") {
    scene.useDarkPalette();
    return windowWithEmptyFields(scene);
}

FW_SCREENSHOT_STATE("main-dark-rows") {
    scene.useDarkPalette();
    return windowWithRows(scene);
}

FW_SCREENSHOT_STATE("main-dark-every-card") {
    scene.useDarkPalette();
    return windowWithEveryCard(scene);
}

FW_SCREENSHOT_STATE("main-light-then-dark-every-card") {
    ui::MainWindow* window = windowWithEveryCard(scene);
    scene.switchPalette();
    return window;
}

FW_SCREENSHOT_STATE("main-dark-then-light-every-card") {
    scene.useDarkPalette();
    ui::MainWindow* window = windowWithEveryCard(scene);
    scene.switchPalette();
    return window;
}

FW_SCREENSHOT_STATE("main-larger-font-every-card") {
    scene.useLargerFont(1.2);
    return windowWithEveryCard(scene);
}

FW_SCREENSHOT_STATE("main-hevc-alpha-reason") { return windowWithHevcAlpha(scene); }

FW_SCREENSHOT_STATE("main-dark-hevc-alpha-reason") {
    scene.useDarkPalette();
    return windowWithHevcAlpha(scene);
}

FW_SCREENSHOT_STATE("settings-dark-performance") {
    scene.useDarkPalette();
    auto* background =
        new app::BackgroundController(app::AutostartEntry(scene.folder() / "autostart/app.desktop"), "/usr/bin/fw");
    app::UpdateSettings updates;
    updates.currentVersion = [] { return QStringLiteral("1.4.0 (212)"); };
    auto* window = new app::SettingsWindow(scene.coordinator(), *background, updates);
    background->setParent(window);
    return window;
}

}  // namespace fw::screenshots

// The main window's states: an empty queue, the window fitted to a small
// screen's free area (light and dark), the four row states with the ring, a
// batch being cancelled, a drag hovering over the queue, and a batch showing
// a live frame.

#include "ScreenshotRegistry.h"
#include "ui/MainWindow.h"
#include "ui/QueueCard.h"
#include "ui/SavePresetPrompt.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace fw::screenshots {

namespace {

using Status = EncodeJob::Status;

JobOutputSpec outputFromPreset(const PresetStore& presets, std::size_t index) {
    const Preset& preset = presets.builtIns().at(index);
    return JobOutputSpec(preset.name, preset.configuration);
}

}  // namespace

FW_SCREENSHOT_STATE("main-empty") { return scene.mainWindow(); }

namespace {

// As the window opens on a 960 × 720 screen under a 20-pixel title bar, and
// at its minimum height, the least a screen's free area may leave it.
ui::MainWindow* fittedToTheFreeArea(ScreenshotScene& scene) {
    ui::MainWindow* window = scene.mainWindow();
    scene.setSizes({QSize(960, 700), QSize(960, window->minimumSizeHint().height())});
    return window;
}

}  // namespace

FW_SCREENSHOT_STATE("main-fitted-free-area") { return fittedToTheFreeArea(scene); }

FW_SCREENSHOT_STATE("main-dark-fitted-free-area") {
    scene.useDarkPalette();
    return fittedToTheFreeArea(scene);
}

// Waiting with two outputs, encoding at 42 % (the only job of the running
// batch, so the ring reads 42 %), failed with a two-line message, finished
// and uploaded.
FW_SCREENSHOT_STATE("main-four-rows") {
    const auto jobs = scene.queue({"Interview_A.mov", "Drone_Flyover.mp4", "Timelapse_Night.mov", "Product_Spin.mov"});
    auto& coordinator = scene.coordinator();
    jobs[0]->setOutputs({outputFromPreset(scene.presets(), 0), outputFromPreset(scene.presets(), 1)});
    jobs[2]->setStatus(Status::failed);
    jobs[2]->setErrorMessage("Could not read the video track.\nThe file may be damaged or still being copied.");
    jobs[3]->setStatus(Status::finished);
    jobs[3]->setProgress(1);
    jobs[3]->setOutputURL(scene.folder() / "Product_Spin_prores.mov");
    jobs[3]->setUploadState(EncodeJob::UploadState::uploaded);
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

// Cancel clicked, the workers not yet stopped: the encoding rows, the action
// bar and the preview say the batch is cancelling.
FW_SCREENSHOT_STATE("main-cancelling") {
    const auto jobs = scene.queue({"Interview_A.mov", "Drone_Flyover.mp4", "Timelapse_Night.mov", "Product_Spin.mov"});
    auto& coordinator = scene.coordinator();
    coordinator.setMaxConcurrentJobs(2);
    jobs[3]->setStatus(Status::finished);
    jobs[3]->setProgress(1);
    jobs[3]->setOutputURL(scene.folder() / "Product_Spin_prores.mov");
    scene.encoders().script("Interview_A.mov", {0.67, false});
    scene.encoders().script("Drone_Flyover.mp4", {0.31, false});
    coordinator.startEncoding();
    scene.waitUntil([&] { return jobs[0]->progress() == 0.67 && jobs[1]->progress() == 0.31; });
    scene.advanceClock(std::chrono::seconds(40));
    // As cancelEncoding() leaves it until the workers report back.
    coordinator.setCancelling(true);
    return scene.mainWindow();
}

FW_SCREENSHOT_STATE("main-drag-hover") {
    auto* window = scene.mainWindow();
    window->show();
    // A file dragged in from the file manager, held over the queue.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(test::touch(scene.folder() / "Clip.mov").string()))});
    QWidget* queue = window->queueCard();
    QDragEnterEvent enter(queue->rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(queue, &enter);
    queue->setProperty("isTargeted", true);
    queue->update();
    return window;
}

FW_SCREENSHOT_STATE("main-live-preview") {
    const auto jobs = scene.queue({"Drone_Flyover.mp4", "Interview_A.mov", "Harbour_Dawn.mov"});
    auto& coordinator = scene.coordinator();
    coordinator.setMaxConcurrentJobs(1);
    jobs[2]->setStatus(Status::finished);
    jobs[2]->setProgress(1);
    scene.encoders().script("Drone_Flyover.mp4", {0.63, true});
    coordinator.startEncoding();
    scene.waitUntil([&] { return coordinator.livePreviewImage() != nullptr && jobs[0]->progress() == 0.63; });
    scene.advanceClock(std::chrono::seconds(95));
    return scene.mainWindow();
}

// Two user presets in the preset card, and the advanced cards shown.
FW_SCREENSHOT_STATE("main-user-presets") {
    scene.presets().savePreset("Client review 1080p", scene.presets().builtIns().at(1).configuration);
    scene.presets().savePreset("Festival master (ProRes 4444 with alpha)",
                               scene.presets().builtIns().at(0).configuration);
    scene.flags().setFlag(QStringLiteral("showAdvancedSettings"), true);
    return scene.mainWindow();
}

// The prompt of "Save current as preset…" with a name typed.
FW_SCREENSHOT_STATE("save-preset-prompt") {
    auto* prompt = new ui::SavePresetPrompt(scene.coordinator(), scene.presets(), nullptr);
    prompt->nameField()->setText(QStringLiteral("Festival master"));
    return prompt;
}

}  // namespace fw::screenshots

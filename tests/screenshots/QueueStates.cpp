// The queue between batches: every row shows its checkbox and buttons, with
// one row of each status, a failed upload, damaged sound and pictures noted and a
// disabled job; and the same queue worked from the keyboard, its current row
// framed, light and dark.

#include "ScreenshotRegistry.h"
#include "ui/MainWindow.h"
#include "ui/QueueCard.h"
#include "ui/QueueListView.h"

#include <QApplication>
#include <QKeyEvent>

namespace fw::screenshots {

namespace {

ui::MainWindow* idleQueue(ScreenshotScene& scene) {
    using Status = EncodeJob::Status;
    const auto jobs = scene.queue({"Interview_B_camera_two_long_take_with_a_very_long_name.mov", "Harbour_Dawn.mov",
                                   "Drone_Flyover.mp4", "Product_Spin.mov", "Timelapse_Night.mov"});
    const Preset& web = scene.presets().builtIns().at(2);
    jobs[0]->setOutputs({JobOutputSpec(web.name, web.configuration)});
    jobs[1]->setStatus(Status::finished);
    jobs[1]->setProgress(1);
    jobs[1]->setOutputURL(scene.folder() / "Harbour_Dawn_prores.mov");
    jobs[1]->setConcealedSoundSeconds(3.2);
    jobs[1]->setDamagedPictures(12);
    jobs[1]->setUploadState(EncodeJob::UploadState::failed);
    jobs[1]->setUploadMessage("The server answered 503 Service Unavailable.");
    jobs[2]->setStatus(Status::failed);
    jobs[2]->setErrorMessage(
        "The encoder stopped: the disk is full. Free some space or choose another output folder, then retry.");
    jobs[3]->setStatus(Status::cancelled);
    scene.coordinator().setEnabled(*jobs[4], false);
    return scene.mainWindow();
}

// The list focused and the arrows moved down to the failed row.
ui::MainWindow* focusedRow(ScreenshotScene& scene) {
    ui::MainWindow* window = idleQueue(scene);
    window->resize(scene.sizes().front());
    window->show();
    window->activateWindow();
    scene.waitUntil([window] { return window->isActiveWindow(); });
    ui::QueueListView* list = window->queueCard()->list();
    list->setFocus(Qt::TabFocusReason);
    list->setCurrentIndex(list->model()->index(1, 0));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(list, &down);
    return window;
}

}  // namespace

FW_SCREENSHOT_STATE("main-queue-idle") { return idleQueue(scene); }

FW_SCREENSHOT_STATE("main-queue-focused-row") { return focusedRow(scene); }

FW_SCREENSHOT_STATE("main-dark-queue-focused-row") {
    scene.useDarkPalette();
    return focusedRow(scene);
}

}  // namespace fw::screenshots

// The queue between batches: every row shows its checkbox and buttons, with
// one row of each status, a failed upload, damaged sound concealed and a
// disabled job.

#include "ScreenshotRegistry.h"
#include "ui/MainWindow.h"

namespace fw::screenshots {

FW_SCREENSHOT_STATE("main-queue-idle") {
    using Status = EncodeJob::Status;
    const auto jobs = scene.queue({"Interview_B_camera_two_long_take_with_a_very_long_name.mov", "Harbour_Dawn.mov",
                                   "Drone_Flyover.mp4", "Product_Spin.mov", "Timelapse_Night.mov"});
    const Preset& web = scene.presets().builtIns().at(2);
    jobs[0]->setOutputs({JobOutputSpec(web.name, web.configuration)});
    jobs[1]->setStatus(Status::finished);
    jobs[1]->setProgress(1);
    jobs[1]->setOutputURL(scene.folder() / "Harbour_Dawn_prores.mov");
    jobs[1]->setConcealedSoundSeconds(3.2);
    jobs[1]->setUploadState(EncodeJob::UploadState::failed);
    jobs[1]->setUploadMessage("The server answered 503 Service Unavailable.");
    jobs[2]->setStatus(Status::failed);
    jobs[2]->setErrorMessage(
        "The encoder stopped: the disk is full. Free some space or choose another output folder, then retry.");
    jobs[3]->setStatus(Status::cancelled);
    scene.coordinator().setEnabled(*jobs[4], false);
    return scene.mainWindow();
}

}  // namespace fw::screenshots

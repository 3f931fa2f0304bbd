// The secondary windows: welcome (light and dark), manual, history (with records, light and dark, a
// current row in light and dark, and empty),
// about (light and dark), the update offer, the question a Quit asks when something could not be saved, and the
// message that says where a file deep in its folders is (light and dark).

#include "ScreenshotRegistry.h"
#include "app/AboutWindow.h"
#include "app/HistoryWindow.h"
#include "app/ManualWindow.h"
#include "app/QuitGuard.h"
#include "app/UpdateDialog.h"
#include "app/WelcomeWindow.h"
#include "ui/FileReveal.h"

#include <QApplication>
#include <QKeyEvent>
#include <QListView>
#include <QPushButton>

namespace fw::screenshots {

FW_SCREENSHOT_STATE("welcome") {
    return new app::WelcomeWindow(scene.flags(), [](const QString&) {});
}

FW_SCREENSHOT_STATE("welcome-dark") {
    scene.useDarkPalette();
    return new app::WelcomeWindow(scene.flags(), [](const QString&) {});
}

FW_SCREENSHOT_STATE("manual") {
    scene.setSizes({QSize(520, 480), QSize(820, 900)});
    return new app::ManualWindow;
}

namespace {

// A success whose file is there (reveal button), a failure with a long
// message (two lines, cut), one without an output, and one whose file is gone
// and whose damaged sound was concealed and damaged pictures left out.
QWidget* historyWithRecords(ScreenshotScene& scene) {
    static EncodeHistoryStore store;
    store.clear();
    store.record("Harbour_Dawn.mov", scene.folder() / "Harbour_Dawn_ProRes.mov", "ProRes", true, std::nullopt, {},
                 {3.2, 12});
    store.record("Drone_Flyover.mp4", std::nullopt, "H.264", false, "Cancelled");
    store.record("Timelapse_Night.mov", scene.folder() / "Timelapse_Night_HEVC.mp4", "HEVC", false,
                 "Could not read the video track: the file may be damaged or still being copied from the camera card, "
                 "so the encode stopped after the first frames.");
    store.record("Interview_A_long_take_with_a_very_long_descriptive_name.mov",
                 test::touch(scene.folder() / "Interview_A_long_take_with_a_very_long_descriptive_name_H264.mp4"),
                 "H.264", true, std::nullopt);
    scene.setSizes({QSize(560, 420)});
    return new app::HistoryWindow(store);
}

}  // namespace

FW_SCREENSHOT_STATE("history") { return historyWithRecords(scene); }

FW_SCREENSHOT_STATE("history-dark") {
    scene.useDarkPalette();
    return historyWithRecords(scene);
}

// The list reached with Tab and the arrows moved down to the long failure:
// its marks and texts read on the selection.
QWidget* historyCurrentRow(ScreenshotScene& scene) {
    QWidget* window = historyWithRecords(scene);
    window->resize(scene.sizes().front());
    window->show();
    window->activateWindow();
    scene.waitUntil([window] { return window->isActiveWindow(); });
    auto* list = window->findChild<QListView*>(QStringLiteral("historyList"));
    list->setFocus(Qt::TabFocusReason);
    list->setCurrentIndex(list->model()->index(0, 0));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(list, &down);
    return window;
}

FW_SCREENSHOT_STATE("history-current-row") { return historyCurrentRow(scene); }

FW_SCREENSHOT_STATE("history-dark-current-row") {
    scene.useDarkPalette();
    return historyCurrentRow(scene);
}

FW_SCREENSHOT_STATE("history-empty") {
    static EncodeHistoryStore store;
    return new app::HistoryWindow(store);
}

FW_SCREENSHOT_STATE("about") { return new app::AboutWindow(QStringLiteral("1.2"), QStringLiteral("45")); }

FW_SCREENSHOT_STATE("about-dark") {
    scene.useDarkPalette();
    return new app::AboutWindow(QStringLiteral("1.2"), QStringLiteral("45"));
}

FW_SCREENSHOT_STATE("update-dialog") {
    const app::UpdateItem item{QStringLiteral("Framewright 1.3"), QStringLiteral("1.3"), QString(),
                               QStringLiteral("<h3>What’s new</h3><ul><li>Faster HEVC encodes on many cores</li>"
                                              "<li>Watch folders remember their preset</li></ul>"),
                               QUrl(QStringLiteral("https://framewright.io/download/1.3"))};
    return new app::UpdateDialog(item, QStringLiteral("1.2"));
}

namespace {

// Nothing could show a file deep in a project's folders.
QWidget* revealFailedDeep() {
    return ui::revealFailedMessage(
        QStringLiteral("/home/ana/Projects/2026/Harbour_Documentary/Exports/Delivery/Broadcast/Version_12_final/"
                       "Reels/Reel_03_Harbour_Dawn_Interview_A_long_take_with_a_very_long_descriptive_name_ProRes422HQ."
                       "mov"),
        nullptr);
}

}  // namespace

FW_SCREENSHOT_STATE("reveal-failed-long-path") { return revealFailedDeep(); }

FW_SCREENSHOT_STATE("reveal-failed-long-path-dark") {
    scene.useDarkPalette();
    return revealFailedDeep();
}

// Its details opened: the whole path.
FW_SCREENSHOT_STATE("reveal-failed-long-path-details") {
    QWidget* box = revealFailedDeep();
    box->show();
    for (auto* button : box->findChildren<QPushButton*>())
        if (button->text().startsWith(QStringLiteral("Show Details"))) button->click();
    scene.waitUntil([] { return false; }, std::chrono::milliseconds(50));
    return box;
}

// The queue and the history on a full disk.
FW_SCREENSHOT_STATE("quit-unsaved") {
    using Kind = StoredFileReport::Kind;
    const std::filesystem::path folder = "/home/ana/.local/share/Framewright";
    return new app::UnsavedQuitQuestion(
        {{app::StoredData::queue, {Kind::writeFailed, folder / "queue.json", {}, "No space left on device", {}}},
         {app::StoredData::history, {Kind::writeFailed, folder / "history.json", {}, "No space left on device", {}}}});
}

}  // namespace fw::screenshots

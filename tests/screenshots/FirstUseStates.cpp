// The window as a new user first meets it: the four row states on a desktop
// that names no icon theme, the welcome window in front of the main window
// on first start, and the main window at its smallest with a full action bar.

#include "ScreenshotRegistry.h"
#include "app/ApplicationShell.h"
#include "app/AutostartEntry.h"
#include "app/BackgroundController.h"
#include "app/StoredFileNotice.h"
#include "app/WindowScenes.h"
#include "ui/MainWindow.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <cstdio>

namespace fw::screenshots {

namespace {

// Both windows of the first start, the welcome window centred over the main
// window as its window manager places a transient window, drawn into one
// picture (the program grabs one widget).
class FirstStartPicture : public QLabel {
public:
    explicit FirstStartPicture(ScreenshotScene& scene)
        : background_(app::AutostartEntry(scene.folder() / "autostart.desktop"), scene.folder() / "framewright") {
        scene.flags().setFlag(QStringLiteral("hasSeenWelcome"), false);
        shell_ = std::make_unique<app::ApplicationShell>(
            app::ApplicationShell::Services{scene.environment(), background_, [] { return true; }});
        shell_->start();
        QWidget* welcome = nullptr;
        scene.waitUntil([&] { return (welcome = shell_->scenes().window(QStringLiteral("welcome"))) != nullptr; });
        ui::MainWindow& main = shell_->mainWindow();
        main.resize(960, 720);
        scene.waitUntil([] { return false; }, std::chrono::milliseconds(200));  // layouts and first paints
        QPixmap picture(main.size());
        QPainter painter(&picture);
        painter.drawPixmap(0, 0, main.grab());
        if (welcome) {
            const QPixmap front = welcome->grab();
            const QPoint at((main.width() - front.width()) / 2, (main.height() - front.height()) / 2);
            for (int ring = 12; ring > 0; ring -= 3)  // a soft shadow under the front window
                painter.fillRect(QRect(at, front.size()).adjusted(-ring, -ring + 6, ring, ring + 6),
                                 QColor(0, 0, 0, 10));
            painter.drawPixmap(at, front);
        } else {
            std::fprintf(stderr, "welcome-first-start: the welcome window did not open\n");
        }
        painter.end();
        setPixmap(picture);
        scene.setSizes({picture.size()});  // not adjustSize(), which keeps a window within 2/3 of the screen
        shell_->mainWindow().hide();
        if (welcome) welcome->hide();
    }

private:
    app::BackgroundController background_;
    std::unique_ptr<app::ApplicationShell> shell_;
};

}  // namespace

// The program draws every state with no icon theme forced and runs without
// a desktop named (scripts/screenshots.sh), so this is what Openbox or i3
// users see; "main-four-rows" is the same scene.
FW_SCREENSHOT_STATE("main-no-theme-four-rows") {
    if (!qEnvironmentVariableIsEmpty("XDG_CURRENT_DESKTOP"))
        std::fprintf(stderr,
                     "main-no-theme-four-rows: XDG_CURRENT_DESKTOP is set; run through scripts/screenshots.sh\n");
    for (const State& state : registeredStates())
        if (state.name == "main-four-rows") return state.make(scene);
    return nullptr;
}

FW_SCREENSHOT_STATE("welcome-first-start") { return new FirstStartPicture(scene); }

// Five files, one finished (Clear Finished shown), at the smallest size the
// window allows: Encode 5 Files and every other control whole.
FW_SCREENSHOT_STATE("main-minimum-size") {
    const auto jobs = scene.queue(
        {"Interview_A.mov", "Drone_Flyover.mp4", "Timelapse_Night.mov", "Product_Spin.mov", "Harbour_Dawn.mov"});
    jobs[3]->setStatus(EncodeJob::Status::finished);
    jobs[3]->setProgress(1);
    jobs[3]->setOutputURL(scene.folder() / "Product_Spin_prores.mov");
    auto* window = scene.mainWindow();
    scene.setSizes({QSize(1, 1)});  // resized to its minimum
    return window;
}

// A start over a settings file that could not be read: the notice under the
// title says where the file was kept, the queue below as usual.
FW_SCREENSHOT_STATE("main-settings-set-aside") {
    scene.queue({"Interview_A.mov", "Drone_Flyover.mp4"});
    auto* window = scene.mainWindow();
    window->showNotice(
        app::storedFileNotice(app::StoredData::settings, {StoredFileReport::Kind::setAside,
                                                          "/home/alex/.config/Framewright/defaults.json",
                                                          "/home/alex/.config/Framewright/defaults.unreadable.json",
                                                          {},
                                                          {}}));
    return window;
}

namespace {

// The presets' settings file set aside at start, and the queue's failed save
// (under its store's topic, as the shell shows it).
void showPresetsSetAsideAndQueueUnsaved(ui::MainWindow& window) {
    window.showNotice(
        app::storedFileNotice(app::StoredData::settings, {StoredFileReport::Kind::setAside,
                                                          "/home/alex/.config/Framewright/defaults.json",
                                                          "/home/alex/.config/Framewright/defaults.unreadable.json",
                                                          {},
                                                          {"userPresets.v1"}}));
    window.showNotice(app::storedFileNotice(app::StoredData::queue, {StoredFileReport::Kind::writeFailed,
                                                                     "/home/alex/.local/share/Framewright/queue.json",
                                                                     {},
                                                                     "No space left on device",
                                                                     {}}),
                      QStringLiteral("queue"));
}

}  // namespace

// Two stores reporting at once: the messages stack under the title, neither
// hiding the other.
FW_SCREENSHOT_STATE("main-stored-file-notices") {
    scene.queue({"Interview_A.mov"});
    auto* window = scene.mainWindow();
    showPresetsSetAsideAndQueueUnsaved(*window);
    return window;
}

namespace {

// A start with three queued files on a drive that is not plugged in: the
// notice and its button that forgets them.
ui::MainWindow* windowWithQueuedFilesNotFound(ScreenshotScene& scene) {
    scene.queue({"Interview_A.mov"});
    auto* window = scene.mainWindow();
    StoredFileReport absent{
        StoredFileReport::Kind::sourcesAbsent, "/home/alex/.local/share/Framewright/queue.json", {}, {}, {}};
    absent.absentSources = 3;
    window->showNotice(app::storedFileNotice(app::StoredData::queue, absent), {},
                       {app::storedFileNoticeAction(absent), [] {}});
    return window;
}

}  // namespace

FW_SCREENSHOT_STATE("main-queued-files-not-found") { return windowWithQueuedFilesNotFound(scene); }

FW_SCREENSHOT_STATE("main-dark-queued-files-not-found") {
    scene.useDarkPalette();
    return windowWithQueuedFilesNotFound(scene);
}

// A full disk: neither the queue nor the history could be saved. Both
// notices stack under the title; the preview gives them its room.
FW_SCREENSHOT_STATE("main-queue-and-history-unsaved") {
    scene.queue({"Interview_A.mov", "Drone_Flyover.mp4"});
    auto* window = scene.mainWindow();
    for (const auto& [data, file] :
         {std::pair{app::StoredData::queue, "queue.json"}, std::pair{app::StoredData::history, "history.json"}})
        window->showNotice(
            app::storedFileNotice(data, {StoredFileReport::Kind::writeFailed,
                                         std::filesystem::path("/home/alex/.local/share/Framewright") / file,
                                         {},
                                         "No space left on device",
                                         {}}),
            QString::fromLatin1(file));
    return window;
}

// The same two, and the history's failed save, after the queue saved again:
// its notice is gone, the others stay.
FW_SCREENSHOT_STATE("main-stored-file-notice-gone-once-saved") {
    scene.queue({"Interview_A.mov"});
    auto* window = scene.mainWindow();
    showPresetsSetAsideAndQueueUnsaved(*window);
    window->showNotice(
        app::storedFileNotice(app::StoredData::history, {StoredFileReport::Kind::writeFailed,
                                                         "/home/alex/.local/share/Framewright/history.json",
                                                         {},
                                                         "No space left on device",
                                                         {}}),
        QStringLiteral("history"));
    window->withdrawNotices(QStringLiteral("queue"));
    return window;
}

}  // namespace fw::screenshots

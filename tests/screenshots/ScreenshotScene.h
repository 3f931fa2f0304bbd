#pragma once
// One screenshot state's world: a scratch folder with its own user
// defaults, preset store, window flags and queue file, a coordinator whose
// encodes go to ScreenshotEncoderBackend, a file picker that chooses
// nothing, and a clock the state can move.
//
// Threads: the GUI thread; a QApplication exists.

#include "CoordinatorTestSupport.h"
#include "DesktopPalette.h"
#include "ScreenshotEncoderBackend.h"
#include "ScriptedFilePicker.h"
#include "model/Presets.h"
#include "ui/FilePicker.h"
#include "ui/UiFlags.h"
#include "ui/WindowEnvironment.h"

#include <QFont>
#include <QSize>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace fw::ui {
class MainWindow;
}

namespace fw::screenshots {

// Chooses nothing: the states never open a dialog.
class ScreenshotScene {
public:
    ScreenshotScene();
    // Cancels a batch still running and waits for its workers.
    ~ScreenshotScene();
    ScreenshotScene(const ScreenshotScene&) = delete;
    ScreenshotScene& operator=(const ScreenshotScene&) = delete;

    test::TestCoordinator& coordinator() { return *coordinator_; }
    ScreenshotEncoderBackend& encoders() { return *encoders_; }
    PresetStore& presets() { return presets_; }
    ui::UiFlags& flags() { return flags_; }
    UserDefaults& defaults() { return fixture_.defaults; }
    ui::FilePicker& picker() { return picker_; }
    const std::filesystem::path& folder() const { return fixture_.folder.path(); }
    // What an application hands its windows; opening windows does nothing.
    ui::WindowEnvironment environment();

    // A main window over the scene, grabbed at 960 × 720 and 1440 × 900.
    ui::MainWindow* mainWindow();

    // Queues an empty file of each name (made in the scratch folder) and
    // returns the new jobs in order.
    std::vector<std::shared_ptr<EncodeJob>> queue(std::initializer_list<const char*> fileNames);
    // Moves the coordinator's clock on (countdowns are read from it).
    void advanceClock(std::chrono::seconds seconds);
    // Runs the event loop until `done` holds (true) or the time is up (false).
    bool waitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    // Draws the state in a dark desktop palette (set before any window is
    // made; the light one comes back when the scene ends).
    void useDarkPalette();
    // Switches the desktop between light and dark under the windows made so
    // far, as a desktop does at sunset.
    void switchPalette();
    // Draws the state in the application's font made `factor` times larger,
    // as desktops with larger fonts hand it to Qt (set before any window is
    // made; the font comes back when the scene ends).
    void useLargerFont(double factor);

    // Sizes the returned widget is grabbed at; empty: its own size.
    void setSizes(std::vector<QSize> sizes) { sizes_ = std::move(sizes); }
    const std::vector<QSize>& sizes() const { return sizes_; }

private:
    test::CoordinatorFixture fixture_;
    std::shared_ptr<ScreenshotEncoderBackend> encoders_ = std::make_shared<ScreenshotEncoderBackend>();
    std::shared_ptr<std::chrono::seconds> clockOffset_ = std::make_shared<std::chrono::seconds>(0);
    Date clockBase_ = std::chrono::system_clock::now();
    PresetStore presets_{fixture_.defaults};
    ui::UiFlags flags_{fixture_.defaults};
    test::ScriptedFilePicker picker_;
    std::unique_ptr<test::TestCoordinator> coordinator_;
    std::vector<QSize> sizes_;
    std::unique_ptr<test::ApplicationPalette> palette_;
    std::optional<QFont> savedFont_;
};

}  // namespace fw::screenshots

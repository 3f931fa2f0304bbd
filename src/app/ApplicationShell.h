#pragma once
// The windowed application: the main window with its menus, the single
// windows by id, the Settings window, the tray icon and the quit rules, over
// the shared objects built once per process (coordinator, presets, window
// flags, picker, background controller).
//
// Closing the main window quits (through the quit guard), except in tray
// agent mode, where it only hides the window and the process lives on in the
// tray. Turning agent mode on hides the main window; turning it off, or the
// tray's "Show Main Window", shows and raises it.
// Thread-safety: GUI thread only.

#include "app/UpdateSettings.h"
#include "platform/core/Uuid.h"
#include "ui/WindowEnvironment.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace fw::ui {
class MainWindow;
}

namespace fw::app {

class BackgroundController;
class QueueWatcher;
class QuitGuard;
struct UnsavedStore;
class SettingsWindow;
class TrayMenu;
class WindowScenes;

// The process's windowed path: QApplication, the data folder's single-instance
// guard (a later launch hands its files over and ends, SingleInstance), the
// stagings killed processes left in the stores' folders cleared, shared
// objects, shell, quit signals (QuitSignals); returns the exit status, 128 +
// the signal's number when one ended the window.
int runApplication(int argc, char** argv);

class ApplicationShell : public QObject {
    Q_OBJECT

public:
    struct Services {
        ui::WindowEnvironment environment;
        BackgroundController& background;
        // Asks whether to quit during a run (tests answer for the user).
        std::function<bool()> confirmQuit;
        UpdateSettings updates = {};
        // Asks whether to quit with stores that could not be saved; empty:
        // the usual question over the main window (QuitGuard::askWithUnsaved).
        std::function<bool(const std::vector<UnsavedStore>&)> confirmUnsavedQuit = {};
    };

    explicit ApplicationShell(Services services, QObject* parent = nullptr);
    ~ApplicationShell() override;

    // Shows the main window and, where the desktop has one, the tray icon;
    // without a tray, agent mode is disabled with a reason. Settings, queue
    // and history files that could not be read (kept untouched until now)
    // are first set aside.
    // From construction on, the window says what the stores of settings,
    // presets, queue and history report of their files (StoredFileNotice):
    // a file set aside and where, one that could not be, a failed save.
    void start();
    // Queues the files (duplicates allowed), those a launch handed over with
    // its identity, and brings the main window forward.
    void openFiles(const std::vector<std::filesystem::path>& files, const std::optional<Uuid>& handOver = {});
    void showMainWindow();
    void showSettings();
    // Quits unless the user declines during a run, or declines to quit with
    // stores that could not be saved.
    void requestQuit();
    // Quits as if the user had agreed; the event loop returns `exitStatus`.
    void quitWithoutAsking(int exitStatus);

    ui::MainWindow& mainWindow() const { return *mainWindow_; }
    WindowScenes& scenes() const { return *scenes_; }
    TrayMenu& tray() const { return *tray_; }
    SettingsWindow* settingsWindow() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addScenes();
    void listenToStores();

    Services services_;
    std::unique_ptr<QueueWatcher> watcher_;
    std::unique_ptr<QuitGuard> quitGuard_;
    std::unique_ptr<WindowScenes> scenes_;
    std::unique_ptr<ui::MainWindow> mainWindow_;
    std::unique_ptr<TrayMenu> tray_;
    QPointer<SettingsWindow> settings_;
    std::vector<std::function<void()>> disconnects_;  // from the stores' reports
};

}  // namespace fw::app

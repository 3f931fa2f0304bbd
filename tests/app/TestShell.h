#pragma once
// The application's shell as the window tests drive it: over a coordinator
// that stands in for a run, with the welcome seen, a failed record in the
// history, and a Quit that asks the usual question over the main window.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "app/ApplicationShell.h"
#include "app/BackgroundController.h"
#include "app/QuitGuard.h"
#include "model/Presets.h"
#include "ui/MainWindow.h"
#include "ui/UiFlags.h"

#include <memory>

namespace fw::test {

struct Shell {
    CoordinatorFixture fixture;
    std::unique_ptr<TestCoordinator> coordinator = fixture.make(EncodingCoordinator::Restore::no);
    PresetStore presets{fixture.defaults};
    ui::UiFlags flags{fixture.defaults};
    ScriptedFilePicker picker;
    app::BackgroundController background{app::AutostartEntry(fixture.folder / "autostart.desktop"), "/x"};
    std::unique_ptr<app::ApplicationShell> shell;

    Shell() {
        flags.setFlag("hasSeenWelcome", true);
        fixture.history.record("a.mov", fixture.folder / "a.mp4", "H.264", false, "Disk full");
        shell = std::make_unique<app::ApplicationShell>(app::ApplicationShell::Services{
            ui::WindowEnvironment{*coordinator, presets, flags, picker}, background,
            [this] { return app::QuitGuard::askDuringRun(&shell->mainWindow(), *coordinator); }});
    }
    ~Shell() { coordinator->setRunning(false); }
};

}  // namespace fw::test

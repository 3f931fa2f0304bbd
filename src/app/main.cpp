// Process entry. The one-time migration of a sandboxed install's data runs
// first, in both modes, so that every store reads migrated data. Then, with
// "--encode" among the arguments, the command-line runner takes over: no
// window and no display are needed. Otherwise the desktop application starts,
// when there is a display to show it on; without one the windowing library
// would abort, so the process says what to do instead and exits with status 2.
// A settings file that cannot be read, or whose presets cannot be, is never
// written over: the command line leaves it in place, and the window's start
// sets it aside and says where.

#include "app/ApplicationShell.h"
#include "app/LaunchArguments.h"
#include "app/SandboxMigration.h"
#include "cli/CommandLineTool.h"
#include "model/Presets.h"
#include "platform/core/UserDefaults.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    fw::PresetStore::keepUnreadableStoredList(fw::UserDefaults::standard());
    fw::app::SandboxMigration::runOnce();
    const std::vector<std::string> arguments(argv, argv + argc);
    if (fw::app::selectsCommandLine(arguments)) return fw::CommandLineTool::runBlocking(arguments);
    if (!fw::app::windowCanOpen(arguments)) {
        std::fputs(fw::app::noDisplayMessage().c_str(), stderr);
        return fw::app::kNoDisplayStatus;
    }
    return fw::app::runApplication(argc, argv);
}

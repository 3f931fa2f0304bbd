// Process entry. The one-time migration of a sandboxed install's data runs
// first, in both modes, so that every store reads migrated data. Then, with
// "--encode" among the arguments, the command-line runner takes over: no
// window and no display are needed. Otherwise the desktop application starts.

#include "app/ApplicationShell.h"
#include "app/LaunchArguments.h"
#include "app/SandboxMigration.h"
#include "cli/CommandLineTool.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    fw::app::SandboxMigration::runOnce();
    const std::vector<std::string> arguments(argv, argv + argc);
    if (fw::app::selectsCommandLine(arguments)) return fw::CommandLineTool::runBlocking(arguments);
    return fw::app::runApplication(argc, argv);
}

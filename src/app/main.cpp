// Process entry. With "--encode" among the arguments the command-line runner
// takes over: no window and no display are needed. Otherwise the desktop
// application starts.

#include "app/ApplicationShell.h"
#include "cli/CommandLineTool.h"

#include <string>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    bool encode = false;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--encode") encode = true;
    if (encode) return fw::CommandLineTool::runBlocking(std::vector<std::string>(argv, argv + argc));

    return fw::app::runApplication(argc, argv);
}

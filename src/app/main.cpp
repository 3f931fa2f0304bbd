// Process entry. With "--encode" among the arguments the command-line runner
// takes over: no window and no display are needed. Otherwise the desktop
// application would start; until it exists, a usage line.

#include "cli/CommandLineTool.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    bool encode = false;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--encode") encode = true;
    if (encode) return fw::CommandLineTool::runBlocking(std::vector<std::string>(argv, argv + argc));

    std::fprintf(stderr, "usage: framewright --encode [--codec NAME] [--output DIR] [options] FILE...\n");
    return 2;
}

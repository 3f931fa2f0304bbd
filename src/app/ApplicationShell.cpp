#include "app/ApplicationShell.h"

#include <cstdio>

namespace fw::app {

int runApplication(int, char**) {
    std::fprintf(stderr, "usage: framewright --encode [--codec NAME] [--output DIR] [options] FILE...\n");
    return 2;
}

}  // namespace fw::app

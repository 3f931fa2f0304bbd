#include "app/LaunchArguments.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace fw::app {

bool selectsCommandLine(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 && std::find(arguments.begin() + 1, arguments.end(), "--encode") != arguments.end();
}

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

bool windowCanOpen(const std::vector<std::string>& arguments) {
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM")) return true;
    return arguments.size() > 1 && std::find_if(arguments.begin() + 1, arguments.end(), [](const std::string& word) {
                                       return word == "-platform" || word == "--platform";
                                   }) != arguments.end();
}

std::string noDisplayMessage() {
    return "Framewright: the window needs a display, and none was found (DISPLAY and WAYLAND_DISPLAY are not set).\n"
           "To encode without a display, use --encode, e.g.: framewright --encode --codec h264 clip.mov\n";
}

std::vector<std::filesystem::path> filesToOpen(const std::vector<std::string>& arguments) {
    std::vector<std::filesystem::path> files;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        // Qt's own options ("-platform", "--style=…") are not files.
        if (argument.empty() || argument.front() == '-') continue;
        std::error_code error;
        std::filesystem::path file = std::filesystem::absolute(argument, error);
        files.push_back(error ? std::filesystem::path(argument) : file);
    }
    return files;
}

}  // namespace fw::app

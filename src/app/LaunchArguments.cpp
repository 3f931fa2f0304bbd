#include "app/LaunchArguments.h"

#include <algorithm>
#include <system_error>

namespace fw::app {

bool selectsCommandLine(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 && std::find(arguments.begin() + 1, arguments.end(), "--encode") != arguments.end();
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

#pragma once
// Running the built program's window as the start-up tests do.

#include "support/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fw::test {

// The command start ("env" and its settings) of a window in a home of its
// own, offscreen, with no display and no session bus; the program and its
// arguments follow.
inline std::vector<std::string> isolatedWindow(const TempDir& home) {
    return {"env",
            "-u",
            "DISPLAY",
            "-u",
            "WAYLAND_DISPLAY",
            "QT_QPA_PLATFORM=offscreen",
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "no-bus").string(),
            "HOME=" + home.path().string(),
            "XDG_CONFIG_HOME=" + (home / "config").string(),
            "XDG_DATA_HOME=" + (home / "data").string(),
            "XDG_RUNTIME_DIR=" + home.path().string()};
}

// The window in `home` with PressEncode playing the user and `settings` added
// to its environment, opening copies of `source` named `clips` in home/media.
inline std::vector<std::string> encodingWindow(const TempDir& home, const std::filesystem::path& source,
                                               const std::vector<std::string>& clips,
                                               const std::vector<std::string>& settings = {}) {
    std::vector<std::string> command = isolatedWindow(home);
    command.insert(command.end(), settings.begin(), settings.end());
    command.insert(command.end(), {"LD_PRELOAD=" FW_PRESS_ENCODE, FW_PROGRAM});
    std::filesystem::create_directories(home / "media");
    for (const std::string& clip : clips) {
        std::filesystem::copy_file(source, home / "media" / clip);
        command.push_back((home / "media" / clip).string());
    }
    return command;
}

// Runs `command` until `holds` (looked at every 20 ms, for a minute at most),
// then gives `end` its process id; with whether `holds` held.
inline std::pair<CommandResult, bool> runUntil(const std::vector<std::string>& command,
                                               const std::function<bool()>& holds,
                                               const std::function<void(int)>& end) {
    bool held = false;
    CommandResult result = runCommand(command, [&](int process) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!(held = holds()) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        end(process);
    });
    return {std::move(result), held};
}

// The staged names in `folder`, and the largest of their sizes.
inline std::pair<std::vector<std::string>, std::uintmax_t> stagings(const std::filesystem::path& folder) {
    std::pair<std::vector<std::string>, std::uintmax_t> found;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.find(".fwpart-") == std::string::npos) continue;
        found.first.push_back(name);
        found.second = std::max(found.second, entry->file_size(error));
    }
    return found;
}

}  // namespace fw::test

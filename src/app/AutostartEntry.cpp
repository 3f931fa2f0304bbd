#include "app/AutostartEntry.h"

#include "app/ApplicationIdentity.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/XdgPaths.h"

#include <sstream>
#include <string_view>

namespace fw::app {

namespace fs = std::filesystem;

namespace {
// A desktop entry: its first line that is neither blank nor a comment opens
// the entry's group. A link in the entry's place to anything else names a
// file of the user's, which starts nothing and is never written over.
bool isDesktopEntry(std::string_view bytes) {
    std::istringstream lines{std::string(bytes)};
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') return line == "[Desktop Entry]";
    return false;
}
}  // namespace

AutostartEntry::AutostartEntry(fs::path file) : file_(std::move(file)) {}

fs::path AutostartEntry::standardFile() {
    return xdg::configHome() / "autostart" / (std::string(kApplicationId) + ".desktop");
}

bool AutostartEntry::isEnabled() const {
    // An entry is a few lines; anything that is no such file starts nothing.
    constexpr std::size_t kMostEntryBytes = 1 << 20;
    const StoredBytes entry = readStoredFile(file_, kMostEntryBytes);
    if (entry.state != StoredBytes::State::read || !isDesktopEntry(entry.bytes)) return false;
    std::istringstream lines(entry.bytes);
    for (std::string line; std::getline(lines, line);)
        if (line == "Hidden=true") return false;
    return true;
}

std::string AutostartEntry::execValue(const fs::path& executable) {
    const std::string path = executable.string();
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument;
    if (path.find_first_of(kReserved) == std::string::npos) {
        argument = path;
    } else {
        argument = "\"";
        for (const char c : path) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
            argument += c;
        }
        argument += '"';
    }
    // The key is a string value too, whose own escapes apply on top.
    std::string value;
    for (const char c : argument) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '\n')
            value += "\\n";
        else if (c == '%')
            value += "%%";
        else
            value += c;
    }
    return value;
}

std::optional<std::string> AutostartEntry::enable(const fs::path& executable) const {
    std::string text = "[Desktop Entry]\nType=Application\nName=";
    text += kApplicationName;
    text += "\nExec=" + execValue(executable) + "\nIcon=" + kApplicationId +
            "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    return writeStoredFile(file_, text, isDesktopEntry);
}

std::optional<std::string> AutostartEntry::disable() const {
    // A FIFO, a device or a socket there, or a link to one (a mask) or to a
    // file of the user's, starts nothing: the entry is off already, and what
    // is there is not ours to remove.
    if (storedFileHeld(file_, isDesktopEntry)) return std::nullopt;
    return removeStoredFile(file_);
}

}  // namespace fw::app

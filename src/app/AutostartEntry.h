#pragma once
// The login item on a freedesktop session: a .desktop file in
// $XDG_CONFIG_HOME/autostart named after the application id. Present (and not
// hidden) means the application starts when the user logs in.
// Thread-safety: none needed; the background controller calls it on the GUI thread.

#include <filesystem>
#include <optional>
#include <string>

namespace fw::app {

class AutostartEntry {
public:
    explicit AutostartEntry(std::filesystem::path file = standardFile());

    static std::filesystem::path standardFile();

    const std::filesystem::path& file() const { return file_; }
    // The file exists, is a desktop entry and does not say Hidden=true.
    bool isEnabled() const;
    // Writes the entry atomically, starting `executable` (an absolute path),
    // as the other stored files are written (writeStoredFile): a FIFO, a
    // device or a socket in its place, or named by a link there (an entry
    // masked by a link to /dev/null), is left as it is, and so is a file a
    // link there names that is no desktop entry. Returns why it was not
    // written, in the user's words; nullopt once it is.
    std::optional<std::string> enable(const std::filesystem::path& executable) const;
    // Removes the entry (removeStoredFile): a link itself, not what it names;
    // nothing to remove is success, and so is a node that enable() leaves
    // (it starts nothing). Returns like enable().
    std::optional<std::string> disable() const;

    // `executable` as the Exec key's value: quoted when it holds a reserved
    // character, with the quoting and string-value escapes of the desktop entry
    // format, and "%" doubled (field codes).
    static std::string execValue(const std::filesystem::path& executable);

private:
    std::filesystem::path file_;
};

}  // namespace fw::app

#pragma once
// The login item on a freedesktop session: a .desktop file in
// $XDG_CONFIG_HOME/autostart named after the application id. Present (and not
// hidden) means the application starts when the user logs in.
// Thread-safety: none needed; the background controller calls it on the GUI thread.

#include <filesystem>
#include <string>

namespace fw::app {

class AutostartEntry {
public:
    explicit AutostartEntry(std::filesystem::path file = standardFile());

    static std::filesystem::path standardFile();

    const std::filesystem::path& file() const { return file_; }
    // The file exists and does not say Hidden=true.
    bool isEnabled() const;
    // Writes the entry atomically, starting `executable` (an absolute path).
    // Throws std::system_error (std::filesystem::filesystem_error) on failure.
    void enable(const std::filesystem::path& executable) const;
    // Removes the entry; nothing to remove is success. Throws like enable().
    void disable() const;

    // `executable` as the Exec key's value: quoted when it holds a reserved
    // character, with the quoting and string-value escapes of the desktop entry
    // format, and "%" doubled (field codes).
    static std::string execValue(const std::filesystem::path& executable);

private:
    std::filesystem::path file_;
};

}  // namespace fw::app

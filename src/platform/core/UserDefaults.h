#pragma once
// A typed key/value store kept as one JSON object in
// $XDG_CONFIG_HOME/Framewright/defaults.json. Every change rewrites the file
// atomically. A missing file reads as empty. So does one that cannot be read
// as a JSON object (a slip made by hand, a cut-off or foreign file, one
// nested too deep), but that file is never written over: changes then live
// in memory only, until setAsideUnreadableFile() moves it out of the way.
// Thread-safety: all members may be called from any thread.

#include "platform/core/Json.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace fw {

class UserDefaults {
public:
    explicit UserDefaults(std::filesystem::path file);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The process-wide store at the standard location.
    static UserDefaults& standard();

    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<Json> value(const std::string& key) const;

    void set(const std::string& key, Json value);
    void remove(const std::string& key);

    const std::filesystem::path& file() const { return file_; }

    // When the file could not be read: moves it aside (setAsideUnreadable,
    // bytes kept), writes the values held since, and returns where the file
    // now is. nullopt when the file was readable or absent, or could not be
    // moved (changes then stay in memory).
    std::optional<std::filesystem::path> setAsideUnreadableFile();

private:
    void loadLocked() const;
    void saveLocked();

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable bool unreadable_ = false;  // the file on disk must not be written over
    mutable Json values_ = Json::object();
};

}  // namespace fw

#pragma once
// A typed key/value store kept as one JSON object in
// $XDG_CONFIG_HOME/Framewright/defaults.json. Every change rewrites the file
// atomically. A missing or unreadable file reads as empty.
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

private:
    void loadLocked() const;
    void saveLocked();

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable Json values_ = Json::object();
};

}  // namespace fw

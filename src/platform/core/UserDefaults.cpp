#include "platform/core/UserDefaults.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/XdgPaths.h"

namespace fw {

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(xdg::configDirectory() / "defaults.json");
    return defaults;
}

void UserDefaults::loadLocked() const {
    if (loaded_) return;
    loaded_ = true;
    json::FileContents contents = json::readFile(file_);
    if (contents.value.is_object())
        values_ = std::move(contents.value);
    else
        unreadable_ = contents.state != json::FileContents::State::absent;
}

void UserDefaults::saveLocked() {
    if (unreadable_) return;
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    try {
        writeFileAtomically(file_, json::dump(values_));
    } catch (const std::system_error&) {
        // Keep the in-memory value; defaults are best effort like the platform's.
    }
}

std::optional<std::filesystem::path> UserDefaults::setAsideUnreadableFile() {
    std::lock_guard lock(mutex_);
    loadLocked();
    if (!unreadable_) return std::nullopt;
    auto kept = setAsideUnreadable(file_);
    if (!kept) return std::nullopt;
    unreadable_ = false;
    saveLocked();
    return kept;
}

std::optional<Json> UserDefaults::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    loadLocked();
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}

std::optional<bool> UserDefaults::boolean(const std::string& key) const {
    auto v = value(key);
    if (v && v->is_boolean()) return v->get<bool>();
    return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(const std::string& key) const {
    auto v = value(key);
    if (v && v->is_number_integer()) return v->get<std::int64_t>();
    return std::nullopt;
}

std::optional<double> UserDefaults::number(const std::string& key) const {
    auto v = value(key);
    if (v && v->is_number()) return v->get<double>();
    return std::nullopt;
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    auto v = value(key);
    if (v && v->is_string()) return v->get<std::string>();
    return std::nullopt;
}

void UserDefaults::set(const std::string& key, Json newValue) {
    std::lock_guard lock(mutex_);
    loadLocked();
    auto it = values_.find(key);
    if (it != values_.end() && *it == newValue) return;
    values_[key] = std::move(newValue);
    saveLocked();
}

void UserDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    loadLocked();
    if (values_.erase(key)) saveLocked();
}

}  // namespace fw

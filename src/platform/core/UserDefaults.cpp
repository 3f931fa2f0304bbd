#include "platform/core/UserDefaults.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/XdgPaths.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace fw {

namespace {
// The keys the program's parts store their settings under, by any build;
// each settings card keeps its open state under "card.<name>.expanded".
constexpr std::array<std::string_view, 9> kProgramKeys{"DidMigrateFromSandboxContainer",
                                                       "hasSeenWelcome",
                                                       "showAdvancedSettings",
                                                       "addFilesFolder",
                                                       "OutputDirectoryPath",
                                                       "userPresets.v1",
                                                       "AutomaticallyChecksForUpdates",
                                                       "ReceiveBetaUpdates",
                                                       "LastUpdateCheckDate"};
constexpr std::string_view kCardKeyStart = "card.";

// A settings file of ours holds a key the program writes, or none yet; an
// object of other keys is a file of the user's (an editor's settings).
bool isSettingsFile(std::string_view bytes) {
    const std::optional<Json> values = json::parseStoredBytes(bytes);
    if (!values || !values->is_object()) return false;
    if (values->empty()) return true;
    for (const auto& [key, value] : values->items())
        if (key.starts_with(kCardKeyStart) || std::ranges::find(kProgramKeys, key) != kProgramKeys.end()) return true;
    return false;
}
}  // namespace

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(xdg::configDirectory() / "defaults.json");
    return defaults;
}

void UserDefaults::loadLocked() const {
    if (loaded_) return;
    loaded_ = true;
    json::FileContents contents = json::readFile(file_, kMostFileBytes);
    if (contents.value.is_object())
        values_ = std::move(contents.value);
    else
        unreadable_ = contents.state != json::FileContents::State::absent;
}

void UserDefaults::saveLocked(std::vector<StoredFileReport>& told) {
    // An unreadable file that is gone since (a FIFO removed) is in the way no longer.
    if (unreadable_ && nothingStoredAt(file_)) clearUnreadableLocked();
    if (unreadable_) {
        unsaved_ = true;  // held until the file is set aside
        return;
    }
    auto failure = writeStoredFile(file_, json::dump(values_), isSettingsFile);
    unsaved_ = failure.has_value();
    if (failure) told.push_back({StoredFileReport::Kind::writeFailed, file_, {}, std::move(*failure), {}});
    unsavedReports_.follow(told, !unsaved_, file_);
}

void UserDefaults::clearUnreadableLocked() {
    unreadable_ = false;
    unreadableKeys_.clear();
}

void UserDefaults::report(const std::vector<StoredFileReport>& told) {
    for (const StoredFileReport& each : told) reports_.emit(each);
}

void UserDefaults::keepUnreadableValue(const std::string& key) {
    std::lock_guard lock(mutex_);
    loadLocked();
    if (!values_.erase(key)) return;
    unreadable_ = true;
    unreadableKeys_.push_back(key);
}

std::optional<std::filesystem::path> UserDefaults::setAsideLocked(std::vector<StoredFileReport>& told) {
    loadLocked();
    if (!unreadable_) return std::nullopt;
    StoredFileReport aside;
    aside.file = file_;
    aside.unreadableKeys = unreadableKeys_;
    SetAside setAside = setAsideUnreadable(file_);
    const std::optional<std::filesystem::path>& kept = setAside.kept;
    if (!kept && nothingStoredAt(file_)) {
        // Gone since it was read: nothing to keep, and the way is clear.
        clearUnreadableLocked();
        saveLocked(told);
        return std::nullopt;
    }
    if (kept) {
        aside.kind = StoredFileReport::Kind::setAside;
        aside.kept = *kept;
        clearUnreadableLocked();
    } else {
        aside.kind = StoredFileReport::Kind::notSetAside;
        aside.reason = std::move(setAside.reason);
    }
    told.push_back(std::move(aside));
    if (kept)
        saveLocked(told);
    else
        unsavedReports_.follow(told, false, file_);
    return kept;
}

std::optional<std::filesystem::path> UserDefaults::setAsideUnreadableFile() {
    std::vector<StoredFileReport> told;
    std::optional<std::filesystem::path> kept;
    {
        std::lock_guard lock(mutex_);
        kept = setAsideLocked(told);
    }
    report(told);
    return kept;
}

std::optional<StoredFileReport> UserDefaults::saveUnsaved() {
    std::vector<StoredFileReport> told;
    {
        std::lock_guard lock(mutex_);
        if (!unsaved_) return std::nullopt;
        if (unreadable_)
            setAsideLocked(told);
        else
            saveLocked(told);
    }
    report(told);
    std::optional<StoredFileReport> left;
    for (StoredFileReport& each : told)
        if (each.leavesUnsaved()) left = std::move(each);
    return left;
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
    std::vector<StoredFileReport> told;
    {
        std::lock_guard lock(mutex_);
        loadLocked();
        auto it = values_.find(key);
        // An unchanged value still writes what an earlier failed write left unsaved.
        if (it != values_.end() && *it == newValue && !unsaved_) return;
        values_[key] = std::move(newValue);
        saveLocked(told);
    }
    report(told);
}

void UserDefaults::remove(const std::string& key) {
    std::vector<StoredFileReport> told;
    {
        std::lock_guard lock(mutex_);
        loadLocked();
        if (!values_.erase(key) && !unsaved_) return;
        saveLocked(told);
    }
    report(told);
}

}  // namespace fw

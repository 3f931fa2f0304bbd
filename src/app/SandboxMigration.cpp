#include "app/SandboxMigration.h"

#include "app/ApplicationIdentity.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/XdgPaths.h"

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace fw::app {

namespace fs = std::filesystem;

namespace {

// Whether every key of the old defaults is now present in `defaults`.
bool copyMissingKeys(UserDefaults& defaults, const fs::path& oldDefaultsFile, bool& copied) {
    const StoredBytes read = readStoredFile(oldDefaultsFile, UserDefaults::kMostFileBytes);
    if (read.state == StoredBytes::State::failed) return false;
    // Nothing there, or nothing a store could give (no regular file, a huge
    // one, bytes that are no JSON): retrying would not change that.
    if (read.state != StoredBytes::State::read) return true;
    Json old;
    try {
        old = json::parse(read.bytes);
    } catch (const JsonDecodeError&) {
        return true;
    }
    if (!old.is_object()) return true;
    for (const auto& [key, value] : old.items()) {
        // Copying the old flag would end the migration before the folder step.
        if (key == SandboxMigration::kFlagKey || defaults.value(key)) continue;
        defaults.set(key, value);
        copied = true;
    }
    return true;
}

// Whether every item of the old folder is now present in `target`.
bool copyMissingItems(const fs::path& oldFolder, const fs::path& target, const SandboxMigration::CopyItem& copy,
                      bool& copied) {
    std::error_code error;
    if (!fs::exists(oldFolder, error)) return !error;
    fs::directory_iterator items(oldFolder, error);
    if (error) return false;
    fs::create_directories(target, error);  // a failure shows in each copy below
    bool complete = true;
    for (const fs::directory_entry& item : items) {
        const fs::path destination = target / item.path().filename();
        if (fs::exists(fs::symlink_status(destination, error))) continue;
        try {
            copy(item.path(), destination);
            copied = true;
        } catch (const std::exception&) {
            complete = false;
        }
    }
    return complete;
}

}  // namespace

void SandboxMigration::stagedCopy(const fs::path& from, const fs::path& to) {
    const fs::path staged = temporarySibling(to);
    try {
        fs::copy(from, staged, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
            throw fs::filesystem_error("cannot move the copy into place", staged, to,
                                       std::error_code(errno, std::generic_category()));
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(staged, ignored);
        throw;
    }
}

SandboxMigration::Outcome SandboxMigration::migrate(UserDefaults& defaults, const Locations& locations,
                                                    const CopyItem& copy) {
    Outcome outcome;
    const bool keys = copyMissingKeys(defaults, locations.container / "config" / "Framewright" / "defaults.json",
                                      outcome.copiedAnything);
    const bool items = copyMissingItems(locations.container / "data" / "Framewright", locations.applicationSupport,
                                        copy, outcome.copiedAnything);
    outcome.complete = keys && items;
    return outcome;
}

bool SandboxMigration::runOnce(UserDefaults& defaults, const Locations& locations, const CopyItem& copy) {
    if (defaults.boolean(kFlagKey).value_or(false)) return false;
    const Outcome outcome = migrate(defaults, locations, copy);
    if (outcome.complete) defaults.set(kFlagKey, true);
    return outcome.copiedAnything;
}

bool SandboxMigration::runOnce() {
    UserDefaults& defaults = UserDefaults::standard();
    if (defaults.boolean(kFlagKey).value_or(false)) return false;  // before any folder is created or read
    return runOnce(defaults,
                   {xdg::homeDirectory() / ".var" / "app" / kApplicationId, xdg::applicationSupportDirectory()});
}

}  // namespace fw::app

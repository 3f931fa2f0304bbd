#pragma once
// Once per user, copies what a sandboxed (Flatpak) install of the application
// kept in its own data folder, ~/.var/app/<application id>/, to the places
// this install reads:
//   config/Framewright/defaults.json  each key the user defaults lack (the
//                                     presets live there, "userPresets.v1")
//   data/Framewright/*                each item (queue.json, history.json, any
//                                     other, hidden ones too) that the
//                                     application-support folder lacks
// It only copies: nothing in the old folder changes, nothing present here is
// overwritten, and an existing folder is not merged. Each item is copied to a
// staged name beside its target and renamed into place, so a failed copy
// leaves nothing under the final name.
//
// The flag "DidMigrateFromSandboxContainer" is set only once every key and
// item was copied or already present (including when there is no old folder
// at all); after a failure the next launch tries again, still copying only
// what is missing.
//
// Runs first in main(), before any store is read, on the main thread. Every
// failure is silent.

#include "platform/core/UserDefaults.h"

#include <filesystem>
#include <functional>

namespace fw::app {

class SandboxMigration {
public:
    static constexpr const char* kFlagKey = "DidMigrateFromSandboxContainer";

    struct Locations {
        std::filesystem::path container;           // ~/.var/app/<application id>
        std::filesystem::path applicationSupport;  // where the queue and history live now
    };
    // Copies the file or folder `from` to `to`, which does not exist. Throws
    // std::filesystem::error (or any std::exception) on failure.
    using CopyItem = std::function<void(const std::filesystem::path& from, const std::filesystem::path& to)>;

    struct Outcome {
        bool copiedAnything = false;
        bool complete = true;  // every key and item is now present here
    };

    // The standard locations and user defaults. Returns whether anything was copied.
    static bool runOnce();
    static bool runOnce(UserDefaults& defaults, const Locations& locations, const CopyItem& copy = stagedCopy);
    // One attempt, without looking at or writing the flag.
    static Outcome migrate(UserDefaults& defaults, const Locations& locations, const CopyItem& copy = stagedCopy);

    // Copies into a hidden sibling of `to` and renames it to `to` without
    // replacing anything that appeared there meanwhile; the staging is removed
    // on failure.
    static void stagedCopy(const std::filesystem::path& from, const std::filesystem::path& to);
};

}  // namespace fw::app

#include "platform/core/StagedFolder.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/StagedFile_internal.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace fw {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

// Swaps the two names in one step; fails with EINVAL where the file system
// cannot (some network and FUSE file systems).
std::error_code exchange(const fs::path& left, const fs::path& right) {
    if (::renameat2(AT_FDCWD, left.c_str(), AT_FDCWD, right.c_str(), RENAME_EXCHANGE) != 0) return lastError();
    return {};
}

}  // namespace

StagedFolder::StagedFolder(fs::path destination)
    : destination_(std::move(destination)), path_(temporarySibling(destination_)) {
    const fs::path parent = destination_.parent_path();
    std::error_code error;
    for (fs::path missing = parent; !missing.empty() && !fs::exists(missing, error); missing = missing.parent_path()) {
        madeParents_.push_back(missing);
        if (missing == missing.parent_path()) break;
    }
    try {
        if (!parent.empty()) fs::create_directories(parent);
        removeAbandonedStagings(parent);
        fs::create_directory(path_);
        listing_ = staging::list(path_, staging::Kind::folder);
    } catch (...) {
        discard();
        throw;
    }
}

StagedFolder::~StagedFolder() {
    discard();
    staging::unlist(listing_);
}

std::error_code StagedFolder::commit(const std::function<bool(const fs::path&)>& keep) {
    struct stat status {};
    if (::lstat(destination_.c_str(), &status) != 0) {
        if (errno != ENOENT) return lastError();
        std::error_code error;
        fs::rename(path_, destination_, error);
        if (!error) {
            committed_ = true;
            staging::unlist(std::exchange(listing_, -1));
        }
        return error;
    }
    if (!S_ISDIR(status.st_mode)) return std::make_error_code(std::errc::not_a_directory);

    // Off the list before the exchange: `path_` is about to hold the earlier
    // folder, the user's files in it, which a second signal must not remove.
    staging::unlist(std::exchange(listing_, -1));
    // The earlier folder ends at `replaced`, out of sight, the new one in its place.
    fs::path replaced = path_;
    if (auto error = exchange(path_, destination_)) {
        if (error != std::errc::invalid_argument && error != std::errc::function_not_supported) return relisted(error);
        replaced = temporarySibling(destination_);
        fs::rename(destination_, replaced, error);
        if (error) return relisted(error);
        fs::rename(path_, destination_, error);
        if (error) {
            std::error_code ignored;
            fs::rename(replaced, destination_, ignored);
            return relisted(error);
        }
    }
    committed_ = true;

    // What the earlier folder held that is not the export's own moves across.
    // If any of it cannot, the earlier folder stays in sight under a name of
    // its own: left under its staging name, a later export would take it for
    // an abandoned one once this process has ended, and remove it.
    bool everythingKept = true;
    std::error_code error;
    if (keep)
        for (fs::directory_iterator entry(replaced, error), end; !error && entry != end; entry.increment(error)) {
            const fs::path name = entry->path().filename();
            if (!keep(name)) continue;
            if (::renameat2(AT_FDCWD, entry->path().c_str(), AT_FDCWD, (destination_ / name).c_str(),
                            RENAME_NOREPLACE) != 0)
                everythingKept = false;
        }
    if (everythingKept && !error)
        fs::remove_all(replaced, error);
    else
        moveAside(replaced, destination_, "earlier");  // else it stays hidden: still better than lost
    return {};
}

std::error_code StagedFolder::relisted(std::error_code error) {
    listing_ = staging::list(path_, staging::Kind::folder);
    return error;
}

void StagedFolder::discard() {
    if (committed_) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    for (const auto& parent : madeParents_) fs::remove(parent, ignored);  // only when empty
}

}  // namespace fw

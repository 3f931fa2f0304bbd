#include "platform/core/StagedFile.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/PathIdentity.h"
#include "platform/core/StagedFile_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace fw {

namespace fs = std::filesystem;

namespace {

// The stagings of the process, for removeAllNow(). A slot's version is odd
// while its owner writes the path, so that a reader racing a change skips the
// slot rather than use half a path.
struct ListedPath {
    std::atomic<bool> taken{false};
    std::atomic<unsigned> version{0};
    std::atomic<bool> listed{false};
    std::atomic<staging::Kind> kind{staging::Kind::file};
    char path[PATH_MAX] = {};
};
ListedPath gListed[StagedFile::kMaxListed];

// Folders below a staged folder that removeTreeNow() goes into.
constexpr int kDeepestRemoved = 8;
// Passes over a staged folder while files still appear in it: the export's
// other threads write on until the process ends.
constexpr int kRemovalPasses = 4;

// Removes the folder `name` in `parent` with what it holds, `depth` folders
// down, by system calls alone: async-signal-safe (no allocation, no locks).
void removeTreeNow(int parent, const char* name, int depth) {
    for (int pass = 0; pass < kRemovalPasses; ++pass) {
        const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0) return;
        alignas(dirent64) char entries[4096];
        for (ssize_t length; (length = ::getdents64(folder, entries, sizeof entries)) > 0;)
            for (ssize_t at = 0; at < length;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
                at += entry->d_reclen;
                const char* entryName = entry->d_name;
                if (entryName[0] == '.' && (entryName[1] == '\0' || (entryName[1] == '.' && entryName[2] == '\0')))
                    continue;
                if (::unlinkat(folder, entryName, 0) != 0 && errno == EISDIR && depth > 0)
                    removeTreeNow(folder, entryName, depth - 1);
            }
        ::close(folder);
        if (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno != ENOTEMPTY) return;
    }
}

}  // namespace

namespace staging {

int list(const fs::path& path, Kind kind) {
    const std::string& text = path.native();
    if (text.size() >= PATH_MAX) return -1;
    for (int index = 0; index < StagedFile::kMaxListed; ++index) {
        ListedPath& slot = gListed[index];
        bool expected = false;
        if (!slot.taken.compare_exchange_strong(expected, true, std::memory_order_acquire)) continue;
        slot.version.fetch_add(1, std::memory_order_acq_rel);
        std::memcpy(slot.path, text.c_str(), text.size() + 1);
        slot.kind.store(kind, std::memory_order_relaxed);
        slot.version.fetch_add(1, std::memory_order_release);
        slot.listed.store(true, std::memory_order_release);
        return index;
    }
    return -1;
}

void unlist(int index) {
    if (index < 0) return;
    gListed[index].listed.store(false, std::memory_order_release);
    gListed[index].taken.store(false, std::memory_order_release);
}

}  // namespace staging

StagedFile::StagedFile(fs::path destination)
    : destination_(std::move(destination)), path_(temporarySibling(destination_)) {
    removeAbandonedStagings(destination_.parent_path());
    listing_ = staging::list(path_, staging::Kind::file);
}

StagedFile::~StagedFile() {
    discard();
    staging::unlist(listing_);
}

bool StagedFile::replaces(const fs::path& file) const { return samePath(destination_, file); }

std::error_code StagedFile::commit() {
    std::error_code error;
    fs::rename(path_, destination_, error);
    if (!error) {
        committed_ = true;
        staging::unlist(std::exchange(listing_, -1));
    }
    return error;
}

void StagedFile::discard() {
    if (committed_) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
}

void StagedFile::removeAllNow() noexcept {
    for (ListedPath& slot : gListed) {
        if (!slot.listed.load(std::memory_order_acquire)) continue;
        const unsigned before = slot.version.load(std::memory_order_acquire);
        if (before % 2 != 0) continue;
        char path[PATH_MAX];
        for (std::size_t i = 0; i < sizeof path; ++i)
            if ((path[i] = slot.path[i]) == '\0') break;
        path[sizeof path - 1] = '\0';
        const staging::Kind kind = slot.kind.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.version.load(std::memory_order_acquire) != before || !slot.listed.load(std::memory_order_acquire))
            continue;
        if (kind == staging::Kind::folder)
            removeTreeNow(AT_FDCWD, path, kDeepestRemoved);
        else
            ::unlink(path);
    }
}

}  // namespace fw

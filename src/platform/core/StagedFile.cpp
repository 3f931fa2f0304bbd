#include "platform/core/StagedFile.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/PathIdentity.h"

#include <unistd.h>
#include <atomic>
#include <climits>
#include <cstring>
#include <utility>

namespace fw {

namespace fs = std::filesystem;

namespace {

// The staged files of the process, for removeAllNow(). A slot's version is
// odd while its owner writes the path, so that a reader racing a change skips
// the slot rather than use half a path.
struct ListedPath {
    std::atomic<bool> taken{false};
    std::atomic<unsigned> version{0};
    std::atomic<bool> listed{false};
    char path[PATH_MAX] = {};
};
ListedPath gListed[StagedFile::kMaxListed];

int list(const fs::path& path) {
    const std::string& text = path.native();
    if (text.size() >= PATH_MAX) return -1;
    for (int index = 0; index < StagedFile::kMaxListed; ++index) {
        ListedPath& slot = gListed[index];
        bool expected = false;
        if (!slot.taken.compare_exchange_strong(expected, true, std::memory_order_acquire)) continue;
        slot.version.fetch_add(1, std::memory_order_acq_rel);
        std::memcpy(slot.path, text.c_str(), text.size() + 1);
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

}  // namespace

StagedFile::StagedFile(fs::path destination)
    : destination_(std::move(destination)), path_(temporarySibling(destination_)) {
    removeAbandonedStagings(destination_.parent_path());
    listing_ = list(path_);
}

StagedFile::~StagedFile() {
    discard();
    unlist(listing_);
}

bool StagedFile::replaces(const fs::path& file) const { return samePath(destination_, file); }

std::error_code StagedFile::commit() {
    std::error_code error;
    fs::rename(path_, destination_, error);
    if (!error) {
        committed_ = true;
        unlist(std::exchange(listing_, -1));
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
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.version.load(std::memory_order_acquire) == before && slot.listed.load(std::memory_order_acquire))
            ::unlink(path);
    }
}

}  // namespace fw

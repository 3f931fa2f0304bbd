#pragma once
// An output written under a hidden temporary name beside its destination and
// moved into place only when complete, so a failed or cancelled encode never
// leaves a partial file under the real name, nor destroys an earlier one.
// Staging a destination also removes the stagings in its folder that
// processes ended before they could clean up left behind
// (removeAbandonedStagings).
// Thread-safety: none; owned by the encode that writes the file. The
// process-wide list behind removeAllNow() is safe from any thread.

#include <filesystem>
#include <system_error>

namespace fw {

class StagedFile {
public:
    explicit StagedFile(std::filesystem::path destination);
    ~StagedFile();  // removes the staged file unless committed
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& destination() const { return destination_; }
    // True when the destination is `file` itself (the same file, or the same
    // path once resolved), so that committing would replace it.
    bool replaces(const std::filesystem::path& file) const;

    // Renames the staged file over the destination; on failure the staged
    // file stays until destruction and the error is returned.
    std::error_code commit();
    // Removes the staged file now (idempotent; nothing once committed).
    void discard();

    // Removes every file and folder (StagedFolder) staged in this process and
    // not yet committed or discarded, for a process about to end without
    // unwinding (_exit). Async-signal-safe: no locks, no allocation, only
    // system calls. A staging whose path is longer than PATH_MAX, or made
    // while kMaxListed others are open, is not listed; a folder is emptied
    // eight folders deep.
    static void removeAllNow() noexcept;
    static constexpr int kMaxListed = 64;

private:
    std::filesystem::path destination_;
    std::filesystem::path path_;
    bool committed_ = false;
    int listing_ = -1;  // slot in the process-wide list, or -1
};

}  // namespace fw

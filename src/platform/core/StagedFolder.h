#pragma once
// A folder of outputs (an image sequence) filled under a hidden temporary name
// beside its destination and put in the destination's place only when
// complete, so a failed or cancelled export never leaves part of a folder
// under the real name, nor changes an earlier folder there. The sibling of
// StagedFile for folders: the same hidden names (temporarySibling), and
// staging a destination removes the stagings in its folder that ended
// processes left (removeAbandonedStagings).
//
// The destination's missing parent folders are created with the staging and,
// unless the folder is committed, removed again when still empty.
// Like a staged file, an open staged folder goes with StagedFile::removeAllNow().
// Thread-safety: none; owned by the export that fills the folder (the files
// inside may be written from any thread).

#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

namespace fw {

class StagedFolder {
public:
    // Creates the hidden folder (and the destination's missing parents).
    // Throws std::filesystem::filesystem_error when a folder cannot be made.
    explicit StagedFolder(std::filesystem::path destination);
    ~StagedFolder();  // discard()
    StagedFolder(const StagedFolder&) = delete;
    StagedFolder& operator=(const StagedFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& destination() const { return destination_; }

    // Puts the staged folder at the destination in one step (an exchange of
    // the two names where the file system has one). An earlier folder there
    // is replaced: the entries of it for which `keep` is true (by name) move
    // into the new folder, the rest go; if any of those cannot move, the
    // earlier folder is kept beside it as "<name>.earlier" (moveAside). A destination that is not a folder
    // (a file, a link) is left alone and not_a_directory returned. On failure
    // the destination is as it was and the staged folder stays until
    // destruction.
    std::error_code commit(const std::function<bool(const std::filesystem::path& name)>& keep = {});
    // Removes the staged folder with its contents now, and the parents made
    // for it when empty (idempotent; nothing once committed).
    void discard();

private:
    // Lists the staged folder again after a commit that failed; returns `error`.
    std::error_code relisted(std::error_code error);

    std::filesystem::path destination_;
    std::filesystem::path path_;
    std::vector<std::filesystem::path> madeParents_;  // deepest first
    bool committed_ = false;
    int listing_ = -1;  // slot in the process-wide list of StagedFile::removeAllNow(), or -1
};

}  // namespace fw

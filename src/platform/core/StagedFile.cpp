#include "platform/core/StagedFile.h"

#include "platform/core/AtomicFile.h"

namespace fw {

namespace fs = std::filesystem;

StagedFile::StagedFile(fs::path destination)
    : destination_(std::move(destination)), path_(temporarySibling(destination_)) {
    removeAbandonedSiblings(destination_);
}

StagedFile::~StagedFile() { discard(); }

bool StagedFile::replaces(const fs::path& file) const {
    std::error_code error;
    if (fs::equivalent(destination_, file, error)) return true;
    // A destination not written yet can still name the file by another spelling.
    const fs::path left = fs::weakly_canonical(destination_, error);
    if (error) return false;
    const fs::path right = fs::weakly_canonical(file, error);
    return !error && left == right;
}

std::error_code StagedFile::commit() {
    std::error_code error;
    fs::rename(path_, destination_, error);
    if (!error) committed_ = true;
    return error;
}

void StagedFile::discard() {
    if (committed_) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
}

}  // namespace fw

#include "platform/core/StagedFile.h"

#include "platform/core/AtomicFile.h"

namespace fw {

namespace fs = std::filesystem;

StagedFile::StagedFile(fs::path destination)
    : destination_(std::move(destination)), path_(temporarySibling(destination_)) {
    removeAbandonedSiblings(destination_);
}

StagedFile::~StagedFile() { discard(); }

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

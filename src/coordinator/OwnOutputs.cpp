#include "coordinator/OwnOutputs.h"

namespace fw {

namespace fs = std::filesystem;

namespace {

fs::path canonicalForm(const fs::path& file) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(fs::absolute(file, error), error);
    return error ? file.lexically_normal() : canonical;
}

}  // namespace

void OwnOutputs::record(const fs::path& destination) {
    fs::path canonical = canonicalForm(destination);
    const std::lock_guard lock(mutex_);
    paths_.insert(std::move(canonical));
}

bool OwnOutputs::contains(const fs::path& file) const {
    const fs::path canonical = canonicalForm(file);
    const std::lock_guard lock(mutex_);
    return paths_.contains(canonical);
}

}  // namespace fw

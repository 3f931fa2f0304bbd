#include "coordinator/OwnOutputs.h"

#include "platform/core/PathIdentity.h"

namespace fw {

namespace fs = std::filesystem;

void OwnOutputs::record(const fs::path& destination) {
    fs::path identity = pathIdentity(destination);
    const std::lock_guard lock(mutex_);
    paths_.insert(std::move(identity));
}

bool OwnOutputs::contains(const fs::path& file) const {
    const fs::path identity = pathIdentity(file);
    const std::lock_guard lock(mutex_);
    return paths_.contains(identity);
}

}  // namespace fw

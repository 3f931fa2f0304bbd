#pragma once
// Every destination the coordinator has reserved or written in this process
// (outputs, numbered names, image-sequence folders, caption sidecars, stitched
// movies), so that the watch folder never takes the system's own files back
// in, whatever template named them.
//
// Paths are kept and compared by pathIdentity (platform/core/PathIdentity.h).
// Never pruned.
// Thread-safety: every member may be called from any thread.

#include <filesystem>
#include <mutex>
#include <set>

namespace fw {

class OwnOutputs {
public:
    void record(const std::filesystem::path& destination);
    bool contains(const std::filesystem::path& file) const;

private:
    mutable std::mutex mutex_;
    std::set<std::filesystem::path> paths_;
};

}  // namespace fw

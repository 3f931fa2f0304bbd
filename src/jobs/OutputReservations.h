#pragma once
// The destinations one run has handed out, so that two outputs of the run
// never share a file and no output ever replaces its own source. Files left
// by earlier runs are not looked at: an encoder replaces them.
//
// Paths are compared by pathIdentity (platform/core/PathIdentity.h).
// Thread-safety: every member may be called from any thread; the parallel
// jobs of a run reserve through one instance.

#include <filesystem>
#include <mutex>
#include <set>

namespace fw {

class OutputReservations {
public:
    enum class Kind { file, folder };

    // Reserves `destination` for an output of `source` and returns it, or,
    // when an earlier output of this run holds it, the first free name with
    // "-2", "-3", … before the extension (after the whole name for a folder).
    // Throws EncodingError::destinationIsSource, reserving nothing, when
    // `destination` is the source itself.
    std::filesystem::path reserve(const std::filesystem::path& source, const std::filesystem::path& destination,
                                  Kind kind = Kind::file);

    // Keeps outputs of this run off `file` (the run's other sources): a
    // destination naming it is numbered as if an earlier output held it.
    void protect(const std::filesystem::path& file);

private:
    std::mutex mutex_;
    std::set<std::filesystem::path> reserved_;  // pathIdentity of each
};

}  // namespace fw

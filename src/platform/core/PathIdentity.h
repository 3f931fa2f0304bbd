#pragma once
// The one answer to "is this the same file", for paths that may not exist yet
// (a destination about to be written) as well as ones that do.
//
// A path's identity is its absolute form with "." and ".." resolved, the
// symbolic links of its existing part followed (a link to the file included)
// and any trailing separator dropped; a path the file system cannot resolve
// falls back to its absolute, lexically normal form. Letter case counts as the
// file system counts it only for existing files (samePath), never in the key.
//
// Thread-safety: pure functions of the file system's state; any thread.

#include <filesystem>

namespace fw {

// The key under which a path is kept in ordered containers: two paths naming
// one file through "..", relative parts, symbolic links or a trailing
// separator have the same key. Hard links to one file keep different keys.
std::filesystem::path pathIdentity(const std::filesystem::path& path);

// True when `a` and `b` name the same file: both exist and are one file (hard
// links and case-insensitive file systems included), or their identities are
// equal (a file not written yet).
bool samePath(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace fw

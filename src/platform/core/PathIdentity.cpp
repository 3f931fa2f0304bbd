#include "platform/core/PathIdentity.h"

#include <system_error>

namespace fw {

namespace fs = std::filesystem;

namespace {

fs::path withoutTrailingSeparator(fs::path path) {
    // "folder/" has an empty file name; its parent is "folder".
    if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    return path;
}

}  // namespace

fs::path pathIdentity(const fs::path& path) {
    std::error_code error;
    // Made absolute first: weakly_canonical leaves a relative path relative
    // when its first part does not exist.
    const fs::path absolute = fs::absolute(path, error);
    if (error) return withoutTrailingSeparator(path.lexically_normal());
    fs::path resolved = fs::weakly_canonical(absolute, error);
    return withoutTrailingSeparator(error ? absolute.lexically_normal() : std::move(resolved));
}

bool samePath(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    return pathIdentity(a) == pathIdentity(b);
}

}  // namespace fw

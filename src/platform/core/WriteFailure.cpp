#include "platform/core/WriteFailure.h"

#include <cerrno>
#include <system_error>

namespace fw {

std::string writeFailureReason(int error, const std::filesystem::path& file) {
    // "No such file or directory" leaves the user to guess which is missing.
    const std::filesystem::path folder = file.parent_path();
    std::error_code ignored;
    if (error == ENOENT && !folder.empty() && !std::filesystem::is_directory(folder, ignored))
        return "the folder \u201c" + folder.string() + "\u201d does not exist";
    return std::generic_category().message(error);
}

}  // namespace fw

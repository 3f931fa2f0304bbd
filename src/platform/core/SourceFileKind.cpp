#include "platform/core/SourceFileKind.h"

namespace fw {

namespace fs = std::filesystem;

std::optional<std::string> notARegularFile(const fs::path& path) {
    std::error_code error;
    // Looked at, never opened: links are followed to what they name.
    switch (fs::status(path, error).type()) {
    case fs::file_type::directory: return "a folder";
    case fs::file_type::fifo: return "a named pipe (FIFO)";
    case fs::file_type::character:
    case fs::file_type::block: return "a device";
    case fs::file_type::socket: return "a socket";
    default: return std::nullopt;
    }
}

}  // namespace fw

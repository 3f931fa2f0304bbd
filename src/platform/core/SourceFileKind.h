#pragma once
// The one check that a path given as a source names a file that can be read
// through: a regular file, or a link to one. A folder is no file; opening a
// named pipe waits for a writer that may never come, and a device or a socket
// reads without end. Each is refused before anything opens it.
//
// Thread-safety: a pure function of the file system's state; any thread.

#include <filesystem>
#include <optional>
#include <string>

namespace fw {

// What the path names when it is not a file that can be read as a source: "a
// folder", "a named pipe (FIFO)", "a device" or "a socket", to be said as
// "“x” is a device, not a file". None for a regular file, and for a path that
// does not exist or cannot be looked at, which its opener reports as such.
std::optional<std::string> notARegularFile(const std::filesystem::path& path);

}  // namespace fw

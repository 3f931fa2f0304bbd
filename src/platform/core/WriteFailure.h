#pragma once
// Why a file could not be written, in words for the user: the one rule the
// writers of movies, stills and GIFs word their failures by.
// Thread-safety: a pure function (it looks at the file system).

#include <filesystem>
#include <string>

namespace fw {

// The reason for `error` (an errno value) met writing `file`: "the folder
// “<folder>” does not exist" for ENOENT when the file's folder is missing, else
// the system's words for the error ("Permission denied", "No space left on
// device").
std::string writeFailureReason(int error, const std::filesystem::path& file);

}  // namespace fw

#pragma once
// The process-wide list of open stagings behind StagedFile::removeAllNow(),
// shared by StagedFile and StagedFolder. Safe from any thread.

#include <filesystem>

namespace fw::staging {

enum class Kind { file, folder };

// Lists `path` for removeAllNow(); returns its slot, or -1 when it cannot be
// listed (a path longer than PATH_MAX, or every slot taken).
int list(const std::filesystem::path& path, Kind kind);
// Takes the slot off the list (nothing for -1).
void unlist(int slot);

}  // namespace fw::staging

#pragma once
// The per-user folders: $XDG_DATA_HOME/Framewright holds the queue and history
// files (the application-support folder), $XDG_CONFIG_HOME/Framewright the
// user defaults. Both fall back to the XDG defaults under $HOME.

#include <filesystem>

namespace fw::xdg {

// Created on demand; a failure to create is ignored (callers then fail to
// write their file and keep empty state).
std::filesystem::path applicationSupportDirectory();
std::filesystem::path configDirectory();

// The bases themselves: $HOME, and $XDG_CONFIG_HOME (else ~/.config), not
// created. The shell writes the desktop's own files (autostart) there.
std::filesystem::path homeDirectory();
std::filesystem::path configHome();

}  // namespace fw::xdg

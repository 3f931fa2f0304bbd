#pragma once
// What the process arguments ask for, decided before any Qt object exists.

#include <filesystem>
#include <string>
#include <vector>

namespace fw::app {

// True when an argument after the program path is exactly "--encode"
// (whole argument, case-sensitive): the command-line runner takes over.
bool selectsCommandLine(const std::vector<std::string>& arguments);

// True when the window has somewhere to open: DISPLAY or WAYLAND_DISPLAY is
// set and not empty, or a Qt platform plug-in is named (QT_QPA_PLATFORM, or a
// "-platform" argument), which may need no display at all. Without any of
// these the windowing library would abort the process.
bool windowCanOpen(const std::vector<std::string>& arguments);

// What a windowed launch without a display prints before it exits with
// kNoDisplayStatus: the window needs a display, and "--encode" runs without.
std::string noDisplayMessage();
inline constexpr int kNoDisplayStatus = 2;

// The files a windowed launch was given (the arguments after the program path
// that are not options), made absolute against the current folder so that a
// first instance elsewhere can queue them.
std::vector<std::filesystem::path> filesToOpen(const std::vector<std::string>& arguments);

}  // namespace fw::app

#pragma once
// What the process arguments ask for, decided before any Qt object exists.

#include <filesystem>
#include <string>
#include <vector>

namespace fw::app {

// True when an argument after the program path is exactly "--encode"
// (whole argument, case-sensitive): the command-line runner takes over.
bool selectsCommandLine(const std::vector<std::string>& arguments);

// The files a windowed launch was given (the arguments after the program path
// that are not options), made absolute against the current folder so that a
// first instance elsewhere can queue them.
std::vector<std::filesystem::path> filesToOpen(const std::vector<std::string>& arguments);

}  // namespace fw::app

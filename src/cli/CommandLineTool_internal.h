#pragma once
// The decisions of one command-line encode that need no encoder: which
// output settings the options amount to. Kept apart from the run so they
// can be checked on their own.
// Thread-safety: pure functions.

#include "cli/CLIParser.h"
#include "model/ExportConfiguration.h"

#include <filesystem>
#include <string>

namespace fw::CommandLineTool::detail {

// The last component of a path as a user typed it; a trailing separator does
// not make it empty ("clips/" gives "clips").
std::string lastPathComponent(const std::filesystem::path& path);

// The output settings the options give, before resolvingAlpha(): the codec,
// ProRes always as 422 HQ, the crush (0.6 when not given), resizing into the
// "--size" box keeping the aspect ratio (off without one), 10-bit, DXV high
// quality, and the alpha flag for the DXV codecs only.
ExportConfiguration exportConfiguration(const CLIOptions& options);

}  // namespace fw::CommandLineTool::detail

#pragma once
// The decisions of one command-line encode that need no encoder: which
// output settings the options amount to. Kept apart from the run so they
// can be checked on their own.
// Thread-safety: pure functions.

#include "cli/CLIParser.h"
#include "model/ExportConfiguration.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace fw::CommandLineTool::detail {

// The last component of a path as a user typed it; a trailing separator does
// not make it empty ("clips/" gives "clips").
std::string lastPathComponent(const std::filesystem::path& path);

// `text` with its control characters written out ("\n", "\t", "\x1b",
// "\u0085"), so that one result line stays one line whatever a file's name
// holds. Everything else, invalid UTF-8 included, is kept as it is.
std::string escapedControls(std::string_view text);

// The output settings the options give, before resolvingAlpha(): the codec,
// ProRes always as 422 HQ, the crush (0.6 when not given), resizing into the
// "--size" box keeping the aspect ratio (off without one), 10-bit, DXV high
// quality, and the alpha flag for the DXV codecs only.
ExportConfiguration exportConfiguration(const CLIOptions& options);

}  // namespace fw::CommandLineTool::detail

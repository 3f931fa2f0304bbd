#pragma once
// The decisions of one command-line encode that need no encoder: where the
// output goes, what size is asked for, and what the movie path is handed.
// Kept apart from the run so they can be checked on their own.
// Thread-safety: pure functions.

#include "cli/CLIParser.h"
#include "model/OutputFormat.h"
#include "model/OutputSizing.h"

#include <filesystem>
#include <optional>
#include <string>

namespace fw::CommandLineTool::detail {

// The last component of a path as a user typed it; a trailing separator does
// not make it empty ("clips/" gives "clips").
std::string lastPathComponent(const std::filesystem::path& path);

// <folder>/<input name without extension>_<codec suffix>.<codec extension>,
// the folder being the output directory when given, else the input's own.
std::filesystem::path outputLocation(const std::filesystem::path& input, const CLIOptions& options);

// The size given with "--size", or 1920 × 1080 marked not explicit. A size that
// is not explicit only fills resize settings that stay switched off.
struct TargetSize {
    std::int64_t width = 1920;
    std::int64_t height = 1080;
    bool isExplicit = false;
};
TargetSize targetSize(const CLIOptions& options);

// What a movie encoder (platform, Hap or DXV) is handed for one input.
struct MoviePlan {
    IntSize outputSize;
    bool tenBit = false;
    // Only when a size was asked for or 10-bit is in force; otherwise frames
    // keep the source's size untouched.
    std::optional<FrameScaling> scaling;
    // Rate settings for the codecs with bit-rate controls, nullopt otherwise.
    std::optional<H264Settings> h264;
};

// sourceDisplaySize: the first video track's size after its display transform.
MoviePlan moviePlan(const CLIOptions& options, IntSize sourceDisplaySize);

// The writer settings for the platform path (ProRes always as 422 HQ);
// nullopt when the codec has none.
std::optional<VideoWriterSettings> movieWriterSettings(const CLIOptions& options, const MoviePlan& plan);

}  // namespace fw::CommandLineTool::detail

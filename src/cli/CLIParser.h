#pragma once
// The "--encode" command line: options and their parser.
//
// The parser only reads words: it touches no file, and whether an input
// exists is found out by the encoder that opens it. Relative paths are made
// absolute against the current working directory.
// Thread-safety: parse keeps no state and may be called from any thread.

#include "model/OutputFormat.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fw {

struct CLIOptions {
    std::vector<std::filesystem::path> inputs;  // absolute, in the order given
    OutputCodec codec = OutputCodec::h264;
    std::optional<std::filesystem::path> outputDirectory;  // absolute
    // Set together by "--size"; both at least 1.
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    std::optional<double> crush;  // 0.0 to 1.0 inclusive
    bool tenBit = false;
    bool alpha = false;
    bool dxvHighQuality = false;

    bool operator==(const CLIOptions&) const = default;
};

// A rejected command line; the message is shown to the user as it stands.
struct CLIError {
    std::string message;

    bool operator==(const CLIError&) const = default;
};

// Success carries the options, failure the first error met.
using CLIParseResult = std::variant<CLIOptions, CLIError>;

namespace CLIParser {

// Parses the whole process argument list, program path first (it is skipped).
// The first error ends the walk; later words are not looked at.
CLIParseResult parse(const std::vector<std::string>& arguments);

}  // namespace CLIParser

}  // namespace fw

#pragma once
// Sources that only the decode helper reads. The helper is a program of its
// own (fwdecode, built and installed beside framewright) that decodes a file
// with FFmpeg's full decoder set and hands back plain pictures and sound; see
// platform/core/DecodeHelperStream.h for its stream and DecodeHelperReader.h
// for reading one.
//
// Finding it: FW_DECODE_HELPER when it names an executable file, else
// "fwdecode" beside the running program, else there is none. Nothing is
// cached; every call looks again.
//
// The probe: `helper --probe <path>` prints one line, the frame size, rate,
// duration and two integers the helper keeps for itself, such as
// "1920x1080 25 12.48 0 0", and exits 0.
//
// Thread-safety: free functions without state; probe() blocks its caller
// until the helper has answered and exited, or the time limit has passed.

#include "platform/core/ChildProcess.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace fw::FFmpegSource {

struct ProbeInfo {
    std::int64_t width = 0;   // at least 1
    std::int64_t height = 0;  // at least 1
    double fps = 0;
    double duration = 0;  // seconds; 0 or less when unknown
    std::int64_t reserved1 = 0;
    std::int64_t reserved2 = 0;
};

constexpr std::chrono::milliseconds kDefaultTimeLimit{30000};

std::optional<std::filesystem::path> helperPath();
inline bool isAvailable() { return helperPath().has_value(); }

// The probe line's values: whitespace and newlines around it are dropped;
// fields are separated by one or more spaces (not tabs); exactly five fields,
// the first two decimal integers joined by "x", then two decimal numbers and
// two integers. Nothing when anything does not parse or a side is below 1.
std::optional<ProbeInfo> parseProbeLine(std::string_view text);

// Runs the helper's probe on `source`. Nothing on any failure: no helper, it
// cannot start, it exits other than 0, it says more than a line's worth, it
// takes longer than `timeLimit` by `clock` (it is then killed; see
// ChildProcess), or its line does not parse.
std::optional<ProbeInfo> probe(const std::filesystem::path& source,
                               std::chrono::milliseconds timeLimit = kDefaultTimeLimit,
                               const ChildProcess::Clock& clock = {});

}  // namespace fw::FFmpegSource

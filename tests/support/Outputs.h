#pragma once
// What the encoder and command-line tests read back from an encode: FFmpeg's decode of the output, the files written
// or kept, and the error the encode ended with.

#include "model/EncodingError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fw::test {

// The first `frames` pictures as FFmpeg decodes and shows them (display matrix applied), through the filter graph
// `filter` when one is given; empty when FFmpeg fails.
inline std::vector<std::uint8_t> decodedFrames(const std::filesystem::path& file, const std::string& pixelFormat,
                                               int frames = 1, const std::string& filter = "",
                                               const std::vector<std::string>& inputOptions = {}) {
    std::vector<std::string> argv{ffmpegTool(), "-v", "error", "-nostdin"};
    argv.insert(argv.end(), inputOptions.begin(), inputOptions.end());
    argv.insert(argv.end(), {"-i", file.string()});
    if (!filter.empty()) argv.insert(argv.end(), {"-vf", filter});
    argv.insert(argv.end(), {"-frames:v", std::to_string(frames), "-f", "rawvideo", "-pix_fmt", pixelFormat, "-"});
    const auto result = runCommand(argv);
    if (result.exitStatus != 0) return {};
    return {result.standardOutput.begin(), result.standardOutput.end()};
}

// The largest 16-bit magnitude in the file's first sound track as FFmpeg decodes it and mixes it to `channels`.
inline int soundPeak(const std::filesystem::path& file, int channels) {
    const std::string bytes = runCommand({ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-map", "0:a:0",
                                          "-ac", std::to_string(channels), "-f", "s16le", "-"})
                                  .standardOutput;
    std::vector<std::int16_t> words(bytes.size() / 2);
    std::memcpy(words.data(), bytes.data(), words.size() * 2);
    int peak = 0;
    for (const std::int16_t word : words) peak = std::max(peak, std::abs(int{word}));
    return peak;
}

inline void writeFile(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string textOf(const std::filesystem::path& file) {
    const auto bytes = readFile(file);
    return {bytes.begin(), bytes.end()};
}

// Where decoding stopped, as a failure `message` that begins with `head` and ends with `tail` states it; -1 when it
// says anything else.
inline double stoppedBetween(const std::string& message, const std::string& head, const std::string& tail) {
    double seconds = -1;
    if (message.starts_with(head) && message.ends_with(tail))
        std::from_chars(message.data() + head.size(), message.data() + message.size(), seconds);
    return seconds;
}

// Where decoding stopped, as the failure `message` that `name` ends early short of its `length` ("20.0" s) states it,
// `before` and `after` the message (the command line's mark and name, its newline); -1 when it says anything else.
inline double stoppedAt(const std::string& message, const std::string& name, const std::string& length,
                        const std::string& before = "", const std::string& after = "") {
    return stoppedBetween(message,
                          before + "Reading failed: The file \u201c" + name + "\u201d ends early. Decoding stopped at ",
                          "s of " + length + "s \u2014 the source file may be damaged or truncated." + after);
}

// The same for a file whose last packet showed the cut: FFmpeg, which knew its length, took it for damage.
inline double stoppedAtDamage(const std::string& message, const std::string& name, const std::string& length,
                              const std::string& before = "", const std::string& after = "") {
    return stoppedBetween(
        message,
        before + "Reading failed: The file \u201c" + name + "\u201d is damaged or truncated. Decoding stopped at ",
        "s of " + length + "s." + after);
}

inline std::ptrdiff_t entriesIn(const std::filesystem::path& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
}

struct Failure {
    EncodingError::Kind kind;
    std::string message;
};

// How `encode` failed; a failed test (and no message) when it did not.
template <class Encode>
Failure failureOf(Encode&& encode) {
    try {
        encode();
    } catch (const EncodingError& error) {
        return {error.kind(), error.what()};
    }
    ADD_FAILURE() << "the encode succeeded";
    return {EncodingError::Kind::unsupportedCodec, ""};
}

}  // namespace fw::test

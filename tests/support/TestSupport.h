#pragma once
// Helpers shared by the tests: scratch folders, running tools, generating
// small media with the ffmpeg tool and reading it back with ffprobe.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fw::test {

// A fresh folder under the system temp directory, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int exitStatus = -1;  // -1 when the process could not run or was killed
    std::string standardOutput;
    std::string standardError;
    // The largest resident set of the process and the children it waited for.
    long peakResidentKilobytes = 0;
};

// Runs argv[0] (searched on PATH) with the arguments, no shell involved;
// `whileRunning` gets the process id once it has started.
CommandResult runCommand(const std::vector<std::string>& argv, const std::function<void(int)>& whileRunning = {});

// Runs the ffmpeg tool quietly with the given arguments ("-y" added), the output
// named last and encoded on one thread, so that it is the same on any machine;
// fails the current test (ADD_FAILURE) and returns false when it exits non-zero.
bool ffmpeg(const std::vector<std::string>& arguments);

// ffprobe -show_streams -show_format -print_format json on the file; empty string on failure.
std::string ffprobeJson(const std::filesystem::path& file, const std::vector<std::string>& extra = {});

// Makes `name` once per test program and set of ffmpeg arguments (the output
// path appended), in a folder that lives as long as the program; empty on failure.
std::filesystem::path generated(const std::string& name, const std::vector<std::string>& arguments);

// ffmpeg's decode of the input's first `frames` pictures (or its first sound
// track, for an "s16le"-style format) as raw bytes; empty on failure.
std::vector<std::uint8_t> ffmpegRaw(const std::filesystem::path& input, const std::string& pixelFormat, int frames = 1);

std::vector<std::uint8_t> readFile(const std::filesystem::path& file);
// The file's bytes as text; empty when it cannot be read.
std::string readText(const std::filesystem::path& file);

// A JPEG file's bytes with an APP1 segment holding EXIF with one orientation
// entry (1...8), in either byte order, inserted after the start-of-image marker.
std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg, int orientation, bool bigEndian);

// Peak signal-to-noise ratio in dB of 8-bit samples; 99 when nothing differs.
double psnrFromSquaredError(double squaredErrorSum, std::size_t count);

// PSNR over the first `channels` bytes of every 4-byte pixel of two images.
double psnr(const std::uint8_t* a, std::size_t aStride, const std::uint8_t* b, std::size_t bStride, int width,
            int height, int channels);

std::string ffmpegTool();
std::string ffprobeTool();

}  // namespace fw::test

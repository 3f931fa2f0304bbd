#pragma once
// Helpers shared by the tests: scratch folders, running tools, generating
// small media with the ffmpeg tool and reading it back with ffprobe.

#include <filesystem>
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
};

// Runs argv[0] (searched on PATH) with the arguments, no shell involved.
CommandResult runCommand(const std::vector<std::string>& argv);

// Runs the ffmpeg tool quietly with the given arguments ("-y" added); fails the
// current test (ADD_FAILURE) and returns false when it exits non-zero.
bool ffmpeg(const std::vector<std::string>& arguments);

// ffprobe -show_streams -show_format -print_format json on the file; empty string on failure.
std::string ffprobeJson(const std::filesystem::path& file, const std::vector<std::string>& extra = {});

std::string ffmpegTool();
std::string ffprobeTool();
std::filesystem::path sourceDirectory();

}  // namespace fw::test

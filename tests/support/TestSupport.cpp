#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>

extern char** environ;

namespace fw::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "fwtest-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::function<void(int)>& whileRunning) {
    CommandResult result;
    // The child writes into memory files read once it has ended, so no full pipe can stall it.
    const int out = ::memfd_create("stdout", MFD_CLOEXEC), err = ::memfd_create("stderr", MFD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const bool spawned =
        out >= 0 && err >= 0 && ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (spawned && whileRunning) whileRunning(pid);
    int status = 0;
    struct rusage usage {};
    while (spawned && ::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
    result.peakResidentKilobytes = usage.ru_maxrss;
    for (auto [fd, sink] : {std::pair{out, &result.standardOutput}, {err, &result.standardError}}) {
        char buffer[65536];
        for (ssize_t n; spawned && (n = ::pread(fd, buffer, sizeof buffer, off_t(sink->size()))) > 0;)
            sink->append(buffer, static_cast<std::size_t>(n));
        if (fd >= 0) ::close(fd);
    }
    if (!spawned)
        result.standardError = "cannot run " + argv[0];
    else
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ffmpegTool() { return FW_FFMPEG_TOOL[0] ? FW_FFMPEG_TOOL : "ffmpeg"; }
std::string ffprobeTool() { return FW_FFPROBE_TOOL[0] ? FW_FFPROBE_TOOL : "ffprobe"; }

bool ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{ffmpegTool(), "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // An encoder that shares its work among threads (x264's frame threads) stores other bytes on a machine with
    // another number of cores, and what a test reads of its media must be there on every machine: one thread for
    // the output, which is named last.
    if (!arguments.empty()) argv.insert(argv.end() - 1, {"-threads", "1"});
    // x264's vector code rounds otherwise than its plain code, and differently from one processor to the next: its
    // plain code alone stores the same bytes everywhere.
    if (std::find(arguments.begin(), arguments.end(), "libx264") != arguments.end()) {
        const auto params = std::find(argv.begin(), argv.end(), "-x264-params");
        if (params != argv.end() && params + 1 != argv.end())
            params[1] += ":asm=0";
        else
            argv.insert(argv.end() - 1, {"-x264-params", "asm=0"});
    }
    auto result = runCommand(argv);
    if (result.exitStatus != 0) {
        ADD_FAILURE() << "ffmpeg failed (" << result.exitStatus << "): " << result.standardError;
        return false;
    }
    return true;
}

std::string ffprobeJson(const fs::path& file, const std::vector<std::string>& extra) {
    std::vector<std::string> argv{ffprobeTool(),   "-v",          "error", "-print_format", "json",
                                  "-show_streams", "-show_format"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(file.string());
    auto result = runCommand(argv);
    return result.exitStatus == 0 ? result.standardOutput : std::string();
}

fs::path generated(const std::string& name, const std::vector<std::string>& arguments) {
    static TempDir folder;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    // Two tests may give one name to different media: the arguments pick the folder.
    std::string joined;
    for (const std::string& argument : arguments) joined.append(argument).push_back('\0');
    const fs::path path = folder / std::to_string(std::hash<std::string>{}(joined)) / name;
    fs::create_directories(path.parent_path());
    if (!fs::exists(path)) {
        auto all = arguments;
        all.push_back(path.string());
        if (!ffmpeg(all)) return {};
    }
    return path;
}

std::vector<std::uint8_t> ffmpegRaw(const fs::path& input, const std::string& format, int frames) {
    const bool sound = format.rfind("s16", 0) == 0 || format.rfind("f32", 0) == 0;
    std::vector<std::string> argv{ffmpegTool(), "-v", "error", "-nostdin", "-i", input.string()};
    if (sound)
        argv.insert(argv.end(), {"-map", "0:a:0", "-f", format});
    else
        argv.insert(argv.end(), {"-frames:v", std::to_string(frames), "-f", "rawvideo", "-pix_fmt", format});
    argv.push_back("-");
    auto result = runCommand(argv);
    if (result.exitStatus != 0) ADD_FAILURE() << "ffmpeg could not decode " << input << ": " << result.standardError;
    return {result.standardOutput.begin(), result.standardOutput.end()};
}

std::vector<std::uint8_t> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg, int orientation, bool bigEndian) {
    std::vector<std::uint8_t> segment{0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    // A TIFF header and one IFD entry: tag 274 (orientation), type SHORT, count 1.
    auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
            segment.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    };
    segment.push_back(bigEndian ? 'M' : 'I');
    segment.push_back(bigEndian ? 'M' : 'I');
    put(42, 2), put(8, 4), put(1, 2), put(274, 2), put(3, 2), put(1, 4), put(std::uint32_t(orientation), 2);
    put(0, 2), put(0, 4);
    segment[2] = std::uint8_t((segment.size() - 2) >> 8), segment[3] = std::uint8_t(segment.size() - 2);
    std::vector<std::uint8_t> out;
    out.reserve(jpeg.size() + segment.size());
    out.insert(out.end(), jpeg.begin(), jpeg.begin() + std::min<std::size_t>(jpeg.size(), 2));
    out.insert(out.end(), segment.begin(), segment.end());
    if (jpeg.size() > 2) out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

double psnrFromSquaredError(double squaredErrorSum, std::size_t count) {
    if (squaredErrorSum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / squaredErrorSum);
}

double psnr(const std::uint8_t* a, std::size_t aStride, const std::uint8_t* b, std::size_t bStride, int width,
            int height, int channels) {
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                const double d = double(a[y * aStride + 4 * x + c]) - double(b[y * bStride + 4 * x + c]);
                sum += d * d;
            }
    return psnrFromSquaredError(sum, static_cast<std::size_t>(width) * height * channels);
}

}  // namespace fw::test

#pragma once
// Shared by the benchmarks that compare us with the ffmpeg tool: a scratch
// folder for the run, the tool's command lines, CPU time, the machine's load,
// and a main() that clears up.
// REQUIRES: FW_FFMPEG_TOOL defined (empty: the ffmpeg on PATH).

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace fw::bench {

// User plus system CPU seconds of this process (RUSAGE_SELF) or of its
// finished children (RUSAGE_CHILDREN).
inline double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The machine's one-minute load average, to print beside a figure; 0 when unknown.
inline double loadAverage() {
    double load[1] = {};
    return getloadavg(load, 1) == 1 ? load[0] : 0.0;
}

// This run's folder, made on first use and removed by benchmarkMain.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path path = [] {
        auto p = std::filesystem::temp_directory_path() / ("fw-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p;
    }();
    return path;
}

// The ffmpeg tool's command line: quiet, overwriting, then `arguments`.
inline std::string toolCommand(const std::string& arguments) {
    return std::string(FW_FFMPEG_TOOL[0] ? FW_FFMPEG_TOOL : "ffmpeg") + " -loglevel error -y " + arguments;
}

// The command line that encodes `source` with `arguments` into `name` in the scratch folder.
inline std::string toolTranscodeCommand(const std::filesystem::path& source, const std::string& arguments,
                                        const std::string& name) {
    return toolCommand("-i '" + source.string() + "' " + arguments + " '" + (scratchFolder() / name).string() + "'");
}

// Runs `command`; a benchmark without its source media cannot go on.
inline void runOrAbort(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::abort();
}

// Starts `argv` with no input and its output discarded; its process id.
inline pid_t spawnQuietly(const std::vector<std::string>& argv) {
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) std::abort();
    return child;
}

inline int benchmarkMain(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
    return 0;
}

}  // namespace fw::bench

// How fast a stop from outside ends a large encode: the seconds from SIGTERM (one signal), and from Ctrl-C followed
// at once by SIGTERM (two signals), to the end of `framewright --encode` on a 6 s 3840x2160 clip to H.264 and HEVC,
// signalled two seconds after the staged output has appeared, when the encoder holds dozens of 4K frames in its
// look-ahead. Target: the program ends within a second of the signal on an idle machine; the load average is printed
// beside each figure (load), since a busy machine stretches it.

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace fw;
using Clock = std::chrono::steady_clock;

// Long enough that no encode of it ends by itself before the signal; made once.
const fs::path& source() {
    static const fs::path path = [] {
        const fs::path p = bench::scratchFolder() / "stop-4k-6s.mp4";
        bench::runOrAbort(bench::toolCommand(
            "-f lavfi -i testsrc2=size=3840x2160:rate=30:duration=6 -f lavfi -i sine=frequency=440:duration=6 "
            "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest '" +
            p.string() + "'"));
        return p;
    }();
    return path;
}

// Where the program writes, emptied before each run.
fs::path outputsFolder() { return bench::scratchFolder() / "outputs"; }

// Starts the encode with its output discarded; its process id.
pid_t startEncode(const std::string& codec) {
    return bench::spawnQuietly(
        {FW_PROGRAM, "--encode", "--codec", codec, "--output", outputsFolder().string(), source().string()});
}

// Seconds from the first of `signals` to the program's end; each run is checked to have ended with the last signal's
// status and to have left nothing behind, so that a figure never comes from an encode that finished or failed.
void BM_Stop(benchmark::State& state, std::string codec, std::vector<int> signals) {
    source();
    double total = 0;
    for (auto _ : state) {
        fs::remove_all(outputsFolder());
        fs::create_directories(outputsFolder());
        const pid_t program = startEncode(codec);
        for (int waited_ms = 0; fs::is_empty(outputsFolder()) && waited_ms < 30000; waited_ms += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const auto signalled = Clock::now();
        for (int signal : signals) ::kill(program, signal);
        int status = 0;
        while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {}
        const double seconds = std::chrono::duration<double>(Clock::now() - signalled).count();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 128 + signals.back()) {
            state.SkipWithError("the program did not end with the signal's status");
            break;
        }
        if (!fs::is_empty(outputsFolder())) {
            state.SkipWithError("the stopped encode left a file behind");
            break;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    if (state.iterations() > 0) state.counters["stop_s"] = total / static_cast<double>(state.iterations());
    state.counters["load"] = bench::loadAverage();
}

using Signals = std::vector<int>;

// One stop per repetition: run with --benchmark_repetitions=N for a spread.
#define FW_ONE_STOP(bench) bench->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)

FW_ONE_STOP(BENCHMARK_CAPTURE(BM_Stop, H264_SIGTERM, "h264", Signals{SIGTERM}));
FW_ONE_STOP(BENCHMARK_CAPTURE(BM_Stop, HEVC_SIGTERM, "hevc", Signals{SIGTERM}));
FW_ONE_STOP(BENCHMARK_CAPTURE(BM_Stop, H264_SIGINT_SIGTERM, "h264", Signals{SIGINT, SIGTERM}));
FW_ONE_STOP(BENCHMARK_CAPTURE(BM_Stop, HEVC_SIGINT_SIGTERM, "hevc", Signals{SIGINT, SIGTERM}));

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

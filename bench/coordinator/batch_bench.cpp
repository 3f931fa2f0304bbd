// A batch of eight 1080p30 sources (testsrc2 with a 1 kHz tone, H.264 with AAC)
// encoded to H.264 and to Hap Q by the coordinator with 1, 2, 4 and all cores'
// parallel jobs, beside the ffmpeg tool running the same eight jobs through
// `xargs -P` at the same parallelism (libx264 at our output's measured bit rate
// and key-frame interval with AAC; Hap Q with its snappy default and PCM).
// Reports each batch's wall time, the throughput ratio (ours / tool), the
// main thread's longest stall during our batch, measured by a 5 ms timer (a
// finer one would itself keep the main thread busy enough to be made to wait), and
// the CPU seconds each side spent (less noisy than wall time on a busy
// machine) with the main thread's own share: a long stall with little main
// thread CPU is time spent waiting for a core, not work.
// Targets: throughput ratio >= 0.95 at every setting at no more than 1.02x the
// tool's CPU time (cpu_ratio, ours / tool); longest stall <= 20 ms.
//
// Each row also gives the machine's one-minute load when the row ended.
//
// Usage: bench_batch_bench [seconds per source] [source count, default 8]
//                          [codec: H.264 or Hap-Q, default both] [parallel jobs, default 1, 2, 4, all]
// The sources last 3 s unless the first argument or FW_BATCH_SECONDS says
// otherwise; the target's figure is taken with 10 s sources on a quiet machine.

#include "coordinator/EncoderBackend.h"
#include "coordinator/EncodingCoordinator.h"
#include "model/OutputFormat.h"
#include "platform/core/CoreCount.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace fw;
using Clock = std::chrono::steady_clock;

int numberOr(const char* text, int fallback) {
    if (text == nullptr) return fallback;
    int value = fallback;
    std::from_chars(text, text + std::char_traits<char>::length(text), value);
    return value;
}

int argumentOr(int argc, char** argv, int index, int fallback) {
    return argc <= index ? fallback : numberOr(argv[index], fallback);
}

// The one-minute load average, as uptime gives it.
std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string load;
    file >> load;
    return load.empty() ? "?" : load;
}

std::string probeField(const fs::path& file, const std::string& field) {
    const std::string command = std::string(FW_FFPROBE_TOOL[0] ? FW_FFPROBE_TOOL : "ffprobe") +
                                " -v error -select_streams v:0 -show_entries stream=" + field +
                                " -of default=nw=1:nk=1 '" + file.string() + "'";
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
        ::pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

struct Result {
    double seconds = 0;
    double longestStallMs = 0;
    double cpuSeconds = 0;
    double mainThreadCpuMs = 0;
};

double threadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Result runOurs(const std::vector<fs::path>& sources, OutputCodec codec, int parallel, const fs::path& out) {
    fs::create_directories(out);
    // The engine's encoders on every core, the run's stores in its own folder.
    CoordinatorServices services;
    services.queue = std::make_shared<FolderQueueStore>(out);
    services.encoders = std::make_shared<EngineEncoderBackend>();
    services.coreCount = usableCoreCount();
    UserDefaults defaults(out / "defaults.json");
    services.userDefaults = &defaults;
    EncodingCoordinator coordinator(services, EncodingCoordinator::Restore::no);
    coordinator.setNotifyOnCompletion(false);
    coordinator.setOutputDirectory(out);
    coordinator.setSelectedCodec(codec);
    coordinator.setMaxConcurrentJobs(parallel);
    coordinator.addFiles(sources, EncodingCoordinator::Duplicates::allowed);

    Result result;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    constexpr int kTickMs = 5;
    tick.setInterval(kTickMs);
    auto last = Clock::now();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        result.longestStallMs =
            std::max(result.longestStallMs, std::chrono::duration<double, std::milli>(now - last).count() - kTickMs);
        last = now;
    });
    QObject::connect(&coordinator, &EncodingCoordinator::batchFinished, [] { QCoreApplication::exit(0); });
    const auto start = Clock::now();
    const double cpuStart = bench::cpuSeconds(RUSAGE_SELF);
    const double mainStart = threadCpuSeconds();
    tick.start();
    coordinator.startEncoding();
    last = Clock::now();
    QCoreApplication::exec();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.cpuSeconds = bench::cpuSeconds(RUSAGE_SELF) - cpuStart;
    result.mainThreadCpuMs = 1000 * (threadCpuSeconds() - mainStart);
    return result;
}

struct ToolResult {
    double seconds = 0;
    double cpuSeconds = 0;
};

ToolResult runTool(const std::vector<fs::path>& sources, const std::string& arguments, const std::string& extension,
                   int parallel, const fs::path& out) {
    fs::create_directories(out);
    const fs::path list = out / "inputs.txt";
    {
        std::ofstream file(list);
        for (const auto& source : sources) file << source.string() << '\n';
    }
    const std::string tool = std::string(FW_FFMPEG_TOOL[0] ? FW_FFMPEG_TOOL : "ffmpeg");
    const std::string command = "xargs -P " + std::to_string(parallel) + " -I{} sh -c '" + tool +
                                " -loglevel error -y -i \"$1\" " + arguments + " \"" + out.string() +
                                "/$(basename \"$1\").tool." + extension + "\"' _ {} < '" + list.string() + "'";
    const auto start = Clock::now();
    const double cpuStart = bench::cpuSeconds(RUSAGE_CHILDREN);
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "tool batch failed\n");
    return {std::chrono::duration<double>(Clock::now() - start).count(), bench::cpuSeconds(RUSAGE_CHILDREN) - cpuStart};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // Short by default, to keep a run on a shared machine brief.
    const int seconds = argumentOr(argc, argv, 1, numberOr(std::getenv("FW_BATCH_SECONDS"), 3));
    const int count = argumentOr(argc, argv, 2, 8);
    const fs::path folder = bench::scratchFolder();
    std::vector<fs::path> sources;
    for (int index = 0; index < count; ++index) {
        const fs::path source = folder / ("source" + std::to_string(index) + ".mp4");
        bench::runOrAbort(bench::toolCommand(
            "-f lavfi -i testsrc2=size=1920x1080:rate=30:duration=" + std::to_string(seconds) +
            " -f lavfi -i sine=frequency=1000:duration=" + std::to_string(seconds) + ":sample_rate=48000" +
            " -vf hue=h=" + std::to_string(index * 40) +
            " -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -ac 2 -shortest '" + source.string() + "'"));
        sources.push_back(source);
    }
    const int cores = usableCoreCount();
    std::vector<int> settings{1, 2, 4};
    if (cores != 1 && cores != 2 && cores != 4) settings.push_back(cores);
    if (const int only = argumentOr(argc, argv, 4, 0); only > 0) settings = {only};
    std::vector<OutputCodec> codecs{OutputCodec::h264, OutputCodec::hapQ};
    if (argc > 3)
        if (const auto only = outputCodecFromRawValue(argv[3])) codecs = {*only};

    std::printf("%d sources of %d s, %d usable cores\n", count, seconds, usableCoreCount());
    std::printf("%-6s %8s %10s %10s %8s %10s %10s %10s %10s %10s %6s\n", "codec", "parallel", "ours_s", "tool_s",
                "ratio", "stall_ms", "ours_cpu_s", "tool_cpu_s", "cpu_ratio", "main_cpu_ms", "load");
    for (const OutputCodec codec : codecs) {
        for (const int parallel : settings) {
            const fs::path ours = folder / ("ours-" + std::to_string(parallel) + std::string(rawValue(codec)));
            const Result result = runOurs(sources, codec, parallel, ours);
            std::string arguments;
            std::string extension = "mov";
            if (codec == OutputCodec::h264) {
                // The same encoder and rate control as our writer's output.
                fs::path sample;
                for (const auto& entry : fs::directory_iterator(ours))
                    if (entry.path().extension() == ".mp4") sample = entry.path();
                const std::string rate = probeField(sample, "bit_rate");
                arguments = "-c:v libx264 -b:v " + (rate.empty() ? std::string("12000000") : rate) + " -g " +
                            std::to_string(H264Settings{}.maxKeyFrameInterval) +
                            " -pix_fmt yuv420p -c:a aac -b:a 256k -ar 48000";
                extension = "mp4";
            } else {
                arguments = "-c:v hap -format hap_q -c:a pcm_s16le";
            }
            const ToolResult tool =
                runTool(sources, arguments, extension, parallel, folder / ("tool-" + std::to_string(parallel)));
            std::printf("%-6s %8d %10.2f %10.2f %8.2f %10.1f %10.1f %10.1f %10.2f %10.1f %6s\n",
                        std::string(rawValue(codec)).c_str(), parallel, result.seconds, tool.seconds,
                        tool.seconds / result.seconds, result.longestStallMs, result.cpuSeconds, tool.cpuSeconds,
                        result.cpuSeconds / tool.cpuSeconds, result.mainThreadCpuMs, loadAverage().c_str());
            std::fflush(stdout);
            std::error_code ignored;
            fs::remove_all(ours, ignored);
            fs::remove_all(folder / ("tool-" + std::to_string(parallel)), ignored);
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}

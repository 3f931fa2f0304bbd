// A 300-frame PNG sequence from a 1080p29.97 H.264 clip with grain and motion:
// through ImageExportEncoder and through the ffmpeg tool (-c:v png to an image
// sequence) in the same run. Target: our wall time at or below the tool's.
// The bytes written are reported beside the times (bytes_per_frame).

#include "encoders/ImageExportEncoder.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace fw;

constexpr int kFrames = 300;

const fs::path& source() {
    static const fs::path path = [] {
        fs::path p = bench::scratchFolder() / "clip.mp4";
        bench::runOrAbort(bench::toolCommand(
            "-f lavfi -i 'testsrc2=s=1920x1080:r=30000/1001,noise=alls=8:allf=t+u' -frames:v " +
            std::to_string(kFrames) + " -c:v libx264 -crf 16 -pix_fmt yuv420p '" + p.string() + "'"));
        return p;
    }();
    return path;
}

double folderBytes(const fs::path& folder) {
    double bytes = 0;
    for (const auto& entry : fs::directory_iterator(folder)) bytes += static_cast<double>(entry.file_size());
    return bytes;
}

// Wall time is the target; CPU seconds and bytes per frame are reported beside it.
template <class Body>
void measure(benchmark::State& state, int who, const fs::path& folder, Body body) {
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        fs::create_directories(folder);
        state.ResumeTiming();
        const double before = bench::cpuSeconds(who);
        body();
        cpu += bench::cpuSeconds(who) - before;
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["cpu_s"] = benchmark::Counter(cpu / static_cast<double>(state.iterations()));
    state.counters["bytes_per_frame"] = benchmark::Counter(folderBytes(folder) / kFrames);
}

void BM_EncoderPNGSequence(benchmark::State& state) {
    const fs::path folder = bench::scratchFolder() / "encoder";
    ImageExportEncoder encoder;
    encoder.request.codec = OutputCodec::png;
    encoder.asSequence = true;
    measure(state, RUSAGE_SELF, folder, [&] { encoder.encode(source(), folder, {}, {}); });
}

void BM_ToolPNGSequence(benchmark::State& state) {
    const fs::path folder = bench::scratchFolder() / "tool";
    const std::string command =
        bench::toolCommand("-i '" + source().string() + "' -c:v png '" + (folder / "clip_%05d.png").string() + "'");
    measure(state, RUSAGE_CHILDREN, folder, [&] { bench::runOrAbort(command); });
}

BENCHMARK(BM_EncoderPNGSequence)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_ToolPNGSequence)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

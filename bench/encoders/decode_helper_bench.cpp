// A 1080p25, 3 s source (H.264 with grain and motion, AAC stereo) to ProRes
// 422 HQ two ways in the same run: read directly by the media layer
// (MovieEncoder) and streamed through the fwdecode helper (FFmpegClipEncoder),
// which adds a process, a pipe carrying 8 MB a picture and a conversion to
// BGRA and back. Each starts from the source as an output plan hands it over
// (the asset opened, the helper's probe taken).
//
// BM_HelperOverDirect runs the two as alternating pairs (the order swapped
// each pair, so drift in the machine's load falls on both) and reports
// `ratio`, the helper path's wall time over the direct path's summed over the
// pairs (target: at most 1.10), and `cpu_ratio`, the same for CPU time with
// the helper process's own counted in. The two single benchmarks time each
// path alone.

#include "encoders/FFmpegClipEncoder.h"
#include "pipeline/MovieEncoder.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using namespace fw;

constexpr int kFrames = 75;

const fs::path& source() {
    static const fs::path path = [] {
        fs::path p = bench::scratchFolder() / "source.mp4";
        bench::runOrAbort(bench::toolCommand(
            "-f lavfi -i 'testsrc2=s=1920x1080:r=25:d=3,noise=alls=12:allf=t+u' "
            "-f lavfi -i 'sine=frequency=440:sample_rate=48000:duration=3' -ac 2 -c:v libx264 -crf 16 "
            "-pix_fmt yuv420p -c:a aac -b:a 192k -shortest '" +
            p.string() + "'"));
        return p;
    }();
    return path;
}

VideoWriterSettings proResHQ() {
    return *videoSettings(OutputCodec::proRes, 1920, 1080, ProResVariant::hq, std::nullopt, std::nullopt);
}

// Each path starts from a source already looked at, as an output plan hands it
// over: the direct one from the opened asset, the helper one from its probe.
void encodeDirect() {
    static const auto asset = media::Asset::open(source());
    MovieEncoder encoder;
    encoder.videoSettings = proResHQ();
    encoder.encode(asset, bench::scratchFolder() / "direct.mov", {}, {});
}

void encodeThroughHelper() {
    static const FFmpegSource::ProbeInfo probe = [] {
        ::setenv("FW_DECODE_HELPER", FW_DECODE_HELPER_PROGRAM, 1);
        const auto probed = FFmpegSource::probe(source());
        if (!probed) std::abort();
        return *probed;
    }();
    FFmpegClipRequest request;
    request.videoSettings = proResHQ();
    FFmpegClipEncoder(request).encode(source(), probe, bench::scratchFolder() / "helper.mov", {}, {});
}

// Wall and CPU seconds of one run; the helper's CPU is a finished child's.
struct Cost {
    double wall = 0, cpu = 0;
};

template <class Body>
Cost measured(Body body) {
    const double cpuBefore = bench::cpuSeconds(RUSAGE_SELF) + bench::cpuSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), bench::cpuSeconds(RUSAGE_SELF) + bench::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
}

void BM_DirectProResHQ(benchmark::State& state) {
    source();
    for (auto _ : state) encodeDirect();
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_HelperProResHQ(benchmark::State& state) {
    source();
    for (auto _ : state) encodeThroughHelper();
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_HelperOverDirect(benchmark::State& state) {
    source();
    Cost direct, helper;
    bool directFirst = true;
    for (auto _ : state) {
        const auto add = [](Cost& total, Cost one) {
            total.wall += one.wall;
            total.cpu += one.cpu;
        };
        if (directFirst) add(direct, measured(encodeDirect));
        add(helper, measured(encodeThroughHelper));
        if (!directFirst) add(direct, measured(encodeDirect));
        directFirst = !directFirst;
    }
    const auto pairs = static_cast<double>(state.iterations());
    state.counters["direct_s"] = benchmark::Counter(direct.wall / pairs);
    state.counters["helper_s"] = benchmark::Counter(helper.wall / pairs);
    state.counters["direct_cpu_s"] = benchmark::Counter(direct.cpu / pairs);
    state.counters["helper_cpu_s"] = benchmark::Counter(helper.cpu / pairs);
    state.counters["ratio"] = benchmark::Counter(helper.wall / direct.wall);
    state.counters["cpu_ratio"] = benchmark::Counter(helper.cpu / direct.cpu);
}

BENCHMARK(BM_DirectProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_HelperProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_HelperOverDirect)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

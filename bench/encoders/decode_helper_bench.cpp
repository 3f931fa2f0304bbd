// A 1080p25, 3 s source (H.264 with grain and motion, AAC stereo) to ProRes
// 422 HQ two ways in the same run: read directly by the media layer
// (MovieEncoder) and streamed through the fwdecode helper (FFmpegClipEncoder),
// which adds a process, a pipe carrying 8 MB a picture and one copy of each.
// Target: the helper path within 1.10× the direct path's wall time.

#include "encoders/FFmpegClipEncoder.h"
#include "pipeline/MovieEncoder.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

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

void BM_DirectProResHQ(benchmark::State& state) {
    const auto asset = media::Asset::open(source());
    MovieEncoder encoder;
    encoder.videoSettings = proResHQ();
    for (auto _ : state) encoder.encode(asset, bench::scratchFolder() / "direct.mov", {}, {});
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_HelperProResHQ(benchmark::State& state) {
    ::setenv("FW_DECODE_HELPER", FW_DECODE_HELPER_PROGRAM, 1);
    FFmpegClipRequest request;
    request.videoSettings = proResHQ();
    const FFmpegClipEncoder encoder(request);
    for (auto _ : state) encoder.encode(source(), bench::scratchFolder() / "helper.mov", {}, {});
    state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_DirectProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_HelperProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

// The movie encoder end to end on a 1080p29.97, 3 s source with grain and
// motion (H.264 with AAC stereo): to ProRes 422 HQ (QuickTime, 16-bit PCM) and
// to H.264 (MPEG-4, AAC 256 kbit/s) through MovieEncoder, and through the
// ffmpeg tool with the same encoder settings in the same run. The encoder's
// extra work is the BGRA step between decoder and encoder; the time ratio
// (MovieEncoder / tool) should stay at or below 1.10. The 10-bit path (x420
// pictures between decoder and encoder) to ProRes 422 HQ, from the same source
// and from a 10-bit 4:2:2 one, should stay within 1.25 of the tool.

#include "pipeline/MovieEncoder.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace fw;

constexpr int kFrames = 90;

// The test picture with grain and a tone, coded with `coding` into `name`.
fs::path makeSource(const std::string& name, const std::string& coding) {
    fs::path p = bench::scratchFolder() / name;
    bench::runOrAbort(
        bench::toolCommand("-f lavfi -i 'testsrc2=s=1920x1080:r=30000/1001:d=3,noise=alls=12:allf=t+u' "
                           "-f lavfi -i 'sine=frequency=440:sample_rate=48000:duration=3' -ac 2 " +
                           coding + " -shortest '" + p.string() + "'"));
    return p;
}

const fs::path& source() {
    static const fs::path path = makeSource("source.mp4", "-c:v libx264 -crf 16 -pix_fmt yuv420p -c:a aac -b:a 192k");
    return path;
}

const fs::path& tenBitSource() {
    static const fs::path path =
        makeSource("source10.mov", "-c:v prores_ks -profile:v hq -pix_fmt yuv422p10le -c:a pcm_s16le");
    return path;
}

// Wall time is what the target is about; CPU time per run is reported beside
// it because it is steadier on a machine shared with other work.
template <class Body>
void measure(benchmark::State& state, int who, Body body) {
    double cpu = 0;
    for (auto _ : state) {
        const double before = bench::cpuSeconds(who);
        body();
        cpu += bench::cpuSeconds(who) - before;
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["cpu_s"] = benchmark::Counter(cpu / static_cast<double>(state.iterations()));
}

MovieEncoder encoderFor(OutputCodec codec) {
    MovieEncoder encoder;
    encoder.videoSettings = *videoSettings(codec, 1920, 1080, ProResVariant::hq, H264Settings{}, std::nullopt);
    encoder.fileType = fileType(codec);
    return encoder;
}

void throughEncoder(benchmark::State& state, OutputCodec codec, const char* name, bool tenBit = false,
                    const fs::path& from = source()) {
    const auto asset = media::Asset::open(from);
    MovieEncoder encoder = encoderFor(codec);
    if (tenBit) {
        FrameScaling scaling;
        scaling.width = 1920;
        scaling.height = 1080;
        scaling.tenBit = true;
        encoder.scaling = scaling;
    }
    measure(state, RUSAGE_SELF, [&] { encoder.encode(asset, bench::scratchFolder() / name, {}, {}); });
}

void throughTool(benchmark::State& state, const std::string& arguments, const char* name,
                 const fs::path& from = source()) {
    const std::string command = bench::toolTranscodeCommand(from, arguments, name);
    measure(state, RUSAGE_CHILDREN, [&] { bench::runOrAbort(command); });
}

void BM_EncoderProResHQ(benchmark::State& state) { throughEncoder(state, OutputCodec::proRes, "encoder.mov"); }
void BM_ToolProResHQ(benchmark::State& state) {
    // What the writer asks prores_ks for: profile HQ at quantiser 7.
    throughTool(state,
                "-c:v prores_ks -profile:v hq -qscale:v 7 -vendor apl0 -pix_fmt yuv422p10le "
                "-c:a pcm_s16le -ar 48000 -ac 2",
                "tool.mov");
}

void BM_EncoderProResHQTenBit(benchmark::State& state) {
    throughEncoder(state, OutputCodec::proRes, "encoder10.mov", true);
}
void BM_EncoderProResHQTenBitFrom422(benchmark::State& state) {
    throughEncoder(state, OutputCodec::proRes, "encoder10.mov", true, tenBitSource());
}
void BM_ToolProResHQFrom422(benchmark::State& state) {
    throughTool(state,
                "-c:v prores_ks -profile:v hq -qscale:v 7 -vendor apl0 -pix_fmt yuv422p10le "
                "-c:a pcm_s16le -ar 48000 -ac 2",
                "tool10.mov", tenBitSource());
}

void BM_EncoderH264(benchmark::State& state) { throughEncoder(state, OutputCodec::h264, "encoder.mp4"); }
void BM_ToolH264(benchmark::State& state) {
    // Default H264Settings at 1920×1080: High profile, the crush model's average
    // rate, a key frame every 60 frames.
    const auto settings =
        *videoSettings(OutputCodec::h264, 1920, 1080, ProResVariant::hq, H264Settings{}, std::nullopt);
    throughTool(state,
                "-c:v libx264 -profile:v high -b:v " + std::to_string(settings.compression->averageBitRate) +
                    " -g 60 -pix_fmt yuv420p -c:a aac -b:a 256k -ar 48000 -ac 2",
                "tool.mp4");
}

BENCHMARK(BM_EncoderProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncoderProResHQTenBit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncoderProResHQTenBitFrom422)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolProResHQFrom422)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncoderH264)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolH264)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

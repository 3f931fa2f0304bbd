// The movie encoder end to end on a 1080p29.97, 3 s source with grain and
// motion (H.264 with AAC stereo): to ProRes 422 HQ (QuickTime, 16-bit PCM) and
// to H.264 and HEVC (MPEG-4, AAC 256 kbit/s) through MovieEncoder, and through the
// ffmpeg tool with the same encoder settings in the same run. The pictures are
// left as they are, so they pass from decoder to encoder as 4:2:0 planes (to
// ProRes widened to 10-bit 4:2:2 as they are decoded); the time ratio
// (MovieEncoder / tool) should stay at or below 1.10. The 10-bit path to
// ProRes 422 HQ from the same source, and a 10-bit 4:2:2 source through it
// (passed on as its own 4:2:2 planes), should stay within 1.25 of the tool.
//
// BM_AgainstTool runs each codec's single encode and the tool's in alternating
// pairs in the same run and prints the ratios the targets name: speed (the
// tool's wall time over ours, at least 1.0) and cpu (our CPU time over the
// tool's), with the machine's load beside them.
//
// Fidelity at equal settings: a 1080p30 pan over a saturated picture (8-bit
// 4:2:0, tagged BT.709 and untagged; much of its chroma lies outside the RGB
// cube) to ProRes 422 HQ, H.264 and HEVC through MovieEncoder and through the
// tool. Each reports its per-plane PSNR (y_db, cb_db, cr_db) against the
// source, frames paired by index; MovieEncoder's should be within 0.3 dB of
// the tool's. So should a 10-bit 4:2:2 pan's to ProRes 422 HQ (measured in
// 10 bits), as decoded and through the 10-bit path: its pictures reach the
// writer in 4:2:2 and keep all their chroma rows.

#include "pipeline/MovieEncoder.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

const char* extensionFor(OutputCodec codec) { return codec == OutputCodec::proRes ? ".mov" : ".mp4"; }

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

// The tool's settings for what encoderFor(codec) writes. H.264: High profile,
// the crush model's average rate at 1920×1080, a key frame every 60 frames;
// HEVC: x265's own profile at the same rate and key-frame interval; ProRes:
// what the writer asks prores_ks for, profile HQ at quantiser 7.
std::string toolArgumentsFor(OutputCodec codec) {
    const auto settings = *videoSettings(codec, 1920, 1080, ProResVariant::hq, H264Settings{}, std::nullopt);
    const std::string rate = codec == OutputCodec::proRes ? "" : std::to_string(settings.compression->averageBitRate);
    switch (codec) {
    case OutputCodec::proRes:
        return "-c:v prores_ks -profile:v hq -qscale:v 7 -vendor apl0 -pix_fmt yuv422p10le "
               "-c:a pcm_s16le -ar 48000 -ac 2";
    case OutputCodec::h264:
        return "-c:v libx264 -profile:v high -b:v " + rate +
               " -g 60 -pix_fmt yuv420p -c:a aac -b:a 256k -ar 48000 -ac 2";
    default:
        return "-c:v libx265 -b:v " + rate +
               " -g 60 -pix_fmt yuv420p -x265-params log-level=error -tag:v hvc1"
               " -c:a aac -b:a 256k -ar 48000 -ac 2";
    }
}

void BM_EncoderProResHQ(benchmark::State& state) { throughEncoder(state, OutputCodec::proRes, "encoder.mov"); }
void BM_ToolProResHQ(benchmark::State& state) { throughTool(state, toolArgumentsFor(OutputCodec::proRes), "tool.mov"); }

void BM_EncoderProResHQTenBit(benchmark::State& state) {
    throughEncoder(state, OutputCodec::proRes, "encoder10.mov", true);
}
void BM_EncoderProResHQTenBitFrom422(benchmark::State& state) {
    throughEncoder(state, OutputCodec::proRes, "encoder10.mov", true, tenBitSource());
}
void BM_ToolProResHQFrom422(benchmark::State& state) {
    throughTool(state, toolArgumentsFor(OutputCodec::proRes), "tool10.mov", tenBitSource());
}

void BM_EncoderH264(benchmark::State& state) { throughEncoder(state, OutputCodec::h264, "encoder.mp4"); }
void BM_ToolH264(benchmark::State& state) { throughTool(state, toolArgumentsFor(OutputCodec::h264), "tool.mp4"); }

void BM_EncoderHEVC(benchmark::State& state) { throughEncoder(state, OutputCodec::hevc, "encoder-hevc.mp4"); }
void BM_ToolHEVC(benchmark::State& state) { throughTool(state, toolArgumentsFor(OutputCodec::hevc), "tool-hevc.mp4"); }

// Single encodes against the tool in alternating pairs (who goes first
// alternates too), so that both see the same load. speed: the tool's wall
// time over ours, summed over the pairs, and the pairs' median; cpu: our CPU
// time over the tool's. state.range(0): the codec.
void BM_AgainstTool(benchmark::State& state) {
    const auto codec = static_cast<OutputCodec>(state.range(0));
    const auto asset = media::Asset::open(source());
    MovieEncoder encoder = encoderFor(codec);
    const fs::path ours = bench::scratchFolder() / (std::string("pair-encoder") + extensionFor(codec));
    const std::string tool =
        bench::toolTranscodeCommand(source(), toolArgumentsFor(codec), std::string("pair-tool") + extensionFor(codec));
    double wall[2] = {}, cpu[2] = {};
    std::vector<double> pairSpeeds;
    for (auto _ : state) {
        double pairWall[2] = {};
        for (int turn = 0; turn < 2; ++turn) {
            const int who = (turn + static_cast<int>(pairSpeeds.size())) % 2;  // 0: ours, 1: the tool
            const int usage = who == 0 ? RUSAGE_SELF : RUSAGE_CHILDREN;
            const double cpuBefore = bench::cpuSeconds(usage);
            const auto start = std::chrono::steady_clock::now();
            if (who == 0)
                encoder.encode(asset, ours, {}, {});
            else
                bench::runOrAbort(tool);
            pairWall[who] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            wall[who] += pairWall[who];
            cpu[who] += bench::cpuSeconds(usage) - cpuBefore;
        }
        pairSpeeds.push_back(pairWall[1] / pairWall[0]);
    }
    std::sort(pairSpeeds.begin(), pairSpeeds.end());
    const std::size_t n = pairSpeeds.size();
    state.counters["speed"] = wall[1] / wall[0];
    state.counters["speed_median"] = n % 2 ? pairSpeeds[n / 2] : 0.5 * (pairSpeeds[n / 2 - 1] + pairSpeeds[n / 2]);
    state.counters["cpu"] = cpu[0] / cpu[1];
    state.counters["load"] = bench::loadAverage();
}

// ---- Fidelity at equal settings ----

constexpr int kPanFrames = 60;

// A saturated still (a Mandelbrot render at twice the size) panned across at
// 1080p30 for 2 s, H.264 at CRF 10 in 4:2:0; `tags` go on the stream.
fs::path panSource(const std::string& name, const std::string& tags,
                   const std::string& coding = "format=yuv420p' -c:v libx264 -crf 10") {
    fs::path p = bench::scratchFolder() / name;
    bench::runOrAbort(bench::toolCommand(
        "-f lavfi -i 'mandelbrot=s=3840x2160:end_pts=1:start_scale=1.5,trim=end_frame=1,loop=loop=-1:size=1,"
        "fps=30,crop=1920:1080:x=t*500:y=t*300,trim=duration=2," +
        coding + " " + tags + " '" + p.string() + "'"));
    return p;
}

const fs::path& taggedPan() {
    static const fs::path path =
        panSource("pan709.mp4", "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv");
    return path;
}

const fs::path& untaggedPan() {
    static const fs::path path = panSource("pan.mp4", "");
    return path;
}

// The pan in 10-bit 4:2:2, stored losslessly.
const fs::path& pan422() {
    static const fs::path path =
        panSource("pan422.mkv", "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv",
                  "format=yuv422p10le' -c:v ffv1");
    return path;
}

// Per-plane PSNR (Y, Cb, Cr) of `file` against `reference`, both in 4:4:4 with
// chroma read left-sited (in `pixelFormat`), frames paired by index; zeros
// when ffmpeg fails.
std::array<double, 3> planePsnr(const fs::path& reference, const fs::path& file,
                                const std::string& pixelFormat = "yuv444p") {
    const std::string format = "scale=in_h_chr_pos=0,format=" + pixelFormat + ",settb=AVTB,setpts=N/TB";
    const std::string command =
        bench::toolCommand("-loglevel info -nostdin -i '" + file.string() + "' -i '" + reference.string() +
                           "' -lavfi '[0:v]" + format + "[a];[1:v]" + format + "[b];[a][b]psnr' -f null - 2>&1");
    std::array<double, 3> planes{};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return planes;
    std::string text;
    char chunk[4096];
    while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
    pclose(pipe);
    const auto line = text.find("PSNR y:");
    if (line == std::string::npos) return planes;
    const char* names[] = {"y:", "u:", "v:"};
    for (int p = 0; p < 3; ++p) {
        const auto at = text.find(names[p], line) + 2;
        if (text.compare(at, 3, "inf") == 0)
            planes[p] = 99;
        else
            std::from_chars(text.data() + at, text.data() + text.size(), planes[p]);
    }
    return planes;
}

void reportPsnr(benchmark::State& state, const fs::path& reference, const fs::path& file,
                const std::string& pixelFormat = "yuv444p") {
    const auto planes = planePsnr(reference, file, pixelFormat);
    state.counters["y_db"] = planes[0];
    state.counters["cb_db"] = planes[1];
    state.counters["cr_db"] = planes[2];
}

MovieEncoder panEncoderFor(OutputCodec codec) {
    MovieEncoder encoder;
    H264Settings rate;
    rate.useExplicitBitrate = true;
    rate.bitrateMbps = 20;
    encoder.videoSettings = *videoSettings(codec, 1920, 1080, ProResVariant::hq, rate, std::nullopt);
    encoder.fileType = fileType(codec);
    return encoder;
}

// The tool's settings for what panEncoderFor writes.
std::string toolSettingsFor(OutputCodec codec) {
    switch (codec) {
    case OutputCodec::proRes: return "-c:v prores_ks -profile:v hq -qscale:v 7 -vendor apl0 -pix_fmt yuv422p10le";
    case OutputCodec::h264: return "-c:v libx264 -b:v 20M -g 60 -pix_fmt yuv420p";
    default: return "-c:v libx265 -b:v 20M -g 60 -pix_fmt yuv420p -x265-params log-level=error -tag:v hvc1";
    }
}

// state.range(0): the codec; state.range(1): 1 for the tagged source.
void BM_PanThroughEncoder(benchmark::State& state) {
    const auto codec = static_cast<OutputCodec>(state.range(0));
    const fs::path& from = state.range(1) ? taggedPan() : untaggedPan();
    const auto asset = media::Asset::open(from);
    const fs::path out = bench::scratchFolder() / (std::string("pan-encoder") + extensionFor(codec));
    MovieEncoder encoder = panEncoderFor(codec);
    measure(state, RUSAGE_SELF, [&] { encoder.encode(asset, out, {}, {}); });
    state.SetItemsProcessed(state.iterations() * kPanFrames);
    reportPsnr(state, from, out);
}

void BM_PanThroughTool(benchmark::State& state) {
    const auto codec = static_cast<OutputCodec>(state.range(0));
    const fs::path& from = state.range(1) ? taggedPan() : untaggedPan();
    const std::string name = std::string("pan-tool") + extensionFor(codec);
    const std::string command = bench::toolTranscodeCommand(from, toolSettingsFor(codec), name);
    measure(state, RUSAGE_CHILDREN, [&] { bench::runOrAbort(command); });
    state.SetItemsProcessed(state.iterations() * kPanFrames);
    reportPsnr(state, from, bench::scratchFolder() / name);
}

// state.range(0): 1 through an unchanged 10-bit frame request, 0 as decoded.
void BM_Pan422ThroughEncoder(benchmark::State& state) {
    const auto asset = media::Asset::open(pan422());
    const fs::path out = bench::scratchFolder() / "pan422-encoder.mov";
    MovieEncoder encoder = panEncoderFor(OutputCodec::proRes);
    if (state.range(0)) {
        FrameScaling scaling;
        scaling.width = 1920;
        scaling.height = 1080;
        scaling.tenBit = true;
        encoder.scaling = scaling;
    }
    measure(state, RUSAGE_SELF, [&] { encoder.encode(asset, out, {}, {}); });
    state.SetItemsProcessed(state.iterations() * kPanFrames);
    reportPsnr(state, pan422(), out, "yuv444p10le");
}

void BM_Pan422ThroughTool(benchmark::State& state) {
    const std::string command =
        bench::toolTranscodeCommand(pan422(), toolSettingsFor(OutputCodec::proRes), "pan422-tool.mov");
    measure(state, RUSAGE_CHILDREN, [&] { bench::runOrAbort(command); });
    state.SetItemsProcessed(state.iterations() * kPanFrames);
    reportPsnr(state, pan422(), bench::scratchFolder() / "pan422-tool.mov", "yuv444p10le");
}

void panCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"codec", "tagged"});
    for (int tagged : {1, 0})
        for (OutputCodec codec : {OutputCodec::proRes, OutputCodec::h264, OutputCodec::hevc})
            b->Args({static_cast<int>(codec), tagged});
}

BENCHMARK(BM_PanThroughEncoder)->Apply(panCases)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_PanThroughTool)->Apply(panCases)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Pan422ThroughEncoder)
    ->ArgName("tenbit")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_Pan422ThroughTool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

BENCHMARK(BM_AgainstTool)
    ->ArgName("codec")
    ->Arg(static_cast<int>(OutputCodec::proRes))
    ->Arg(static_cast<int>(OutputCodec::h264))
    ->Arg(static_cast<int>(OutputCodec::hevc))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_EncoderProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncoderProResHQTenBit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncoderProResHQTenBitFrom422)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolProResHQFrom422)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncoderH264)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolH264)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncoderHEVC)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_ToolHEVC)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

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
// 4:2:0 tagged BT.709, the same untagged, and a 10-bit 4:2:2 one; much of its
// chroma lies outside the RGB cube) to ProRes 422 HQ, H.264, HEVC and HEVC
// Main 10 through MovieEncoder and through the tool. Each cell reports the
// per-plane PSNR (Y, Cb, Cr) against the source, frames paired by index, ours
// beside the tool's; the table printed at the end marks the cells where ours
// is more than 0.3 dB below the tool's. The pan full range and in 8-bit 4:2:2
// follow, beside the table.

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

// Beyond the table: the pan full range (as phones record), and in 8-bit 4:2:2.
const fs::path& fullRangePan() {
    static const fs::path path =
        panSource("panfull.mp4", "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range pc",
                  "format=yuvj420p' -c:v libx264 -crf 10");
    return path;
}

const fs::path& eightBit422Pan() {
    static const fs::path path =
        panSource("pan422-8.mkv", "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv",
                  "format=yuv422p' -c:v ffv1");
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

// The four outputs the fidelity table covers, and the three pans it encodes.
enum class PanOutput { proRes, h264, hevc, hevcMain10 };
enum class PanSource { tagged, untagged, tenBit422, fullRange, eightBit422 };
constexpr std::array kPanOutputs{PanOutput::proRes, PanOutput::h264, PanOutput::hevc, PanOutput::hevcMain10};
constexpr std::array kPanSources{PanSource::tagged, PanSource::untagged, PanSource::tenBit422, PanSource::fullRange,
                                 PanSource::eightBit422};
// The table's cells are the first three sources; the others are reported beside them.
constexpr std::size_t kTableSources = 3;

const char* nameOf(PanOutput output) {
    static const char* names[] = {"ProRes 422 HQ", "H.264", "HEVC", "HEVC Main 10"};
    return names[static_cast<int>(output)];
}

const char* nameOf(PanSource source) {
    static const char* names[] = {"8-bit 4:2:0 BT.709", "8-bit 4:2:0 untagged", "10-bit 4:2:2",
                                  "8-bit 4:2:0 full range", "8-bit 4:2:2"};
    return names[static_cast<int>(source)];
}

const fs::path& panFile(PanSource source) {
    switch (source) {
    case PanSource::tagged: return taggedPan();
    case PanSource::untagged: return untaggedPan();
    case PanSource::tenBit422: return pan422();
    case PanSource::fullRange: return fullRangePan();
    case PanSource::eightBit422: break;
    }
    return eightBit422Pan();
}

// What the app asks for: 20 Mbit/s for H.264 and HEVC; HEVC Main 10 is the
// 10-bit switch, a frame request at the source's size on the 10-bit path.
MovieEncoder panEncoderFor(PanOutput output) {
    const OutputCodec codec = output == PanOutput::proRes ? OutputCodec::proRes
                              : output == PanOutput::h264 ? OutputCodec::h264
                                                          : OutputCodec::hevc;
    MovieEncoder encoder;
    H264Settings rate;
    rate.useExplicitBitrate = true;
    rate.bitrateMbps = 20;
    if (output == PanOutput::hevcMain10) rate.profile = VideoProfile::main10;
    encoder.videoSettings = *videoSettings(codec, 1920, 1080, ProResVariant::hq, rate, std::nullopt);
    encoder.fileType = fileType(codec);
    if (output == PanOutput::hevcMain10) {
        FrameScaling scaling;
        scaling.width = 1920;
        scaling.height = 1080;
        scaling.tenBit = true;
        encoder.scaling = scaling;
    }
    return encoder;
}

// The tool's settings for what panEncoderFor writes.
std::string toolSettingsFor(PanOutput output) {
    switch (output) {
    case PanOutput::proRes: return "-c:v prores_ks -profile:v hq -qscale:v 7 -vendor apl0 -pix_fmt yuv422p10le";
    case PanOutput::h264: return "-c:v libx264 -b:v 20M -g 60 -pix_fmt yuv420p";
    case PanOutput::hevc:
        return "-c:v libx265 -b:v 20M -g 60 -pix_fmt yuv420p -x265-params log-level=error -tag:v hvc1";
    case PanOutput::hevcMain10: break;
    }
    return "-c:v libx265 -b:v 20M -g 60 -pix_fmt yuv420p10le -profile:v main10 -x265-params log-level=error "
           "-tag:v hvc1";
}

const char* extensionFor(PanOutput output) { return output == PanOutput::proRes ? ".mov" : ".mp4"; }

// One cell of the table: our planes, the tool's, and ours less the tool's.
struct PanCell {
    std::array<double, 3> ours{}, tool{};
    bool measured = false;
};
std::array<std::array<PanCell, kPanOutputs.size()>, kPanSources.size()> panTable;

// Per-plane PSNR (Y, Cb, Cr) of each output against its pan, frames paired by
// index, through MovieEncoder and through the tool at the same settings; 10-bit
// sources and outputs measured in 10 bits. MovieEncoder's should be within
// 0.3 dB of the tool's in every plane. state.range(0): the source;
// state.range(1): the output.
void BM_PanFidelity(benchmark::State& state) {
    const auto from = static_cast<PanSource>(state.range(0));
    const auto output = static_cast<PanOutput>(state.range(1));
    const fs::path& pan = panFile(from);
    const std::string measuredIn =
        from == PanSource::tenBit422 || output == PanOutput::hevcMain10 ? "yuv444p10le" : "yuv444p";
    const std::string ours = std::string("pan-encoder") + extensionFor(output);
    const std::string tool = std::string("pan-tool") + extensionFor(output);
    const auto asset = media::Asset::open(pan);
    MovieEncoder encoder = panEncoderFor(output);
    const std::string toolCommand = bench::toolTranscodeCommand(pan, toolSettingsFor(output), tool);
    double ourCpu = 0, toolCpu = 0;
    for (auto _ : state) {
        double before = bench::cpuSeconds(RUSAGE_SELF);
        encoder.encode(asset, bench::scratchFolder() / ours, {}, {});
        ourCpu += bench::cpuSeconds(RUSAGE_SELF) - before;
        before = bench::cpuSeconds(RUSAGE_CHILDREN);
        bench::runOrAbort(toolCommand);
        toolCpu += bench::cpuSeconds(RUSAGE_CHILDREN) - before;
    }
    PanCell& cell = panTable[static_cast<std::size_t>(from)][static_cast<std::size_t>(output)];
    cell.ours = planePsnr(pan, bench::scratchFolder() / ours, measuredIn);
    cell.tool = planePsnr(pan, bench::scratchFolder() / tool, measuredIn);
    cell.measured = true;
    const char* planes[] = {"y", "cb", "cr"};
    for (int p = 0; p < 3; ++p) {
        state.counters[std::string(planes[p]) + "_db"] = cell.ours[p];
        state.counters[std::string("tool_") + planes[p] + "_db"] = cell.tool[p];
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["cpu_s"] = ourCpu / iterations;
    state.counters["tool_cpu_s"] = toolCpu / iterations;
}

void panCells(benchmark::internal::Benchmark* b) {
    b->ArgNames({"source", "output"});
    for (PanSource source : kPanSources)
        for (PanOutput output : kPanOutputs) b->Args({static_cast<int>(source), static_cast<int>(output)});
}

BENCHMARK(BM_PanFidelity)->Apply(panCells)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The measured cells as one table: ours / the tool's / the difference per
// plane, with the cells more than 0.3 dB below the tool marked.
void printPanTable() {
    bool any = false;
    for (const auto& row : panTable)
        for (const PanCell& cell : row) any = any || cell.measured;
    if (!any) return;
    std::printf("\nPer-plane PSNR in dB, Y / Cb / Cr: ours | the tool's | ours - the tool's\n");
    int misses = 0;
    for (PanSource source : kPanSources)
        for (PanOutput output : kPanOutputs) {
            const PanCell& cell = panTable[static_cast<std::size_t>(source)][static_cast<std::size_t>(output)];
            if (!cell.measured) continue;
            bool missed = false;
            for (int p = 0; p < 3; ++p) missed = missed || cell.ours[p] < cell.tool[p] - 0.3;
            if (static_cast<std::size_t>(source) < kTableSources) misses += missed ? 1 : 0;
            std::printf("%-22s -> %-14s %5.1f/%5.1f/%5.1f | %5.1f/%5.1f/%5.1f | %+5.2f/%+5.2f/%+5.2f%s\n",
                        nameOf(source), nameOf(output), cell.ours[0], cell.ours[1], cell.ours[2], cell.tool[0],
                        cell.tool[1], cell.tool[2], cell.ours[0] - cell.tool[0], cell.ours[1] - cell.tool[1],
                        cell.ours[2] - cell.tool[2], missed ? "  MISS" : "");
        }
    std::printf("%d of the table's cells (the first three sources) more than 0.3 dB below the tool\n", misses);
}

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

int main(int argc, char** argv) {
    const int status = fw::bench::benchmarkMain(argc, argv);
    printPanTable();
    return status;
}

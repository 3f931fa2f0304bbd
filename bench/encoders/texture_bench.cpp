// The texture-codec encoders end to end on a 1080p30, 5 s clip of a photograph-like picture panned (H.264 with AAC
// stereo): Hap, Hap Q and the DXV kinds through `framewright --encode`, Hap Alpha through HapEncoder in this process
// (the command line has no Hap Alpha route), beside the ffmpeg tool's Hap encoder (-format hap|hap_alpha|hap_q, with
// -compressor none as the like-for-like case and its snappy default) and the tool merely decoding the source
// (`-f null`), all in the same run. Targets: Hap Q at least 1.5x the tool's frames per second like for like, every
// Hap case ahead of the tool, and every encode at least 0.8x the speed of decoding alone (vs_decode, each encode
// paired with a decode run just before it).
//
// Every child's peak resident memory is reported (peak_MiB). The Memory benchmarks encode a 1-minute 1080p and a
// 20-second 4K clip of the same kind, so that a peak that grew with the length would show; the MemoryShortSound ones
// the same clips with sound that ends after 1.4 s (ProRes beside them), whose peaks should match the full-sound ones.
// The MemorySoundShape ones take 1080p sources at the data rate (20 Mbit/s) whose sound ends after 10 s, at 60
// and 600 s long, or pauses for 5 minutes, in MP4 and Matroska, to Hap: the peak must not grow with what follows the
// sound's end or with the pause (it stays within a quarter of the 60 s source's, about the spread between runs, where
// it used to grow by the source's 2.5 MB for each second after the sound's end), and queued_MiB, the most the reader
// held queued for its outputs when both tracks are pulled at once in this process, stays at a few seconds of source.

#include "encoders/HapEncoder.h"
#include "encoders/TextureMovie.h"
#include "platform/media/AssetReader.h"

#include "BenchSupport.h"
#include "codecs/BenchPictures.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace fw;

constexpr int kFramesPerSecond = 30;
constexpr int kSeconds = 5;
constexpr int kFrames = kFramesPerSecond * kSeconds;

// A photograph-like still larger than the frame, written once as raw BGRA.
fs::path still(int width, int height) {
    const fs::path path =
        bench::scratchFolder() / ("still-" + std::to_string(width) + "x" + std::to_string(height) + ".bgra");
    if (!fs::exists(path)) {
        const bench::Picture picture = bench::photoLikeFrame(width, height);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(picture.bgra.data()),
                   static_cast<std::streamsize>(picture.bgra.size()));
    }
    return path;
}

// `seconds` of a width × height window panning across the still (H.264, AAC 48 kHz stereo), made once per name. The
// sound lasts soundSeconds when that is given, the whole clip otherwise.
fs::path pannedClip(const std::string& name, int width, int height, int seconds, double soundSeconds = 0) {
    const fs::path path = bench::scratchFolder() / name;
    if (fs::exists(path)) return path;
    const int stillWidth = width * 3 / 2, stillHeight = height * 3 / 2;
    const std::string size = std::to_string(stillWidth) + "x" + std::to_string(stillHeight);
    const std::string pan = "crop=" + std::to_string(width) + ":" + std::to_string(height) +
                            ":x=(iw-ow)*(0.5-0.5*cos(t*0.7)):y=(ih-oh)*(0.5-0.5*cos(t*0.45))";
    bench::runOrAbort(bench::toolCommand(
        "-f rawvideo -pix_fmt bgra -video_size " + size + " -framerate " + std::to_string(kFramesPerSecond) + " -i '" +
        still(stillWidth, stillHeight).string() + "' -f lavfi -i 'sine=frequency=440:sample_rate=48000" +
        (soundSeconds > 0 ? ":duration=" + std::to_string(soundSeconds) : std::string()) +
        "' -filter_complex '[0:v]loop=loop=-1:size=1," + pan + ",format=yuv420p[v]' -map '[v]' -map 1:a -t " +
        std::to_string(seconds) + " -c:v libx264 -preset veryfast -crf 16 -c:a aac -b:a 192k -ac 2 '" + path.string() +
        "'"));
    return path;
}

const fs::path& source() {
    static const fs::path path = pannedClip("pan-1080p-5s.mp4", 1920, 1080, kSeconds);
    return path;
}

struct ChildRun {
    double cpuSeconds = 0;
    double peakMiB = 0;
};

// Runs a program with its output discarded under /usr/bin/time, which reports its peak resident memory (a child
// spawned from this process would inherit this process's peak), and waits for it; its CPU time and that peak.
ChildRun runChild(const std::vector<std::string>& program) {
    const fs::path peakFile = bench::scratchFolder() / "peak.txt";
    std::vector<std::string> argv{"/usr/bin/time", "-f", "%M", "-o", peakFile.string()};
    argv.insert(argv.end(), program.begin(), program.end());
    const pid_t child = bench::spawnQuietly(argv);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", program[0].c_str());
        std::abort();
    }
    double peakKiB = 0;
    std::ifstream(peakFile) >> peakKiB;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), peakKiB / 1024.0};
}

std::string tool() { return FW_FFMPEG_TOOL[0] ? FW_FFMPEG_TOOL : "ffmpeg"; }

std::vector<std::string> decodeOnly() {
    return {tool(), "-loglevel", "error", "-nostdin", "-i", source().string(), "-f", "null", "-"};
}

// Where the children write their outputs, emptied before each run.
fs::path outputsFolder() { return bench::scratchFolder() / "outputs"; }

// Frames per second of the whole run (wall time), CPU seconds per run and the largest peak of the children. With
// againstDecoding, each run follows a run of the tool merely decoding the source, and vs_decode is the speed against
// it (its time over this run's; the target is at least 0.8), cpu_vs_decode the CPU time against it: pairs run back to
// back, so that a machine whose load changes weighs on both alike.
void measureChild(benchmark::State& state, const std::vector<std::string>& argv, int frames = kFrames,
                  bool againstDecoding = false) {
    ChildRun worst;
    double cpu = 0, wall = 0, decodingWall = 0, decodingCpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Every run writes a new file: replacing one makes the file system write the new one out as it is renamed
        // into place, which would time the disk rather than the encode.
        fs::remove_all(outputsFolder());
        fs::create_directories(outputsFolder());
        if (againstDecoding) {
            const auto start = std::chrono::steady_clock::now();
            decodingCpu += runChild(decodeOnly()).cpuSeconds;
            decodingWall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const ChildRun run = runChild(argv);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += run.cpuSeconds;
        worst.peakMiB = std::max(worst.peakMiB, run.peakMiB);
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["cpu_s"] = benchmark::Counter(cpu / static_cast<double>(state.iterations()));
    state.counters["peak_MiB"] = benchmark::Counter(worst.peakMiB);
    if (againstDecoding && wall > 0 && cpu > 0) {
        state.counters["vs_decode"] = benchmark::Counter(decodingWall / wall);
        state.counters["cpu_vs_decode"] = benchmark::Counter(cpu / decodingCpu);
    }
}

std::vector<std::string> framewright(const fs::path& input, const std::vector<std::string>& options) {
    std::vector<std::string> argv{FW_PROGRAM, "--encode", "--output", outputsFolder().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(input.string());
    return argv;
}

void BM_DecodeOnly(benchmark::State& state) { measureChild(state, decodeOnly()); }

void BM_Framewright(benchmark::State& state, std::vector<std::string> options) {
    measureChild(state, framewright(source(), options), kFrames, /*againstDecoding=*/true);
}

void BM_Tool(benchmark::State& state, std::string format, std::string compressor) {
    const fs::path output = outputsFolder() / ("tool-" + format + "-" + compressor + ".mov");
    measureChild(state, {tool(),  "-loglevel", "error", "-nostdin",     "-y",       "-i",   source().string(), "-c:v",
                         "hap",   "-format",   format,  "-compressor",  compressor, "-c:a", "pcm_s16le",       "-ar",
                         "48000", "-ac",       "2",     output.string()});
}

// Hap Alpha has no command-line route: the encoder in this process, with the same work as the program does.
void BM_EncoderHapAlpha(benchmark::State& state) {
    const auto asset = media::Asset::open(source());
    HapRequest request;
    request.kind = HapKind::hapAlpha;
    const HapEncoder encoder(request);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    for (auto _ : state) encoder.encode(asset, bench::scratchFolder() / "encoder-hap-alpha.mov", {}, {});
    getrusage(RUSAGE_SELF, &after);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["cpu_s"] = benchmark::Counter(
        (seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) - seconds(before.ru_stime)) /
        static_cast<double>(state.iterations()));
}

// The pipeline's own floor: reading, converting to BGRA, pumping and writing, with frames packed into one byte.
void BM_EncoderPackingNothing(benchmark::State& state) {
    const auto asset = media::Asset::open(source());
    FramePacking packing;
    packing.codecType = media::subtype::hap1;
    packing.frameName = "Hap";
    packing.packFrame = [](const media::PixelBuffer&, std::vector<std::uint8_t>& frame) { frame.assign(1, 0); };
    const MovieEncoder encoder = textureMovieEncoder(*asset, std::nullopt, MovieSound{}, packing);
    for (auto _ : state) encoder.encode(asset, bench::scratchFolder() / "encoder-nothing.mov", {}, {});
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// Peak memory over a long clip: the same whatever the length.
void BM_Memory(benchmark::State& state, int width, int height, int seconds, std::vector<std::string> options) {
    const fs::path clip =
        pannedClip("pan-" + std::to_string(height) + "p-" + std::to_string(seconds) + "s.mp4", width, height, seconds);
    measureChild(state, framewright(clip, options), seconds * kFramesPerSecond);
}

// The same with sound that ends after 1.4 s: the pictures after it must not pile up behind the ended track, so the
// peak stays within 10 % of BM_Memory's for the same size and options.
void BM_MemoryShortSound(benchmark::State& state, int width, int height, int seconds,
                         std::vector<std::string> options) {
    const fs::path clip =
        pannedClip("pan-" + std::to_string(height) + "p-" + std::to_string(seconds) + "s-short-sound.mp4", width,
                   height, seconds, 1.4);
    measureChild(state, framewright(clip, options), seconds * kFramesPerSecond);
}

// 1080p pictures at 10 frames a second and 20 Mbit/s (the data rate of a camera's, a third of the frames to make)
// beside a 48 kHz tone filtered by `sound` (its length, a pause), `seconds` long; made once per name, on one thread so
// that the bytes are the same on any machine. A name ending in .mkv holds the same streams as the .mp4 of its stem.
fs::path soundShapedClip(const std::string& name, int seconds, const std::string& sound) {
    const fs::path path = bench::scratchFolder() / name;
    if (fs::exists(path)) return path;
    if (path.extension() == ".mkv") {
        const fs::path mp4 = soundShapedClip(path.stem().string() + ".mp4", seconds, sound);
        bench::runOrAbort(bench::toolCommand("-i '" + mp4.string() + "' -c copy '" + path.string() + "'"));
        return path;
    }
    const std::string length = std::to_string(seconds);
    bench::runOrAbort(bench::toolCommand(
        "-f lavfi -i testsrc2=s=1920x1080:r=10:d=" + length + " -f lavfi -i sine=frequency=440:sample_rate=48000:d=" +
        length + " " + sound + " -c:v libx264 -preset ultrafast -b:v 20M -maxrate 20M -bufsize 20M -threads 1 " +
        "-c:a aac -threads 1 '" + path.string() + "'"));
    return path;
}

// The most bytes the reader held queued while its pictures (decoded) and its sound are pulled on two threads.
double mostQueuedMiB(const fs::path& clip) {
    const auto asset = media::Asset::open(clip);
    media::AssetReader reader(asset);
    const auto video = reader.addVideoOutput(asset->tracks(media::MediaType::video)[0], {media::PixelFormat::i420});
    const auto audio = reader.addAudioOutput(asset->tracks(media::MediaType::audio)[0]);
    if (!video || !audio || !reader.startReading()) std::abort();
    std::thread pictures([&] {
        while (video->copyNextSampleBuffer()) {}
    });
    while (audio->copyNextSampleBuffer()) {}
    pictures.join();
    return static_cast<double>(reader.mostQueuedBytes()) / (1 << 20);
}

void BM_MemorySoundShape(benchmark::State& state, std::string name, int seconds, std::string sound) {
    const fs::path clip = soundShapedClip(name, seconds, sound);
    state.counters["queued_MiB"] = benchmark::Counter(mostQueuedMiB(clip));
    measureChild(state, framewright(clip, {"--codec", "hap"}), seconds * 10);
    fs::remove_all(outputsFolder());
}

using Options = std::vector<std::string>;

// One encode per repetition: run with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true so that
// a machine whose load changes during the run weighs on every case alike.
#define FW_ONE_RUN(bench) bench->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)

FW_ONE_RUN(BENCHMARK(BM_DecodeOnly));
FW_ONE_RUN(BENCHMARK(BM_EncoderPackingNothing));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Framewright, Hap, Options{"--codec", "hap"}));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Tool, Hap_none, "hap", "none"));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Tool, Hap_snappy, "hap", "snappy"));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Framewright, HapQ, Options{"--codec", "hapq"}));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Tool, HapQ_none, "hap_q", "none"));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Tool, HapQ_snappy, "hap_q", "snappy"));
FW_ONE_RUN(BENCHMARK(BM_EncoderHapAlpha));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Tool, HapAlpha_none, "hap_alpha", "none"));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Tool, HapAlpha_snappy, "hap_alpha", "snappy"));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Framewright, DXV2, Options{"--codec", "dxv2"}));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Framewright, DXV2_alpha, Options{"--codec", "dxv2", "--alpha"}));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Framewright, DXV3, Options{"--codec", "dxv3"}));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Framewright, DXV3_hq, Options{"--codec", "dxv3", "--dxv-hq"}));
FW_ONE_RUN(BENCHMARK_CAPTURE(BM_Framewright, DXV3_alpha, Options{"--codec", "dxv3", "--alpha"}));

#define FW_LONG_RUN(bench) bench->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)

FW_LONG_RUN(BENCHMARK_CAPTURE(BM_Memory, HapQ_1080p_60s, 1920, 1080, 60, Options{"--codec", "hapq"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_Memory, DXV3_hq_1080p_60s, 1920, 1080, 60, Options{"--codec", "dxv3", "--dxv-hq"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_Memory, HapQ_4K_20s, 3840, 2160, 20, Options{"--codec", "hapq"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_Memory, DXV3_hq_4K_20s, 3840, 2160, 20, Options{"--codec", "dxv3", "--dxv-hq"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_Memory, ProRes_4K_20s, 3840, 2160, 20, Options{"--codec", "prores"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemoryShortSound, HapQ_1080p_60s, 1920, 1080, 60, Options{"--codec", "hapq"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemoryShortSound, HapQ_4K_20s, 3840, 2160, 20, Options{"--codec", "hapq"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemoryShortSound, ProRes_4K_20s, 3840, 2160, 20, Options{"--codec", "prores"}));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemorySoundShape, SoundThroughout_60s, "sound-throughout-60s.mp4", 60, ""));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemorySoundShape, SoundEndsAt10s_60s, "sound-ends-60s.mp4", 60,
                              "-t 60 -af atrim=0:10"));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemorySoundShape, SoundEndsAt10s_600s, "sound-ends-600s.mp4", 600,
                              "-t 600 -af atrim=0:10"));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemorySoundShape, SoundPausedFor5min, "sound-paused-320s.mp4", 320,
                              "-af \"aselect='not(between(t,10,310))'\""));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemorySoundShape, Matroska_SoundEndsAt10s_60s, "sound-ends-60s.mkv", 60,
                              "-t 60 -af atrim=0:10"));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemorySoundShape, Matroska_SoundEndsAt10s_600s, "sound-ends-600s.mkv", 600,
                              "-t 600 -af atrim=0:10"));
FW_LONG_RUN(BENCHMARK_CAPTURE(BM_MemorySoundShape, Matroska_SoundPausedFor5min, "sound-paused-320s.mkv", 320,
                              "-af \"aselect='not(between(t,10,310))'\""));

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

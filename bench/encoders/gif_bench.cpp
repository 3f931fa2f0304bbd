// The GIF encoder on a 10 s 1080p30 clip of a photo-like picture panned
// across (H.264), to a 480 × 270 GIF at 12 frames a second, against the ffmpeg
// tool's two-pass palette path (palettegen, then paletteuse) at the same size
// and rate, in the same run. Each reports its wall time and, as counter
// psnr_db, the PSNR (RGB) of its decoded GIF against the source scaled to
// 480 × 270, every GIF frame against the source frame it shows. Targets: the
// encoder's PSNR at least the tool's, in no more than its time.

#include "encoders/GIFEncoder.h"

#include "BenchSupport.h"
#include "codecs/BenchPictures.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace fw;

constexpr int kWidth = 480;
constexpr int kHeight = 270;
constexpr double kSourceRate = 30;
constexpr std::size_t kFrameBytes = std::size_t(kWidth) * kHeight * 3;
const std::string kScaled = "scale=" + std::to_string(kWidth) + ":" + std::to_string(kHeight);
// The reference is scaled with exact rounding: the tool's default rounding
// leaves its RGB a level or two below the BT.709 values, which would count
// against a GIF that has them right.
const std::string kScaledExactly = kScaled + ":flags=bicubic+accurate_rnd+full_chroma_int";

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// What `command` prints on its standard output.
std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[1 << 16];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
        ::pclose(pipe);
    }
    return text;
}

const fs::path& source() {
    static const fs::path path = [] {
        // A 3200 × 1440 picture, panned left to right under a 1920 × 1080 window.
        const bench::Picture picture = bench::photoLikeFrame(3200, 1440);
        const fs::path still = bench::scratchFolder() / "picture.ppm";
        std::ofstream file(still, std::ios::binary);
        file << "P6\n" << picture.width << ' ' << picture.height << "\n255\n";
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) {
                const std::uint8_t* pixel = picture.bgra.data() + std::size_t(y) * picture.stride + 4 * std::size_t(x);
                const char rgb[3] = {char(pixel[2]), char(pixel[1]), char(pixel[0])};
                file.write(rgb, 3);
            }
        file.close();
        const fs::path movie = bench::scratchFolder() / "source.mp4";
        bench::runOrAbort(bench::toolCommand("-loop 1 -framerate 30 -i " + quoted(still) +
                                             " -vf \"crop=1920:1080:x='128*t':y=180,format=yuv420p\" -t 10 "
                                             "-c:v libx264 -crf 18 -colorspace bt709 -color_primaries bt709 "
                                             "-color_trc bt709 " +
                                             quoted(movie)));
        return movie;
    }();
    return path;
}

// The source's frames scaled to the GIF's size, RGB, one after another.
const std::string& reference() {
    static const std::string frames = output(
        bench::toolCommand("-i " + quoted(source()) + " -vf " + kScaledExactly + " -f rawvideo -pix_fmt rgb24 -"));
    return frames;
}

double squaredError(const char* a, const char* b) {
    double sum = 0;
    for (std::size_t i = 0; i < kFrameBytes; ++i) {
        const double d = double(static_cast<unsigned char>(a[i])) - double(static_cast<unsigned char>(b[i]));
        sum += d * d;
    }
    return sum;
}

// PSNR of every frame of `gif` against the source frame it shows: the one at
// its time, or a neighbour when the GIF's frame choice rounded the other way.
double gifPSNR(const fs::path& gif) {
    const std::string probe = std::string(FW_FFPROBE_TOOL[0] ? FW_FFPROBE_TOOL : "ffprobe") +
                              " -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 " + quoted(gif);
    const std::string times = output(probe);
    const std::string pictures =
        output(bench::toolCommand("-i " + quoted(gif) + " -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -"));
    const std::string& frames = reference();
    const std::size_t referenceCount = frames.size() / kFrameBytes;
    double total = 0;
    std::size_t count = 0;
    const char* cursor = times.data();
    const char* end = times.data() + times.size();
    for (std::size_t i = 0; (i + 1) * kFrameBytes <= pictures.size() && cursor < end; ++i) {
        double seconds = 0;
        const auto parsed = std::from_chars(cursor, end, seconds);
        cursor = std::find(parsed.ptr, end, '\n') + (parsed.ptr == end ? 0 : 1);
        const long at = std::lround(seconds * kSourceRate);
        double best = std::numeric_limits<double>::infinity();
        for (long k = std::max(at - 1, 0L); k <= at + 1 && k < long(referenceCount); ++k)
            best = std::min(best, squaredError(pictures.data() + i * kFrameBytes, frames.data() + k * kFrameBytes));
        total += best;
        ++count;
    }
    if (count == 0) return 0;
    const double meanSquared = total / (double(count) * double(kFrameBytes));
    return meanSquared > 0 ? 10 * std::log10(255.0 * 255.0 / meanSquared) : 99;
}

// User plus system CPU seconds of this process or of its finished children.
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall time is what the target is about; CPU seconds per run (cpu_s) are
// reported beside it, being steadier on a machine shared with other work.
template <class Body>
void measure(benchmark::State& state, int who, const fs::path& gif, Body body) {
    double cpu = 0;
    for (auto _ : state) {
        const double before = cpuSeconds(who);
        body();
        cpu += cpuSeconds(who) - before;
    }
    state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
    state.counters["psnr_db"] = gifPSNR(gif);
    state.counters["kbytes"] = double(fs::file_size(gif)) / 1000;
}

void BM_EncoderGIF(benchmark::State& state) {
    const fs::path gif = bench::scratchFolder() / "encoder.gif";
    const GIFEncoder encoder;
    const fs::path& from = source();
    measure(state, RUSAGE_SELF, gif, [&] { encoder.encode(from, gif, {}); });
}

// The tool's palette path as usually written; with `scaling` = kScaledExactly
// it scales as the reference does.
void throughTool(benchmark::State& state, const std::string& scaling) {
    const fs::path gif = bench::scratchFolder() / "tool.gif";
    const fs::path palette = bench::scratchFolder() / "palette.png";
    const std::string filters = "fps=12," + scaling;
    const std::string first =
        bench::toolCommand("-i " + quoted(source()) + " -vf " + filters + ",palettegen " + quoted(palette));
    const std::string second = bench::toolCommand("-i " + quoted(source()) + " -i " + quoted(palette) + " -lavfi \"" +
                                                  filters + "[x];[x][1:v]paletteuse\" " + quoted(gif));
    measure(state, RUSAGE_CHILDREN, gif, [&] {
        bench::runOrAbort(first);
        bench::runOrAbort(second);
    });
}

void BM_ToolGIF(benchmark::State& state) { throughTool(state, kScaled); }
void BM_ToolGIFScaledExactly(benchmark::State& state) { throughTool(state, kScaledExactly); }

BENCHMARK(BM_EncoderGIF)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolGIF)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ToolGIFScaledExactly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }

// DXT1, DXT5, scaled-YCoCg and BC4 compression of a photo-like 1080p frame,
// on 1, 2, 4 and all threads (threads:0), beside stb_dxt and libsquish (range fit, its
// fastest mode) in the same run. Rates in megapixels per second (Mpx/s).

#include <benchmark/benchmark.h>
#include <squish.h>
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>

#include <cstring>
#include <thread>

#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

#include "BenchPictures.h"
#include "codecs/dxt/DXTEncoder.h"

namespace {

using fw::DXTEncoder::Kind;

const fw::bench::Picture& frame() {
    static const fw::bench::Picture picture = fw::bench::photoLikeFrame();
    return picture;
}

void countPixels(benchmark::State& state) {
    const double pixels = double(frame().width) * frame().height;
    state.counters["Mpx/s"] =
        benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

int threadsFor(benchmark::State& state) {
    return state.range(0) == 0 ? static_cast<int>(std::thread::hardware_concurrency())
                               : static_cast<int>(state.range(0));
}

void ours(benchmark::State& state, Kind kind) {
    const auto& p = frame();
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threadsFor(state));
    for (auto _ : state) {
        auto texture = fw::DXTEncoder::encode(p.bgra.data(), p.stride, p.width, p.height, kind, 4);
        benchmark::DoNotOptimize(texture.data());
    }
    countPixels(state);
}

void oursBC4(benchmark::State& state) {
    const auto& p = frame();
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(p.width) * p.height);
    for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = p.bgra[4 * i + 1];
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threadsFor(state));
    for (auto _ : state) {
        auto blocks = fw::DXTEncoder::encodeBC4PlaneBlocks(plane.data(), p.width, p.width, p.height, 4);
        benchmark::DoNotOptimize(blocks.data());
    }
    countPixels(state);
}

// A block compressor of the reference libraries over the same frame, block by
// block in rows spread across the threads: compressBlock(rgba16x4, out).
template <class CompressBlock>
void blockByBlock(benchmark::State& state, int blockBytes, CompressBlock compressBlock) {
    const auto& p = frame();
    const int columns = p.width / 4, rows = p.height / 4;
    std::vector<unsigned char> out(static_cast<std::size_t>(columns) * rows * blockBytes);
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threadsFor(state));
    for (auto _ : state) {
        tbb::parallel_for(tbb::blocked_range<int>(0, rows), [&](const tbb::blocked_range<int>& range) {
            unsigned char block[64];
            for (int by = range.begin(); by != range.end(); ++by) {
                for (int bx = 0; bx < columns; ++bx) {
                    for (int j = 0; j < 4; ++j)
                        std::memcpy(block + 16 * j, p.bgra.data() + (4 * by + j) * p.stride + 16 * bx, 16);
                    compressBlock(block, out.data() + (static_cast<std::size_t>(by) * columns + bx) * blockBytes);
                }
            }
        });
        benchmark::DoNotOptimize(out.data());
    }
    countPixels(state);
}

// stb_dxt takes RGBA byte order; the byte order does not change its speed.
void stb(benchmark::State& state, bool alpha) {
    blockByBlock(state, alpha ? 16 : 8, [alpha](const unsigned char* block, unsigned char* out) {
        stb_compress_dxt_block(out, block, alpha ? 1 : 0, STB_DXT_NORMAL);
    });
}

void squishRangeFit(benchmark::State& state, int format) {
    blockByBlock(state, format == squish::kDxt1 ? 8 : 16, [format](const unsigned char* block, unsigned char* out) {
        squish::Compress(block, out, format | squish::kColourRangeFit);
    });
}

void threadCounts(benchmark::internal::Benchmark* b) {
    b->ArgName("threads")->Arg(1)->Arg(2)->Arg(4)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(ours, DXT1, Kind::dxt1)->Apply(threadCounts);
BENCHMARK_CAPTURE(stb, DXT1, false)->Apply(threadCounts);
BENCHMARK_CAPTURE(squishRangeFit, DXT1, squish::kDxt1)->Apply(threadCounts);
BENCHMARK_CAPTURE(ours, DXT5, Kind::dxt5)->Apply(threadCounts);
BENCHMARK_CAPTURE(stb, DXT5, true)->Apply(threadCounts);
BENCHMARK_CAPTURE(squishRangeFit, DXT5, squish::kDxt5)->Apply(threadCounts);
BENCHMARK_CAPTURE(ours, ScaledYCoCg, Kind::ycocg)->Apply(threadCounts);
BENCHMARK(oursBC4)->Apply(threadCounts);

BENCHMARK_MAIN();

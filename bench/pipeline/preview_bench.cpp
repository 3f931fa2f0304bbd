// Live preview cost: one 1920×1080 frame made into the encoders' 480-pixel
// preview per iteration, for each picture format a pump may hold (an 8-bit
// 4:2:0 picture on its way to a YCbCr writer, a 10-bit 4:2:2 one, BGRA on the
// RGB path). A batch renders about ten a second on a pump thread, so each
// millisecond here is about 1 % of a core.

#include "pipeline/PreviewRenderer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace {

using fw::media::PixelBuffer;
using fw::media::PixelFormat;

// Noise over every sample, so that nothing runs on equal values.
std::shared_ptr<PixelBuffer> makeFrame(PixelFormat format) {
    auto frame = PixelBuffer::create(1920, 1080, format);
    std::mt19937 random(11);
    std::uniform_int_distribution<int> value(64, 192);
    for (int plane = 0; plane < frame->planeCount(); ++plane)
        for (int y = 0; y < frame->planeHeight(plane); ++y) {
            const int samples = frame->planeWidth(plane) * (format == PixelFormat::bgra8 ? 4 : 1);
            if (format == PixelFormat::x422)
                for (int x = 0; x < samples; ++x)
                    frame->row<std::uint16_t>(y, plane)[x] = static_cast<std::uint16_t>(4 * value(random));
            else
                for (int x = 0; x < samples; ++x) frame->row(y, plane)[x] = static_cast<std::uint8_t>(value(random));
        }
    return frame;
}

void BM_Preview(benchmark::State& state, PixelFormat format) {
    const auto frame = makeFrame(format);
    for (auto _ : state)
        benchmark::DoNotOptimize(fw::PreviewRenderer::downscaledImage(*frame, fw::PreviewRenderer::kMaxDimension));
}

BENCHMARK_CAPTURE(BM_Preview, i420, PixelFormat::i420)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_Preview, x422, PixelFormat::x422)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_Preview, bgra8, PixelFormat::bgra8)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();

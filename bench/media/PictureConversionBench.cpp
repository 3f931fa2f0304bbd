// Decoded pictures to BGRA: one 1920×1080 picture per iteration, 8-bit 4:2:0
// and 4:2:2 (what H.264 and most camera files decode to) and 10-bit 4:2:0, on
// one thread and on the worker pool. Reports BGRA bytes written per second; a
// whole encode at 450 fps needs about 3.7 GB/s of it.
//
// Decoded 8-bit 4:2:0 widened to the 10-bit 4:2:2 ProRes 422 takes, in one
// pass and (for comparison) through the general float path, on one thread
// and on the pool: 10-bit bytes written per second.

#include "platform/media/PictureConversion.h"
#include "platform/media/PictureConversion_internal.h"

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace fw::media;

constexpr int kWidth = 1920, kHeight = 1080;

// Planes of a picture with gentle gradients and noise, so that no value repeats for long.
struct SourcePicture {
    YCbCrPlanes planes;
    std::vector<std::uint8_t> memory[3];

    SourcePicture(int bitDepth, int chromaShiftY) {
        planes.width = kWidth;
        planes.height = kHeight;
        planes.bitDepth = bitDepth;
        planes.chromaShiftY = chromaShiftY;
        const int bytes = bitDepth > 8 ? 2 : 1;
        std::mt19937 random(11);
        std::uniform_int_distribution<int> noise(-6, 6);
        for (int plane = 0; plane < 3; ++plane) {
            const int width = plane == 0 ? kWidth : kWidth / 2;
            const int height = plane == 0 ? kHeight : kHeight >> chromaShiftY;
            memory[plane].resize(static_cast<std::size_t>(width) * height * bytes);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const int base = plane == 0 ? 16 + 219 * x / width : 128 + (plane == 1 ? 80 : -80) * y / height;
                    const int value = (base + noise(random)) << (bitDepth - 8);
                    const std::size_t at = static_cast<std::size_t>(y) * width + x;
                    if (bytes == 2)
                        reinterpret_cast<std::uint16_t*>(memory[plane].data())[at] = static_cast<std::uint16_t>(value);
                    else
                        memory[plane][at] = static_cast<std::uint8_t>(value);
                }
            planes.planes[plane] = memory[plane].data();
            planes.strides[plane] = static_cast<std::ptrdiff_t>(width) * bytes;
        }
    }
};

void BM_ConvertToBgra(benchmark::State& state, int bitDepth, int chromaShiftY, bool oneThread) {
    const SourcePicture source(bitDepth, chromaShiftY);
    auto destination = PixelBuffer::create(kWidth, kHeight, PixelFormat::bgra8);
    std::unique_ptr<tbb::global_control> limit;
    if (oneThread) limit = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, 1);
    for (auto _ : state) {
        convertToBgra(source.planes, YCbCrMatrix::bt709, *destination);
        benchmark::DoNotOptimize(destination->data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kWidth} * kHeight * 4);
}

BENCHMARK_CAPTURE(BM_ConvertToBgra, yuv420p_one_thread, 8, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertToBgra, yuv422p_one_thread, 8, 0, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertToBgra, yuv420p10_one_thread, 10, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertToBgra, yuv420p_pool, 8, 1, false)->Unit(benchmark::kMillisecond)->UseRealTime();

// BGRA to the 10-bit 4:2:2 planes ProRes 422 takes, as pictures from the decode
// helper reach its writer.
void BM_ConvertFromBgraTo422p10(benchmark::State& state, bool oneThread) {
    auto source = PixelBuffer::create(kWidth, kHeight, PixelFormat::bgra8);
    std::mt19937 random(12);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = source->row(y);
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c)
                row[4 * x + c] = static_cast<std::uint8_t>((x + 3 * y + 40 * c + random() % 9) & 0xFF);
            row[4 * x + 3] = 255;
        }
    }
    std::vector<std::uint16_t> memory[3];
    YCbCrPlanes planes;
    planes.width = kWidth;
    planes.height = kHeight;
    planes.bitDepth = 10;
    planes.chromaShiftY = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? kWidth : kWidth / 2;
        memory[plane].resize(static_cast<std::size_t>(width) * kHeight);
        planes.planes[plane] = reinterpret_cast<std::uint8_t*>(memory[plane].data());
        planes.strides[plane] = static_cast<std::ptrdiff_t>(width) * 2;
    }
    std::unique_ptr<tbb::global_control> limit;
    if (oneThread) limit = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, 1);
    for (auto _ : state) {
        convertFromBgra(*source, YCbCrMatrix::bt709, planes);
        benchmark::DoNotOptimize(memory[0].data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kWidth} * kHeight * 4);
}

void BM_WidenTo422(benchmark::State& state, bool inFloat, bool oneThread) {
    const SourcePicture source(8, 1);
    auto destination = PixelBuffer::create(kWidth, kHeight, PixelFormat::x422);
    const YCbCrPlanes planes = planesOf(*destination);
    std::unique_ptr<tbb::global_control> limit;
    if (oneThread) limit = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, 1);
    for (auto _ : state) {
        if (inFloat)
            detail::convertPlanesInFloat(source.planes, planes);
        else
            detail::widenTo422(source.planes, planes);
        benchmark::DoNotOptimize(destination->data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kWidth} * kHeight * 4);
}

BENCHMARK_CAPTURE(BM_ConvertFromBgraTo422p10, one_thread, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertFromBgraTo422p10, pool, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_WidenTo422, one_pass_one_thread, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WidenTo422, float_one_thread, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WidenTo422, one_pass_pool, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_WidenTo422, float_pool, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

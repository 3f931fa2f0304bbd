// DXV coders on a photo-like 1080p frame: LZF beside liblzf on the same DXT1
// texture (bytes/s), block-reuse coding of DXT1 and DXT5 textures and
// high-quality coding of the frame (frames/s).

#include <benchmark/benchmark.h>

#include <lzf.h>

#include "BenchPictures.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVFrame.h"
#include "codecs/dxv/DXVHighQuality.h"
#include "codecs/dxv/DXVLZF.h"
#include "codecs/dxv/DXVTextureSource.h"

namespace {

using fw::DXV::Bytes;

const fw::bench::Picture& picture() {
    static const fw::bench::Picture p = fw::bench::photoLikeFrame();
    return p;
}

const Bytes& texture(fw::DXTEncoder::Kind kind) {
    static const Bytes dxt1 = fw::DXTEncoder::encode(picture().bgra.data(), picture().stride, picture().width,
                                                     picture().height, fw::DXTEncoder::Kind::dxt1, 16);
    static const Bytes dxt5 = fw::DXTEncoder::encode(picture().bgra.data(), picture().stride, picture().width,
                                                     picture().height, fw::DXTEncoder::Kind::dxt5, 16);
    return kind == fw::DXTEncoder::Kind::dxt1 ? dxt1 : dxt5;
}

void reportRatio(benchmark::State& state, std::size_t in, std::size_t out) {
    state.counters["ratio"] = static_cast<double>(out) / static_cast<double>(in);
}

void BM_LZFCompress_Ours(benchmark::State& state) {
    const Bytes& input = texture(fw::DXTEncoder::Kind::dxt1);
    std::size_t size = 0;
    for (auto _ : state) size = fw::DXV::compressLZF(input).size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    reportRatio(state, input.size(), size);
}

void BM_LZFCompress_liblzf(benchmark::State& state) {
    const Bytes& input = texture(fw::DXTEncoder::Kind::dxt1);
    Bytes out(input.size() + input.size() / 16 + 64);
    unsigned size = 0;
    for (auto _ : state) {
        size = lzf_compress(input.data(), static_cast<unsigned>(input.size()), out.data(),
                            static_cast<unsigned>(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    reportRatio(state, input.size(), size);
}

void BM_LZFDecompress_Ours(benchmark::State& state) {
    const Bytes& input = texture(fw::DXTEncoder::Kind::dxt1);
    const Bytes stream = fw::DXV::compressLZF(input);
    for (auto _ : state) benchmark::DoNotOptimize(fw::DXV::decompressLZF(stream));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_LZFDecompress_liblzf(benchmark::State& state) {
    const Bytes& input = texture(fw::DXTEncoder::Kind::dxt1);
    const Bytes stream = fw::DXV::compressLZF(input);
    Bytes out(input.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(lzf_decompress(stream.data(), static_cast<unsigned>(stream.size()), out.data(),
                                                static_cast<unsigned>(out.size())));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_BlockReuseCompress(benchmark::State& state) {
    const auto kind = state.range(0) == 1 ? fw::DXTEncoder::Kind::dxt1 : fw::DXTEncoder::Kind::dxt5;
    const Bytes& input = texture(kind);
    std::size_t size = 0;
    for (auto _ : state)
        size =
            (kind == fw::DXTEncoder::Kind::dxt1 ? fw::DXV::compressDXT1(input) : fw::DXV::compressDXT5(input)).size();
    state.SetItemsProcessed(state.iterations());  // frames
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    reportRatio(state, input.size(), size);
}

void BM_BlockReuseDecompress(benchmark::State& state) {
    const auto kind = state.range(0) == 1 ? fw::DXTEncoder::Kind::dxt1 : fw::DXTEncoder::Kind::dxt5;
    const Bytes& input = texture(kind);
    const Bytes coded =
        kind == fw::DXTEncoder::Kind::dxt1 ? fw::DXV::compressDXT1(input) : fw::DXV::compressDXT5(input);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kind == fw::DXTEncoder::Kind::dxt1 ? fw::DXV::decompressDXT1(coded, input.size())
                                                                    : fw::DXV::decompressDXT5(coded, input.size()));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// Pixels to a finished DXV3 frame: block compression plus block-reuse coding.
void BM_DXV3FrameFromPixels(benchmark::State& state) {
    const auto kind = state.range(0) == 1 ? fw::DXTEncoder::Kind::dxt1 : fw::DXTEncoder::Kind::dxt5;
    const auto format = state.range(0) == 1 ? fw::DXV::TextureFormat::dxt1 : fw::DXV::TextureFormat::dxt5;
    const auto& p = picture();
    for (auto _ : state) {
        const Bytes tex = fw::DXTEncoder::encode(p.bgra.data(), p.stride, p.width, p.height, kind, 16);
        benchmark::DoNotOptimize(fw::DXV::frame(tex, fw::DXV::Version::dxv3, format));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_HQCompressFrame(benchmark::State& state) {
    const auto& p = picture();
    std::size_t size = 0;
    for (auto _ : state)
        size = fw::DXV::hqCompressFrame(p.bgra.data(), p.stride, p.width, p.height, fw::DXV::HQFormat::yg10).size();
    state.SetItemsProcessed(state.iterations());
    state.counters["frame_bytes"] = static_cast<double>(size);
}

void BM_HQDecodeToPixels(benchmark::State& state) {
    const auto& p = picture();
    const Bytes frame = fw::DXV::hqCompressFrame(p.bgra.data(), p.stride, p.width, p.height, fw::DXV::HQFormat::yg10);
    Bytes out(p.stride * p.height);
    for (auto _ : state)
        benchmark::DoNotOptimize(fw::TextureSource::decodeDXVFrame(frame, p.width, p.height, out.data(), p.stride));
    state.SetItemsProcessed(state.iterations());
}

void BM_DXV3DecodeToPixels(benchmark::State& state) {
    const auto& p = picture();
    const Bytes frame =
        fw::DXV::frame(texture(fw::DXTEncoder::Kind::dxt5), fw::DXV::Version::dxv3, fw::DXV::TextureFormat::dxt5);
    Bytes out(p.stride * p.height);
    for (auto _ : state)
        benchmark::DoNotOptimize(fw::TextureSource::decodeDXVFrame(frame, p.width, p.height, out.data(), p.stride));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_LZFCompress_Ours);
BENCHMARK(BM_LZFCompress_liblzf);
BENCHMARK(BM_LZFDecompress_Ours);
BENCHMARK(BM_LZFDecompress_liblzf);
BENCHMARK(BM_BlockReuseCompress)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockReuseDecompress)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DXV3FrameFromPixels)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HQCompressFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HQDecodeToPixels)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DXV3DecodeToPixels)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Snappy decompression: ours beside libsnappy on the same streams, in bytes of
// output per second. Streams: the DXT1 and DXT5 textures of a photo-like 1080p
// frame (what Hap frames carry) and mixed runs, repeats and noise.

#include <benchmark/benchmark.h>
#include <snappy.h>

#include <array>
#include <random>
#include <string>

#include "BenchPictures.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/hap/HapDecoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes mixed(std::size_t size) {
    std::mt19937 random(5);
    Bytes data;
    while (data.size() < size) {
        switch (random() % 4) {
        case 0: data.insert(data.end(), random() % 100 + 1, std::uint8_t(random())); break;
        case 1:
            for (int i = random() % 32; i >= 0; --i) data.push_back(std::uint8_t(random()));
            break;
        default:
            if (data.size() > 64) {
                const std::size_t distance = random() % std::min<std::size_t>(data.size(), 30000) + 1;
                for (int i = random() % 60 + 4; i > 0; --i) data.push_back(data[data.size() - distance]);
            }
        }
    }
    data.resize(size);
    return data;
}

struct Corpus {
    Bytes raw;
    std::string compressed;
};

const Corpus& corpus(int which) {
    static const std::array<Corpus, 3> corpora = [] {
        const auto picture = fw::bench::photoLikeFrame();
        Bytes inputs[3] = {
            fw::DXTEncoder::encode(picture.bgra.data(), picture.stride, picture.width, picture.height,
                                   fw::DXTEncoder::Kind::dxt1, 4),
            fw::DXTEncoder::encode(picture.bgra.data(), picture.stride, picture.width, picture.height,
                                   fw::DXTEncoder::Kind::dxt5, 4),
            mixed(4 << 20),
        };
        std::array<Corpus, 3> result;
        for (int i = 0; i < 3; ++i) {
            result[i].raw = std::move(inputs[i]);
            snappy::Compress(reinterpret_cast<const char*>(result[i].raw.data()), result[i].raw.size(),
                             &result[i].compressed);
        }
        return result;
    }();
    return corpora[which];
}

std::span<const std::uint8_t> view(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void label(benchmark::State& state, const Corpus& c) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.raw.size()));
    static const char* names[3] = {"dxt1 texture", "dxt5 texture", "mixed"};
    state.SetLabel(std::string(names[state.range(0)]) + ", ratio " +
                   std::to_string(double(c.raw.size()) / double(c.compressed.size())).substr(0, 4));
}

// Into a fresh buffer per call, as a frame read does.
void oursFresh(benchmark::State& state) {
    const Corpus& c = corpus(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto out = fw::HapDecoder::snappyDecompress(view(c.compressed));
        benchmark::DoNotOptimize(out.data());
    }
    label(state, c);
}

void libsnappyFresh(benchmark::State& state) {
    const Corpus& c = corpus(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::string out;
        snappy::Uncompress(c.compressed.data(), c.compressed.size(), &out);
        benchmark::DoNotOptimize(out.data());
    }
    label(state, c);
}

// Into a buffer reused across calls.
void oursReused(benchmark::State& state) {
    const Corpus& c = corpus(static_cast<int>(state.range(0)));
    Bytes out;
    for (auto _ : state) {
        out.clear();
        fw::HapDecoder::snappyDecompressAppend(view(c.compressed), out, out.max_size());
        benchmark::DoNotOptimize(out.data());
    }
    label(state, c);
}

void libsnappyReused(benchmark::State& state) {
    const Corpus& c = corpus(static_cast<int>(state.range(0)));
    std::vector<char> out(c.raw.size());
    for (auto _ : state) {
        snappy::RawUncompress(c.compressed.data(), c.compressed.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    label(state, c);
}

}  // namespace

BENCHMARK(oursFresh)->DenseRange(0, 2)->ArgName("corpus");
BENCHMARK(libsnappyFresh)->DenseRange(0, 2)->ArgName("corpus");
BENCHMARK(oursReused)->DenseRange(0, 2)->ArgName("corpus");
BENCHMARK(libsnappyReused)->DenseRange(0, 2)->ArgName("corpus");

BENCHMARK_MAIN();

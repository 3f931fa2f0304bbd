// Integrated loudness (and true peak) of ten minutes of stereo 48 kHz audio,
// ours against libebur128 on the same samples in the same run. The signal is
// fed in decoder-sized chunks, as the file analyzer does.

#include "pipeline/LoudnessMeter.h"

#include <benchmark/benchmark.h>
#include <ebur128.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr std::size_t kFrames = static_cast<std::size_t>(kRate) * 600;
constexpr std::size_t kChunkFrames = 1024;

// Noise shaped by a slow level swing (so the gates have work to do), with a
// different sequence per channel. Built once.
const std::vector<float>& signal() {
    static const std::vector<float> samples = [] {
        std::vector<float> out(kFrames * kChannels);
        std::uint32_t state = 12345;
        float smooth[kChannels] = {};
        for (std::size_t i = 0; i < kFrames; ++i) {
            const double seconds = static_cast<double>(i) / kRate;
            const float level = static_cast<float>(0.02 + 0.3 * (0.5 + 0.5 * std::sin(seconds * 0.7)));
            for (int c = 0; c < kChannels; ++c) {
                state = state * 1664525u + 1013904223u;
                const float white = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
                smooth[c] = 0.7f * smooth[c] + 0.3f * white;
                out[i * kChannels + static_cast<std::size_t>(c)] = level * smooth[c];
            }
        }
        return out;
    }();
    return samples;
}

void runOurs(benchmark::State& state, fw::LoudnessMeter::Measurements what) {
    const auto& samples = signal();
    for (auto _ : state) {
        fw::LoudnessMeter meter(kChannels, kRate, what);
        for (std::size_t at = 0; at < kFrames; at += kChunkFrames)
            meter.add(samples.data() + at * kChannels, std::min(kChunkFrames, kFrames - at) * kChannels);
        if (what == fw::LoudnessMeter::Measurements::truePeak)
            benchmark::DoNotOptimize(meter.truePeak());
        else
            benchmark::DoNotOptimize(meter.integratedLUFS());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * samples.size() * sizeof(float)));
}

void runLibebur128(benchmark::State& state, int mode) {
    const auto& samples = signal();
    for (auto _ : state) {
        ebur128_state* st = ebur128_init(kChannels, kRate, mode);
        for (std::size_t at = 0; at < kFrames; at += kChunkFrames)
            ebur128_add_frames_float(st, samples.data() + at * kChannels, std::min(kChunkFrames, kFrames - at));
        double out = 0;
        if (mode == EBUR128_MODE_TRUE_PEAK) {
            ebur128_true_peak(st, 0, &out);
        } else {
            ebur128_loudness_global(st, &out);
        }
        benchmark::DoNotOptimize(out);
        ebur128_destroy(&st);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * samples.size() * sizeof(float)));
}

void BM_IntegratedLoudness_Ours(benchmark::State& state) { runOurs(state, fw::LoudnessMeter::Measurements::loudness); }
void BM_IntegratedLoudness_Libebur128(benchmark::State& state) { runLibebur128(state, EBUR128_MODE_I); }
void BM_TruePeak_Ours(benchmark::State& state) { runOurs(state, fw::LoudnessMeter::Measurements::truePeak); }
void BM_TruePeak_Libebur128(benchmark::State& state) { runLibebur128(state, EBUR128_MODE_TRUE_PEAK); }

BENCHMARK(BM_IntegratedLoudness_Ours)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_IntegratedLoudness_Libebur128)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TruePeak_Ours)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TruePeak_Libebur128)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

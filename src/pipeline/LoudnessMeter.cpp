#include "pipeline/LoudnessMeter.h"

#include "codecs/VectorUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

// The hot loops are written once as bodies that are always inlined into the
// kernels below, which are built for the baseline and, on x86-64, for AVX2
// with FMA; a meter picks its kernels once, when it is made. The helpers that
// pass 32-byte vectors are inlined too (FW_VECTOR_HELPER), so no call ever
// crosses between the AVX and the baseline calling convention and GCC's note
// about that difference does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#define FW_VECTOR_HELPER inline __attribute__((always_inline))

namespace fw {

namespace {

// The interpolator has 49 taps whatever the factor: 12 a phase at 4x, 24 at 2x.
constexpr int kInterpolatorTaps = 49;
constexpr std::size_t kPeakChunkFrames = 2048;
constexpr double kAbsoluteGateLUFS = -70.0;
constexpr double kRelativeGateLU = -10.0;

double loudness(double power) { return power > 0 ? 10.0 * std::log10(power) - 0.691 : -HUGE_VAL; }

// Two doubles in one vector register: two channels filtered side by side, so
// that their recursions overlap in the pipeline.
using Double2 = double __attribute__((vector_size(16)));

// Runs channels c0 and c1 of interleaved input through both K-weighting
// sections and adds the squares of the result to their `sums`. Every channel's
// sections have the same coefficients. c0 == c1 filters one channel (twice).
FW_VECTOR_HELPER void kWeightedSquaresBody(const float* in, std::size_t stride, std::size_t frames, std::size_t c0,
                                           std::size_t c1, LoudnessMeter::Biquad* stage1, LoudnessMeter::Biquad* stage2,
                                           double* sums) {
    using Biquad = LoudnessMeter::Biquad;
    const Biquad& f = stage1[c0];
    const Biquad& g = stage2[c0];
    const double fb0 = f.b0, fb1 = f.b1, fb2 = f.b2, fa1 = f.a1, fa2 = f.a2;
    const double gb0 = g.b0, gb1 = g.b1, gb2 = g.b2, ga1 = g.a1, ga2 = g.a2;
    auto pairOf = [&](double Biquad::*member, Biquad* stage) { return Double2{stage[c0].*member, stage[c1].*member}; };
    Double2 fx1 = pairOf(&Biquad::x1, stage1), fx2 = pairOf(&Biquad::x2, stage1);
    Double2 fy1 = pairOf(&Biquad::y1, stage1), fy2 = pairOf(&Biquad::y2, stage1);
    Double2 gx1 = pairOf(&Biquad::x1, stage2), gx2 = pairOf(&Biquad::x2, stage2);
    Double2 gy1 = pairOf(&Biquad::y1, stage2), gy2 = pairOf(&Biquad::y2, stage2);
    Double2 acc = {0, 0};
    for (std::size_t i = 0; i < frames; ++i) {
        const float* frame = in + i * stride;
        const Double2 x = {frame[c0], frame[c1]};
        // Direct form I; the newest output enters last to keep the recursion short.
        const Double2 y = fb0 * x + fb1 * fx1 + fb2 * fx2 - fa2 * fy2 - fa1 * fy1;
        fx2 = fx1;
        fx1 = x;
        fy2 = fy1;
        fy1 = y;
        const Double2 z = gb0 * y + gb1 * gx1 + gb2 * gx2 - ga2 * gy2 - ga1 * gy1;
        gx2 = gx1;
        gx1 = y;
        gy2 = gy1;
        gy1 = z;
        acc += z * z;
    }
    auto store = [&](Biquad* stage, std::size_t c, int lane, Double2 x1, Double2 x2, Double2 y1, Double2 y2) {
        stage[c].x1 = x1[lane];
        stage[c].x2 = x2[lane];
        stage[c].y1 = y1[lane];
        stage[c].y2 = y2[lane];
    };
    store(stage1, c0, 0, fx1, fx2, fy1, fy2);
    store(stage2, c0, 0, gx1, gx2, gy1, gy2);
    sums[c0] += acc[0];
    if (c1 != c0) {
        store(stage1, c1, 1, fx1, fx2, fy1, fy2);
        store(stage2, c1, 1, gx1, gx2, gy1, gy2);
        sums[c1] += acc[1];
    }
}

// Eight floats in one vector register (two on processors without AVX).
using Float8 = float __attribute__((vector_size(32)));

FW_VECTOR_HELPER Float8 load8(const float* p) {
    Float8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

FW_VECTOR_HELPER Float8 abs8(Float8 v) { return v < 0 ? -v : v; }
FW_VECTOR_HELPER Float8 max8(Float8 a, Float8 b) { return a > b ? a : b; }

FW_VECTOR_HELPER float horizontalMax(Float8 v) {
    float m = v[0];
    for (int j = 1; j < 8; ++j) m = std::max(m, v[j]);
    return m;
}

// Largest |y| of y[i] = sum_k taps[k] * x[i - k] for i in [0, n), k < T;
// x[1 - T .. -1] must be readable. Eight outputs at a time, the taps split over
// two accumulators to halve the dependency chain.
template <int T>
FW_VECTOR_HELPER float phasePeakBody(const float* x, std::size_t n, const float* taps) {
    static_assert(T % 2 == 0);
    Float8 best = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const float* at = x + i;
        Float8 even = {}, odd = {};
        for (int k = 0; k < T; k += 2) {
            even += taps[k] * load8(at - k);
            odd += taps[k + 1] * load8(at - k - 1);
        }
        best = max8(best, abs8(even + odd));
    }
    float peak = horizontalMax(best);
    for (; i < n; ++i) {
        float acc = 0;
        for (int k = 0; k < T; ++k) acc += taps[k] * x[static_cast<std::ptrdiff_t>(i) - k];
        peak = std::max(peak, std::fabs(acc));
    }
    return peak;
}

FW_VECTOR_HELPER float samplePeakBody(const float* samples, std::size_t count) {
    Float8 best = {};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) best = max8(best, abs8(load8(samples + i)));
    float peak = horizontalMax(best);
    for (; i < count; ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

// The kernels, once per vector unit.
void kWeightedSquaresBaseline(const float* in, std::size_t stride, std::size_t frames, std::size_t c0, std::size_t c1,
                              LoudnessMeter::Biquad* stage1, LoudnessMeter::Biquad* stage2, double* sums) {
    kWeightedSquaresBody(in, stride, frames, c0, c1, stage1, stage2, sums);
}
template <int T>
float phasePeakBaseline(const float* x, std::size_t n, const float* taps) {
    return phasePeakBody<T>(x, n, taps);
}
float samplePeakBaseline(const float* samples, std::size_t count) { return samplePeakBody(samples, count); }

#if defined(FW_HAS_AVX2_KERNELS)
FW_TARGET_AVX2 void kWeightedSquaresAVX2(const float* in, std::size_t stride, std::size_t frames, std::size_t c0,
                                         std::size_t c1, LoudnessMeter::Biquad* stage1, LoudnessMeter::Biquad* stage2,
                                         double* sums) {
    kWeightedSquaresBody(in, stride, frames, c0, c1, stage1, stage2, sums);
}
template <int T>
FW_TARGET_AVX2 float phasePeakAVX2(const float* x, std::size_t n, const float* taps) {
    return phasePeakBody<T>(x, n, taps);
}
FW_TARGET_AVX2 float samplePeakAVX2(const float* samples, std::size_t count) { return samplePeakBody(samples, count); }
#endif

// Filter state that has decayed this far would soon become subnormal, which is
// very slow on most processors; it contributes nothing measurable.
void flushTiny(LoudnessMeter::Biquad& b) {
    constexpr double kTiny = 1e-30;
    for (double* v : {&b.x1, &b.x2, &b.y1, &b.y2})
        if (std::fabs(*v) < kTiny) *v = 0;
}

}  // namespace

struct LoudnessMeter::Kernels {
    void (*kWeightedSquares)(const float* in, std::size_t stride, std::size_t frames, std::size_t c0, std::size_t c1,
                             Biquad* stage1, Biquad* stage2, double* sums);
    float (*phasePeak12)(const float* x, std::size_t n, const float* taps);
    float (*phasePeak24)(const float* x, std::size_t n, const float* taps);
    float (*samplePeak)(const float* samples, std::size_t count);
};

const LoudnessMeter::Kernels& LoudnessMeter::widestKernels() {
    static constexpr Kernels baseline{kWeightedSquaresBaseline, phasePeakBaseline<12>, phasePeakBaseline<24>,
                                      samplePeakBaseline};
#if defined(FW_HAS_AVX2_KERNELS)
    static constexpr Kernels avx2{kWeightedSquaresAVX2, phasePeakAVX2<12>, phasePeakAVX2<24>, samplePeakAVX2};
    if (widestVectorUnit() == VectorUnit::avx2) return avx2;
#endif
    return baseline;
}

// The analogue prototypes behind BS.1770's 48 kHz coefficients (as derived by
// Brecht De Man), mapped to any rate by the bilinear transform with pre-warping.
LoudnessMeter::Biquad LoudnessMeter::kWeightingShelf(double sampleRate) {
    constexpr double f0 = 1681.974450955533;
    constexpr double gainDb = 3.999843853973347;
    constexpr double q = 0.7071752369554196;
    const double k = std::tan(std::numbers::pi * f0 / sampleRate);
    const double vh = std::pow(10.0, gainDb / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / q + k * k;
    Biquad b;
    b.b0 = (vh + vb * k / q + k * k) / a0;
    b.b1 = 2.0 * (k * k - vh) / a0;
    b.b2 = (vh - vb * k / q + k * k) / a0;
    b.a1 = 2.0 * (k * k - 1.0) / a0;
    b.a2 = (1.0 - k / q + k * k) / a0;
    return b;
}

LoudnessMeter::Biquad LoudnessMeter::kWeightingHighPass(double sampleRate) {
    constexpr double f0 = 38.13547087602444;
    constexpr double q = 0.5003270373238773;
    const double k = std::tan(std::numbers::pi * f0 / sampleRate);
    const double a0 = 1.0 + k / q + k * k;
    Biquad b;
    b.b0 = 1.0;
    b.b1 = -2.0;
    b.b2 = 1.0;
    b.a1 = 2.0 * (k * k - 1.0) / a0;
    b.a2 = (1.0 - k / q + k * k) / a0;
    return b;
}

std::vector<double> LoudnessMeter::defaultChannelWeights(int channels) {
    channels = std::max(channels, 1);
    std::vector<double> w(static_cast<std::size_t>(channels), kFrontWeight);
    const double F = kFrontWeight, S = kSurroundWeight, X = kExcludedWeight;
    switch (channels) {
    case 3: w = {F, F, X}; break;                 // 2.1: FL FR LFE
    case 4: w = {F, F, F, S}; break;              // 4.0: FL FR FC BC
    case 5: w = {F, F, F, S, S}; break;           // 5.0: FL FR FC BL BR
    case 6: w = {F, F, F, X, S, S}; break;        // 5.1: FL FR FC LFE BL BR
    case 7: w = {F, F, F, X, S, S, S}; break;     // 6.1: FL FR FC LFE BC SL SR
    case 8: w = {F, F, F, X, S, S, S, S}; break;  // 7.1: FL FR FC LFE BL BR SL SR
    default: break;
    }
    return w;
}

std::vector<double> LoudnessMeter::channelWeights(const std::vector<std::string>& speakerNames) {
    std::vector<double> w;
    w.reserve(speakerNames.size());
    for (const auto& name : speakerNames) {
        if (name == "LFE" || name == "LFE2") {
            w.push_back(kExcludedWeight);
        } else if (name == "BL" || name == "BR" || name == "BC" || name == "SL" || name == "SR" || name == "TBL" ||
                   name == "TBC" || name == "TBR" || name == "SDL" || name == "SDR") {
            w.push_back(kSurroundWeight);
        } else {
            w.push_back(kFrontWeight);
        }
    }
    return w;
}

LoudnessMeter::LoudnessMeter(int channels, double sampleRate, Measurements measurements)
    : LoudnessMeter(defaultChannelWeights(channels), sampleRate, measurements) {}

LoudnessMeter::LoudnessMeter(std::vector<double> channelWeights, double sampleRate, Measurements measurements)
    : kernels_(&widestKernels()), weights_(std::move(channelWeights)) {
    if (weights_.empty()) weights_.push_back(kFrontWeight);
    channels_ = static_cast<int>(weights_.size());
    measureLoudness_ = measurements != Measurements::truePeak;
    measureTruePeak_ = measurements != Measurements::loudness;

    subBlockSize_ = std::max<std::size_t>(static_cast<std::size_t>(sampleRate * 0.1), 1);
    stage1_.assign(weights_.size(), kWeightingShelf(sampleRate));
    stage2_.assign(weights_.size(), kWeightingHighPass(sampleRate));
    subSum_.assign(weights_.size(), 0.0);

    // Interpolating low-pass for the true peak: a Hann-windowed sinc cut at the
    // input's Nyquist frequency. Phase 0 is the input itself.
    oversampling_ = sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
    if (measureTruePeak_ && oversampling_ > 1) {
        const int length = kInterpolatorTaps;
        tapsPerPhase_ = (length - 1) / oversampling_;
        const double centre = (length - 1) / 2.0;
        std::vector<double> h(static_cast<std::size_t>(length));
        for (int j = 0; j < length; ++j) {
            const double m = (j - centre) / oversampling_;
            const double sinc = m == 0 ? 1.0 : std::sin(std::numbers::pi * m) / (std::numbers::pi * m);
            const double window = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * j / (length - 1)));
            h[static_cast<std::size_t>(j)] = sinc * window;
        }
        // Output p of each input n is sum_k h[p + factor*k] * x[n - k].
        for (int p = 1; p < oversampling_; ++p)
            for (int k = 0; k < tapsPerPhase_; ++k)
                phaseTaps_.push_back(static_cast<float>(h[static_cast<std::size_t>(p + oversampling_ * k)]));
        history_.assign(weights_.size() * historySize(), 0.0f);
    }
}

void LoudnessMeter::add(const float* samples, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels_);
    const std::size_t frames = count / stride;
    if (frames == 0) return;
    if (measureTruePeak_) measurePeaks(samples, frames);
    if (!measureLoudness_) return;
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t n = std::min(frames - done, subBlockSize_ - subCount_);
        filterSegment(samples + done * stride, n);
        subCount_ += n;
        done += n;
        if (subCount_ == subBlockSize_) finishSubBlock();
    }
}

void LoudnessMeter::filterSegment(const float* frames, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels_);
    // Excluded channels are not filtered at all; the others go in pairs.
    std::size_t first = 0;
    bool pending = false;
    for (std::size_t c = 0; c < stride; ++c) {
        if (weights_[c] == 0) continue;
        if (!pending) {
            first = c;
            pending = true;
            continue;
        }
        kernels_->kWeightedSquares(frames, stride, count, first, c, stage1_.data(), stage2_.data(), subSum_.data());
        pending = false;
    }
    if (pending)
        kernels_->kWeightedSquares(frames, stride, count, first, first, stage1_.data(), stage2_.data(), subSum_.data());
}

void LoudnessMeter::finishSubBlock() {
    double power = 0;
    for (std::size_t c = 0; c < subSum_.size(); ++c) {
        power += weights_[c] * (subSum_[c] / static_cast<double>(subBlockSize_));
        subSum_[c] = 0;
        flushTiny(stage1_[c]);
        flushTiny(stage2_[c]);
    }
    subBlockPowers_.push_back(power);
    subCount_ = 0;
}

void LoudnessMeter::measurePeaks(const float* frames, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels_);
    peak_ = std::max(peak_, kernels_->samplePeak(frames, count * stride));
    if (oversampling_ == 1) return;
    // Each channel is gathered behind its saved history so that the filter
    // runs over contiguous samples.
    const std::size_t kept = historySize();
    work_.resize(kept + std::min(count, kPeakChunkFrames));
    for (std::size_t c = 0; c < stride; ++c) {
        float* history = history_.data() + c * kept;
        for (std::size_t start = 0; start < count; start += kPeakChunkFrames) {
            const std::size_t n = std::min(count - start, kPeakChunkFrames);
            std::copy(history, history + kept, work_.begin());
            const float* in = frames + start * stride + c;
            for (std::size_t i = 0; i < n; ++i) work_[kept + i] = in[i * stride];
            const float* x = work_.data() + kept;
            for (int p = 1; p < oversampling_; ++p) {
                const float* taps = phaseTaps_.data() + static_cast<std::size_t>((p - 1) * tapsPerPhase_);
                const float phase =
                    tapsPerPhase_ == 12 ? kernels_->phasePeak12(x, n, taps) : kernels_->phasePeak24(x, n, taps);
                peak_ = std::max(peak_, phase);
            }
            std::copy(work_.begin() + static_cast<std::ptrdiff_t>(n),
                      work_.begin() + static_cast<std::ptrdiff_t>(n + kept), history);
        }
    }
}

std::optional<double> LoudnessMeter::integratedLUFS() const {
    if (!measureLoudness_ || subBlockPowers_.size() < 4) return std::nullopt;
    // 400 ms blocks from four consecutive sub-blocks, 75 % overlap.
    const std::size_t blockCount = subBlockPowers_.size() - 3;
    std::vector<double> blocks;
    blocks.reserve(blockCount);
    double sum = 0;
    for (std::size_t i = 0; i < blockCount; ++i) {
        const double* p = subBlockPowers_.data() + i;
        const double z = (p[0] + p[1] + p[2] + p[3]) / 4.0;
        if (z > 0 && loudness(z) >= kAbsoluteGateLUFS) {
            blocks.push_back(z);
            sum += z;
        }
    }
    if (blocks.empty()) return std::nullopt;
    const double threshold = loudness(sum / static_cast<double>(blocks.size())) + kRelativeGateLU;
    double gatedSum = 0;
    std::size_t gatedCount = 0;
    for (double z : blocks) {
        if (loudness(z) >= threshold) {
            gatedSum += z;
            ++gatedCount;
        }
    }
    if (gatedCount == 0) return std::nullopt;
    return loudness(gatedSum / static_cast<double>(gatedCount));
}

std::optional<double> LoudnessMeter::truePeak() const {
    if (!measureTruePeak_ || !(peak_ > 0)) return std::nullopt;
    return static_cast<double>(peak_);
}

std::optional<double> LoudnessMeter::truePeakDb() const {
    auto peak = truePeak();
    if (!peak) return std::nullopt;
    return 20.0 * std::log10(*peak);
}

}  // namespace fw

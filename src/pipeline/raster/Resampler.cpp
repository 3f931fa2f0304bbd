#include "pipeline/raster/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fw::raster {

namespace {

// Catmull-Rom (Keys cubic with a = −0.5): interpolating, so a 1:1 mapping on
// pixel centres copies pixels exactly.
double cubic(double x) {
    x = std::fabs(x);
    if (x < 1.0) return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0) return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

constexpr int kWeightBits = 14;
constexpr double kWeightEpsilon = 1e-7;

// The SIMD layouts of a filter's weights, from `fixed`.
void layOutWeights(AxisFilter& filter) {
    const int taps = filter.taps, outputCount = filter.outputCount;
    const int pairCount = (taps + 1) / 2;
    filter.pairs.assign(static_cast<std::size_t>(outputCount) * pairCount * 8, 0);
    for (int i = 0; i < outputCount; ++i)
        for (int k = 0; k < taps; ++k)
            for (int lane = 0; lane < 4; ++lane)
                filter.pairs[(static_cast<std::size_t>(i) * pairCount + k / 2) * 8 + lane * 2 + k % 2] =
                    filter.fixed[static_cast<std::size_t>(i) * taps + k];
    filter.paddedTaps = (taps + 7) / 8 * 8;
    filter.padded.assign(static_cast<std::size_t>(outputCount) * filter.paddedTaps, 0);
    for (int i = 0; i < outputCount; ++i)
        std::copy_n(&filter.fixed[static_cast<std::size_t>(i) * taps], taps,
                    &filter.padded[static_cast<std::size_t>(i) * filter.paddedTaps]);
}

}  // namespace

AxisFilter makeAxisFilter(int outputCount, double first, double step, int sourceCount) {
    AxisFilter filter;
    filter.outputCount = outputCount;
    filter.increasing = step > 0;
    const double support = std::max(1.0, std::fabs(step));
    const double radius = 2.0 * support;

    // Weights per output in a sparse form first: lo..hi with the values.
    std::vector<int> lo(outputCount), hi(outputCount);
    std::vector<std::vector<double>> weights(outputCount);
    std::vector<double> accumulated(static_cast<std::size_t>(sourceCount));
    for (int i = 0; i < outputCount; ++i) {
        double centre = first + step * i;
        int left = static_cast<int>(std::floor(centre - 0.5 - radius));
        int right = static_cast<int>(std::ceil(centre - 0.5 + radius));
        int minIndex = sourceCount, maxIndex = -1;
        double sum = 0.0;
        for (int j = left; j <= right; ++j) {
            double w = cubic((j + 0.5 - centre) / support);
            if (w == 0.0) continue;
            int clamped = std::clamp(j, 0, sourceCount - 1);
            if (accumulated[clamped] == 0.0) {
                minIndex = std::min(minIndex, clamped);
                maxIndex = std::max(maxIndex, clamped);
            }
            accumulated[clamped] += w;
            sum += w;
        }
        if (maxIndex < 0 || std::fabs(sum) < kWeightEpsilon) {
            // Far outside the source (cannot happen for sane input): nearest edge pixel.
            int nearest = std::clamp(static_cast<int>(std::floor(centre)), 0, sourceCount - 1);
            for (int j = minIndex; j <= maxIndex; ++j) accumulated[j] = 0.0;
            minIndex = maxIndex = nearest;
            accumulated[nearest] = sum = 1.0;
        }
        // Trim negligible weights at both ends.
        while (minIndex < maxIndex && std::fabs(accumulated[minIndex] / sum) < kWeightEpsilon)
            accumulated[minIndex++] = 0.0;
        while (maxIndex > minIndex && std::fabs(accumulated[maxIndex] / sum) < kWeightEpsilon)
            accumulated[maxIndex--] = 0.0;
        lo[i] = minIndex;
        hi[i] = maxIndex;
        weights[i].resize(static_cast<std::size_t>(maxIndex - minIndex + 1));
        for (int j = minIndex; j <= maxIndex; ++j) {
            weights[i][j - minIndex] = accumulated[j] / sum;
            accumulated[j] = 0.0;
        }
    }

    // Window starts must never move backwards in processing order (the
    // resampler filters each source row once): take running minima from the end.
    filter.start.assign(lo.begin(), lo.end());
    if (filter.increasing) {
        for (int i = outputCount - 2; i >= 0; --i) filter.start[i] = std::min(filter.start[i], filter.start[i + 1]);
    } else {
        for (int i = 1; i < outputCount; ++i) filter.start[i] = std::min(filter.start[i], filter.start[i - 1]);
    }
    int taps = 1;
    for (int i = 0; i < outputCount; ++i) taps = std::max(taps, hi[i] - filter.start[i] + 1);
    filter.taps = taps;
    filter.sourceBegin = sourceCount;
    filter.sourceEnd = 0;
    filter.fixed.assign(static_cast<std::size_t>(outputCount) * taps, 0);
    for (int i = 0; i < outputCount; ++i) {
        filter.start[i] = std::min(filter.start[i], sourceCount - taps);
        filter.sourceBegin = std::min(filter.sourceBegin, filter.start[i]);
        filter.sourceEnd = std::max(filter.sourceEnd, filter.start[i] + taps);
        std::int16_t* fixed = &filter.fixed[static_cast<std::size_t>(i) * taps];
        int offset = lo[i] - filter.start[i];
        int total = 0, largest = offset;
        for (std::size_t k = 0; k < weights[i].size(); ++k) {
            double w = weights[i][k];
            fixed[offset + k] = static_cast<std::int16_t>(std::lround(w * (1 << kWeightBits)));
            total += fixed[offset + k];
            if (fixed[offset + k] > fixed[largest]) largest = offset + static_cast<int>(k);
        }
        // Exact unit gain: a flat colour stays exactly that colour.
        fixed[largest] = static_cast<std::int16_t>(fixed[largest] + ((1 << kWeightBits) - total));
    }
    layOutWeights(filter);
    return filter;
}

AxisFilter mirroredAxisFilter(const AxisFilter& filter, int sourceCount) {
    AxisFilter mirrored;
    mirrored.outputCount = filter.outputCount;
    mirrored.taps = filter.taps;
    mirrored.increasing = !filter.increasing;
    mirrored.sourceBegin = sourceCount - filter.sourceEnd;
    mirrored.sourceEnd = sourceCount - filter.sourceBegin;
    const int taps = filter.taps;
    mirrored.start.resize(filter.start.size());
    mirrored.fixed.resize(filter.fixed.size());
    for (int i = 0; i < filter.outputCount; ++i) {
        mirrored.start[i] = sourceCount - taps - filter.start[i];
        const std::int16_t* weights = &filter.fixed[static_cast<std::size_t>(i) * taps];
        std::reverse_copy(weights, weights + taps, &mirrored.fixed[static_cast<std::size_t>(i) * taps]);
    }
    layOutWeights(mirrored);
    return mirrored;
}

namespace {

// Source pixels as signed 16-bit lanes for pmaddwd: 8-bit values as they are,
// 16-bit values halved (15 bits).
template <class T>
constexpr int kInputShift = std::is_same_v<T, std::uint8_t> ? 0 : 1;
// Right shift from Σ weight·input (weights sum to 1 << 14) to the accumulator
// scale: value · 64 for 8-bit, value / 4 for 16-bit.
template <class T>
constexpr int kHorizontalShift = std::is_same_v<T, std::uint8_t> ? kWeightBits - 6 : kWeightBits + 1;
// Right shift from Σ weight·accumulator back to pixel values.
template <class T>
constexpr int kVerticalShift = std::is_same_v<T, std::uint8_t> ? kWeightBits + 6 : kWeightBits - 2;
template <class T>
constexpr std::int32_t kMaxValue = std::is_same_v<T, std::uint8_t> ? 255 : 65535;

#if defined(__SSE2__)
// Two adjacent pixels as b0 b1 g0 g1 r0 r1 a0 a1 in 16-bit lanes.
template <class T>
inline __m128i loadPixelPair(const T* p) {
    __m128i pixels;
    if constexpr (std::is_same_v<T, std::uint8_t>)
        pixels = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    else
        pixels = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 1);
    return _mm_unpacklo_epi16(pixels, _mm_srli_si128(pixels, 8));
}

// One pixel as b 0 g 0 r 0 a 0.
template <class T>
inline __m128i loadPixel(const T* p) {
    __m128i pixel;
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        std::int32_t word;
        std::memcpy(&word, p, sizeof word);
        pixel = _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), _mm_setzero_si128());
    } else {
        pixel = _mm_srli_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), 1);
    }
    return _mm_unpacklo_epi16(pixel, _mm_setzero_si128());
}

// Eight 32-bit sums, already shifted to pixel values, stored with saturation.
template <class T>
inline void storeEight(T* out, __m128i low, __m128i high) {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        __m128i words = _mm_packs_epi32(low, high);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
    } else {
        // Unsigned saturation to 0...65535 through the signed pack.
        const __m128i bias = _mm_set1_epi32(32768);
        __m128i words = _mm_packs_epi32(_mm_sub_epi32(low, bias), _mm_sub_epi32(high, bias));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(words, _mm_set1_epi16(-32768)));
    }
}
#endif

}  // namespace

// One output pixel from `taps` source pixels: Σ weight·pixel, shifted to the
// accumulator scale. kTaps > 0 fixes the count at compile time.
template <class T, int kTaps>
inline void filterPixel(const T* p, const std::int16_t* weights, const std::int16_t* pairs, int taps,
                        std::int16_t* out) {
    constexpr int kShift = kHorizontalShift<T>;
    if constexpr (kTaps > 0) taps = kTaps;
#if defined(__SSE2__)
    __m128i sum = _mm_set1_epi32(1 << (kShift - 1));
    int k = 0;
    for (; k + 1 < taps; k += 2, pairs += 8)
        sum = _mm_add_epi32(
            sum, _mm_madd_epi16(loadPixelPair(p + 4 * k), _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs))));
    if (k < taps)
        sum = _mm_add_epi32(
            sum, _mm_madd_epi16(loadPixel(p + 4 * k), _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs))));
    sum = _mm_srai_epi32(sum, kShift);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(sum, sum));
    (void)weights;
#else
    (void)pairs;
    std::int32_t sum[4] = {1 << (kShift - 1), 1 << (kShift - 1), 1 << (kShift - 1), 1 << (kShift - 1)};
    for (int k = 0; k < taps; ++k)
        for (int c = 0; c < 4; ++c) sum[c] += weights[k] * (p[4 * k + c] >> kInputShift<T>);
    for (int c = 0; c < 4; ++c) out[c] = static_cast<std::int16_t>(std::clamp(sum[c] >> kShift, -32768, 32767));
#endif
}

template <class T, int kTaps>
void filterRow(const T* source, const AxisFilter& filter, std::int16_t* out) {
    const int taps = filter.taps;
    const int pairStride = (taps + 1) / 2 * 8;
    const int count = filter.outputCount;
    const int* starts = filter.start.data();
    const std::int16_t* weights = filter.fixed.data();
    const std::int16_t* pairs = filter.pairs.data();
    for (int i = 0; i < count; ++i, weights += taps, pairs += pairStride)
        filterPixel<T, kTaps>(source + 4 * static_cast<std::ptrdiff_t>(starts[i]), weights, pairs, taps, out + 4 * i);
}

template <>
void horizontalPass<std::uint16_t, 1>(const std::uint16_t* source, const AxisFilter& filter, std::int16_t* out) {
    constexpr int kShift = kHorizontalShift<std::uint16_t>;
    const int taps = filter.taps;
    const int count = filter.outputCount;
    const int* starts = filter.start.data();
    int i = 0;
#if defined(__SSE2__)
    {
        // Eight samples at a time against the zero-padded weights; four
        // outputs' partial sums are then added across in one transpose.
        const int padded = filter.paddedTaps;
        const std::int16_t* weights = filter.padded.data();
        auto partial = [&](int output) {
            const std::uint16_t* p = source + starts[output];
            const std::int16_t* w = weights + static_cast<std::size_t>(output) * padded;
            __m128i sum = _mm_setzero_si128();
            for (int k = 0; k < padded; k += 8) {
                __m128i samples = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)), 1);
                __m128i weights8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k));
                sum = _mm_add_epi32(sum, _mm_madd_epi16(samples, weights8));
            }
            return sum;
        };
        const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
        for (; i + 4 <= count; i += 4) {
            __m128i s0 = partial(i), s1 = partial(i + 1), s2 = partial(i + 2), s3 = partial(i + 3);
            __m128i t01 = _mm_add_epi32(_mm_unpacklo_epi32(s0, s1), _mm_unpackhi_epi32(s0, s1));
            __m128i t23 = _mm_add_epi32(_mm_unpacklo_epi32(s2, s3), _mm_unpackhi_epi32(s2, s3));
            __m128i sums = _mm_add_epi32(_mm_unpacklo_epi64(t01, t23), _mm_unpackhi_epi64(t01, t23));
            sums = _mm_srai_epi32(_mm_add_epi32(sums, round), kShift);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(sums, sums));
        }
        for (; i < count; ++i) {
            __m128i sum = partial(i);
            sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
            sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
            out[i] = static_cast<std::int16_t>(
                std::clamp((_mm_cvtsi128_si32(sum) + (1 << (kShift - 1))) >> kShift, -32768, 32767));
        }
    }
#endif
    const std::int16_t* weights = filter.fixed.data() + static_cast<std::size_t>(i) * taps;
    for (; i < count; ++i, weights += taps) {
        const std::uint16_t* p = source + starts[i];
        std::int32_t sum = 1 << (kShift - 1);
        for (int k = 0; k < taps; ++k) sum += weights[k] * (p[k] >> 1);
        out[i] = static_cast<std::int16_t>(std::clamp(sum >> kShift, -32768, 32767));
    }
}

template <class T, int kChannels>
void horizontalPass(const T* source, const AxisFilter& filter, std::int16_t* out) {
    static_assert(kChannels == 4);
    // The common window sizes unrolled: 1:1, upscaling (4), and downscaling by up to 2.
    switch (filter.taps) {
    case 1: return filterRow<T, 1>(source, filter, out);
    case 2: return filterRow<T, 2>(source, filter, out);
    case 3: return filterRow<T, 3>(source, filter, out);
    case 4: return filterRow<T, 4>(source, filter, out);
    case 5: return filterRow<T, 5>(source, filter, out);
    case 6: return filterRow<T, 6>(source, filter, out);
    case 7: return filterRow<T, 7>(source, filter, out);
    case 8: return filterRow<T, 8>(source, filter, out);
    default: return filterRow<T, 0>(source, filter, out);
    }
}

template <class T, int kTaps>
void filterColumns(const std::int16_t* const* rows, const std::int16_t* weights, const std::int16_t* pairs, int taps,
                   int valueCount, T* out) {
    if constexpr (kTaps > 0) taps = kTaps;
    constexpr int kShift = kVerticalShift<T>;
    constexpr std::int32_t kRound = 1 << (kShift - 1);
    int x = 0;
#if defined(__SSE2__)
    if constexpr (kTaps > 0) {
        // Eight values at a time, two rows per pmaddwd, everything in registers.
        constexpr int kPairs = (kTaps + 1) / 2;
        __m128i w[kPairs];
        for (int k = 0; k < kPairs; ++k) w[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 8 * k));
        const std::int16_t* r[kTaps];
        for (int k = 0; k < kTaps; ++k) r[k] = rows[k];
        for (; x + 8 <= valueCount; x += 8) {
            __m128i low = _mm_set1_epi32(kRound), high = low;
            for (int k = 0; k < kPairs; ++k) {
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[2 * k] + x));
                __m128i b = 2 * k + 1 < kTaps ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[2 * k + 1] + x))
                                              : _mm_setzero_si128();
                low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w[k]));
                high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w[k]));
            }
            storeEight(out + x, _mm_srai_epi32(low, kShift), _mm_srai_epi32(high, kShift));
        }
    } else {
        for (; x + 8 <= valueCount; x += 8) {
            __m128i low = _mm_set1_epi32(kRound), high = low;
            int k = 0;
            for (; k < taps; k += 2) {
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
                __m128i b = k + 1 < taps ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + x))
                                         : _mm_setzero_si128();
                __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 4 * k));
                low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
                high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
            }
            storeEight(out + x, _mm_srai_epi32(low, kShift), _mm_srai_epi32(high, kShift));
        }
    }
#else
    (void)pairs;
#endif
    for (; x < valueCount; ++x) {
        std::int32_t sum = kRound;
        for (int k = 0; k < taps; ++k) sum += weights[k] * rows[k][x];
        out[x] = static_cast<T>(std::clamp(sum >> kShift, 0, kMaxValue<T>));
    }
}

template <class T>
void verticalPass(const std::int16_t* const* rows, const AxisFilter& filter, int outputIndex, int valueCount, T* out) {
    const int taps = filter.taps;
    const std::int16_t* weights = &filter.fixed[static_cast<std::size_t>(outputIndex) * taps];
    const std::int16_t* pairs = &filter.pairs[static_cast<std::size_t>(outputIndex) * ((taps + 1) / 2) * 8];
    switch (taps) {
    case 1: return filterColumns<T, 1>(rows, weights, pairs, taps, valueCount, out);
    case 2: return filterColumns<T, 2>(rows, weights, pairs, taps, valueCount, out);
    case 3: return filterColumns<T, 3>(rows, weights, pairs, taps, valueCount, out);
    case 4: return filterColumns<T, 4>(rows, weights, pairs, taps, valueCount, out);
    case 5: return filterColumns<T, 5>(rows, weights, pairs, taps, valueCount, out);
    case 6: return filterColumns<T, 6>(rows, weights, pairs, taps, valueCount, out);
    case 7: return filterColumns<T, 7>(rows, weights, pairs, taps, valueCount, out);
    case 8: return filterColumns<T, 8>(rows, weights, pairs, taps, valueCount, out);
    default: return filterColumns<T, 0>(rows, weights, pairs, taps, valueCount, out);
    }
}

template void horizontalPass<std::uint8_t, 4>(const std::uint8_t*, const AxisFilter&, std::int16_t*);
template void horizontalPass<std::uint16_t, 4>(const std::uint16_t*, const AxisFilter&, std::int16_t*);
template void verticalPass<std::uint8_t>(const std::int16_t* const*, const AxisFilter&, int, int, std::uint8_t*);
template void verticalPass<std::uint16_t>(const std::int16_t* const*, const AxisFilter&, int, int, std::uint16_t*);

}  // namespace fw::raster

#include "platform/media/PictureConversion.h"
#include "platform/media/PictureConversion_internal.h"

#include "codecs/VectorUnit.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(FW_HAS_AVX2_KERNELS)
#include <immintrin.h>
#endif
#endif

namespace fw::media {

namespace {

using detail::kChromaSpan;
using detail::kChromaZero;
using detail::kLumaBlack;
using detail::kLumaSpan;

// Round to nearest, ties to even, for |v| < 2^22: adding 1.5 · 2^23 leaves no
// fraction bits, and the float unit rounds that sum to even. (Without
// -ffast-math the compiler keeps both steps.)
inline float roundEven(float v) {
    constexpr float kMagic = 12582912.0f;
    return (v + kMagic) - kMagic;
}

// Rows of workers: bands of whole chroma rows.
template <class Body>
void forRows(int count, int grain, const Body& body) {
    tbb::parallel_for(tbb::blocked_range<int>(0, count, std::max(grain, 1)),
                      [&](const tbb::blocked_range<int>& rows) { body(rows.begin(), rows.end()); });
}

int chromaWidth(const YCbCrPlanes& p) { return (p.width + (1 << p.chromaShiftX) - 1) >> p.chromaShiftX; }
int chromaHeight(const YCbCrPlanes& p) { return (p.height + (1 << p.chromaShiftY) - 1) >> p.chromaShiftY; }

// Where component c (0 Y, 1 Cb, 2 Cr, 3 alpha) of a row lies and how its
// samples turn into codes.
struct Component {
    const std::uint8_t* base;
    std::ptrdiff_t stride;
    int step;   // samples between neighbours
    int shift;  // of a word's value
    bool bytes;
    float scale, offset;  // code = scale · value + offset

    void readRow(int row, int count, float* out) const {
        const std::uint8_t* line = base + row * stride;
        const auto* words = reinterpret_cast<const std::uint16_t*>(line);
        // Adjacent samples in loops of their own, which the compiler vectorises.
        if (bytes && step == 1) {
            for (int x = 0; x < count; ++x) out[x] = line[x] * scale + offset;
        } else if (bytes) {
            for (int x = 0; x < count; ++x) out[x] = line[x * step] * scale + offset;
        } else if (step == 1) {
            for (int x = 0; x < count; ++x) out[x] = static_cast<float>(words[x] >> shift) * scale + offset;
        } else {
            for (int x = 0; x < count; ++x) out[x] = static_cast<float>(words[x * step] >> shift) * scale + offset;
        }
    }
};

Component component(const YCbCrPlanes& p, int c) {
    const int plane = p.interleavedChroma && c == 2 ? 1 : c;
    Component out{};
    out.base = p.planes[plane] + (p.interleavedChroma && c == 2 ? (p.bitDepth > 8 ? 2 : 1) : 0);
    out.stride = p.strides[plane];
    out.step = p.interleavedChroma && (c == 1 || c == 2) ? 2 : 1;
    out.bytes = p.bitDepth <= 8;
    out.shift = p.highBitsAligned && !out.bytes ? 16 - p.bitDepth : 0;
    const float maximum = static_cast<float>((1 << p.bitDepth) - 1);
    if (c == 3) {
        out.scale = 1.0f / maximum;  // alpha as 0…1
        out.offset = 0.0f;
    } else if (!p.fullRange) {
        out.scale = static_cast<float>(1 << 10) / static_cast<float>(1 << p.bitDepth);
        out.offset = 0.0f;
    } else if (c == 0) {
        out.scale = kLumaSpan / maximum;
        out.offset = kLumaBlack;
    } else {
        out.scale = kChromaSpan / maximum;
        out.offset = kChromaZero - static_cast<float>(1 << (p.bitDepth - 1)) * out.scale;
    }
    return out;
}

// Writes codes (or alpha as 0…1 for c == 3) as component c of a row.
void writeRow(const YCbCrPlanes& p, int c, int row, int count, const float* codes) {
    const int plane = p.interleavedChroma && c == 2 ? 1 : c;
    std::uint8_t* line = p.planes[plane] + row * p.strides[plane];
    const int step = p.interleavedChroma && (c == 1 || c == 2) ? 2 : 1;
    const float maximum = static_cast<float>((1 << p.bitDepth) - 1);
    const float scale = c == 3 ? maximum : static_cast<float>(1 << p.bitDepth) / static_cast<float>(1 << 10);
    int x = 0;
#if defined(__SSE2__)
    // Four at a time where samples are adjacent; the conversion rounds to
    // nearest even, as roundEven does.
    if (step == 1 && p.bitDepth <= 15) {
        const __m128 factor = _mm_set1_ps(scale), top = _mm_set1_ps(maximum), zero = _mm_setzero_ps();
        const int shift = p.highBitsAligned ? 16 - p.bitDepth : 0;
        for (; x + 4 <= count; x += 4) {
            __m128 v = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(codes + x), factor), zero), top);
            __m128i values = _mm_cvtps_epi32(v);
            if (p.bitDepth <= 8) {
                __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(values, values), values);
                const int four = _mm_cvtsi128_si32(bytes);
                std::memcpy(line + x, &four, sizeof four);
            } else {
                __m128i words = _mm_packs_epi32(values, values);
                words = _mm_sll_epi16(words, _mm_cvtsi32_si128(shift));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(reinterpret_cast<std::uint16_t*>(line) + x), words);
            }
        }
    }
#endif
    if (p.bitDepth <= 8) {
        std::uint8_t* out = line + (p.interleavedChroma && c == 2 ? 1 : 0);
        for (; x < count; ++x)
            out[x * step] = static_cast<std::uint8_t>(roundEven(std::clamp(codes[x] * scale, 0.0f, maximum)));
        return;
    }
    auto* out = reinterpret_cast<std::uint16_t*>(line) + (p.interleavedChroma && c == 2 ? 1 : 0);
    const int shift = p.highBitsAligned ? 16 - p.bitDepth : 0;
    for (; x < count; ++x)
        out[x * step] = static_cast<std::uint16_t>(
            static_cast<unsigned>(roundEven(std::clamp(codes[x] * scale, 0.0f, maximum))) << shift);
}

// 4:2:0 chroma rows to 4:2:2: bicubic (B = 0, C = 0.6) at a quarter and three
// quarters of a chroma row, as the ffmpeg converter upsamples, so that a
// writer's 4:2:2 holds the chroma the ffmpeg tool would have written from the
// same 4:2:0. Weights of the nearer row, the farther one, and the rows beyond each.
constexpr float kBicubicNear = 0.871875f, kBicubicFar = 0.240625f, kBicubicBeyondNear = -0.084375f,
                kBicubicBeyondFar = -0.028125f;

// Chroma row `row` of a picture laid out with shifts (toX, toY), resampled
// from the source's chroma component c. `line` holds a source chroma row's
// width of scratch, and `other` as much again; `cubicRows` (rows made from
// 4:2:0) needs two more such rows in `extra`.
void resampledChroma(const YCbCrPlanes& source, int c, int toX, int toY, int row, float* out, float* line, float* other,
                     float* extra = nullptr) {
    const Component from = component(source, c);
    const int width = chromaWidth(source), rows = chromaHeight(source);
    const int fromY = source.chromaShiftY;
    if (fromY == toY) {
        from.readRow(row, width, line);
    } else if (fromY == 0) {  // 2 rows into one between them
        from.readRow(std::min(2 * row, rows - 1), width, line);
        from.readRow(std::min(2 * row + 1, rows - 1), width, other);
        for (int x = 0; x < width; ++x) line[x] = 0.5f * (line[x] + other[x]);
    } else if (extra) {
        const int k = std::min(row / 2, rows - 1);
        const int step = row % 2 == 0 ? -1 : 1;  // towards the farther row
        auto clampRow = [rows](int r) { return std::clamp(r, 0, rows - 1); };
        float* beyondNear = extra;
        float* beyondFar = extra + width;
        from.readRow(k, width, line);
        from.readRow(clampRow(k + step), width, other);
        from.readRow(clampRow(k - step), width, beyondNear);
        from.readRow(clampRow(k + 2 * step), width, beyondFar);
        for (int x = 0; x < width; ++x)
            line[x] = kBicubicNear * line[x] + kBicubicFar * other[x] + kBicubicBeyondNear * beyondNear[x] +
                      kBicubicBeyondFar * beyondFar[x];
    } else {  // the nearer chroma row 3:1 with the farther
        const int k = std::min(row / 2, rows - 1);
        from.readRow(k, width, line);
        from.readRow(std::clamp(row % 2 == 0 ? k - 1 : k + 1, 0, rows - 1), width, other);
        for (int x = 0; x < width; ++x) line[x] = 0.75f * line[x] + 0.25f * other[x];
    }
    const int fromX = source.chromaShiftX;
    const int outWidth = (source.width + (1 << toX) - 1) >> toX;
    if (fromX == toX) {
        std::memcpy(out, line, sizeof(float) * static_cast<std::size_t>(outWidth));
    } else if (fromX == 0) {  // [1 2 1] on the even columns
        for (int j = 0; j < outWidth; ++j) {
            const float left = line[std::max(2 * j - 1, 0)], middle = line[std::min(2 * j, width - 1)];
            out[j] = 0.25f * (left + 2.0f * middle + line[std::min(2 * j + 1, width - 1)]);
        }
    } else {  // odd columns take the mean of their neighbours
        const int pairs = outWidth / 2;
        const int inner = std::min(pairs, width - 1);
        for (int j = 0; j < inner; ++j) {
            out[2 * j] = line[j];
            out[2 * j + 1] = 0.5f * (line[j] + line[j + 1]);
        }
        for (int x = 2 * inner; x < outWidth; ++x) out[x] = line[std::min(x / 2, width - 1)];
    }
}

// ---- 8-bit 4:2:0 and 4:2:2 to BGRA in fixed point ----
// What software decoders give for nearly every movie, in integers that agree
// with the float path within one code: chroma is resampled exactly, in eighths
// of a code (3:1 down, 1:1 across, as resampledChroma), and each channel is one
// sum of products with 16 fraction bits, rounded once (halves up, where the
// float path rounds them to even; only values within 0.03 of a half can differ).

constexpr int kFractionBits = 16;

// Channel = (luma · 4y + toBlue · cb + ... + bias) >> kFractionBits, with y a
// luma sample and cb, cr chroma in eighths of a code (8 × the 8-bit value).
struct FixedPointWeights {
    std::int16_t luma, cbToBlue, cbToGreen, crToGreen, crToRed;
    std::int32_t blueBias, greenBias, redBias;
};

FixedPointWeights fixedPointWeights(YCbCrMatrix matrix, bool fullRange) {
    const YCbCrWeights w = weightsOf(matrix);
    const float lumaGain = fullRange ? 1.0f : 255.0f / 219.0f, chromaGain = fullRange ? 1.0f : 255.0f / 224.0f;
    const int black = fullRange ? 0 : 16;
    // Luma samples come times 4, chroma in eighths: 2^16 / 4 and 2^16 / 8.
    auto weight = [](float gain, float unit) { return static_cast<std::int16_t>(std::lround(gain * unit)); };
    FixedPointWeights k{};
    k.luma = weight(lumaGain, 1 << (kFractionBits - 2));
    k.cbToBlue = weight(w.cbToBlue * chromaGain, 1 << (kFractionBits - 3));
    k.cbToGreen = weight(w.cbToGreen * chromaGain, 1 << (kFractionBits - 3));
    k.crToGreen = weight(w.crToGreen * chromaGain, 1 << (kFractionBits - 3));
    k.crToRed = weight(w.crToRed * chromaGain, 1 << (kFractionBits - 3));
    // Black luma and zero chroma (1024 eighths) taken off, and a half for rounding.
    const std::int32_t half = 1 << (kFractionBits - 1), lumaOffset = k.luma * 4 * black;
    k.blueBias = half - lumaOffset - k.cbToBlue * 1024;
    k.greenBias = half - lumaOffset + (k.cbToGreen + k.crToGreen) * 1024;
    k.redBias = half - lumaOffset - k.crToRed * 1024;
    return k;
}

// Source chroma row `row` (of component c) for a picture row, vertically sited
// in quarters of a code, with the last sample repeated once past the end so
// that every odd column has a right-hand neighbour. `out` holds width + 1.
void quarterChromaRow(const YCbCrPlanes& source, int c, int row, std::int16_t* out) {
    const int width = chromaWidth(source), rows = chromaHeight(source);
    const std::uint8_t* base = source.planes[c];
    if (source.chromaShiftY == 0) {
        const std::uint8_t* line = base + row * source.strides[c];
        for (int x = 0; x < width; ++x) out[x] = static_cast<std::int16_t>(4 * line[x]);
    } else {  // the nearer chroma row 3:1 with the farther
        const int k = std::min(row / 2, rows - 1);
        const std::uint8_t* near = base + k * source.strides[c];
        const std::uint8_t* far = base + std::clamp(row % 2 == 0 ? k - 1 : k + 1, 0, rows - 1) * source.strides[c];
        for (int x = 0; x < width; ++x) out[x] = static_cast<std::int16_t>(3 * near[x] + far[x]);
    }
    out[width] = out[width - 1];
}

inline std::uint8_t fixedPointChannel(std::int32_t sum) {
    return static_cast<std::uint8_t>(std::clamp(sum >> kFractionBits, 0, 255));
}

// One pixel; the vector loops below give the same bytes.
inline void fixedPointPixel(const FixedPointWeights& k, int y, int cb, int cr, std::uint8_t* out) {
    const std::int32_t luma = k.luma * 4 * y;
    out[0] = fixedPointChannel(luma + k.cbToBlue * cb + k.blueBias);
    out[1] = fixedPointChannel(luma - k.cbToGreen * cb - k.crToGreen * cr + k.greenBias);
    out[2] = fixedPointChannel(luma + k.crToRed * cr + k.redBias);
    out[3] = 255;
}

#if defined(__SSE2__)
// Two 16-bit weights as the pair a multiply-add takes (first the lower lane).
inline int weightPair(int first, int second) {
    return static_cast<int>(static_cast<std::uint16_t>(first) |
                            (static_cast<std::uint32_t>(static_cast<std::uint16_t>(second)) << 16));
}

// Pixels x … of a row, 8 at a time while 8 remain; returns the first not written.
int fixedPointPixelsSSE2(const FixedPointWeights& k, const std::uint8_t* luma, const std::int16_t* cb,
                         const std::int16_t* cr, int x, int width, std::uint8_t* out) {
    const __m128i zero = _mm_setzero_si128(), opaque = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i lumaBlue = _mm_set1_epi32(weightPair(k.luma, k.cbToBlue));
    const __m128i lumaRed = _mm_set1_epi32(weightPair(k.luma, k.crToRed));
    const __m128i lumaGreen = _mm_set1_epi32(weightPair(k.luma, -k.cbToGreen));
    const __m128i crGreen = _mm_set1_epi32(weightPair(-k.crToGreen, 0));
    const __m128i blueBias = _mm_set1_epi32(k.blueBias), greenBias = _mm_set1_epi32(k.greenBias);
    const __m128i redBias = _mm_set1_epi32(k.redBias);
    // 8 channel sums (two halves of 4) rounded, saturating to 16 bits.
    auto rounded = [](__m128i low, __m128i high, __m128i bias) {
        return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(low, bias), kFractionBits),
                               _mm_srai_epi32(_mm_add_epi32(high, bias), kFractionBits));
    };
    // Eighths of 4 chroma samples' 8 pixels: even columns on the sample, odd ones between two.
    auto eighths = [](const std::int16_t* quarters) {
        const __m128i here = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(quarters));
        const __m128i next = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(quarters + 1));
        return _mm_unpacklo_epi16(_mm_add_epi16(here, here), _mm_add_epi16(here, next));
    };
    for (; x + 8 <= width; x += 8) {
        const __m128i y8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma + x));
        const __m128i y = _mm_slli_epi16(_mm_unpacklo_epi8(y8, zero), 2);
        const __m128i b = eighths(cb + x / 2), r = eighths(cr + x / 2);
        const __m128i yb0 = _mm_unpacklo_epi16(y, b), yb1 = _mm_unpackhi_epi16(y, b);
        const __m128i yr0 = _mm_unpacklo_epi16(y, r), yr1 = _mm_unpackhi_epi16(y, r);
        const __m128i r0 = _mm_unpacklo_epi16(r, zero), r1 = _mm_unpackhi_epi16(r, zero);
        const __m128i blue = rounded(_mm_madd_epi16(yb0, lumaBlue), _mm_madd_epi16(yb1, lumaBlue), blueBias);
        const __m128i green =
            rounded(_mm_add_epi32(_mm_madd_epi16(yb0, lumaGreen), _mm_madd_epi16(r0, crGreen)),
                    _mm_add_epi32(_mm_madd_epi16(yb1, lumaGreen), _mm_madd_epi16(r1, crGreen)), greenBias);
        const __m128i red = rounded(_mm_madd_epi16(yr0, lumaRed), _mm_madd_epi16(yr1, lumaRed), redBias);
        // Saturating packs clamp to 0…255: blue and green bytes, red and opaque alpha bytes.
        const __m128i blueGreen = _mm_packus_epi16(blue, green), redAlpha = _mm_packus_epi16(red, zero);
        const __m128i bg = _mm_unpacklo_epi8(blueGreen, _mm_srli_si128(blueGreen, 8));
        const __m128i ra = _mm_unpacklo_epi8(redAlpha, opaque);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_unpacklo_epi16(bg, ra));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x + 16), _mm_unpackhi_epi16(bg, ra));
    }
    return x;
}

#if defined(FW_HAS_AVX2_KERNELS)
// The same 16 at a time, for processors that have AVX2 (chosen once per picture).
// Each 128-bit half works as the 8-pixel loop does on pixels 0…7 and 8…15.
FW_TARGET_AVX2 int fixedPointPixelsAVX2(const FixedPointWeights& k, const std::uint8_t* luma, const std::int16_t* cb,
                                        const std::int16_t* cr, int x, int width, std::uint8_t* out) {
    const __m256i zero = _mm256_setzero_si256(), opaque = _mm256_set1_epi8(static_cast<char>(0xFF));
    const __m256i lumaBlue = _mm256_set1_epi32(weightPair(k.luma, k.cbToBlue));
    const __m256i lumaRed = _mm256_set1_epi32(weightPair(k.luma, k.crToRed));
    const __m256i lumaGreen = _mm256_set1_epi32(weightPair(k.luma, -k.cbToGreen));
    const __m256i crGreen = _mm256_set1_epi32(weightPair(-k.crToGreen, 0));
    const __m256i blueBias = _mm256_set1_epi32(k.blueBias), greenBias = _mm256_set1_epi32(k.greenBias);
    const __m256i redBias = _mm256_set1_epi32(k.redBias);
    for (; x + 16 <= width; x += 16) {
        const __m256i y =
            _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x))), 2);
        __m256i chroma[2];
        for (int c = 0; c < 2; ++c) {
            const std::int16_t* quarters = (c == 0 ? cb : cr) + x / 2;
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quarters));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quarters + 1));
            const __m128i even = _mm_add_epi16(here, here), odd = _mm_add_epi16(here, next);
            chroma[c] = _mm256_set_m128i(_mm_unpackhi_epi16(even, odd), _mm_unpacklo_epi16(even, odd));
        }
        const __m256i b = chroma[0], r = chroma[1];
        const __m256i yb0 = _mm256_unpacklo_epi16(y, b), yb1 = _mm256_unpackhi_epi16(y, b);
        const __m256i yr0 = _mm256_unpacklo_epi16(y, r), yr1 = _mm256_unpackhi_epi16(y, r);
        const __m256i r0 = _mm256_unpacklo_epi16(r, zero), r1 = _mm256_unpackhi_epi16(r, zero);
        __m256i sums[3][2] = {{_mm256_madd_epi16(yb0, lumaBlue), _mm256_madd_epi16(yb1, lumaBlue)},
                              {_mm256_add_epi32(_mm256_madd_epi16(yb0, lumaGreen), _mm256_madd_epi16(r0, crGreen)),
                               _mm256_add_epi32(_mm256_madd_epi16(yb1, lumaGreen), _mm256_madd_epi16(r1, crGreen))},
                              {_mm256_madd_epi16(yr0, lumaRed), _mm256_madd_epi16(yr1, lumaRed)}};
        const __m256i biases[3] = {blueBias, greenBias, redBias};
        __m256i channels[3];
        for (int c = 0; c < 3; ++c)
            channels[c] = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(sums[c][0], biases[c]), kFractionBits),
                                             _mm256_srai_epi32(_mm256_add_epi32(sums[c][1], biases[c]), kFractionBits));
        const __m256i blueGreen = _mm256_packus_epi16(channels[0], channels[1]);
        const __m256i redAlpha = _mm256_packus_epi16(channels[2], zero);
        const __m256i bg = _mm256_unpacklo_epi8(blueGreen, _mm256_srli_si256(blueGreen, 8));
        const __m256i ra = _mm256_unpacklo_epi8(redAlpha, opaque);
        const __m256i low = _mm256_unpacklo_epi16(bg, ra), high = _mm256_unpackhi_epi16(bg, ra);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x + 32), _mm256_permute2x128_si256(low, high, 0x31));
    }
    return x;
}
#endif
#endif

}  // namespace

YCbCrPlanes planesOf(PixelBuffer& buffer) {
    YCbCrPlanes p;
    p.width = buffer.width();
    p.height = buffer.height();
    if (buffer.format() == PixelFormat::i420 || buffer.format() == PixelFormat::x422) {
        if (buffer.format() == PixelFormat::x422) {
            p.bitDepth = 10;
            p.chromaShiftY = 0;
        }
        p.fullRange = buffer.isFullRange();
        for (int plane = 0; plane < 3; ++plane) {
            p.planes[plane] = buffer.data(plane);
            p.strides[plane] = static_cast<std::ptrdiff_t>(buffer.stride(plane));
        }
        return p;
    }
    p.bitDepth = 10;
    p.interleavedChroma = true;
    p.highBitsAligned = true;
    p.planes = {buffer.data(0), buffer.data(1), nullptr, nullptr};
    p.strides = {static_cast<std::ptrdiff_t>(buffer.stride(0)), static_cast<std::ptrdiff_t>(buffer.stride(1)), 0, 0};
    return p;
}

namespace {

// Both sides store their samples alike: the rows go over as they are.
bool sameLayout(const YCbCrPlanes& a, const YCbCrPlanes& b) {
    return a.bitDepth == b.bitDepth && a.chromaShiftX == b.chromaShiftX && a.chromaShiftY == b.chromaShiftY &&
           a.interleavedChroma == b.interleavedChroma && a.highBitsAligned == b.highBitsAligned &&
           a.fullRange == b.fullRange && !a.planes[3] && !b.planes[3];
}

void copyPlanes(const YCbCrPlanes& source, const YCbCrPlanes& destination) {
    const std::size_t sampleBytes = source.bitDepth > 8 ? 2 : 1;
    const int planeCount = source.interleavedChroma ? 2 : 3;
    for (int plane = 0; plane < planeCount; ++plane) {
        const bool chroma = plane > 0;
        const int rows = chroma ? chromaHeight(source) : source.height;
        const std::size_t bytes = (chroma ? static_cast<std::size_t>(chromaWidth(source)) * (planeCount == 2 ? 2 : 1)
                                          : static_cast<std::size_t>(source.width)) *
                                  sampleBytes;
        forRows(rows, 64, [&](int first, int last) {
            for (int y = first; y < last; ++y)
                std::memcpy(destination.planes[plane] + y * destination.strides[plane],
                            source.planes[plane] + y * source.strides[plane], bytes);
        });
    }
}

// ---- 8-bit 4:2:0 to 10-bit 4:2:2 ----
// Untouched decoded pictures on their way to ProRes 422, in one pass: luma
// shifted, chroma rows upsampled with the float path's own operations in its
// order, so every vector unit writes exactly the values it would. Nothing may
// fuse a multiply and an add here: the AVX2 loop is compiled without FMA.

// The source rows a 4:2:2 chroma row is made of, as resampledChroma takes them.
struct BicubicRows {
    const std::uint8_t *near, *far, *beyondNear, *beyondFar;
};

BicubicRows bicubicRows(const YCbCrPlanes& source, int c, int row) {
    const int rows = chromaHeight(source);
    const int k = std::min(row / 2, rows - 1);
    const int step = row % 2 == 0 ? -1 : 1;  // towards the farther row
    auto at = [&](int r) { return source.planes[c] + std::clamp(r, 0, rows - 1) * source.strides[c]; };
    return {at(k), at(k + step), at(k - step), at(k + 2 * step)};
}

// The weights times 4, the step from 8 to 10 bits: scaling by a power of two
// rounds the products as the float path's weight times its 10-bit code does.
constexpr float kWideNear = 4 * kBicubicNear, kWideFar = 4 * kBicubicFar, kWideBeyondNear = 4 * kBicubicBeyondNear,
                kWideBeyondFar = 4 * kBicubicBeyondFar, kTenBitTop = 1023.0f;

#if defined(__SSE2__)
// Chroma samples x … of a row, 8 at a time while 8 remain; returns the first not written.
int widenedChromaSSE2(const BicubicRows& rows, int x, int width, std::uint16_t* out) {
    const __m128 near = _mm_set1_ps(kWideNear), far = _mm_set1_ps(kWideFar);
    const __m128 beyondNear = _mm_set1_ps(kWideBeyondNear), beyondFar = _mm_set1_ps(kWideBeyondFar);
    const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(kTenBitTop);
    const __m128i none = _mm_setzero_si128();
    for (; x + 8 <= width; x += 8) {
        __m128 v[4][2];
        const std::uint8_t* from[4] = {rows.near, rows.far, rows.beyondNear, rows.beyondFar};
        for (int i = 0; i < 4; ++i) {
            const __m128i words =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from[i] + x)), none);
            v[i][0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, none));
            v[i][1] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(words, none));
        }
        __m128i codes[2];
        for (int h = 0; h < 2; ++h) {
            const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(near, v[0][h]), _mm_mul_ps(far, v[1][h])),
                                                     _mm_mul_ps(beyondNear, v[2][h])),
                                          _mm_mul_ps(beyondFar, v[3][h]));
            codes[h] = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(sum, zero), top));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packs_epi32(codes[0], codes[1]));
    }
    return x;
}

#if defined(FW_HAS_AVX2_KERNELS)
// The same 16 at a time. AVX2 alone, not FW_TARGET_AVX2, which brings FMA.
__attribute__((target("avx2"))) int widenedChromaAVX2(const BicubicRows& rows, int x, int width, std::uint16_t* out) {
    const __m256 near = _mm256_set1_ps(kWideNear), far = _mm256_set1_ps(kWideFar);
    const __m256 beyondNear = _mm256_set1_ps(kWideBeyondNear), beyondFar = _mm256_set1_ps(kWideBeyondFar);
    const __m256 zero = _mm256_setzero_ps(), top = _mm256_set1_ps(kTenBitTop);
    for (; x + 16 <= width; x += 16) {
        __m256 v[4][2];
        const std::uint8_t* from[4] = {rows.near, rows.far, rows.beyondNear, rows.beyondFar};
        for (int i = 0; i < 4; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from[i] + x));
            v[i][0] = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
            v[i][1] = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8)));
        }
        __m256i codes[2];
        for (int h = 0; h < 2; ++h) {
            const __m256 sum =
                _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(near, v[0][h]), _mm256_mul_ps(far, v[1][h])),
                                            _mm256_mul_ps(beyondNear, v[2][h])),
                              _mm256_mul_ps(beyondFar, v[3][h]));
            codes[h] = _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(sum, zero), top));
        }
        // The pack works within each half: put the quarters back in order.
        const __m256i packed = _mm256_packs_epi32(codes[0], codes[1]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return x;
}
#endif
#endif

}  // namespace

namespace detail {

bool takesWideningPath(const YCbCrPlanes& source, const YCbCrPlanes& destination) {
    auto planar = [](const YCbCrPlanes& p) { return !p.interleavedChroma && !p.fullRange && !p.planes[3]; };
    return planar(source) && planar(destination) && source.bitDepth == 8 && source.chromaShiftX == 1 &&
           source.chromaShiftY == 1 && destination.bitDepth == 10 && !destination.highBitsAligned &&
           destination.chromaShiftX == 1 && destination.chromaShiftY == 0;
}

void widenTo422(const YCbCrPlanes& source, const YCbCrPlanes& destination, VectorUnit unit) {
    const int width = source.width, chroma = chromaWidth(source);
    forRows(source.height, 16, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            const std::uint8_t* luma = source.planes[0] + y * source.strides[0];
            auto* wide = reinterpret_cast<std::uint16_t*>(destination.planes[0] + y * destination.strides[0]);
            for (int x = 0; x < width; ++x) wide[x] = static_cast<std::uint16_t>(luma[x] << 2);
            for (int c = 1; c <= 2; ++c) {
                const BicubicRows rows = bicubicRows(source, c, y);
                auto* out = reinterpret_cast<std::uint16_t*>(destination.planes[c] + y * destination.strides[c]);
                int x = 0;
#if defined(__SSE2__)
#if defined(FW_HAS_AVX2_KERNELS)
                if (unit == VectorUnit::avx2) x = widenedChromaAVX2(rows, x, chroma, out);
#endif
                if (unit != VectorUnit::portable) x = widenedChromaSSE2(rows, x, chroma, out);
#endif
                for (; x < chroma; ++x) {
                    const float sum = kWideNear * rows.near[x] + kWideFar * rows.far[x] +
                                      kWideBeyondNear * rows.beyondNear[x] + kWideBeyondFar * rows.beyondFar[x];
                    out[x] = static_cast<std::uint16_t>(roundEven(std::clamp(sum, 0.0f, kTenBitTop)));
                }
            }
        }
    });
}

void convertPlanesInFloat(const YCbCrPlanes& source, const YCbCrPlanes& destination) {
    const int width = source.width;
    const Component luma = component(source, 0);
    forRows(source.height, 16, [&](int first, int last) {
        std::vector<float> codes(static_cast<std::size_t>(width));
        for (int y = first; y < last; ++y) {
            luma.readRow(y, width, codes.data());
            writeRow(destination, 0, y, width, codes.data());
        }
        if (destination.planes[3]) {
            std::fill(codes.begin(), codes.end(), 1.0f);
            for (int y = first; y < last; ++y) writeRow(destination, 3, y, width, codes.data());
        }
    });
    const int outWidth = chromaWidth(destination);
    forRows(chromaHeight(destination), 8, [&](int first, int last) {
        const std::size_t n = static_cast<std::size_t>(width) + 1;
        std::vector<float> line(n), other(n), out(n), extra(2 * n);
        for (int row = first; row < last; ++row)
            for (int c = 1; c <= 2; ++c) {
                resampledChroma(source, c, destination.chromaShiftX, destination.chromaShiftY, row, out.data(),
                                line.data(), other.data(), extra.data());
                writeRow(destination, c, row, outWidth, out.data());
            }
    });
}

}  // namespace detail

void convertPlanes(const YCbCrPlanes& source, const YCbCrPlanes& destination) {
    if (sameLayout(source, destination)) return copyPlanes(source, destination);
    if (detail::takesWideningPath(source, destination)) return detail::widenTo422(source, destination);
    detail::convertPlanesInFloat(source, destination);
}

void convertToBgra(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination) {
    if (detail::takesFixedPointPath(source)) return detail::convertToBgraInFixedPoint(source, matrix, destination);
    detail::convertToBgraInFloat(source, matrix, destination);
}

namespace detail {

bool takesFixedPointPath(const YCbCrPlanes& source) {
    return source.bitDepth == 8 && source.chromaShiftX == 1 && !source.interleavedChroma && source.planes[3] == nullptr;
}

void convertToBgraInFixedPoint(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination,
                               VectorUnit unit) {
    const int width = source.width;
    const FixedPointWeights k = fixedPointWeights(matrix, source.fullRange);
    forRows(source.height, 8, [&](int first, int last) {
        // Quarters of Cb and Cr, with room for the repeated last sample and a vector's overrun.
        const std::size_t n = static_cast<std::size_t>(chromaWidth(source)) + 8;
        std::vector<std::int16_t> cb(n), cr(n);
        for (int row = first; row < last; ++row) {
            quarterChromaRow(source, 1, row, cb.data());
            quarterChromaRow(source, 2, row, cr.data());
            const std::uint8_t* luma = source.planes[0] + row * source.strides[0];
            std::uint8_t* out = destination.row(row);
            int x = 0;
#if defined(__SSE2__)
#if defined(FW_HAS_AVX2_KERNELS)
            if (unit == VectorUnit::avx2) x = fixedPointPixelsAVX2(k, luma, cb.data(), cr.data(), x, width, out);
#endif
            if (unit != VectorUnit::portable) x = fixedPointPixelsSSE2(k, luma, cb.data(), cr.data(), x, width, out);
#endif
            for (; x < width; ++x) {
                const int j = x / 2;
                const int b = x % 2 == 0 ? 2 * cb[j] : cb[j] + cb[j + 1];
                const int r = x % 2 == 0 ? 2 * cr[j] : cr[j] + cr[j + 1];
                fixedPointPixel(k, luma[x], b, r, out + 4 * x);
            }
        }
    });
}

void convertToBgraInFloat(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination) {
    const int width = source.width;
    const YCbCrWeights w = weightsOf(matrix);
    const Component luma = component(source, 0);
    const bool hasAlpha = source.planes[3] != nullptr;
    const Component alpha = hasAlpha ? component(source, 3) : Component{};
    forRows(source.height, 8, [&](int first, int last) {
        const std::size_t n = static_cast<std::size_t>(width) + 1;
        std::vector<float> y(n), cb(n), cr(n), a(n, 1.0f), line(n), other(n);
        for (int row = first; row < last; ++row) {
            luma.readRow(row, width, y.data());
            resampledChroma(source, 1, 0, 0, row, cb.data(), line.data(), other.data());
            resampledChroma(source, 2, 0, 0, row, cr.data(), line.data(), other.data());
            if (hasAlpha) alpha.readRow(row, width, a.data());
            std::uint8_t* out = destination.row(row);
            int x = 0;
#if defined(__SSE2__)
            // Four pixels at a time; the conversion rounds to nearest even.
            const __m128 lumaScale = _mm_set1_ps(255.0f / kLumaSpan), chromaScale = _mm_set1_ps(255.0f / kChromaSpan);
            const __m128 black = _mm_set1_ps(kLumaBlack), zeroChroma = _mm_set1_ps(kChromaZero);
            const __m128 top = _mm_set1_ps(255.0f), zero = _mm_setzero_ps();
            auto channel = [&](__m128 v) { return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(v, zero), top)); };
            for (; x + 4 <= width; x += 4) {
                const __m128 ey = _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(&y[x]), black), lumaScale);
                const __m128 eb = _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(&cb[x]), zeroChroma), chromaScale);
                const __m128 er = _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(&cr[x]), zeroChroma), chromaScale);
                const __m128i blue = channel(_mm_add_ps(ey, _mm_mul_ps(eb, _mm_set1_ps(w.cbToBlue))));
                const __m128i green = channel(_mm_sub_ps(_mm_sub_ps(ey, _mm_mul_ps(eb, _mm_set1_ps(w.cbToGreen))),
                                                         _mm_mul_ps(er, _mm_set1_ps(w.crToGreen))));
                const __m128i red = channel(_mm_add_ps(ey, _mm_mul_ps(er, _mm_set1_ps(w.crToRed))));
                const __m128i opacity = channel(_mm_mul_ps(_mm_loadu_ps(&a[x]), top));
                const __m128i pixels = _mm_or_si128(_mm_or_si128(blue, _mm_slli_epi32(green, 8)),
                                                    _mm_or_si128(_mm_slli_epi32(red, 16), _mm_slli_epi32(opacity, 24)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), pixels);
            }
#endif
            for (; x < width; ++x) {
                const float ey = (y[x] - kLumaBlack) * (255.0f / kLumaSpan);
                const float eb = (cb[x] - kChromaZero) * (255.0f / kChromaSpan);
                const float er = (cr[x] - kChromaZero) * (255.0f / kChromaSpan);
                const float rgb[3] = {ey + w.cbToBlue * eb, ey - w.cbToGreen * eb - w.crToGreen * er,
                                      ey + w.crToRed * er};
                for (int i = 0; i < 3; ++i)
                    out[4 * x + i] = static_cast<std::uint8_t>(roundEven(std::clamp(rgb[i], 0.0f, 255.0f)));
                out[4 * x + 3] = static_cast<std::uint8_t>(roundEven(std::clamp(a[x], 0.0f, 1.0f) * 255.0f));
            }
        }
    });
}

}  // namespace detail

namespace {

// The writing side of every conversion from full-resolution colour: for each
// chroma row of the destination, `accumulate(line, y, cbSum, crSum, a)` gives
// a picture line's luma codes and alpha (0…1) and adds its Cb and Cr (codes
// from zero chroma) to the sums; the sums are then sited and written.
template <class Accumulate>
void writeFromFullRows(int width, int height, const YCbCrPlanes& destination, const Accumulate& accumulate) {
    const int rowsPerChromaRow = 1 << destination.chromaShiftY;
    const int outWidth = chromaWidth(destination);
    forRows(chromaHeight(destination), 8, [&](int first, int last) {
        const std::size_t n = static_cast<std::size_t>(width) + 1;
        std::vector<float> y(n), a(n, 1.0f), cb(n), cr(n), cbSum(n), crSum(n), out(n);
        for (int row = first; row < last; ++row) {
            std::fill(cbSum.begin(), cbSum.end(), 0.0f);
            std::fill(crSum.begin(), crSum.end(), 0.0f);
            for (int i = 0; i < rowsPerChromaRow; ++i) {
                // A missing last row of an odd height repeats the one above.
                const int line = std::min(row * rowsPerChromaRow + i, height - 1);
                accumulate(line, y.data(), cbSum.data(), crSum.data(), a.data());
                if (row * rowsPerChromaRow + i < height) {
                    writeRow(destination, 0, line, width, y.data());
                    if (destination.planes[3]) writeRow(destination, 3, line, width, a.data());
                }
            }
            const float share = 1.0f / static_cast<float>(rowsPerChromaRow);
            for (int x = 0; x < width; ++x) {
                cb[x] = kChromaZero + cbSum[x] * share;
                cr[x] = kChromaZero + crSum[x] * share;
            }
            for (const auto& [plane, c] : {std::pair{&cb, 1}, std::pair{&cr, 2}}) {
                const std::vector<float>& full = *plane;
                if (destination.chromaShiftX == 0) {
                    writeRow(destination, c, row, outWidth, full.data());
                    continue;
                }
                for (int j = 0; j < outWidth; ++j)
                    out[j] = 0.25f * (full[std::max(2 * j - 1, 0)] + 2.0f * full[std::min(2 * j, width - 1)] +
                                      full[std::min(2 * j + 1, width - 1)]);
                writeRow(destination, c, row, outWidth, out.data());
            }
        }
    });
}

}  // namespace

void convertFromBgra(const PixelBuffer& source, YCbCrMatrix matrix, const YCbCrPlanes& destination) {
#if defined(FW_HAS_AVX2_KERNELS)
    if (detail::takesVectorPathFromBgra(destination) && widestVectorUnit() == VectorUnit::avx2)
        return detail::convertFromBgraInAvx2(source, matrix, destination);
#endif
    detail::convertFromBgraInFloat(source, matrix, destination);
}

void detail::convertFromBgraInFloat(const PixelBuffer& source, YCbCrMatrix matrix, const YCbCrPlanes& destination) {
    const int width = source.width();
    const YCbCrWeights w = weightsOf(matrix);
    const bool keepsAlpha = destination.planes[3] != nullptr;
    writeFromFullRows(
        width, source.height(), destination, [&](int line, float* y, float* cbSum, float* crSum, float* a) {
            const std::uint8_t* pixels = source.row(line);
            int x = 0;
#if defined(__SSE2__)
            const __m128 toLuma = _mm_set1_ps(kLumaSpan / 255.0f), black = _mm_set1_ps(kLumaBlack);
            const __m128 toCb = _mm_set1_ps(kChromaSpan / 255.0f / w.cbToBlue);
            const __m128 toCr = _mm_set1_ps(kChromaSpan / 255.0f / w.crToRed);
            const __m128i low = _mm_set1_epi32(0xFF);
            for (; x + 4 <= width; x += 4) {
                const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 4 * x));
                __m128 b = _mm_cvtepi32_ps(_mm_and_si128(p, low));
                __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 8), low));
                __m128 r = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 16), low));
                if (!keepsAlpha) {
                    const __m128 opacity =
                        _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(p, 24)), _mm_set1_ps(1.0f / 255.0f));
                    b = _mm_mul_ps(b, opacity), g = _mm_mul_ps(g, opacity), r = _mm_mul_ps(r, opacity);
                }
                const __m128 ey =
                    _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, _mm_set1_ps(w.red)), _mm_mul_ps(g, _mm_set1_ps(w.green))),
                               _mm_mul_ps(b, _mm_set1_ps(w.blue)));
                _mm_storeu_ps(y + x, _mm_add_ps(black, _mm_mul_ps(ey, toLuma)));
                _mm_storeu_ps(cbSum + x, _mm_add_ps(_mm_loadu_ps(cbSum + x), _mm_mul_ps(_mm_sub_ps(b, ey), toCb)));
                _mm_storeu_ps(crSum + x, _mm_add_ps(_mm_loadu_ps(crSum + x), _mm_mul_ps(_mm_sub_ps(r, ey), toCr)));
                if (keepsAlpha)
                    _mm_storeu_ps(a + x,
                                  _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(p, 24)), _mm_set1_ps(1.0f / 255.0f)));
            }
#endif
            for (; x < width; ++x) {
                const float opacity = keepsAlpha ? 1.0f : pixels[4 * x + 3] * (1.0f / 255.0f);
                const float b = pixels[4 * x] * opacity, g = pixels[4 * x + 1] * opacity,
                            r = pixels[4 * x + 2] * opacity;
                const float ey = w.red * r + w.green * g + w.blue * b;
                y[x] = kLumaBlack + ey * (kLumaSpan / 255.0f);
                cbSum[x] += (b - ey) * (kChromaSpan / 255.0f / w.cbToBlue);
                crSum[x] += (r - ey) * (kChromaSpan / 255.0f / w.crToRed);
                a[x] = pixels[4 * x + 3] * (1.0f / 255.0f);
            }
        });
}

PixelBufferRef composedOverBlack(const PixelBufferRef& picture) {
    if (!picture || picture->format() != PixelFormat::bgra8 || picture->knownOpaque()) return picture;
    const int width = picture->width(), height = picture->height();
    // Two pixels a word: both alphas at 255.
    constexpr std::uint64_t kAlphas = 0xFF000000FF000000ull;
    auto opaque = [&](int y) {
        const std::uint8_t* pixels = picture->row(y);
        std::uint64_t all = kAlphas;
        int x = 0;
        for (; x + 2 <= width; x += 2) {
            std::uint64_t word;
            std::memcpy(&word, pixels + 4 * x, 8);
            all &= word;
        }
        return (all & kAlphas) == kAlphas && (x == width || pixels[4 * x + 3] == 0xFF);
    };
    int first = 0;
    while (first < height && opaque(first)) ++first;
    if (first == height) return picture;
    PixelBufferRef composed = PixelBuffer::create(width, height, PixelFormat::bgra8);
    if (!composed) return nullptr;
    composed->setYCbCrMatrix(picture->yCbCrMatrix());
    composed->setKnownOpaque(true);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = picture->row(y);
        std::uint8_t* out = composed->row(y);
        std::memcpy(out, in, static_cast<std::size_t>(width) * 4);
        if (y < first) continue;
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = out + 4 * x;
            const unsigned alpha = p[3];
            if (alpha == 0xFF) continue;
            // c · a / 255, rounded.
            for (int c = 0; c < 3; ++c) {
                const unsigned t = p[c] * alpha + 128;
                p[c] = static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
            }
            p[3] = 0xFF;
        }
    }
    return composed;
}

void convertPlanes(const YCbCrPlanes& source, YCbCrMatrix from, const YCbCrPlanes& destination, YCbCrMatrix to) {
    if (from == to || !isConvertible(from) || !isConvertible(to)) return convertPlanes(source, destination);
    const int width = source.width;
    const YCbCrWeights in = weightsOf(from), out = weightsOf(to);
    const Component luma = component(source, 0);
    const bool hasAlpha = source.planes[3] != nullptr;
    const Component alpha = hasAlpha ? component(source, 3) : Component{};
    // Per worker thread: the source's chroma at full resolution, and scratch.
    struct Rows {
        std::vector<float> cb, cr, line, other;
    };
    tbb::enumerable_thread_specific<Rows> scratch([width] {
        const std::size_t n = static_cast<std::size_t>(width) + 1;
        return Rows{std::vector<float>(n), std::vector<float>(n), std::vector<float>(n), std::vector<float>(n)};
    });
    writeFromFullRows(width, source.height, destination, [&](int line, float* y, float* cbSum, float* crSum, float* a) {
        Rows& rows = scratch.local();
        luma.readRow(line, width, y);
        resampledChroma(source, 1, 0, 0, line, rows.cb.data(), rows.line.data(), rows.other.data());
        resampledChroma(source, 2, 0, 0, line, rows.cr.data(), rows.line.data(), rows.other.data());
        if (hasAlpha) alpha.readRow(line, width, a);
        // Through R, G, B in 0…1, unclamped, so nothing outside RGB is lost.
        for (int x = 0; x < width; ++x) {
            const float ey = (y[x] - kLumaBlack) / kLumaSpan;
            const float eb = (rows.cb[x] - kChromaZero) / kChromaSpan, er = (rows.cr[x] - kChromaZero) / kChromaSpan;
            const float r = ey + in.crToRed * er, b = ey + in.cbToBlue * eb;
            const float g = ey - in.cbToGreen * eb - in.crToGreen * er;
            const float newY = out.red * r + out.green * g + out.blue * b;
            y[x] = kLumaBlack + kLumaSpan * newY;
            cbSum[x] += kChromaSpan * (b - newY) / out.cbToBlue;
            crSum[x] += kChromaSpan * (r - newY) / out.crToRed;
        }
    });
}

}  // namespace fw::media

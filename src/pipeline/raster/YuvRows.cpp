#include "pipeline/raster/YuvRows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fw::raster {

namespace {

// Video range in 10-bit code values: luma 64...940, chroma 512 ± 448. P010
// words hold the code in their top 10 bits, so a word / 64 is the code.
constexpr float kLumaScale = 1.0f / (876.0f * 64.0f);
constexpr float kLumaOffset = 64.0f * 64.0f;
constexpr float kChromaScale = 1.0f / (896.0f * 64.0f);
constexpr float kChromaOffset = 512.0f * 64.0f;

template <class T>
constexpr float kUnit = 255.0f;
template <>
constexpr float kUnit<std::uint16_t> = 65535.0f;

template <class T>
inline T toChannel(float v) {
    return static_cast<T>(std::clamp(v * kUnit<T> + 0.5f, 0.0f, kUnit<T>));
}

#if defined(__SSE2__)
// Four int32 channel values per register (already clamped to the channel
// range) interleaved into four B, G, R, A pixels.
inline void storePixels(std::uint16_t* out, __m128i b, __m128i g, __m128i r) {
    // Signed packing of 0...65535 through a bias.
    const __m128i bias = _mm_set1_epi32(32768), flip = _mm_set1_epi16(-32768);
    __m128i b16 = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(b, bias), bias), flip);
    __m128i g16 = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(g, bias), bias), flip);
    __m128i r16 = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(r, bias), bias), flip);
    __m128i a16 = _mm_set1_epi16(-1);
    __m128i bg = _mm_unpacklo_epi16(b16, g16), ra = _mm_unpacklo_epi16(r16, a16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi32(bg, ra));
}
inline void storePixels(std::uint8_t* out, __m128i b, __m128i g, __m128i r) {
    __m128i b8 = _mm_packus_epi16(_mm_packs_epi32(b, b), b);
    __m128i g8 = _mm_packus_epi16(_mm_packs_epi32(g, g), g);
    __m128i r8 = _mm_packus_epi16(_mm_packs_epi32(r, r), r);
    __m128i bg = _mm_unpacklo_epi8(b8, g8), ra = _mm_unpacklo_epi8(r8, _mm_set1_epi8(-1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, ra));
}
#endif

// A chroma value from the nearer and the farther chroma row, in −0.5...0.5.
inline float blendChroma(std::uint16_t nearer, std::uint16_t farther) {
    return ((0.75f * nearer + 0.25f * farther) - kChromaOffset) * kChromaScale;
}

// Chroma is sited on even columns: odd columns take the mean of both neighbours.
// chroma(j, component) reads chroma column j (0: Cb, 1: Cr).
template <class Chroma>
inline std::pair<float, float> sitedChroma(int x, const Chroma& chroma) {
    const int j = x / 2;
    float cb = chroma(j, 0), cr = chroma(j, 1);
    if (x % 2 != 0) {
        cb = 0.5f * (cb + chroma(j + 1, 0));
        cr = 0.5f * (cr + chroma(j + 1, 1));
    }
    return {cb, cr};
}

template <class T>
inline void writePixel(const media::YCbCrWeights& m, std::uint16_t lumaWord, float cb, float cr, T* p) {
    float yv = (static_cast<float>(lumaWord) - kLumaOffset) * kLumaScale;
    p[0] = toChannel<T>(yv + m.cbToBlue * cb);
    p[1] = toChannel<T>(yv - m.cbToGreen * cb - m.crToGreen * cr);
    p[2] = toChannel<T>(yv + m.crToRed * cr);
    p[3] = static_cast<T>(kUnit<T>);
}

template <class T>
void convertRow(const media::PixelBuffer& source, int y, int x0, int x1, T* out) {
    const media::YCbCrWeights m = media::weightsOf(source.yCbCrMatrix());
    const std::uint16_t* luma = source.row<std::uint16_t>(y, 0);
    // Chroma rows sit between luma rows 2k and 2k+1: blend the nearest two 3:1.
    const int chromaRows = source.planeHeight(1);
    const int chromaWidth = source.planeWidth(1);
    const int k = y / 2;
    const int neighbour = std::clamp((y % 2 == 0) ? k - 1 : k + 1, 0, chromaRows - 1);
    const std::uint16_t* nearRow = source.row<std::uint16_t>(std::min(k, chromaRows - 1), 1);
    const std::uint16_t* farRow = source.row<std::uint16_t>(neighbour, 1);
    auto chroma = [&](int j, int component) {
        j = std::min(j, chromaWidth - 1);
        return blendChroma(nearRow[2 * j + component], farRow[2 * j + component]);
    };
    auto scalarPixel = [&](int x) {
        const auto [cb, cr] = sitedChroma(x, chroma);
        writePixel(m, luma[x], cb, cr, out + 4 * (x - x0));
    };

    int x = x0;
#if defined(__SSE2__)
    if (x % 2 != 0 && x < x1) scalarPixel(x++);
    const __m128 unit = _mm_set1_ps(kUnit<T>), half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
    const __m128i lowWord = _mm_set1_epi32(0xFFFF);
    auto channel = [&](__m128 v) {
        return _mm_cvttps_epi32(_mm_max_ps(_mm_min_ps(_mm_add_ps(_mm_mul_ps(v, unit), half), unit), zero));
    };
    // Four chroma pairs from j on, blended between the rows, as (cb, cr) floats.
    auto loadChroma = [&](int j, __m128& cb, __m128& cr) {
        __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(nearRow + 2 * j));
        __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(farRow + 2 * j));
        auto blend = [&](__m128i a, __m128i b) {
            __m128 v = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(a), _mm_set1_ps(0.75f)),
                                  _mm_mul_ps(_mm_cvtepi32_ps(b), _mm_set1_ps(0.25f)));
            return _mm_mul_ps(_mm_sub_ps(v, _mm_set1_ps(kChromaOffset)), _mm_set1_ps(kChromaScale));
        };
        cb = blend(_mm_and_si128(n, lowWord), _mm_and_si128(f, lowWord));
        cr = blend(_mm_srli_epi32(n, 16), _mm_srli_epi32(f, 16));
    };
    auto convertFour = [&](int at, __m128i words, __m128 cb, __m128 cr) {
        __m128 yv = _mm_mul_ps(_mm_sub_ps(_mm_cvtepi32_ps(words), _mm_set1_ps(kLumaOffset)), _mm_set1_ps(kLumaScale));
        __m128 blue = _mm_add_ps(yv, _mm_mul_ps(cb, _mm_set1_ps(m.cbToBlue)));
        __m128 green = _mm_sub_ps(_mm_sub_ps(yv, _mm_mul_ps(cb, _mm_set1_ps(m.cbToGreen))),
                                  _mm_mul_ps(cr, _mm_set1_ps(m.crToGreen)));
        __m128 red = _mm_add_ps(yv, _mm_mul_ps(cr, _mm_set1_ps(m.crToRed)));
        storePixels(out + 4 * (at - x0), channel(blue), channel(green), channel(red));
    };
    // Eight pixels from an even column: chroma j...j+3 on the even ones, the
    // means of neighbours (j...j+4) on the odd ones.
    for (; x + 8 <= x1 && x / 2 + 4 < chromaWidth; x += 8) {
        const int j = x / 2;
        __m128 cbEven, crEven, cbNext, crNext;
        loadChroma(j, cbEven, crEven);
        loadChroma(j + 1, cbNext, crNext);
        __m128 cbOdd = _mm_mul_ps(_mm_add_ps(cbEven, cbNext), half);
        __m128 crOdd = _mm_mul_ps(_mm_add_ps(crEven, crNext), half);
        __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
        convertFour(x, _mm_unpacklo_epi16(words, _mm_setzero_si128()), _mm_unpacklo_ps(cbEven, cbOdd),
                    _mm_unpacklo_ps(crEven, crOdd));
        convertFour(x + 4, _mm_unpackhi_epi16(words, _mm_setzero_si128()), _mm_unpackhi_ps(cbEven, cbOdd),
                    _mm_unpackhi_ps(crEven, crOdd));
    }
#endif
    for (; x < x1; ++x) scalarPixel(x);
}

// The same sums as convertRow's, per pixel, with every plane position taken
// in the turned picture and read back from the stored one.
template <class T>
void convertTurnedRow(const media::PixelBuffer& source, const PlaneTurn& turn, int y, int x0, int x1, T* out) {
    const media::YCbCrWeights m = media::weightsOf(source.yCbCrMatrix());
    const int width = turn.swapsSides ? source.height() : source.width();
    const int height = turn.swapsSides ? source.width() : source.height();
    const int chromaWidth = turn.swapsSides ? source.planeHeight(1) : source.planeWidth(1);
    const int chromaRows = turn.swapsSides ? source.planeWidth(1) : source.planeHeight(1);
    // Stored position of a turned column and row in a plane of turned sides w × h.
    auto stored = [&turn](int column, int row, int w, int h) {
        const int along = turn.reversesX ? w - 1 - column : column;
        const int across = turn.reversesY ? h - 1 - row : row;
        return turn.swapsSides ? std::pair(across, along) : std::pair(along, across);
    };
    const std::uint16_t* luma = source.row<std::uint16_t>(y, 0);
    for (int x = x0; x < x1; ++x) {
        const int alongX = turn.swapsSides ? y : x, alongY = turn.swapsSides ? x : y;
        const int turnedX = turn.reversesX ? width - 1 - alongX : alongX;
        const int turnedY = turn.reversesY ? height - 1 - alongY : alongY;
        const int k = turnedY / 2;
        const int nearRow = std::min(k, chromaRows - 1);
        const int farRow = std::clamp((turnedY % 2 == 0) ? k - 1 : k + 1, 0, chromaRows - 1);
        auto chroma = [&](int j, int component) {
            j = std::min(j, chromaWidth - 1);
            const auto [nearX, nearY] = stored(j, nearRow, chromaWidth, chromaRows);
            const auto [farX, farY] = stored(j, farRow, chromaWidth, chromaRows);
            return blendChroma(source.row<std::uint16_t>(nearY, 1)[2 * nearX + component],
                               source.row<std::uint16_t>(farY, 1)[2 * farX + component]);
        };
        const auto [cb, cr] = sitedChroma(turnedX, chroma);
        writePixel(m, luma[x], cb, cr, out + 4 * (x - x0));
    }
}

template <class T>
void convertFullRow(const media::YCbCrWeights& m, const std::uint16_t* luma, const std::uint16_t* cb,
                    const std::uint16_t* cr, int count, T* out) {
    int x = 0;
#if defined(__SSE2__)
    const __m128 unit = _mm_set1_ps(kUnit<T>), half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
    auto channel = [&](__m128 v) {
        return _mm_cvttps_epi32(_mm_max_ps(_mm_min_ps(_mm_add_ps(_mm_mul_ps(v, unit), half), unit), zero));
    };
    auto four = [](const std::uint16_t* p, float offset, float scale) {
        __m128i words = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
        return _mm_mul_ps(_mm_sub_ps(_mm_cvtepi32_ps(words), _mm_set1_ps(offset)), _mm_set1_ps(scale));
    };
    for (; x + 4 <= count; x += 4) {
        __m128 yv = four(luma + x, kLumaOffset, kLumaScale);
        __m128 cbv = four(cb + x, kChromaOffset, kChromaScale), crv = four(cr + x, kChromaOffset, kChromaScale);
        __m128 blue = _mm_add_ps(yv, _mm_mul_ps(cbv, _mm_set1_ps(m.cbToBlue)));
        __m128 green = _mm_sub_ps(_mm_sub_ps(yv, _mm_mul_ps(cbv, _mm_set1_ps(m.cbToGreen))),
                                  _mm_mul_ps(crv, _mm_set1_ps(m.crToGreen)));
        __m128 red = _mm_add_ps(yv, _mm_mul_ps(crv, _mm_set1_ps(m.crToRed)));
        storePixels(out + 4 * x, channel(blue), channel(green), channel(red));
    }
#endif
    for (; x < count; ++x) {
        float yv = (static_cast<float>(luma[x]) - kLumaOffset) * kLumaScale;
        float b = (static_cast<float>(cb[x]) - kChromaOffset) * kChromaScale;
        float r = (static_cast<float>(cr[x]) - kChromaOffset) * kChromaScale;
        T* p = out + 4 * x;
        p[0] = toChannel<T>(yv + m.cbToBlue * b);
        p[1] = toChannel<T>(yv - m.cbToGreen * b - m.crToGreen * r);
        p[2] = toChannel<T>(yv + m.crToRed * r);
        p[3] = static_cast<T>(kUnit<T>);
    }
}

inline std::uint16_t toWord(float code, float low, float high) {
    return static_cast<std::uint16_t>(static_cast<int>(std::clamp(code + 0.5f, low, high)) << 6);
}

}  // namespace

void x420RowToBgra(const media::PixelBuffer& source, int y, int x0, int x1, std::uint16_t* out) {
    convertRow(source, y, x0, x1, out);
}

void x420RowToBgra(const media::PixelBuffer& source, const PlaneTurn& turn, int y, int x0, int x1, std::uint16_t* out) {
    convertTurnedRow(source, turn, y, x0, x1, out);
}

void x420RowToBgra(const media::PixelBuffer& source, const PlaneTurn& turn, int y, int x0, int x1, std::uint8_t* out) {
    convertTurnedRow(source, turn, y, x0, x1, out);
}

void x420RowToBgra(const media::PixelBuffer& source, int y, int x0, int x1, std::uint8_t* out) {
    convertRow(source, y, x0, x1, out);
}

void yuvRowToBgra(media::YCbCrMatrix matrix, const std::uint16_t* luma, const std::uint16_t* cb,
                  const std::uint16_t* cr, int count, std::uint16_t* out) {
    convertFullRow(media::weightsOf(matrix), luma, cb, cr, count, out);
}

void yuvRowToBgra(media::YCbCrMatrix matrix, const std::uint16_t* luma, const std::uint16_t* cb,
                  const std::uint16_t* cr, int count, std::uint8_t* out) {
    convertFullRow(media::weightsOf(matrix), luma, cb, cr, count, out);
}

void bgraToX420(const std::uint16_t* pixels, std::ptrdiff_t stride, media::PixelBuffer& destination) {
    const media::YCbCrWeights m = media::weightsOf(destination.yCbCrMatrix());
    const float red = m.red, green = m.green, blue = m.blue, cbToBlue = m.cbToBlue, crToRed = m.crToRed;
    const int width = destination.width();
    const int height = destination.height();
    constexpr float kToUnit = 1.0f / 65535.0f;
#if defined(__SSE2__)
    // Luma in fixed point on halved inputs: code = 64 + Σ c·(v >> 1) / 2^20,
    // with c = 2 · 876 · K / 65535 · 2^20 (all below 2^15).
    auto coefficient = [](float weight) {
        return static_cast<std::int16_t>(std::lround(2.0 * 876.0 * weight / 65535.0 * (1 << 20)));
    };
    const __m128i weights = _mm_setr_epi16(coefficient(blue), coefficient(green), coefficient(red), 0,
                                           coefficient(blue), coefficient(green), coefficient(red), 0);
    const __m128i round = _mm_set1_epi32(1 << 19), offset = _mm_set1_epi32(64);
#endif
    for (int y = 0; y < height; ++y) {
        const std::uint16_t* row = pixels + y * stride;
        std::uint16_t* luma = destination.row<std::uint16_t>(y, 0);
        int x = 0;
#if defined(__SSE2__)
        for (; x + 4 <= width; x += 4) {
            __m128i p01 = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * x)), 1);
            __m128i p23 = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * x + 8)), 1);
            // Per pixel two partial sums (b·cb + g·cg, r·cr); add them pairwise.
            __m128 s01 = _mm_castsi128_ps(_mm_madd_epi16(p01, weights));
            __m128 s23 = _mm_castsi128_ps(_mm_madd_epi16(p23, weights));
            __m128i even = _mm_castps_si128(_mm_shuffle_ps(s01, s23, _MM_SHUFFLE(2, 0, 2, 0)));
            __m128i odd = _mm_castps_si128(_mm_shuffle_ps(s01, s23, _MM_SHUFFLE(3, 1, 3, 1)));
            __m128i code = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(even, odd), round), 20), offset);
            __m128i words = _mm_slli_epi16(_mm_packs_epi32(code, code), 6);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(luma + x), words);
        }
#endif
        for (; x < width; ++x) {
            const std::uint16_t* p = row + 4 * x;
            float yv = red * p[2] + green * p[1] + blue * p[0];
            luma[x] = toWord(64.0f + 876.0f * kToUnit * yv, 0.0f, 1023.0f);
        }
    }
    // Each chroma sample: the two rows it sits between, and [1 2 1] across the
    // even column it is sited on. Cb and Cr are linear in R, G, B, so they are
    // taken straight from the summed pixels.
    constexpr float kSumToUnit = kToUnit / 8.0f;                            // eight weights in all
    const float cbWeights[3] = {0.5f, -green / cbToBlue, -red / cbToBlue};  // B, G, R
    const float crWeights[3] = {-blue / crToRed, -green / crToRed, 0.5f};
#if defined(__SSE2__)
    // Sums to 10-bit codes, rounded by the truncating conversion.
    const float toCode = 896.0f * kSumToUnit;
    const __m128 cbVector = _mm_setr_ps(cbWeights[0] * toCode, cbWeights[1] * toCode, cbWeights[2] * toCode, 0);
    const __m128 crVector = _mm_setr_ps(crWeights[0] * toCode, crWeights[1] * toCode, crWeights[2] * toCode, 0);
    const __m128 chromaBias = _mm_set1_ps(512.5f);
#endif
    for (int k = 0; k < destination.planeHeight(1); ++k) {
        const std::uint16_t* top = pixels + std::min(2 * k, height - 1) * stride;
        const std::uint16_t* bottom = pixels + std::min(2 * k + 1, height - 1) * stride;
        std::uint16_t* chroma = destination.row<std::uint16_t>(k, 1);
        for (int j = 0; j < destination.planeWidth(1); ++j) {
            const int columns[3] = {std::max(2 * j - 1, 0), std::min(2 * j, width - 1), std::min(2 * j + 1, width - 1)};
#if defined(__SSE2__)
            auto column = [&](int c) {
                const __m128i zero = _mm_setzero_si128();
                __m128i t = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + 4 * c)), zero);
                __m128i b = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + 4 * c)), zero);
                return _mm_add_epi32(t, b);
            };
            __m128i middle = column(columns[1]);
            __m128 total = _mm_cvtepi32_ps(
                _mm_add_epi32(_mm_add_epi32(column(columns[0]), column(columns[2])), _mm_add_epi32(middle, middle)));
            // Both dot products at once, summed across into (cb, cr, ...).
            __m128 cbTerms = _mm_mul_ps(total, cbVector), crTerms = _mm_mul_ps(total, crVector);
            __m128 mixed = _mm_add_ps(_mm_unpacklo_ps(cbTerms, crTerms), _mm_unpackhi_ps(cbTerms, crTerms));
            __m128 codes = _mm_add_ps(_mm_add_ps(mixed, _mm_movehl_ps(mixed, mixed)), chromaBias);
            codes = _mm_max_ps(_mm_min_ps(codes, _mm_set1_ps(1023.0f)), _mm_setzero_ps());
            __m128i words = _mm_slli_epi16(_mm_packs_epi32(_mm_cvttps_epi32(codes), _mm_setzero_si128()), 6);
            const std::int32_t pair = _mm_cvtsi128_si32(words);
            std::memcpy(chroma + 2 * j, &pair, sizeof pair);
#else
            float sum[3];
            for (int c = 0; c < 3; ++c)
                sum[c] = static_cast<float>(top[4 * columns[0] + c] + bottom[4 * columns[0] + c] +
                                            2 * (top[4 * columns[1] + c] + bottom[4 * columns[1] + c]) +
                                            top[4 * columns[2] + c] + bottom[4 * columns[2] + c]);
            float cb = (cbWeights[0] * sum[0] + cbWeights[1] * sum[1] + cbWeights[2] * sum[2]) * kSumToUnit;
            float cr = (crWeights[0] * sum[0] + crWeights[1] * sum[1] + crWeights[2] * sum[2]) * kSumToUnit;
            chroma[2 * j] = toWord(512.0f + 896.0f * cb, 0.0f, 1023.0f);
            chroma[2 * j + 1] = toWord(512.0f + 896.0f * cr, 0.0f, 1023.0f);
#endif
        }
    }
}

}  // namespace fw::raster

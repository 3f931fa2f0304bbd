// BGRA to planar YCbCr eight pixels at a time. Every value goes through the
// same float operations in the same order as convertFromBgraInFloat (no fused
// multiply-adds: the build keeps ISO floating point), so the bytes are the
// same; what is faster is the width, one pass over each row, and the [1 2 1]
// chroma filter done in vectors instead of sample by sample.

#include "platform/media/PictureConversion_internal.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(FW_HAS_AVX2_KERNELS)
#include <immintrin.h>
#endif

namespace fw::media::detail {

bool takesVectorPathFromBgra(const YCbCrPlanes& destination) {
    return destination.chromaShiftX == 1 && !destination.interleavedChroma && !destination.highBitsAligned &&
           destination.planes[3] == nullptr && destination.bitDepth >= 8 && destination.bitDepth <= 15;
}

#if defined(FW_HAS_AVX2_KERNELS)

namespace {

// The reference's constants, each worked out as it works them out.
struct Factors {
    float red, green, blue, toLuma, toCb, toCr;
    float scale, maximum;  // codes to the destination's depth, and its largest value
};

Factors factorsOf(YCbCrMatrix matrix, int bitDepth) {
    const YCbCrWeights w = weightsOf(matrix);
    return {w.red,
            w.green,
            w.blue,
            kLumaSpan / 255.0f,
            kChromaSpan / 255.0f / w.cbToBlue,
            kChromaSpan / 255.0f / w.crToRed,
            static_cast<float>(1 << bitDepth) / static_cast<float>(1 << 10),
            static_cast<float>((1 << bitDepth) - 1)};
}

// The reference's rounding: scaled, clamped, to nearest even.
inline int scalarSample(float code, const Factors& f) {
    const float v = std::min(std::max(code * f.scale, 0.0f), f.maximum);
    return static_cast<int>(std::nearbyint(v));
}

inline void storeScalar(std::uint8_t* line, int x, int value, bool bytes) {
    if (bytes)
        line[x] = static_cast<std::uint8_t>(value);
    else
        reinterpret_cast<std::uint16_t*>(line)[x] = static_cast<std::uint16_t>(value);
}

// One pixel's luma code and chroma (from zero) as the reference has them.
inline void scalarPixel(const std::uint8_t* p, const Factors& f, float& y, float& cb, float& cr) {
    const float opacity = p[3] * (1.0f / 255.0f);
    const float b = p[0] * opacity, g = p[1] * opacity, r = p[2] * opacity;
    const float ey = f.red * r + f.green * g + f.blue * b;
    y = kLumaBlack + ey * f.toLuma;
    cb = (b - ey) * f.toCb;
    cr = (r - ey) * f.toCr;
}

FW_TARGET_AVX2 inline __m256i samples(__m256 codes, __m256 scale, __m256 maximum) {
    return _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(codes, scale), _mm256_setzero_ps()), maximum));
}

// Eight 32-bit samples stored as bytes or words.
FW_TARGET_AVX2 inline void storeSamples(std::uint8_t* line, int x, __m256i values, bool bytes) {
    const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
    if (bytes)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(line + x), _mm_packus_epi16(words, words));
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(reinterpret_cast<std::uint16_t*>(line) + x), words);
}

// Writes a picture row's luma and leaves its chroma (from zero) in cb and cr,
// which `add` adds to what they hold instead.
FW_TARGET_AVX2 void lumaAndChroma(const std::uint8_t* pixels, int width, const Factors& f, std::uint8_t* lumaLine,
                                  bool bytes, float* cb, float* cr, bool add) {
    const __m256 red = _mm256_set1_ps(f.red), green = _mm256_set1_ps(f.green), blue = _mm256_set1_ps(f.blue);
    const __m256 toLuma = _mm256_set1_ps(f.toLuma), black = _mm256_set1_ps(kLumaBlack);
    const __m256 toCb = _mm256_set1_ps(f.toCb), toCr = _mm256_set1_ps(f.toCr);
    const __m256 perAlpha = _mm256_set1_ps(1.0f / 255.0f);
    const __m256 scale = _mm256_set1_ps(f.scale), maximum = _mm256_set1_ps(f.maximum);
    const __m256i low = _mm256_set1_epi32(0xFF);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + 4 * x));
        const __m256 opacity = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(p, 24)), perAlpha);
        const __m256 b = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(p, low)), opacity);
        const __m256 g = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 8), low)), opacity);
        const __m256 r = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 16), low)), opacity);
        const __m256 ey =
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(r, red), _mm256_mul_ps(g, green)), _mm256_mul_ps(b, blue));
        storeSamples(lumaLine, x, samples(_mm256_add_ps(black, _mm256_mul_ps(ey, toLuma)), scale, maximum), bytes);
        __m256 u = _mm256_mul_ps(_mm256_sub_ps(b, ey), toCb), v = _mm256_mul_ps(_mm256_sub_ps(r, ey), toCr);
        if (add) {
            u = _mm256_add_ps(_mm256_loadu_ps(cb + x), u);
            v = _mm256_add_ps(_mm256_loadu_ps(cr + x), v);
        }
        _mm256_storeu_ps(cb + x, u);
        _mm256_storeu_ps(cr + x, v);
    }
    for (; x < width; ++x) {
        float y, u, v;
        scalarPixel(pixels + 4 * x, f, y, u, v);
        storeScalar(lumaLine, x, scalarSample(y, f), bytes);
        cb[x] = add ? cb[x] + u : u;
        cr[x] = add ? cr[x] + v : v;
    }
}

// Chroma sample j on the even columns from a full row of codes:
// [1 2 1] / 4, the row's ends repeated.
inline float filteredScalar(const float* full, int width, int j) {
    const float left = full[std::max(2 * j - 1, 0)], middle = full[std::min(2 * j, width - 1)];
    return 0.25f * (left + 2.0f * middle + full[std::min(2 * j + 1, width - 1)]);
}

// The even (or odd) floats of lo and then hi, in order.
FW_TARGET_AVX2 inline __m256 evens(__m256 lo, __m256 hi) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))),
                                                  _MM_SHUFFLE(3, 1, 2, 0)));
}
FW_TARGET_AVX2 inline __m256 odds(__m256 lo, __m256 hi) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))),
                                                  _MM_SHUFFLE(3, 1, 2, 0)));
}

// Adds zero chroma and the share of each row to a full row of chroma sums,
// then filters and writes it to `line`, outWidth samples.
FW_TARGET_AVX2 void writeChroma(float* full, int width, float share, const Factors& f, std::uint8_t* line, bool bytes) {
    const __m256 zero = _mm256_set1_ps(kChromaZero), portion = _mm256_set1_ps(share);
    int x = 0;
    for (; x + 8 <= width; x += 8)
        _mm256_storeu_ps(full + x, _mm256_add_ps(zero, _mm256_mul_ps(_mm256_loadu_ps(full + x), portion)));
    for (; x < width; ++x) full[x] = kChromaZero + full[x] * share;

    const int outWidth = (width + 1) / 2;
    const __m256 two = _mm256_set1_ps(2.0f), quarter = _mm256_set1_ps(0.25f);
    const __m256 scale = _mm256_set1_ps(f.scale), maximum = _mm256_set1_ps(f.maximum);
    // Sample 0 has no left neighbour; vectors take samples 1… while full[2j + 15] is in the row.
    storeScalar(line, 0, scalarSample(filteredScalar(full, width, 0), f), bytes);
    int j = 1;
    for (; 2 * j + 16 <= width; j += 8) {
        // Left neighbours are the even columns of full[2j - 1 …]; middles and right ones those of full[2j …].
        const __m256 a0 = _mm256_loadu_ps(full + 2 * j - 1), a1 = _mm256_loadu_ps(full + 2 * j + 7);
        const __m256 b0 = _mm256_loadu_ps(full + 2 * j), b1 = _mm256_loadu_ps(full + 2 * j + 8);
        const __m256 left = evens(a0, a1), middle = evens(b0, b1), right = odds(b0, b1);
        const __m256 filtered =
            _mm256_mul_ps(quarter, _mm256_add_ps(_mm256_add_ps(left, _mm256_mul_ps(two, middle)), right));
        storeSamples(line, j, samples(filtered, scale, maximum), bytes);
    }
    for (; j < outWidth; ++j) storeScalar(line, j, scalarSample(filteredScalar(full, width, j), f), bytes);
}

}  // namespace

FW_TARGET_AVX2 void convertFromBgraInAvx2(const PixelBuffer& source, YCbCrMatrix matrix,
                                          const YCbCrPlanes& destination) {
    const int width = source.width(), height = source.height();
    const Factors f = factorsOf(matrix, destination.bitDepth);
    const bool bytes = destination.bitDepth <= 8;
    const int rowsPerChromaRow = 1 << destination.chromaShiftY;
    const int chromaRows = (height + rowsPerChromaRow - 1) >> destination.chromaShiftY;
    const float share = 1.0f / static_cast<float>(rowsPerChromaRow);
    tbb::parallel_for(tbb::blocked_range<int>(0, chromaRows, 8), [&](const tbb::blocked_range<int>& rows) {
        // Room for a vector's reach past the row.
        const std::size_t n = static_cast<std::size_t>(width) + 16;
        std::vector<float> cb(n), cr(n), unused(n);
        for (int row = rows.begin(); row < rows.end(); ++row) {
            for (int i = 0; i < rowsPerChromaRow; ++i) {
                // A missing last row of an odd height adds the one above again, and is not written.
                const int line = row * rowsPerChromaRow + i;
                const int read = std::min(line, height - 1);
                std::uint8_t* lumaLine = line < height ? destination.planes[0] + read * destination.strides[0]
                                                       : reinterpret_cast<std::uint8_t*>(unused.data());
                lumaAndChroma(source.row(read), width, f, lumaLine, bytes, cb.data(), cr.data(), i > 0);
            }
            writeChroma(cb.data(), width, share, f, destination.planes[1] + row * destination.strides[1], bytes);
            writeChroma(cr.data(), width, share, f, destination.planes[2] + row * destination.strides[2], bytes);
        }
    });
}

#endif

}  // namespace fw::media::detail

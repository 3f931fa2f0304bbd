// Colour cube lookups two pixels at a time in 256-bit registers (one pixel
// per 128-bit lane), for processors with AVX2 and FMA. Only these kernels are
// compiled for those instructions; a cube takes them when widestVectorUnit() is AVX2.

#include "pipeline/raster/ColorCube.h"

#include "codecs/VectorUnit.h"

#include <cstring>

#if defined(FW_HAS_AVX2_KERNELS)
#include <immintrin.h>
#endif

namespace fw::raster {

#if defined(FW_HAS_AVX2_KERNELS)

// Everything below, lambdas included, is compiled for AVX2 and FMA.
#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace {

inline __m256 loadTwo(const float* e0, const float* e1, std::int32_t offset) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(e0 + offset)), _mm_loadu_ps(e1 + offset), 1);
}

inline __m256 lerp(__m256 a, __m256 c, __m256 t) { return _mm256_fmadd_ps(_mm256_sub_ps(c, a), t, a); }

// Trilinear lookup for two pixels: e0 and e1 point at their cells' (0,0,0)
// corners; r, g, b hold each pixel's fractions broadcast in its lane. Returns
// B, G, R, 0 per lane scaled by `unit`, rounded up by a half, clamped.
inline __m256 interpolateTwo(const float* e0, const float* e1, std::int32_t sg, std::int32_t sb, __m256 r, __m256 g,
                             __m256 b, __m256 unit) {
    auto load = [&](std::int32_t offset) { return loadTwo(e0, e1, offset); };
    __m256 c00 = lerp(load(0), load(4), r);
    __m256 c10 = lerp(load(sg), load(sg + 4), r);
    __m256 c01 = lerp(load(sb), load(sb + 4), r);
    __m256 c11 = lerp(load(sb + sg), load(sb + sg + 4), r);
    __m256 c = lerp(lerp(c00, c10, g), lerp(c01, c11, g), b);
    c = _mm256_fmadd_ps(c, unit, _mm256_set1_ps(0.5f));
    return _mm256_max_ps(_mm256_min_ps(c, unit), _mm256_setzero_ps());
}

inline __m256 twoBroadcasts(float first, float second) {
    return _mm256_set_m128(_mm_set1_ps(second), _mm_set1_ps(first));
}

}  // namespace

void CubeKernels::apply(const ColorCube& cube, std::uint8_t* pixels, int count) {
    const float* table = cube.table_.data();
    const ColorCube::Axis* red = cube.axes8_[0].data();
    const ColorCube::Axis* green = cube.axes8_[1].data();
    const ColorCube::Axis* blue = cube.axes8_[2].data();
    const std::int32_t sg = cube.stride_[1], sb = cube.stride_[2];
    const __m256 unit = _mm256_set1_ps(255.0f);
    int x = 0;
    for (; x < count; x += 2) {
        std::uint8_t* p0 = pixels + 4 * x;
        // An odd last pixel runs as its own pair.
        std::uint8_t* p1 = x + 1 < count ? p0 + 4 : p0;
        const ColorCube::Axis r0 = red[p0[2]], g0 = green[p0[1]], b0 = blue[p0[0]];
        const ColorCube::Axis r1 = red[p1[2]], g1 = green[p1[1]], b1 = blue[p1[0]];
        __m256 c =
            interpolateTwo(table + r0.offset + g0.offset + b0.offset, table + r1.offset + g1.offset + b1.offset, sg, sb,
                           twoBroadcasts(r0.fraction, r1.fraction), twoBroadcasts(g0.fraction, g1.fraction),
                           twoBroadcasts(b0.fraction, b1.fraction), unit);
        __m256i v = _mm256_cvttps_epi32(c);
        v = _mm256_packus_epi16(_mm256_packs_epi32(v, v), v);
        const std::uint32_t colours[2] = {static_cast<std::uint32_t>(_mm256_extract_epi32(v, 0)),
                                          static_cast<std::uint32_t>(_mm256_extract_epi32(v, 4))};
        std::uint8_t* targets[2] = {p0, p1};
        for (int i = 0; i < 2; ++i) {
            std::uint32_t pixel;
            std::memcpy(&pixel, targets[i], sizeof pixel);
            pixel = (pixel & 0xFF000000u) | (colours[i] & 0x00FFFFFFu);
            std::memcpy(targets[i], &pixel, sizeof pixel);
        }
    }
}

void CubeKernels::apply(const ColorCube& cube, std::uint16_t* pixels, int count) {
    const float* table = cube.table_.data();
    const std::int32_t sg = cube.stride_[1], sb = cube.stride_[2];
    constexpr float kToUnit = 1.0f / 65535.0f;
    // All three axes of both pixels at once, lanes in the pixels' B, G, R order.
    const __m128 scale4 = _mm_setr_ps(cube.scale_[2] * kToUnit, cube.scale_[1] * kToUnit, cube.scale_[0] * kToUnit, 0);
    const __m128 bias4 = _mm_setr_ps(cube.bias_[2], cube.bias_[1], cube.bias_[0], 0);
    const __m128 strides4 = _mm_setr_ps(static_cast<float>(cube.stride_[2]), static_cast<float>(cube.stride_[1]),
                                        static_cast<float>(cube.stride_[0]), 0);
    const __m256 scale = _mm256_set_m128(scale4, scale4), bias = _mm256_set_m128(bias4, bias4);
    const __m256 strides = _mm256_set_m128(strides4, strides4);
    const __m256 top = _mm256_set1_ps(static_cast<float>(cube.dimension_ - 1));
    const __m256 lastCell = _mm256_set1_ps(static_cast<float>(cube.dimension_ - 2));
    const __m256 unit = _mm256_set1_ps(65535.0f);
    for (int x = 0; x < count; x += 2) {
        std::uint16_t* p0 = pixels + 4 * x;
        std::uint16_t* p1 = x + 1 < count ? p0 + 4 : p0;
        __m128i both = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)),
                                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1)));
        __m256 v = _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(both));
        __m256 position = _mm256_max_ps(_mm256_min_ps(_mm256_fmadd_ps(v, scale, bias), top), _mm256_setzero_ps());
        __m256 index = _mm256_min_ps(_mm256_floor_ps(position), lastCell);
        __m256 fraction = _mm256_sub_ps(position, index);
        __m256i offsets = _mm256_cvttps_epi32(_mm256_mul_ps(index, strides));
        const float* e0 = table + _mm256_extract_epi32(offsets, 0) + _mm256_extract_epi32(offsets, 1) +
                          _mm256_extract_epi32(offsets, 2);
        const float* e1 = table + _mm256_extract_epi32(offsets, 4) + _mm256_extract_epi32(offsets, 5) +
                          _mm256_extract_epi32(offsets, 6);
        __m256 c = interpolateTwo(e0, e1, sg, sb, _mm256_shuffle_ps(fraction, fraction, 0xAA),
                                  _mm256_shuffle_ps(fraction, fraction, 0x55),
                                  _mm256_shuffle_ps(fraction, fraction, 0x00), unit);
        __m256i words = _mm256_packus_epi32(_mm256_cvttps_epi32(c), _mm256_setzero_si256());
        const std::uint16_t alpha0 = p0[3], alpha1 = p1[3];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p0), _mm256_castsi256_si128(words));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p1), _mm256_extracti128_si256(words, 1));
        p0[3] = alpha0;
        p1[3] = alpha1;
    }
}

#pragma GCC pop_options

#else

void CubeKernels::apply(const ColorCube&, std::uint8_t*, int) {}
void CubeKernels::apply(const ColorCube&, std::uint16_t*, int) {}

#endif

}  // namespace fw::raster

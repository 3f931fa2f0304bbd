#include "pipeline/raster/ColorCube.h"

#include "codecs/VectorUnit.h"
#include "pipeline/raster/Raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fw::raster {

namespace {

inline float sanitized(float v) {
    if (std::isnan(v)) return 0.0f;
    return std::clamp(v, -1.0e6f, 1.0e6f);
}

#if defined(__SSE2__)
// Trilinear lookup in the cube cell whose (0,0,0) corner is at `e`; r, g, b
// hold the fractions broadcast. Returns B, G, R, 0 scaled by `unit`, rounded
// up by a half and clamped to 0...unit, ready for truncation.
inline __m128 interpolate(const float* e, std::int32_t sg, std::int32_t sb, __m128 r, __m128 g, __m128 b, __m128 unit) {
    auto lerp = [](__m128 a, __m128 c, __m128 t) { return _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(c, a), t)); };
    __m128 c00 = lerp(_mm_loadu_ps(e), _mm_loadu_ps(e + 4), r);
    __m128 c10 = lerp(_mm_loadu_ps(e + sg), _mm_loadu_ps(e + sg + 4), r);
    __m128 c01 = lerp(_mm_loadu_ps(e + sb), _mm_loadu_ps(e + sb + 4), r);
    __m128 c11 = lerp(_mm_loadu_ps(e + sb + sg), _mm_loadu_ps(e + sb + sg + 4), r);
    __m128 c = lerp(lerp(c00, c10, g), lerp(c01, c11, g), b);
    c = _mm_add_ps(_mm_mul_ps(c, unit), _mm_set1_ps(0.5f));
    return _mm_max_ps(_mm_min_ps(c, unit), _mm_setzero_ps());
}
#else
inline void interpolate(const float* e, std::int32_t sg, std::int32_t sb, float fr, float fg, float fb, float unit,
                        std::int32_t* out) {
    for (int ch = 0; ch < 3; ++ch) {
        auto at = [&](std::int32_t offset) { return e[offset + ch]; };
        auto lerp = [](float a, float c, float t) { return a + (c - a) * t; };
        float c00 = lerp(at(0), at(4), fr), c10 = lerp(at(sg), at(sg + 4), fr);
        float c01 = lerp(at(sb), at(sb + 4), fr), c11 = lerp(at(sb + sg), at(sb + sg + 4), fr);
        float c = lerp(lerp(c00, c10, fg), lerp(c01, c11, fg), fb);
        out[ch] = static_cast<std::int32_t>(std::clamp(c * unit + 0.5f, 0.0f, unit));
    }
}
#endif

}  // namespace

ColorCube::ColorCube(const CubeLUT& lut, Kernels kernels)
    : dimension_(static_cast<int>(lut.dimension)),
      wide_(kernels == Kernels::fastest && widestVectorUnit() == VectorUnit::avx2) {
    const std::int32_t n = dimension_;
    stride_ = {4, 4 * n, 4 * n * n};
    const std::size_t entries = static_cast<std::size_t>(n) * n * n;
    table_.resize(entries * 4);
    for (std::size_t i = 0; i < entries; ++i) {
        // Stored in the pixels' own B, G, R order.
        for (int c = 0; c < 3; ++c) table_[4 * i + c] = sanitized(lut.data[4 * i + 2 - c]);
        table_[4 * i + 3] = 0.0f;
    }
    for (int c = 0; c < 3; ++c) {
        scale_[c] = static_cast<float>((n - 1) / (static_cast<double>(lut.domainMax[c]) - lut.domainMin[c]));
        bias_[c] = static_cast<float>(-static_cast<double>(lut.domainMin[c]) * scale_[c]);
        axes8_[c].resize(256);
        for (int v = 0; v < 256; ++v) axes8_[c][v] = axis(c, static_cast<float>(v) / 255.0f);
    }
}

ColorCube::Axis ColorCube::axis(int channel, float value) const {
    float position = std::clamp(value * scale_[channel] + bias_[channel], 0.0f, static_cast<float>(dimension_ - 1));
    int index = std::min(static_cast<int>(position), dimension_ - 2);
    return {index * stride_[channel], position - static_cast<float>(index)};
}

void ColorCube::apply(std::uint8_t* pixels, int count) const {
    if (wide_) return CubeKernels::apply(*this, pixels, count);
    const float* table = table_.data();
    const Axis* red = axes8_[0].data();
    const Axis* green = axes8_[1].data();
    const Axis* blue = axes8_[2].data();
    const std::int32_t sg = stride_[1], sb = stride_[2];
#if defined(__SSE2__)
    const __m128 unit = _mm_set1_ps(255.0f);
#endif
    for (int x = 0; x < count; ++x) {
        std::uint8_t* p = pixels + 4 * x;
        const Axis r = red[p[2]], g = green[p[1]], b = blue[p[0]];
        const float* e = table + r.offset + g.offset + b.offset;
#if defined(__SSE2__)
        __m128i v = _mm_cvttps_epi32(
            interpolate(e, sg, sb, _mm_set1_ps(r.fraction), _mm_set1_ps(g.fraction), _mm_set1_ps(b.fraction), unit));
        v = _mm_packus_epi16(_mm_packs_epi32(v, v), v);
        std::uint32_t colour = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v)) & 0x00FFFFFFu;
        std::uint32_t pixel;
        std::memcpy(&pixel, p, sizeof pixel);
        pixel = (pixel & 0xFF000000u) | colour;
        std::memcpy(p, &pixel, sizeof pixel);
#else
        std::int32_t out[4];
        interpolate(e, sg, sb, r.fraction, g.fraction, b.fraction, 255.0f, out);
        for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(out[c]);
#endif
    }
}

void ColorCube::apply(std::uint16_t* pixels, int count) const {
    if (wide_) return CubeKernels::apply(*this, pixels, count);
    const float* table = table_.data();
    const std::int32_t sg = stride_[1], sb = stride_[2];
#if defined(__SSE2__)
    // All three axes at once, lanes in the pixels' B, G, R order.
    constexpr float kToUnit = 1.0f / 65535.0f;
    const __m128 scale = _mm_setr_ps(scale_[2] * kToUnit, scale_[1] * kToUnit, scale_[0] * kToUnit, 0.0f);
    const __m128 bias = _mm_setr_ps(bias_[2], bias_[1], bias_[0], 0.0f);
    const __m128 top = _mm_set1_ps(static_cast<float>(dimension_ - 1));
    const __m128 lastCell = _mm_set1_ps(static_cast<float>(dimension_ - 2));
    const __m128 strides = _mm_setr_ps(static_cast<float>(stride_[2]), static_cast<float>(stride_[1]),
                                       static_cast<float>(stride_[0]), 0.0f);
    const __m128 unit = _mm_set1_ps(65535.0f);
    const __m128i bias16 = _mm_set1_epi32(32768);
    for (int x = 0; x < count; ++x) {
        std::uint16_t* p = pixels + 4 * x;
        __m128 v = _mm_cvtepi32_ps(
            _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128()));
        __m128 position = _mm_max_ps(_mm_min_ps(_mm_add_ps(_mm_mul_ps(v, scale), bias), top), _mm_setzero_ps());
        __m128 index = _mm_min_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(position)), lastCell);
        __m128 fraction = _mm_sub_ps(position, index);
        __m128i offsets = _mm_cvttps_epi32(_mm_mul_ps(index, strides));
        const float* e = table + _mm_cvtsi128_si32(offsets) + _mm_cvtsi128_si32(_mm_srli_si128(offsets, 4)) +
                         _mm_cvtsi128_si32(_mm_srli_si128(offsets, 8));
        __m128i out = _mm_cvttps_epi32(interpolate(e, sg, sb, _mm_shuffle_ps(fraction, fraction, 0xAA),
                                                   _mm_shuffle_ps(fraction, fraction, 0x55),
                                                   _mm_shuffle_ps(fraction, fraction, 0x00), unit));
        __m128i words = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(out, bias16), bias16), _mm_set1_epi16(-32768));
        std::uint16_t alpha = p[3];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), words);
        p[3] = alpha;
    }
#else
    constexpr float kToUnit = 1.0f / 65535.0f;
    for (int x = 0; x < count; ++x) {
        std::uint16_t* p = pixels + 4 * x;
        const Axis r = axis(0, p[2] * kToUnit), g = axis(1, p[1] * kToUnit), b = axis(2, p[0] * kToUnit);
        std::int32_t out[4];
        interpolate(table + r.offset + g.offset + b.offset, sg, sb, r.fraction, g.fraction, b.fraction, 65535.0f, out);
        for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint16_t>(out[c]);
    }
#endif
}

template <class T>
void ColorCube::applyPremultiplied(T* pixels, int count) const {
    constexpr std::uint32_t kMax = PixelTraits<T>::kMax;
    // Runs of opaque pixels go straight through; others are unpremultiplied one by one.
    int x = 0;
    while (x < count) {
        int run = x;
        while (run < count && pixels[4 * run + 3] == kMax) ++run;
        if (run > x) apply(pixels + 4 * x, run - x);
        if (run == count) break;
        T* p = pixels + 4 * run;
        if (p[3] != 0) {
            unpremultiplyRow(p, 1);
            apply(p, 1);
            premultiplyRow(p, 1);
        }
        x = run + 1;
    }
}

template void ColorCube::applyPremultiplied<std::uint8_t>(std::uint8_t*, int) const;
template void ColorCube::applyPremultiplied<std::uint16_t>(std::uint16_t*, int) const;

}  // namespace fw::raster

#pragma once
// The rules and helpers shared by the DXT encoder's block functions: the
// portable and SSE2 ones (DXTEncoder.cpp) and the AVX2 ones
// (DXTEncoderAVX2.cpp), which must all give the same bytes.

#include <algorithm>
#include <array>
#include <cstdint>

#include "codecs/ByteBuffer.h"
#include "codecs/VectorUnit.h"
#include "codecs/dxt/DXTFormat.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define FW_DXT_SSE2 1
#endif
// AVX2 forms of the block functions for processors that have it, chosen once per image.
#if defined(FW_DXT_SSE2) && defined(FW_HAS_AVX2_KERNELS)
#include <immintrin.h>
#define FW_DXT_AVX2 1
#endif

namespace fw::DXTEncoder::blocks {

// Scale s of the YCoCg transform from M = max(2|R - B|, |2G - R - B|) over the
// block (that is 4 * the largest |Co| or |Cg|): trunc(127 / (M / 4)) kept in
// 1 ... 32, and 1 for a block without chroma. 127 / (M / 4) is never within a
// rounding step of an integer it does not equal, so integer division is exact.
constexpr int kMaxChromaSpread = 2 * 255 * 2;
struct ScaleTable {
    std::uint8_t scale[kMaxChromaSpread + 1];
};
constexpr ScaleTable makeScaleTable() {
    ScaleTable t{};
    t.scale[0] = 1;
    for (int m = 1; m <= kMaxChromaSpread; ++m) t.scale[m] = static_cast<std::uint8_t>(std::clamp(508 / m, 1, 32));
    return t;
}
constexpr ScaleTable kScaleTable = makeScaleTable();

// round(v / 2) and round(v / 4), halves away from zero, for integers v.
constexpr int roundHalf(int v) { return v >= 0 ? (v + 1) >> 1 : -((-v + 1) >> 1); }
constexpr int roundQuarter(int v) { return v >= 0 ? (v + 2) >> 2 : -((-v + 2) >> 2); }

// ---- Endpoints: the codes whose palette holds the block's colours. ----

// The 8-bit value a 5- or 6-bit code reads back as (bit replication).
template <int bits>
constexpr int expand(int code) {
    return bits == 5 ? (code << 3) | (code >> 2) : (code << 2) | (code >> 4);
}

// Widest pair of codes a one-colour block may use; a few codes apart already reach every third.
constexpr int kFlatSpan = 8;

// The codes that enclose a channel's extremes: the lowest code reading back at or above the maximum and the highest
// at or below the minimum, so that the palette spans the block's values (and a value between two codes is bracketed
// by both). Each is ((v + add) * multiplier) >> 16, exact for every byte; the vector paths use the same constants.
struct CodeRounding {
    int add, multiplier;
};
constexpr CodeRounding kUp5{8, 7944}, kDown5{1, 7936}, kUp6{4, 16132}, kDown6{1, 16128};

constexpr int roundCode(int v, CodeRounding rounding) { return ((v + rounding.add) * rounding.multiplier) >> 16; }

// For a block of one value v, per channel width: codes high >= low whose entry (2 high + low) / 3 comes nearest v
// (the narrowest such pair; equal codes where v is exact).
struct FlatCodes {
    std::uint8_t high[256];
    std::uint8_t low[256];
};

template <int bits>
constexpr FlatCodes makeFlatCodes() {
    constexpr int top = (1 << bits) - 1;
    constexpr auto distance = [](int a, int b) { return a > b ? a - b : b - a; };
    // Pairs whose codes both read back more than kReach from v cannot come nearest: skipping them keeps the
    // table within the compilers' constant-evaluation limits.
    constexpr int kReach = 16;
    FlatCodes t{};
    for (int v = 0; v < 256; ++v) {
        int bestHigh = 0, bestLow = 0, bestError = 256;
        const int first = std::max(0, ((v - kReach) >> (8 - bits)) - 1);
        for (int span = 0; span <= kFlatSpan; ++span)
            for (int high = std::max(span, first); high <= top && expand<bits>(high - span) <= v + kReach; ++high) {
                const int low = high - span;
                const int error = distance(divideBy3(2 * expand<bits>(high) + expand<bits>(low)), v);
                if (error < bestError) bestHigh = high, bestLow = low, bestError = error;
            }
        t.high[v] = static_cast<std::uint8_t>(bestHigh);
        t.low[v] = static_cast<std::uint8_t>(bestLow);
    }
    return t;
}
constexpr FlatCodes kFlat5 = makeFlatCodes<5>();
constexpr FlatCodes kFlat6 = makeFlatCodes<6>();

struct Endpoints {
    std::uint16_t c0, c1;
};

// A block of one colour: the pair per channel whose entry 2 comes nearest, so that all three channels meet at one
// index.
inline Endpoints flatEndpoints(int r, int g, int b) {
    return {static_cast<std::uint16_t>(kFlat5.high[r] << 11 | kFlat6.high[g] << 5 | kFlat5.high[b]),
            static_cast<std::uint16_t>(kFlat5.low[r] << 11 | kFlat6.low[g] << 5 | kFlat5.low[b])};
}

// The endpoints of a block with these channel extremes. c0 >= c1 field by field, so c0 > c1 (four-colour mode)
// unless the block is one exactly representable colour. The vector paths compute the same (endpointsSSE2).
inline Endpoints chooseEndpoints(int maxR, int maxG, int maxB, int minR, int minG, int minB) {
    if (maxR == minR && maxG == minG && maxB == minB) return flatEndpoints(maxR, maxG, maxB);
    return {
        static_cast<std::uint16_t>(roundCode(maxR, kUp5) << 11 | roundCode(maxG, kUp6) << 5 | roundCode(maxB, kUp5)),
        static_cast<std::uint16_t>(roundCode(minR, kDown5) << 11 | roundCode(minG, kDown6) << 5 |
                                   roundCode(minB, kDown5))};
}

// The blue byte of a scaled-YCoCg block: scale - 1 in the 5-bit field, written as the value that code reads back as
// so that the endpoint choice keeps it exactly.
constexpr int scaleBlue(int scale) { return expand<5>(scale - 1); }

struct ColorPalette {
    int r[4], g[4], b[4];
    std::uint16_t c0, c1;
};

inline ColorPalette colorPalette(Endpoints endpoints) {
    ColorPalette p{};
    p.c0 = endpoints.c0;
    p.c1 = endpoints.c1;
    const Rgb8 e0 = unpack565(p.c0), e1 = unpack565(p.c1);
    // With c0 = c1 the thirds below equal entry 0, which is the copy the
    // format asks for, so no branch is needed.
    p.r[0] = e0.r, p.g[0] = e0.g, p.b[0] = e0.b;
    p.r[1] = e1.r, p.g[1] = e1.g, p.b[1] = e1.b;
    p.r[2] = divideBy3(2 * e0.r + e1.r), p.g[2] = divideBy3(2 * e0.g + e1.g), p.b[2] = divideBy3(2 * e0.b + e1.b);
    p.r[3] = divideBy3(e0.r + 2 * e1.r), p.g[3] = divideBy3(e0.g + 2 * e1.g), p.b[3] = divideBy3(e0.b + 2 * e1.b);
    return p;
}

// Entry k = ((8 - k) a0 + (k - 1) a1 + 3) / 7; a0 = a1 makes every entry a0.
inline void alphaPalette(int a0, int a1, int palette[8]) {
    palette[0] = a0;
    palette[1] = a1;
    for (int k = 2; k < 8; ++k) palette[k] = ((8 - k) * a0 + (k - 1) * a1 + 3) / 7;
}

inline void writeColorBlock(std::uint8_t* out, std::uint16_t c0, std::uint16_t c1, std::uint32_t indices) {
    storeLE16(out, c0);
    storeLE16(out + 2, c1);
    storeLE32(out + 4, indices);
}

inline void writeAlphaBlock(std::uint8_t* out, int a0, int a1, std::uint64_t indices) {
    out[0] = static_cast<std::uint8_t>(a0);
    out[1] = static_cast<std::uint8_t>(a1);
    for (int i = 0; i < 6; ++i) out[2 + i] = static_cast<std::uint8_t>(indices >> (8 * i));
}

#if FW_DXT_SSE2

// ---- SSE2 helpers, which the AVX2 blocks use too. ----

inline __m128i absDiffU8(__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); }
inline __m128i select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

// Index bytes 0..3 of 16 lanes to the 32-bit word with pixel i in bits 2i.
inline std::uint32_t packColorIndices(__m128i bytes) {
    __m128i t = _mm_or_si128(bytes, _mm_srli_epi16(bytes, 6));
    t = _mm_and_si128(t, _mm_set1_epi16(0x0F));
    t = _mm_or_si128(t, _mm_srli_epi32(t, 12));
    t = _mm_and_si128(t, _mm_set1_epi32(0xFF));
    t = _mm_packs_epi32(t, t);
    t = _mm_packus_epi16(t, t);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(t));
}

// Index bytes 0..7 of 16 lanes to the 48-bit field with value i in bits 3i.
inline std::uint64_t packAlphaIndices(__m128i bytes) {
    __m128i t = _mm_or_si128(bytes, _mm_srli_epi16(bytes, 5));
    t = _mm_and_si128(t, _mm_set1_epi16(0x3F));
    t = _mm_or_si128(t, _mm_srli_epi32(t, 10));
    t = _mm_and_si128(t, _mm_set1_epi32(0xFFF));
    t = _mm_or_si128(t, _mm_srli_epi64(t, 20));
    t = _mm_and_si128(t, _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF));
    const auto low = static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_cvtsi128_si32(t)));
    const auto high = static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(t, 8))));
    return low | (high << 24);
}

inline __m128i horizontalMaxU8(__m128i v) {
    v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
    return _mm_max_epu8(v, _mm_srli_si128(v, 1));
}
inline __m128i horizontalMinU8(__m128i v) {
    v = _mm_min_epu8(v, _mm_srli_si128(v, 8));
    v = _mm_min_epu8(v, _mm_srli_si128(v, 4));
    v = _mm_min_epu8(v, _mm_srli_si128(v, 2));
    return _mm_min_epu8(v, _mm_srli_si128(v, 1));
}

// A block's endpoints from its extremes (the maximum and the minimum pixel, BGRA, in the low 4 bytes of hi and lo),
// and the two palette ends read back as 16-bit lanes B, G, R, 0 of c0 then c1: chooseEndpoints, lane-wise.
struct EndpointLanes {
    Endpoints endpoints;
    __m128i ends;
    __m128i word;  // 32-bit lane 0: c0 | c1 << 16, the block's first four bytes (x86 is little-endian)
    bool single;   // c0 = c1: the block is one exactly representable colour
};

inline EndpointLanes endpointsSSE2(__m128i hi, __m128i lo) {
    // B, G and R of the maximum equal to the minimum's: one colour.
    if ((_mm_movemask_epi8(_mm_cmpeq_epi8(hi, lo)) & 0x7) == 0x7) [[unlikely]] {
        const auto maxima = static_cast<std::uint32_t>(_mm_cvtsi128_si32(hi));
        const Endpoints flat = flatEndpoints((maxima >> 16) & 0xFF, (maxima >> 8) & 0xFF, maxima & 0xFF);
        const Rgb8 e0 = unpack565(flat.c0), e1 = unpack565(flat.c1);
        return {flat,
                _mm_setr_epi16(static_cast<short>(e0.b), static_cast<short>(e0.g), static_cast<short>(e0.r), 0,
                               static_cast<short>(e1.b), static_cast<short>(e1.g), static_cast<short>(e1.r), 0),
                _mm_cvtsi32_si128(flat.c0 | flat.c1 << 16), flat.c0 == flat.c1};
    }
    // Lanes B, G, R, A of the maxima then the minima; alpha's multipliers 0 make its lanes 0.
    const __m128i values = _mm_unpacklo_epi8(_mm_unpacklo_epi32(hi, lo), _mm_setzero_si128());
    const __m128i x =
        _mm_add_epi16(values, _mm_setr_epi16(kUp5.add, kUp6.add, kUp5.add, 0, kDown5.add, kDown6.add, kDown5.add, 0));
    auto lanes = [](int up5, int up6, int down5, int down6) {
        return _mm_setr_epi16(static_cast<short>(up5), static_cast<short>(up6), static_cast<short>(up5), 0,
                              static_cast<short>(down5), static_cast<short>(down6), static_cast<short>(down5), 0);
    };
    const __m128i codes =
        _mm_mulhi_epu16(x, lanes(kUp5.multiplier, kUp6.multiplier, kDown5.multiplier, kDown6.multiplier));
    // Read back without waiting for the codes: (q << 3) | (q >> 2) for five bits, (q << 2) | (q >> 4) for six. q << 3
    // is (x * 8 m) >> 16 with its low 3 bits cleared and q >> 2 is (x * m / 4) >> 16 (q << 2 and q >> 4 alike, with
    // m / 16 rounded up); each exact for every byte.
    const __m128i high = _mm_and_si128(_mm_mulhi_epu16(x, lanes(8 * kUp5.multiplier, 4 * kUp6.multiplier,
                                                                8 * kDown5.multiplier, 4 * kDown6.multiplier)),
                                       lanes(0xF8, 0xFC, 0xF8, 0xFC));
    const __m128i low = _mm_mulhi_epu16(x, lanes((kUp5.multiplier + 3) / 4, (kUp6.multiplier + 15) / 16,
                                                 (kDown5.multiplier + 3) / 4, (kDown6.multiplier + 15) / 16));
    const __m128i ends = _mm_or_si128(high, low);
    // Fields to their places: B + 32 G and 2048 R per half, summed into 32-bit lanes c0, c0, c1, c1.
    __m128i packed = _mm_madd_epi16(codes, _mm_setr_epi16(1, 32, 2048, 0, 1, 32, 2048, 0));
    packed = _mm_add_epi32(packed, _mm_shuffle_epi32(packed, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m128i word = _mm_or_si128(packed, _mm_slli_epi32(_mm_shuffle_epi32(packed, _MM_SHUFFLE(3, 2, 3, 2)), 16));
    return {{static_cast<std::uint16_t>(_mm_cvtsi128_si32(packed)),
             static_cast<std::uint16_t>(_mm_extract_epi16(packed, 4))},
            ends,
            word,
            false};
}

inline __m128i alphaBytes(const __m128i rows[4]) {
    const __m128i a01 = _mm_packs_epi32(_mm_srli_epi32(rows[0], 24), _mm_srli_epi32(rows[1], 24));
    const __m128i a23 = _mm_packs_epi32(_mm_srli_epi32(rows[2], 24), _mm_srli_epi32(rows[3], 24));
    return _mm_packus_epi16(a01, a23);
}

// A block's scaled YCoCg: Y, scaled Co + 128 and scaled Cg + 128 as bytes in block order, and the scale.
struct YCoCgBytes {
    __m128i y, co, cg;
    int scale;
};

#if FW_DXT_AVX2

// ---- AVX2 blocks (DXTEncoderAVX2.cpp): the same bytes as the SSE2 ones. ----

// As alphaBlockSSE2 (values: 16 bytes in block order) and colorBlockSSE2 (rows: 4 registers of 4 BGRA pixels).
FW_TARGET_AVX2 void alphaBlockAVX2(__m128i values, std::uint8_t* out);
FW_TARGET_AVX2 void colorBlockAVX2(const __m128i rows[4], std::uint8_t* out);
// A block's scaled YCoCg bytes, as ycocgBytesSSE2 makes them.
FW_TARGET_AVX2 YCoCgBytes ycocgBytesAVX2(const __m128i rows[4]);
// Two neighbouring blocks of scaled YCoCg, luma and colour.
FW_TARGET_AVX2 void ycocgBlockPairAVX2(const __m128i rows0[4], const __m128i rows1[4], std::uint8_t* out0,
                                       std::uint8_t* out1);
// The colour block of scaled YCoCg bytes (blue carrying the scale, green Cg, red Co).
FW_TARGET_AVX2 void ycocgColorBlockAVX2(const YCoCgBytes& channels, std::uint8_t* out);
// Two neighbouring blocks at once, each written as the one-block function writes it.
FW_TARGET_AVX2 void alphaBlockPairAVX2(__m128i values0, __m128i values1, std::uint8_t* out0, std::uint8_t* out1);
FW_TARGET_AVX2 void colorBlockPairAVX2(const __m128i rows0[4], const __m128i rows1[4], std::uint8_t* out0,
                                       std::uint8_t* out1);
FW_TARGET_AVX2 void ycocgColorBlockPairAVX2(const YCoCgBytes& channels0, const YCoCgBytes& channels1,
                                            std::uint8_t* out0, std::uint8_t* out1);

#endif  // FW_DXT_AVX2
#endif  // FW_DXT_SSE2

}  // namespace fw::DXTEncoder::blocks

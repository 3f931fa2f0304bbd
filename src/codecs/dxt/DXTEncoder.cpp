#include "codecs/dxt/DXTEncoder.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "codecs/ByteBuffer.h"
#include "codecs/dxt/DXTEncoder_internal.h"

#include "codecs/VectorUnit.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define FW_DXT_SSE2 1
#endif
// AVX2 forms of the block functions for processors that have it, chosen once per image.
#if defined(FW_DXT_SSE2) && defined(FW_HAS_AVX2_KERNELS)
#include <immintrin.h>
#define FW_DXT_AVX2 1
#endif

namespace fw::DXTEncoder {
namespace {

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

ColorPalette colorPalette(Endpoints endpoints) {
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
void alphaPalette(int a0, int a1, int palette[8]) {
    palette[0] = a0;
    palette[1] = a1;
    for (int k = 2; k < 8; ++k) palette[k] = ((8 - k) * a0 + (k - 1) * a1 + 3) / 7;
}

void writeColorBlock(std::uint8_t* out, std::uint16_t c0, std::uint16_t c1, std::uint32_t indices) {
    storeLE16(out, c0);
    storeLE16(out + 2, c1);
    storeLE32(out + 4, indices);
}

void writeAlphaBlock(std::uint8_t* out, int a0, int a1, std::uint64_t indices) {
    out[0] = static_cast<std::uint8_t>(a0);
    out[1] = static_cast<std::uint8_t>(a1);
    for (int i = 0; i < 6; ++i) out[2 + i] = static_cast<std::uint8_t>(indices >> (8 * i));
}

// ---- Portable path: the rules written out per pixel. ----

void colorBlockPortable(const int* r, const int* g, const int* b, std::uint8_t* out) {
    int maxR = 0, maxG = 0, maxB = 0, minR = 255, minG = 255, minB = 255;
    for (int i = 0; i < 16; ++i) {
        maxR = std::max(maxR, r[i]), maxG = std::max(maxG, g[i]), maxB = std::max(maxB, b[i]);
        minR = std::min(minR, r[i]), minG = std::min(minG, g[i]), minB = std::min(minB, b[i]);
    }
    const ColorPalette p = colorPalette(chooseEndpoints(maxR, maxG, maxB, minR, minG, minB));
    std::uint32_t word = 0;
    for (int i = 0; i < 16; ++i) {
        int best = 0, bestDistance = 0;
        for (int k = 0; k < 4; ++k) {
            const int dr = r[i] - p.r[k], dg = g[i] - p.g[k], db = b[i] - p.b[k];
            const int distance = dr * dr + dg * dg + db * db;
            if (k == 0 || distance < bestDistance) best = k, bestDistance = distance;
        }
        word |= static_cast<std::uint32_t>(best) << (2 * i);
    }
    writeColorBlock(out, p.c0, p.c1, word);
}

void alphaBlockPortable(const int* values, std::uint8_t* out) {
    int a0 = 0, a1 = 255;
    for (int i = 0; i < 16; ++i) a0 = std::max(a0, values[i]), a1 = std::min(a1, values[i]);
    int palette[8];
    alphaPalette(a0, a1, palette);
    std::uint64_t field = 0;
    for (int i = 0; i < 16; ++i) {
        int best = 0, bestDifference = 0;
        for (int k = 0; k < 8; ++k) {
            const int difference = values[i] > palette[k] ? values[i] - palette[k] : palette[k] - values[i];
            if (k == 0 || difference < bestDifference) best = k, bestDifference = difference;
        }
        field |= static_cast<std::uint64_t>(best) << (3 * i);
    }
    writeAlphaBlock(out, a0, a1, field);
}

#if FW_DXT_SSE2

// ---- SSE2 path: same results, 4 pixels (colour) or 16 values (BC4) a step. ----

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

// values: 16 bytes in block order.
void alphaBlockSSE2(__m128i values, std::uint8_t* out) {
    const int a0 = _mm_cvtsi128_si32(horizontalMaxU8(values)) & 0xFF;
    const int a1 = _mm_cvtsi128_si32(horizontalMinU8(values)) & 0xFF;
    if (a0 == a1) {
        writeAlphaBlock(out, a0, a1, 0);
        return;
    }
    int palette[8];
    alphaPalette(a0, a1, palette);
    __m128i best = absDiffU8(values, _mm_set1_epi8(static_cast<char>(palette[0])));
    __m128i index = _mm_setzero_si128();
    for (int k = 1; k < 8; ++k) {
        const __m128i d = absDiffU8(values, _mm_set1_epi8(static_cast<char>(palette[k])));
        // The old entry stays where min(d, best) is best: a tie keeps the lower index.
        const __m128i stays = _mm_cmpeq_epi8(_mm_min_epu8(d, best), best);
        best = _mm_min_epu8(d, best);
        index = select(stays, index, _mm_set1_epi8(static_cast<char>(k)));
    }
    writeAlphaBlock(out, a0, a1, packAlphaIndices(index));
}

// rows: 4 registers of 4 BGRA pixels (block rows 0..3); alpha is ignored.
void colorBlockSSE2(const __m128i rows[4], std::uint8_t* out) {
    __m128i hi = _mm_max_epu8(_mm_max_epu8(rows[0], rows[1]), _mm_max_epu8(rows[2], rows[3]));
    __m128i lo = _mm_min_epu8(_mm_min_epu8(rows[0], rows[1]), _mm_min_epu8(rows[2], rows[3]));
    hi = _mm_max_epu8(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = _mm_max_epu8(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    lo = _mm_min_epu8(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    lo = _mm_min_epu8(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    const EndpointLanes endpoints = endpointsSSE2(hi, lo);
    const ColorPalette p = colorPalette(endpoints.endpoints);
    if (endpoints.single) {
        writeColorBlock(out, p.c0, p.c1, 0);
        return;
    }
    // Per 32-bit lane: red in the low 16 bits and green in the high 16 (one
    // multiply-add gives dr^2 + dg^2), blue alone in the low 16 bits.
    __m128i redGreen[4], blue[4];
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i greenMask = _mm_set1_epi32(0xFF0000);
    for (int j = 0; j < 4; ++j) {
        redGreen[j] = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(rows[j], 16), byteMask),
                                   _mm_and_si128(_mm_slli_epi32(rows[j], 8), greenMask));
        blue[j] = _mm_and_si128(rows[j], byteMask);
    }
    __m128i paletteRG[4], paletteB[4];
    for (int k = 0; k < 4; ++k) {
        paletteRG[k] = _mm_set1_epi32(p.r[k] | (p.g[k] << 16));
        paletteB[k] = _mm_set1_epi32(p.b[k]);
    }
    __m128i indices[4];
    for (int j = 0; j < 4; ++j) {
        auto distance = [&](int k) {
            const __m128i drg = _mm_sub_epi16(redGreen[j], paletteRG[k]);
            const __m128i db = _mm_sub_epi16(blue[j], paletteB[k]);
            return _mm_add_epi32(_mm_madd_epi16(drg, drg), _mm_madd_epi16(db, db));
        };
        __m128i best = distance(0);
        __m128i index = _mm_setzero_si128();
        for (int k = 1; k < 4; ++k) {
            const __m128i d = distance(k);
            const __m128i closer = _mm_cmplt_epi32(d, best);
            best = select(closer, d, best);
            index = select(closer, _mm_set1_epi32(k), index);
        }
        indices[j] = index;
    }
    const __m128i bytes =
        _mm_packus_epi16(_mm_packs_epi32(indices[0], indices[1]), _mm_packs_epi32(indices[2], indices[3]));
    writeColorBlock(out, p.c0, p.c1, packColorIndices(bytes));
}

#if FW_DXT_AVX2

// ---- AVX2 blocks: the same results, colour 8 pixels a step. ----

// Squared distances of 8 pixels, laid out as colorBlockAVX2 lays them, to one palette entry.
FW_TARGET_AVX2 inline __m256i squaredDistances(__m256i blueGreen, __m256i red, __m256i entryBG, __m256i entryR) {
    const __m256i dbg = _mm256_sub_epi16(blueGreen, entryBG), dr = _mm256_sub_epi16(red, entryR);
    return _mm256_add_epi32(_mm256_madd_epi16(dbg, dbg), _mm256_madd_epi16(dr, dr));
}

// BC4 block, for processors with AVX2: the same results. By value the palette
// runs a0, p2 ... p7, a1 (entries may repeat), so a value's entry follows from
// how many of the 7 midpoints between neighbours lie at or below it: it lands
// in the right run of equal entries, whose lowest index is the answer. A value
// on a midpoint takes the lower index, which is the upper entry except when
// the lower one is a1 and the upper one is not a0. (Checked against the
// nearest-entry search for every a0, a1 and value.)
FW_TARGET_AVX2 void alphaBlockAVX2(__m128i values, std::uint8_t* out) {
    const int a0 = _mm_cvtsi128_si32(horizontalMaxU8(values)) & 0xFF;
    const int a1 = _mm_cvtsi128_si32(horizontalMinU8(values)) & 0xFF;
    if (a0 == a1) {
        writeAlphaBlock(out, a0, a1, 0);
        return;
    }
    const __m128i high = _mm_set1_epi16(static_cast<short>(a0)), low = _mm_set1_epi16(static_cast<short>(a1));
    // Entries by value in lanes j = 0 ... 7: ((7 - j) a0 + j a1 + 3) / 7, the division exact as 9363 / 2^16.
    const __m128i sums = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(high, _mm_setr_epi16(7, 6, 5, 4, 3, 2, 1, 0)),
                                                     _mm_mullo_epi16(low, _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7))),
                                       _mm_set1_epi16(3));
    const __m128i entries = _mm_mulhi_epu16(sums, _mm_set1_epi16(9363));
    const __m128i above = _mm_slli_si128(entries, 2);  // lane j: entry j - 1
    const __m128i isLow = _mm_cmpeq_epi16(entries, low), isHigh = _mm_cmpeq_epi16(entries, high);
    // Lane j (1 ... 7): the lowest value that stays at entry j - 1 or above.
    const __m128i tieGoesDown = _mm_andnot_si128(_mm_cmpeq_epi16(above, high), isLow);
    const __m128i midpoints =
        _mm_srli_epi16(_mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(entries, above), _mm_set1_epi16(1)), tieGoesDown), 1);
    // Lane j: the lowest index among the entries equal to entry j (0 for a0's, 1 for a1's, else its run's first
    // lane + 1), the run's first lane found by a running maximum of the lanes where a new value starts.
    const __m128i lanes = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    __m128i first = _mm_andnot_si128(_mm_cmpeq_epi16(entries, above), lanes);
    first = _mm_max_epi16(first, _mm_slli_si128(first, 2));
    first = _mm_max_epi16(first, _mm_slli_si128(first, 4));
    first = _mm_max_epi16(first, _mm_slli_si128(first, 8));
    const __m128i lowest =
        _mm_blendv_epi8(_mm_andnot_si128(isHigh, _mm_add_epi16(first, _mm_set1_epi16(1))), _mm_set1_epi16(1), isLow);
    const __m128i table = _mm_packus_epi16(midpoints, lowest);  // bytes 1 ... 7 midpoints, 8 ... 15 indices
    __m128i atOrAbove = _mm_setzero_si128();
    for (int j = 1; j < 8; ++j) {
        const __m128i midpoint = _mm_shuffle_epi8(table, _mm_set1_epi8(static_cast<char>(j)));
        atOrAbove = _mm_sub_epi8(atOrAbove, _mm_cmpeq_epi8(_mm_max_epu8(values, midpoint), values));
    }
    // The value sits at entry 7 - atOrAbove, whose index is byte 15 - atOrAbove.
    const __m128i index = _mm_shuffle_epi8(table, _mm_sub_epi8(_mm_set1_epi8(15), atOrAbove));
    writeAlphaBlock(out, a0, a1, packAlphaIndices(index));
}

FW_TARGET_AVX2 void colorBlockAVX2(const __m128i rows[4], std::uint8_t* out) {
    __m128i hi = _mm_max_epu8(_mm_max_epu8(rows[0], rows[1]), _mm_max_epu8(rows[2], rows[3]));
    __m128i lo = _mm_min_epu8(_mm_min_epu8(rows[0], rows[1]), _mm_min_epu8(rows[2], rows[3]));
    hi = _mm_max_epu8(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = _mm_max_epu8(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    lo = _mm_min_epu8(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    lo = _mm_min_epu8(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    const auto [endpoints, ends, endpointWord, single] = endpointsSSE2(hi, lo);
    const auto [c0, c1] = endpoints;
    if (single) {
        writeColorBlock(out, c0, c1, 0);
        return;
    }
    // The endpoints now, the indices when they are known.
    _mm_storeu_si32(out, endpointWord);
    // The palette as 16-bit B, G, R, 0 lanes, the values colorPalette gives: the
    // endpoints read back, then their thirds.
    const __m128i sums = _mm_add_epi16(_mm_add_epi16(ends, ends), _mm_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m128i entries[2] = {ends, _mm_mulhi_epu16(sums, _mm_set1_epi16(21846))};  // divideBy3
    // Per 32-bit lane: blue in the low 16 bits and green in the high 16 (one
    // multiply-add gives db^2 + dg^2), red alone in the low 16 bits.
    __m256i paletteBG[4], paletteR[4];
    for (int k = 0; k < 4; ++k) {
        const __m128i entry = k % 2 == 0 ? entries[k / 2] : _mm_srli_si128(entries[k / 2], 8);
        paletteBG[k] = _mm256_broadcastd_epi32(entry);
        paletteR[k] = _mm256_broadcastd_epi32(_mm_srli_si128(entry, 4));
    }
    const __m256i toBlueGreen = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, -128, 1, -128, 4, -128, 5, -128, 8, -128, 9, -128, 12, -128, 13, -128));
    const __m256i toRed = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(2, -128, -128, -128, 6, -128, -128, -128, 10, -128, -128, -128, 14, -128, -128, -128));
    __m256i word = _mm256_setzero_si256();
    for (int half = 0; half < 2; ++half) {
        const __m256i pixels = _mm256_set_m128i(rows[2 * half + 1], rows[2 * half]);
        const __m256i blueGreen = _mm256_shuffle_epi8(pixels, toBlueGreen), red = _mm256_shuffle_epi8(pixels, toRed);
        __m256i best = squaredDistances(blueGreen, red, paletteBG[0], paletteR[0]);
        __m256i index = _mm256_setzero_si256();
        for (int k = 1; k < 4; ++k) {
            const __m256i d = squaredDistances(blueGreen, red, paletteBG[k], paletteR[k]);
            index = _mm256_blendv_epi8(index, _mm256_set1_epi32(k), _mm256_cmpgt_epi32(best, d));
            best = _mm256_min_epi32(best, d);
        }
        // Pixel i's index to bits 2i.
        const __m256i shifts =
            _mm256_add_epi32(_mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14), _mm256_set1_epi32(16 * half));
        word = _mm256_or_si256(word, _mm256_sllv_epi32(index, shifts));
    }
    __m128i folded = _mm_or_si128(_mm256_castsi256_si128(word), _mm256_extracti128_si256(word, 1));
    folded = _mm_or_si128(folded, _mm_shuffle_epi32(folded, _MM_SHUFFLE(1, 0, 3, 2)));
    folded = _mm_or_si128(folded, _mm_shuffle_epi32(folded, _MM_SHUFFLE(2, 3, 0, 1)));
    _mm_storeu_si32(out + 4, folded);
}

#endif  // FW_DXT_AVX2

inline __m128i alphaBytes(const __m128i rows[4]) {
    const __m128i a01 = _mm_packs_epi32(_mm_srli_epi32(rows[0], 24), _mm_srli_epi32(rows[1], 24));
    const __m128i a23 = _mm_packs_epi32(_mm_srli_epi32(rows[2], 24), _mm_srli_epi32(rows[3], 24));
    return _mm_packus_epi16(a01, a23);
}

// One channel (shift 0 blue, 8 green, 16 red) of 8 pixels as 16-bit lanes.
template <int shift>
inline __m128i channel16(__m128i rowA, __m128i rowB) {
    const __m128i mask = _mm_set1_epi32(0xFF);
    return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(rowA, shift), mask),
                           _mm_and_si128(_mm_srli_epi32(rowB, shift), mask));
}

inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// round(v / 2^shift), halves away from zero, on 16-bit lanes.
inline __m128i roundShift16(__m128i v, int shift) {
    const __m128i sign = _mm_srai_epi16(v, 15);
    const __m128i magnitude =
        _mm_srli_epi16(_mm_add_epi16(abs16(v), _mm_set1_epi16(static_cast<short>(1 << (shift - 1)))), shift);
    return _mm_sub_epi16(_mm_xor_si128(magnitude, sign), sign);
}

using ColorBlockFunction = void (*)(const __m128i rows[4], std::uint8_t* out);
using AlphaBlockFunction = void (*)(__m128i values, std::uint8_t* out);

// A block's scaled YCoCg: Y, scaled Co + 128 and scaled Cg + 128 as bytes in block order, and the scale.
struct YCoCgBytes {
    __m128i y, co, cg;
    int scale;
};

YCoCgBytes ycocgBytesSSE2(const __m128i rows[4]) {
    __m128i y[2], co2[2], cg4[2];
    __m128i spread = _mm_setzero_si128();
    for (int h = 0; h < 2; ++h) {
        const __m128i r = channel16<16>(rows[2 * h], rows[2 * h + 1]);
        const __m128i g = channel16<8>(rows[2 * h], rows[2 * h + 1]);
        const __m128i b = channel16<0>(rows[2 * h], rows[2 * h + 1]);
        const __m128i g2 = _mm_add_epi16(g, g);
        y[h] = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(r, g2), _mm_add_epi16(b, _mm_set1_epi16(2))), 2);
        co2[h] = _mm_sub_epi16(r, b);                     // 2 Co
        cg4[h] = _mm_sub_epi16(g2, _mm_add_epi16(r, b));  // 4 Cg
        spread = _mm_max_epi16(spread, _mm_max_epi16(abs16(_mm_add_epi16(co2[h], co2[h])), abs16(cg4[h])));
    }
    spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 8));
    spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 4));
    spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 2));
    const int scale = kScaleTable.scale[_mm_cvtsi128_si32(spread) & 0xFFFF];
    const __m128i s = _mm_set1_epi16(static_cast<short>(scale));
    const __m128i bias = _mm_set1_epi16(128);
    __m128i co[2], cg[2];
    for (int h = 0; h < 2; ++h) {
        co[h] = _mm_add_epi16(roundShift16(_mm_mullo_epi16(co2[h], s), 1), bias);
        cg[h] = _mm_add_epi16(roundShift16(_mm_mullo_epi16(cg4[h], s), 2), bias);
    }
    // Saturating packs clamp to 0 ... 255.
    return {_mm_packus_epi16(y[0], y[1]), _mm_packus_epi16(co[0], co[1]), _mm_packus_epi16(cg[0], cg[1]), scale};
}

template <ColorBlockFunction colorBlock, AlphaBlockFunction alphaBlock>
void ycocgBlock(const YCoCgBytes& channels, std::uint8_t* out) {
    const __m128i coBytes = channels.co, cgBytes = channels.cg;
    alphaBlock(channels.y, out);
    // Rebuild BGRA lanes: blue carrying s - 1, green scaled Cg, red scaled Co.
    const __m128i blue = _mm_set1_epi8(static_cast<char>(scaleBlue(channels.scale)));
    const __m128i blueGreenLow = _mm_unpacklo_epi8(blue, cgBytes), blueGreenHigh = _mm_unpackhi_epi8(blue, cgBytes);
    const __m128i zero = _mm_setzero_si128();
    const __m128i redLow = _mm_unpacklo_epi8(coBytes, zero), redHigh = _mm_unpackhi_epi8(coBytes, zero);
    const __m128i pixels[4] = {_mm_unpacklo_epi16(blueGreenLow, redLow), _mm_unpackhi_epi16(blueGreenLow, redLow),
                               _mm_unpacklo_epi16(blueGreenHigh, redHigh), _mm_unpackhi_epi16(blueGreenHigh, redHigh)};
    colorBlock(pixels, out + 8);
}

#if FW_DXT_AVX2

// One channel (byte 0 blue, 1 green, 2 red) of a block's 16 pixels as 16-bit lanes in block order, from
// block rows 0 and 2 (first) and 1 and 3 (second) side by side.
template <int channel>
FW_TARGET_AVX2 inline __m256i channelWords(__m256i first, __m256i second) {
    constexpr char c = channel, z = -128;
    const __m256i toLow =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(c, z, c + 4, z, c + 8, z, c + 12, z, z, z, z, z, z, z, z, z));
    const __m256i toHigh =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(z, z, z, z, z, z, z, z, c, z, c + 4, z, c + 8, z, c + 12, z));
    return _mm256_or_si256(_mm256_shuffle_epi8(first, toLow), _mm256_shuffle_epi8(second, toHigh));
}

// round(v / 2^shift), halves away from zero.
FW_TARGET_AVX2 inline __m256i roundShift16AVX2(__m256i v, int shift) {
    const __m256i half = _mm256_set1_epi16(static_cast<short>(1 << (shift - 1)));
    return _mm256_sign_epi16(_mm256_srli_epi16(_mm256_add_epi16(_mm256_abs_epi16(v), half), shift), v);
}

// 16 words to bytes in the same order; the saturating pack clamps to 0 ... 255.
FW_TARGET_AVX2 inline __m128i bytesOf(__m256i words) {
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

// ycocgBytesSSE2 over all 16 pixels at once: the same bytes.
FW_TARGET_AVX2 YCoCgBytes ycocgBytesAVX2(const __m128i rows[4]) {
    const __m256i first = _mm256_set_m128i(rows[2], rows[0]), second = _mm256_set_m128i(rows[3], rows[1]);
    const __m256i r = channelWords<2>(first, second), g = channelWords<1>(first, second);
    const __m256i b = channelWords<0>(first, second);
    const __m256i g2 = _mm256_add_epi16(g, g);
    const __m256i y =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(r, g2), _mm256_add_epi16(b, _mm256_set1_epi16(2))), 2);
    const __m256i co2 = _mm256_sub_epi16(r, b);                        // 2 Co
    const __m256i cg4 = _mm256_sub_epi16(g2, _mm256_add_epi16(r, b));  // 4 Cg
    const __m256i spreads = _mm256_max_epi16(_mm256_abs_epi16(_mm256_add_epi16(co2, co2)), _mm256_abs_epi16(cg4));
    __m128i spread = _mm_max_epi16(_mm256_castsi256_si128(spreads), _mm256_extracti128_si256(spreads, 1));
    spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 8));
    spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 4));
    spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 2));
    const int scale = kScaleTable.scale[_mm_cvtsi128_si32(spread) & 0xFFFF];
    const __m256i s = _mm256_set1_epi16(static_cast<short>(scale)), bias = _mm256_set1_epi16(128);
    const __m256i co = _mm256_add_epi16(roundShift16AVX2(_mm256_mullo_epi16(co2, s), 1), bias);
    const __m256i cg = _mm256_add_epi16(roundShift16AVX2(_mm256_mullo_epi16(cg4, s), 2), bias);
    return {bytesOf(y), bytesOf(co), bytesOf(cg), scale};
}

// alphaBlockAVX2 for two blocks at once, one in each 128-bit half: the same bytes. A block of one value gets
// indices 0 as there.
FW_TARGET_AVX2 void alphaBlockPairAVX2(__m128i values0, __m128i values1, std::uint8_t* out0, std::uint8_t* out1) {
    const __m256i values = _mm256_set_m128i(values1, values0);
    __m256i maxima = _mm256_max_epu8(values, _mm256_srli_si256(values, 8));
    maxima = _mm256_max_epu8(maxima, _mm256_srli_si256(maxima, 4));
    maxima = _mm256_max_epu8(maxima, _mm256_srli_si256(maxima, 2));
    maxima = _mm256_max_epu8(maxima, _mm256_srli_si256(maxima, 1));
    __m256i minima = _mm256_min_epu8(values, _mm256_srli_si256(values, 8));
    minima = _mm256_min_epu8(minima, _mm256_srli_si256(minima, 4));
    minima = _mm256_min_epu8(minima, _mm256_srli_si256(minima, 2));
    minima = _mm256_min_epu8(minima, _mm256_srli_si256(minima, 1));
    // Each half's extreme (its byte 0) in all of its 16-bit lanes.
    const __m256i firstByte = _mm256_set1_epi16(0x8000);
    const __m256i high = _mm256_shuffle_epi8(maxima, firstByte), low = _mm256_shuffle_epi8(minima, firstByte);
    const __m256i sums = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(high, _mm256_setr_epi16(7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0)),
                         _mm256_mullo_epi16(low, _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7))),
        _mm256_set1_epi16(3));
    const __m256i entries = _mm256_mulhi_epu16(sums, _mm256_set1_epi16(9363));
    const __m256i above = _mm256_slli_si256(entries, 2);
    const __m256i isLow = _mm256_cmpeq_epi16(entries, low), isHigh = _mm256_cmpeq_epi16(entries, high);
    const __m256i tieGoesDown = _mm256_andnot_si256(_mm256_cmpeq_epi16(above, high), isLow);
    const __m256i midpoints = _mm256_srli_epi16(
        _mm256_sub_epi16(_mm256_add_epi16(_mm256_add_epi16(entries, above), _mm256_set1_epi16(1)), tieGoesDown), 1);
    const __m256i lanes = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
    __m256i first = _mm256_andnot_si256(_mm256_cmpeq_epi16(entries, above), lanes);
    first = _mm256_max_epi16(first, _mm256_slli_si256(first, 2));
    first = _mm256_max_epi16(first, _mm256_slli_si256(first, 4));
    first = _mm256_max_epi16(first, _mm256_slli_si256(first, 8));
    const __m256i lowest = _mm256_blendv_epi8(
        _mm256_andnot_si256(isHigh, _mm256_add_epi16(first, _mm256_set1_epi16(1))), _mm256_set1_epi16(1), isLow);
    const __m256i table = _mm256_packus_epi16(midpoints, lowest);
    __m256i atOrAbove = _mm256_setzero_si256();
    for (int j = 1; j < 8; ++j) {
        const __m256i midpoint = _mm256_shuffle_epi8(table, _mm256_set1_epi8(static_cast<char>(j)));
        atOrAbove = _mm256_sub_epi8(atOrAbove, _mm256_cmpeq_epi8(_mm256_max_epu8(values, midpoint), values));
    }
    const __m256i bytes = _mm256_shuffle_epi8(table, _mm256_sub_epi8(_mm256_set1_epi8(15), atOrAbove));
    // packAlphaIndices in each half.
    __m256i t = _mm256_or_si256(bytes, _mm256_srli_epi16(bytes, 5));
    t = _mm256_and_si256(t, _mm256_set1_epi16(0x3F));
    t = _mm256_or_si256(t, _mm256_srli_epi32(t, 10));
    t = _mm256_and_si256(t, _mm256_set1_epi32(0xFFF));
    t = _mm256_or_si256(t, _mm256_srli_epi64(t, 20));
    // Each half's block in its low 8 bytes: a0, a1, then the two 24-bit halves of the field, which a block of one
    // value (a0 = a1) has as 0.
    const __m256i field =
        _mm256_shuffle_epi8(t, _mm256_broadcastsi128_si256(_mm_setr_epi8(-128, -128, 0, 1, 2, 8, 9, 10, -128, -128,
                                                                         -128, -128, -128, -128, -128, -128)));
    const __m256i ends = _mm256_unpacklo_epi8(maxima, minima);  // each half's bytes 0 and 1: a0, a1
    const __m256i flat = _mm256_shuffle_epi8(_mm256_cmpeq_epi8(maxima, minima), _mm256_setzero_si256());
    const __m256i blocks =
        _mm256_or_si256(_mm256_and_si256(ends, _mm256_set1_epi64x(0xFFFF)), _mm256_andnot_si256(flat, field));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out0), _mm256_castsi256_si128(blocks));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out1), _mm256_extracti128_si256(blocks, 1));
}

// Squared distances of 8 pixels to one entry, red and green as 16-bit pairs.
FW_TARGET_AVX2 inline __m256i redGreenDistances(__m256i pixels, __m256i entry) {
    const __m256i d = _mm256_sub_epi16(pixels, entry);
    return _mm256_madd_epi16(d, d);
}

// The colour block of scaled YCoCg bytes: colorBlockAVX2 of the pixels ycocgBlock rebuilds, the same bytes. Every
// palette entry's blue equals the pixels' (the scale's byte reads back exactly), so only red and green count.
FW_TARGET_AVX2 void ycocgColorBlockAVX2(const YCoCgBytes& channels, std::uint8_t* out) {
    const __m128i co = channels.co, cg = channels.cg;
    const __m128i zero = _mm_setzero_si128(), blue = _mm_set1_epi8(static_cast<char>(scaleBlue(channels.scale)));
    // B, G, R, 0 of the extremes in the low 4 bytes.
    const __m128i hi =
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(blue, horizontalMaxU8(cg)), _mm_unpacklo_epi8(horizontalMaxU8(co), zero));
    const __m128i lo =
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(blue, horizontalMinU8(cg)), _mm_unpacklo_epi8(horizontalMinU8(co), zero));
    const auto [endpoints, ends, endpointWord, single] = endpointsSSE2(hi, lo);
    if (single) {
        writeColorBlock(out, endpoints.c0, endpoints.c1, 0);
        return;
    }
    _mm_storeu_si32(out, endpointWord);
    const __m128i sums = _mm_add_epi16(_mm_add_epi16(ends, ends), _mm_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2)));
    // Red | green << 16 of entries 0 and 1 (the ends), then of 2 and 3 (their thirds).
    const __m128i toRedGreen =
        _mm_setr_epi8(4, 5, 2, 3, 12, 13, 10, 11, -128, -128, -128, -128, -128, -128, -128, -128);
    const __m128i pairs[2] = {_mm_shuffle_epi8(ends, toRedGreen),
                              _mm_shuffle_epi8(_mm_mulhi_epu16(sums, _mm_set1_epi16(21846)), toRedGreen)};
    __m256i palette[4];
    for (int k = 0; k < 4; ++k)
        palette[k] = _mm256_broadcastd_epi32(k % 2 == 0 ? pairs[k / 2] : _mm_srli_si128(pairs[k / 2], 4));
    // Per 32-bit lane, pixels 0 ... 7 then 8 ... 15: red (Co) in the low 16 bits, green (Cg) in the high.
    const __m256i pixels[2] = {_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(co, cg)),
                               _mm256_cvtepu8_epi16(_mm_unpackhi_epi8(co, cg))};
    __m256i word = _mm256_setzero_si256();
    for (int half = 0; half < 2; ++half) {
        __m256i best = redGreenDistances(pixels[half], palette[0]);
        __m256i index = _mm256_setzero_si256();
        for (int k = 1; k < 4; ++k) {
            const __m256i d = redGreenDistances(pixels[half], palette[k]);
            index = _mm256_blendv_epi8(index, _mm256_set1_epi32(k), _mm256_cmpgt_epi32(best, d));
            best = _mm256_min_epi32(best, d);
        }
        const __m256i shifts =
            _mm256_add_epi32(_mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14), _mm256_set1_epi32(16 * half));
        word = _mm256_or_si256(word, _mm256_sllv_epi32(index, shifts));
    }
    __m128i folded = _mm_or_si128(_mm256_castsi256_si128(word), _mm256_extracti128_si256(word, 1));
    folded = _mm_or_si128(folded, _mm_shuffle_epi32(folded, _MM_SHUFFLE(1, 0, 3, 2)));
    folded = _mm_or_si128(folded, _mm_shuffle_epi32(folded, _MM_SHUFFLE(2, 3, 0, 1)));
    _mm_storeu_si32(out + 4, folded);
}

// Eight 16-bit lanes in both halves.
FW_TARGET_AVX2 inline __m256i both(const std::array<short, 8>& l) {
    return _mm256_setr_epi16(l[0], l[1], l[2], l[3], l[4], l[5], l[6], l[7], l[0], l[1], l[2], l[3], l[4], l[5], l[6],
                             l[7]);
}

// endpointsSSE2 in each half, for blocks that are not one colour: the palette ends read back as 16-bit lanes B, G, R, 0
// of c0 then c1, and each half's block word c0 | c1 << 16 in its dword 0.
struct EndpointPair {
    __m256i ends, word;
};

FW_TARGET_AVX2 EndpointPair endpointPairAVX2(__m256i hi, __m256i lo) {
    const __m256i values = _mm256_unpacklo_epi8(_mm256_unpacklo_epi32(hi, lo), _mm256_setzero_si256());
    const __m256i x = _mm256_add_epi16(
        values, _mm256_setr_epi16(kUp5.add, kUp6.add, kUp5.add, 0, kDown5.add, kDown6.add, kDown5.add, 0, kUp5.add,
                                  kUp6.add, kUp5.add, 0, kDown5.add, kDown6.add, kDown5.add, 0));
    auto lanes = [](int up5, int up6, int down5, int down6) {
        return std::array<short, 8>{static_cast<short>(up5),   static_cast<short>(up6),   static_cast<short>(up5),   0,
                                    static_cast<short>(down5), static_cast<short>(down6), static_cast<short>(down5), 0};
    };
    const __m256i codes =
        _mm256_mulhi_epu16(x, both(lanes(kUp5.multiplier, kUp6.multiplier, kDown5.multiplier, kDown6.multiplier)));
    const __m256i high = _mm256_and_si256(
        _mm256_mulhi_epu16(
            x, both(lanes(8 * kUp5.multiplier, 4 * kUp6.multiplier, 8 * kDown5.multiplier, 4 * kDown6.multiplier))),
        both(lanes(0xF8, 0xFC, 0xF8, 0xFC)));
    const __m256i low = _mm256_mulhi_epu16(x, both(lanes((kUp5.multiplier + 3) / 4, (kUp6.multiplier + 15) / 16,
                                                         (kDown5.multiplier + 3) / 4, (kDown6.multiplier + 15) / 16)));
    const __m256i ends = _mm256_or_si256(high, low);
    __m256i packed = _mm256_madd_epi16(codes, both({1, 32, 2048, 0, 1, 32, 2048, 0}));
    packed = _mm256_add_epi32(packed, _mm256_shuffle_epi32(packed, _MM_SHUFFLE(2, 3, 0, 1)));
    // Each half's dword 0: c0 | c1 << 16.
    const __m256i endpointWord =
        _mm256_or_si256(_mm256_and_si256(packed, _mm256_set1_epi64x(0xFFFF)),
                        _mm256_slli_epi32(_mm256_shuffle_epi32(packed, _MM_SHUFFLE(3, 2, 3, 2)), 16));
    return {ends, endpointWord};
}

// colorBlockAVX2 for two blocks at once, one in each 128-bit half: the same bytes. When either is one colour both go
// one at a time.
FW_TARGET_AVX2 void colorBlockPairAVX2(const __m128i rows0[4], const __m128i rows1[4], std::uint8_t* out0,
                                       std::uint8_t* out1) {
    __m256i rows[4];
    for (int j = 0; j < 4; ++j) rows[j] = _mm256_set_m128i(rows1[j], rows0[j]);
    __m256i hi = _mm256_max_epu8(_mm256_max_epu8(rows[0], rows[1]), _mm256_max_epu8(rows[2], rows[3]));
    __m256i lo = _mm256_min_epu8(_mm256_min_epu8(rows[0], rows[1]), _mm256_min_epu8(rows[2], rows[3]));
    hi = _mm256_max_epu8(hi, _mm256_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = _mm256_max_epu8(hi, _mm256_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    lo = _mm256_min_epu8(lo, _mm256_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    lo = _mm256_min_epu8(lo, _mm256_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    // B, G and R of each half's maximum equal to its minimum's: one colour.
    const int same = _mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, lo));
    if ((same & 0x7) == 0x7 || (same & 0x70000) == 0x70000) [[unlikely]] {
        colorBlockAVX2(rows0, out0);
        colorBlockAVX2(rows1, out1);
        return;
    }
    const auto [ends, endpointWord] = endpointPairAVX2(hi, lo);
    // Per half, as colorBlockAVX2 has them: blue | green << 16 and red of each entry, in all four dwords.
    const __m256i sums =
        _mm256_add_epi16(_mm256_add_epi16(ends, ends), _mm256_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m256i thirds = _mm256_mulhi_epu16(sums, _mm256_set1_epi16(21846));  // divideBy3
    const __m256i paletteBG[4] = {_mm256_shuffle_epi32(ends, 0x00), _mm256_shuffle_epi32(ends, 0xAA),
                                  _mm256_shuffle_epi32(thirds, 0x00), _mm256_shuffle_epi32(thirds, 0xAA)};
    const __m256i paletteR[4] = {_mm256_shuffle_epi32(ends, 0x55), _mm256_shuffle_epi32(ends, 0xFF),
                                 _mm256_shuffle_epi32(thirds, 0x55), _mm256_shuffle_epi32(thirds, 0xFF)};
    const __m256i toBlueGreen = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, -128, 1, -128, 4, -128, 5, -128, 8, -128, 9, -128, 12, -128, 13, -128));
    const __m256i toRed = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(2, -128, -128, -128, 6, -128, -128, -128, 10, -128, -128, -128, 14, -128, -128, -128));
    __m256i word = _mm256_setzero_si256();
    for (int j = 0; j < 4; ++j) {
        // Block row j: pixels 4 j ... 4 j + 3 of each block.
        const __m256i blueGreen = _mm256_shuffle_epi8(rows[j], toBlueGreen), red = _mm256_shuffle_epi8(rows[j], toRed);
        __m256i best = squaredDistances(blueGreen, red, paletteBG[0], paletteR[0]);
        __m256i index = _mm256_setzero_si256();
        for (int k = 1; k < 4; ++k) {
            const __m256i d = squaredDistances(blueGreen, red, paletteBG[k], paletteR[k]);
            index = _mm256_blendv_epi8(index, _mm256_set1_epi32(k), _mm256_cmpgt_epi32(best, d));
            best = _mm256_min_epi32(best, d);
        }
        const __m256i shifts = _mm256_add_epi32(_mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6), _mm256_set1_epi32(8 * j));
        word = _mm256_or_si256(word, _mm256_sllv_epi32(index, shifts));
    }
    word = _mm256_or_si256(word, _mm256_shuffle_epi32(word, _MM_SHUFFLE(1, 0, 3, 2)));
    word = _mm256_or_si256(word, _mm256_shuffle_epi32(word, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m256i blocks = _mm256_unpacklo_epi32(endpointWord, word);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out0), _mm256_castsi256_si128(blocks));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out1), _mm256_extracti128_si256(blocks, 1));
}

// ycocgColorBlockAVX2 for two blocks at once, one in each 128-bit half: the same bytes. Blocks whose chroma is one
// colour (rare, and chosen otherwise) go one at a time.
FW_TARGET_AVX2 void ycocgColorBlockPairAVX2(const YCoCgBytes& channels0, const YCoCgBytes& channels1,
                                            std::uint8_t* out0, std::uint8_t* out1) {
    const __m256i co = _mm256_set_m128i(channels1.co, channels0.co), cg = _mm256_set_m128i(channels1.cg, channels0.cg);
    __m256i coMax = _mm256_max_epu8(co, _mm256_srli_si256(co, 8)),
            coMin = _mm256_min_epu8(co, _mm256_srli_si256(co, 8));
    __m256i cgMax = _mm256_max_epu8(cg, _mm256_srli_si256(cg, 8)),
            cgMin = _mm256_min_epu8(cg, _mm256_srli_si256(cg, 8));
    coMax = _mm256_max_epu8(coMax, _mm256_srli_si256(coMax, 4)),
    coMin = _mm256_min_epu8(coMin, _mm256_srli_si256(coMin, 4));
    cgMax = _mm256_max_epu8(cgMax, _mm256_srli_si256(cgMax, 4)),
    cgMin = _mm256_min_epu8(cgMin, _mm256_srli_si256(cgMin, 4));
    coMax = _mm256_max_epu8(coMax, _mm256_srli_si256(coMax, 2)),
    coMin = _mm256_min_epu8(coMin, _mm256_srli_si256(coMin, 2));
    cgMax = _mm256_max_epu8(cgMax, _mm256_srli_si256(cgMax, 2)),
    cgMin = _mm256_min_epu8(cgMin, _mm256_srli_si256(cgMin, 2));
    coMax = _mm256_max_epu8(coMax, _mm256_srli_si256(coMax, 1)),
    coMin = _mm256_min_epu8(coMin, _mm256_srli_si256(coMin, 1));
    cgMax = _mm256_max_epu8(cgMax, _mm256_srli_si256(cgMax, 1)),
    cgMin = _mm256_min_epu8(cgMin, _mm256_srli_si256(cgMin, 1));
    // Bytes 0 of each half: B, G and R of the maximum equal to the minimum's (blue always is): one colour.
    const int flat =
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(coMax, coMin), _mm256_cmpeq_epi8(cgMax, cgMin)));
    if ((flat & 0x10001) != 0) [[unlikely]] {
        ycocgColorBlockAVX2(channels0, out0);
        ycocgColorBlockAVX2(channels1, out1);
        return;
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256i blue = _mm256_set_m128i(_mm_set1_epi8(static_cast<char>(scaleBlue(channels1.scale))),
                                          _mm_set1_epi8(static_cast<char>(scaleBlue(channels0.scale))));
    const __m256i hi = _mm256_unpacklo_epi16(_mm256_unpacklo_epi8(blue, cgMax), _mm256_unpacklo_epi8(coMax, zero));
    const __m256i lo = _mm256_unpacklo_epi16(_mm256_unpacklo_epi8(blue, cgMin), _mm256_unpacklo_epi8(coMin, zero));
    const auto [ends, endpointWord] = endpointPairAVX2(hi, lo);
    // The palette's red | green << 16, per half: dwords 0 and 1 the ends, then their thirds.
    const __m256i sums =
        _mm256_add_epi16(_mm256_add_epi16(ends, ends), _mm256_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m256i toRedGreen = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(4, 5, 2, 3, 12, 13, 10, 11, -128, -128, -128, -128, -128, -128, -128, -128));
    const __m256i endPairs = _mm256_shuffle_epi8(ends, toRedGreen);
    const __m256i thirdPairs = _mm256_shuffle_epi8(_mm256_mulhi_epu16(sums, _mm256_set1_epi16(21846)), toRedGreen);
    const __m256i palette[4] = {_mm256_shuffle_epi32(endPairs, 0x00), _mm256_shuffle_epi32(endPairs, 0x55),
                                _mm256_shuffle_epi32(thirdPairs, 0x00), _mm256_shuffle_epi32(thirdPairs, 0x55)};
    const __m256i pairs[2] = {_mm256_unpacklo_epi8(co, cg), _mm256_unpackhi_epi8(co, cg)};
    __m256i word = zero;
    for (int quarter = 0; quarter < 4; ++quarter) {
        // Pixels 4 quarter ... 4 quarter + 3 of each block: red (Co) in the low 16 bits, green (Cg) in the high.
        const __m256i pixels = quarter % 2 == 0 ? _mm256_unpacklo_epi8(pairs[quarter / 2], zero)
                                                : _mm256_unpackhi_epi8(pairs[quarter / 2], zero);
        __m256i best = redGreenDistances(pixels, palette[0]);
        __m256i index = zero;
        for (int k = 1; k < 4; ++k) {
            const __m256i d = redGreenDistances(pixels, palette[k]);
            index = _mm256_blendv_epi8(index, _mm256_set1_epi32(k), _mm256_cmpgt_epi32(best, d));
            best = _mm256_min_epi32(best, d);
        }
        const __m256i shifts =
            _mm256_add_epi32(_mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6), _mm256_set1_epi32(8 * quarter));
        word = _mm256_or_si256(word, _mm256_sllv_epi32(index, shifts));
    }
    word = _mm256_or_si256(word, _mm256_shuffle_epi32(word, _MM_SHUFFLE(1, 0, 3, 2)));
    word = _mm256_or_si256(word, _mm256_shuffle_epi32(word, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m256i blocks = _mm256_unpacklo_epi32(endpointWord, word);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out0), _mm256_castsi256_si128(blocks));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out1), _mm256_extracti128_si256(blocks, 1));
}

#endif  // FW_DXT_AVX2

// The block functions of a vector unit.
template <VectorUnit unit>
constexpr ColorBlockFunction colorBlockOf() {
#if FW_DXT_AVX2
    if constexpr (unit == VectorUnit::avx2) return colorBlockAVX2;
#endif
    return colorBlockSSE2;
}
template <VectorUnit unit>
constexpr AlphaBlockFunction alphaBlockOf() {
#if FW_DXT_AVX2
    if constexpr (unit == VectorUnit::avx2) return alphaBlockAVX2;
#endif
    return alphaBlockSSE2;
}

template <VectorUnit unit>
inline YCoCgBytes ycocgBytesOf(const __m128i rows[4]) {
#if FW_DXT_AVX2
    if constexpr (unit == VectorUnit::avx2) return ycocgBytesAVX2(rows);
#endif
    return ycocgBytesSSE2(rows);
}

template <VectorUnit unit>
inline void encodeRows(const __m128i rows[4], Kind kind, std::uint8_t* destination) {
    constexpr ColorBlockFunction colorBlock = colorBlockOf<unit>();
    constexpr AlphaBlockFunction alphaBlock = alphaBlockOf<unit>();
    switch (kind) {
    case Kind::dxt1: colorBlock(rows, destination); break;
    case Kind::dxt5:
        alphaBlock(alphaBytes(rows), destination);
        colorBlock(rows, destination + 8);
        break;
    case Kind::ycocg:
#if FW_DXT_AVX2
        if constexpr (unit == VectorUnit::avx2) {
            const YCoCgBytes channels = ycocgBytesAVX2(rows);
            alphaBlockAVX2(channels.y, destination);
            ycocgColorBlockAVX2(channels, destination + 8);
            break;
        }
#endif
        ycocgBlock<colorBlock, alphaBlock>(ycocgBytesOf<unit>(rows), destination);
        break;
    }
}

// Two neighbouring blocks: the bytes encodeRows gives each. With AVX2 their alpha or luma blocks are found together.
template <VectorUnit unit>
inline void encodeRowPair(const __m128i rows0[4], const __m128i rows1[4], Kind kind, std::uint8_t* destination0,
                          std::uint8_t* destination1) {
#if FW_DXT_AVX2
    if constexpr (unit == VectorUnit::avx2) {
        switch (kind) {
        case Kind::dxt1: colorBlockPairAVX2(rows0, rows1, destination0, destination1); return;
        case Kind::dxt5:
            alphaBlockPairAVX2(alphaBytes(rows0), alphaBytes(rows1), destination0, destination1);
            colorBlockPairAVX2(rows0, rows1, destination0 + 8, destination1 + 8);
            return;
        case Kind::ycocg: {
            const YCoCgBytes channels0 = ycocgBytesAVX2(rows0), channels1 = ycocgBytesAVX2(rows1);
            alphaBlockPairAVX2(channels0.y, channels1.y, destination0, destination1);
            ycocgColorBlockPairAVX2(channels0, channels1, destination0 + 8, destination1 + 8);
            return;
        }
        }
    }
#endif
    encodeRows<unit>(rows0, kind, destination0);
    encodeRows<unit>(rows1, kind, destination1);
}

#endif  // FW_DXT_SSE2

// Gathers block (bx, by) with the last column and row repeated past the edge.
void gatherClamped(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, std::int64_t bx,
                   std::int64_t by, std::size_t pixelBytes, std::uint8_t* out) {
    for (int j = 0; j < 4; ++j) {
        const std::int64_t y = std::min<std::int64_t>(height - 1, 4 * by + j);
        const std::uint8_t* row = source + static_cast<std::size_t>(y) * bytesPerRow;
        for (int i = 0; i < 4; ++i) {
            const std::int64_t x = std::min<std::int64_t>(width - 1, 4 * bx + i);
            std::memcpy(out + (4 * j + i) * pixelBytes, row + static_cast<std::size_t>(x) * pixelBytes, pixelBytes);
        }
    }
}

// The kind is a template argument so that the block function is picked once
// per image, not per block.
template <Kind kind, VectorUnit unit>
void encodeBlockRow(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, const BlockGrid& grid,
                    std::int64_t by, std::uint8_t* destination, Scratch& scratch) {
    constexpr std::size_t size = blockBytes(kind);
    const bool rowInside = 4 * by + 4 <= height;
    const std::int64_t insideColumns = rowInside ? width / 4 : 0;
#if FW_DXT_SSE2
    auto load = [&](std::int64_t bx, __m128i rows[4]) {
        if (bx < insideColumns) {
            const std::uint8_t* p =
                source + static_cast<std::size_t>(4 * by) * bytesPerRow + static_cast<std::size_t>(bx) * 16;
            for (int j = 0; j < 4; ++j)
                rows[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j * bytesPerRow));
        } else {
            gatherClamped(source, bytesPerRow, width, height, bx, by, 4, scratch.pixels);
            for (int j = 0; j < 4; ++j)
                rows[j] = _mm_load_si128(reinterpret_cast<const __m128i*>(scratch.pixels + 16 * j));
        }
    };
    std::int64_t bx = 0;
    for (; bx + 2 <= grid.columns; bx += 2) {
        __m128i rows0[4], rows1[4];
        load(bx, rows0);
        load(bx + 1, rows1);
        std::uint8_t* out = destination + static_cast<std::size_t>(bx) * size;
        encodeRowPair<unit>(rows0, rows1, kind, out, out + size);
    }
    if (bx < grid.columns) {
        __m128i rows[4];
        load(bx, rows);
        encodeRows<unit>(rows, kind, destination + static_cast<std::size_t>(bx) * size);
    }
#else
    for (std::int64_t bx = 0; bx < grid.columns; ++bx) {
        std::uint8_t* out = destination + static_cast<std::size_t>(bx) * size;
        if (bx < insideColumns) {
            const std::uint8_t* p =
                source + static_cast<std::size_t>(4 * by) * bytesPerRow + static_cast<std::size_t>(bx) * 16;
            for (int j = 0; j < 4; ++j) std::memcpy(scratch.pixels + 16 * j, p + j * bytesPerRow, 16);
        } else {
            gatherClamped(source, bytesPerRow, width, height, bx, by, 4, scratch.pixels);
        }
        detail::encodeBlockPortable(scratch.pixels, kind, out);
    }
#endif
}

template <Kind kind, VectorUnit unit>
void encodeImage(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, const BlockGrid& grid,
                 std::uint8_t* texture) {
    const std::size_t rowBytes = static_cast<std::size_t>(grid.columns) * blockBytes(kind);
    tbb::parallel_for(tbb::blocked_range<std::int64_t>(0, grid.rows),
                      [&](const tbb::blocked_range<std::int64_t>& range) {
                          Scratch scratch;
                          for (std::int64_t by = range.begin(); by != range.end(); ++by)
                              encodeBlockRow<kind, unit>(source, bytesPerRow, width, height, grid, by,
                                                         texture + static_cast<std::size_t>(by) * rowBytes, scratch);
                      });
}

// The block functions picked once per image, for the widest unit at hand.
template <Kind kind>
void encodeImageWith(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, const BlockGrid& grid,
                     std::uint8_t* texture) {
    if (widestVectorUnit() == VectorUnit::avx2)
        encodeImage<kind, VectorUnit::avx2>(source, bytesPerRow, width, height, grid, texture);
    else
        encodeImage<kind, VectorUnit::sse2>(source, bytesPerRow, width, height, grid, texture);
}

void requireAlignment(int alignment) {
    if (alignment <= 0 || alignment % 4 != 0)
        throw std::invalid_argument("DXT block alignment must be a positive multiple of 4");
}

}  // namespace

namespace detail {

void encodeBlockPortable(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination) {
    int r[16], g[16], b[16], a[16];
    for (int i = 0; i < 16; ++i) {
        b[i] = pixels[4 * i], g[i] = pixels[4 * i + 1], r[i] = pixels[4 * i + 2], a[i] = pixels[4 * i + 3];
    }
    switch (kind) {
    case Kind::dxt1: colorBlockPortable(r, g, b, destination); break;
    case Kind::dxt5:
        alphaBlockPortable(a, destination);
        colorBlockPortable(r, g, b, destination + 8);
        break;
    case Kind::ycocg: {
        int y[16], co2[16], cg4[16], spread = 0;
        for (int i = 0; i < 16; ++i) {
            y[i] = (r[i] + 2 * g[i] + b[i] + 2) >> 2;
            co2[i] = r[i] - b[i];
            cg4[i] = 2 * g[i] - r[i] - b[i];
            spread = std::max({spread, 2 * std::abs(co2[i]), std::abs(cg4[i])});
        }
        const int scale = kScaleTable.scale[spread];
        for (int i = 0; i < 16; ++i) {
            r[i] = clampByte(roundHalf(scale * co2[i]) + 128);
            g[i] = clampByte(roundQuarter(scale * cg4[i]) + 128);
            b[i] = scaleBlue(scale);
        }
        alphaBlockPortable(y, destination);
        colorBlockPortable(r, g, b, destination + 8);
        break;
    }
    }
}

void encodeBC4BlockPortable(const std::uint8_t* values, std::uint8_t* destination) {
    int v[16];
    for (int i = 0; i < 16; ++i) v[i] = values[i];
    alphaBlockPortable(v, destination);
}

void encodeBlock(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination, VectorUnit unit) {
#if FW_DXT_SSE2
    if (unit != VectorUnit::portable) {
        __m128i rows[4];
        for (int j = 0; j < 4; ++j) rows[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * j));
        if (unit == VectorUnit::avx2)
            encodeRows<VectorUnit::avx2>(rows, kind, destination);
        else
            encodeRows<VectorUnit::sse2>(rows, kind, destination);
        return;
    }
#endif
    encodeBlockPortable(pixels, kind, destination);
}

void encodeBlock(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination) {
    encodeBlock(pixels, kind, destination, widestVectorUnit());
}

void encodeBlockPair(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination, VectorUnit unit) {
    const std::size_t size = blockBytes(kind);
#if FW_DXT_SSE2
    if (unit != VectorUnit::portable) {
        __m128i rows0[4], rows1[4];
        for (int j = 0; j < 4; ++j) {
            rows0[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * j));
            rows1[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 64 + 16 * j));
        }
        if (unit == VectorUnit::avx2)
            encodeRowPair<VectorUnit::avx2>(rows0, rows1, kind, destination, destination + size);
        else
            encodeRowPair<VectorUnit::sse2>(rows0, rows1, kind, destination, destination + size);
        return;
    }
#endif
    encodeBlockPortable(pixels, kind, destination);
    encodeBlockPortable(pixels + 64, kind, destination + size);
}

void encodeBC4Block(const std::uint8_t* values, std::uint8_t* destination, VectorUnit unit) {
#if FW_DXT_SSE2
    if (unit != VectorUnit::portable) {
        const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values));
        if (unit == VectorUnit::avx2)
            alphaBlockOf<VectorUnit::avx2>()(loaded, destination);
        else
            alphaBlockSSE2(loaded, destination);
        return;
    }
#endif
    encodeBC4BlockPortable(values, destination);
}

}  // namespace detail

std::size_t textureBytes(int width, int height, Kind kind, int alignment) {
    requireAlignment(alignment);
    const BlockGrid grid = BlockGrid::covering(width, height, alignment);
    return static_cast<std::size_t>(grid.blockCount()) * blockBytes(kind);
}

std::vector<std::uint8_t> encode(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, Kind kind,
                                 int alignment) {
    std::vector<std::uint8_t> texture(textureBytes(width, height, kind, alignment));
    encodeInto(source, bytesPerRow, width, height, kind, alignment, texture);
    return texture;
}

void encodeInto(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, Kind kind, int alignment,
                std::span<std::uint8_t> texture) {
    if (texture.size() != textureBytes(width, height, kind, alignment))
        throw std::invalid_argument("DXT texture of the wrong size for its picture");
    if (texture.empty()) return;
    const BlockGrid grid = BlockGrid::covering(width, height, alignment);
    switch (kind) {
    case Kind::dxt1: encodeImageWith<Kind::dxt1>(source, bytesPerRow, width, height, grid, texture.data()); break;
    case Kind::dxt5: encodeImageWith<Kind::dxt5>(source, bytesPerRow, width, height, grid, texture.data()); break;
    case Kind::ycocg: encodeImageWith<Kind::ycocg>(source, bytesPerRow, width, height, grid, texture.data()); break;
    }
}

std::vector<BC4Block> encodeBC4PlaneBlocks(const std::uint8_t* plane, std::size_t stride, int width, int height,
                                           int alignment) {
    requireAlignment(alignment);
    const BlockGrid grid = BlockGrid::covering(width, height, alignment);
    std::vector<BC4Block> blocks(static_cast<std::size_t>(grid.blockCount()));
    if (blocks.empty()) return blocks;
    const VectorUnit unit = widestVectorUnit();
    tbb::parallel_for(
        tbb::blocked_range<std::int64_t>(0, grid.rows), [&](const tbb::blocked_range<std::int64_t>& range) {
            Scratch scratch;
            for (std::int64_t by = range.begin(); by != range.end(); ++by) {
                const std::int64_t insideColumns = 4 * by + 4 <= height ? width / 4 : 0;
                for (std::int64_t bx = 0; bx < grid.columns; ++bx) {
                    if (bx < insideColumns) {
                        const std::uint8_t* p =
                            plane + static_cast<std::size_t>(4 * by) * stride + static_cast<std::size_t>(bx) * 4;
                        for (int j = 0; j < 4; ++j) std::memcpy(scratch.values + 4 * j, p + j * stride, 4);
                    } else {
                        gatherClamped(plane, stride, width, height, bx, by, 1, scratch.values);
                    }
                    detail::encodeBC4Block(scratch.values,
                                           blocks[static_cast<std::size_t>(by * grid.columns + bx)].data(), unit);
                }
            }
        });
    return blocks;
}

}  // namespace fw::DXTEncoder

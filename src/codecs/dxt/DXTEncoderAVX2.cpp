// The DXT encoder's AVX2 block functions (DXTBlocks_internal.h), compiled
// for processors that have AVX2 and FMA and chosen once per image.

#include "codecs/dxt/DXTBlocks_internal.h"

#if FW_DXT_AVX2

// The pair functions below inline their parts, so that two blocks' work interleaves without calls or reloaded
// constants; the parts stay callable on their own too.
#define FW_DXT_INLINE __attribute__((always_inline)) inline

namespace fw::DXTEncoder::blocks {

// ---- AVX2 blocks: the same results, colour 8 pixels a step. ----

// Squared distances of 8 pixels, laid out as colorBlockAVX2 lays them, to one palette entry.
FW_TARGET_AVX2 inline __m256i squaredDistances(__m256i blueGreen, __m256i red, __m256i entryBG, __m256i entryR) {
    const __m256i dbg = _mm256_sub_epi16(blueGreen, entryBG), dr = _mm256_sub_epi16(red, entryR);
    return _mm256_add_epi32(_mm256_madd_epi16(dbg, dbg), _mm256_madd_epi16(dr, dr));
}

// A block's 2-bit indices, spread over the lanes of `word`, ORed into the one
// 32-bit word that follows its endpoints.
FW_TARGET_AVX2 inline void storeIndexWord(__m256i word, std::uint8_t* out) {
    __m128i folded = _mm_or_si128(_mm256_castsi256_si128(word), _mm256_extracti128_si256(word, 1));
    folded = _mm_or_si128(folded, _mm_shuffle_epi32(folded, _MM_SHUFFLE(1, 0, 3, 2)));
    folded = _mm_or_si128(folded, _mm_shuffle_epi32(folded, _MM_SHUFFLE(2, 3, 0, 1)));
    _mm_storeu_si32(out + 4, folded);
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
    storeIndexWord(word, out);
}

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
FW_TARGET_AVX2 FW_DXT_INLINE YCoCgBytes ycocgBytesInline(const __m128i rows[4]) {
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
FW_TARGET_AVX2 FW_DXT_INLINE void alphaBlockPairInline(__m128i values0, __m128i values1, std::uint8_t* out0,
                                                       std::uint8_t* out1) {
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
    storeIndexWord(word, out);
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

FW_TARGET_AVX2 inline EndpointPair endpointPairAVX2(__m256i hi, __m256i lo) {
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
FW_TARGET_AVX2 FW_DXT_INLINE void ycocgColorBlockPairInline(const YCoCgBytes& channels0, const YCoCgBytes& channels1,
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

FW_TARGET_AVX2 void ycocgBlockPairAVX2(const __m128i rows0[4], const __m128i rows1[4], std::uint8_t* out0,
                                       std::uint8_t* out1) {
    const YCoCgBytes channels0 = ycocgBytesInline(rows0), channels1 = ycocgBytesInline(rows1);
    alphaBlockPairInline(channels0.y, channels1.y, out0, out1);
    ycocgColorBlockPairInline(channels0, channels1, out0 + 8, out1 + 8);
}

FW_TARGET_AVX2 YCoCgBytes ycocgBytesAVX2(const __m128i rows[4]) { return ycocgBytesInline(rows); }

FW_TARGET_AVX2 void alphaBlockPairAVX2(__m128i values0, __m128i values1, std::uint8_t* out0, std::uint8_t* out1) {
    alphaBlockPairInline(values0, values1, out0, out1);
}

FW_TARGET_AVX2 void ycocgColorBlockPairAVX2(const YCoCgBytes& channels0, const YCoCgBytes& channels1,
                                            std::uint8_t* out0, std::uint8_t* out1) {
    ycocgColorBlockPairInline(channels0, channels1, out0, out1);
}

}  // namespace fw::DXTEncoder::blocks

#endif  // FW_DXT_AVX2

#include "codecs/dxt/DXTEncoder.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "codecs/ByteBuffer.h"
#include "codecs/dxt/DXTBlocks_internal.h"
#include "codecs/dxt/DXTEncoder_internal.h"

#include "codecs/VectorUnit.h"

namespace fw::DXTEncoder {
namespace {

using namespace blocks;

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
        case Kind::ycocg: ycocgBlockPairAVX2(rows0, rows1, destination0, destination1); return;
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

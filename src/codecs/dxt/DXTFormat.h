#pragma once
// DXT-family (S3TC/BC) block layouts shared by the block encoder and decoder.
//
// Byte layout (all integers little-endian):
//   Texture      blocks in row-major order, no header, no row padding; block
//                (bx, by) starts at (by * columns + bx) * blockBytes and covers
//                pixels 4bx..4bx+3, 4by..4by+3; pixel i of a block is row i / 4,
//                column i % 4.
//   Colour block 8 bytes: c0 (RGB565, u16), c1 (RGB565, u16), u32 index word,
//                pixel i in bits 2i..2i+1. RGB565 keeps red in bits 11-15,
//                green in 5-10, blue in 0-4.
//   BC4 block    8 bytes: a0, a1, then a 48-bit index field, pixel i in bits
//                3i..3i+2.
//   dxt1         colour block of (R, G, B)                        8 bytes
//   dxt5         BC4 block of A, then colour block of (R, G, B)   16 bytes
//   ycocg        BC4 block of Y, then colour block whose red carries scaled
//                Co + 128, green scaled Cg + 128 and blue (scale - 1) * 8   16 bytes
//
// Everything here is constexpr and thread-safe.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace fw::DXTEncoder {

enum class Kind : std::uint8_t { dxt1 = 0, ycocg = 1, dxt5 = 2 };

constexpr std::size_t blockBytes(Kind kind) { return kind == Kind::dxt1 ? 8 : 16; }

// Rounds n up to a multiple of alignment. REQUIRES: alignment > 0, n >= 0.
constexpr std::int64_t roundUp(std::int64_t n, std::int64_t alignment) {
    return (n + alignment - 1) / alignment * alignment;
}

// The block grid that covers a width x height image at an alignment (4 or 16).
struct BlockGrid {
    std::int64_t columns = 0;
    std::int64_t rows = 0;

    static constexpr BlockGrid covering(std::int64_t width, std::int64_t height, std::int64_t alignment) {
        if (width <= 0 || height <= 0) return {};
        return {roundUp(width, alignment) / 4, roundUp(height, alignment) / 4};
    }
    constexpr std::int64_t blockCount() const { return columns * rows; }
};

constexpr std::uint16_t pack565(int r, int g, int b) {
    return static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

struct Rgb8 {
    int r = 0;
    int g = 0;
    int b = 0;
};

// Bit replication, so 0 and 31/63 map to 0 and 255.
constexpr Rgb8 unpack565(std::uint16_t c) {
    const int r5 = (c >> 11) & 31;
    const int g6 = (c >> 5) & 63;
    const int b5 = c & 31;
    return {(r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2)};
}

constexpr int clampByte(std::int32_t v) { return std::clamp<std::int32_t>(v, 0, 255); }

// floor(sum / 3) for 0 <= sum <= 3 * 255, as the format's palettes compute it.
constexpr int divideBy3(int sum) { return (sum * 21846) >> 16; }

}  // namespace fw::DXTEncoder

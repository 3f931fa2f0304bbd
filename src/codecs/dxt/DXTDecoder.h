#pragma once
// DXT-family textures back to pixels: DXT1, DXT5 and scaled-YCoCg DXT5 into
// 8-bit BGRA rows, BC4 textures into single-channel planes, and 4:2:0 YCoCg
// planes into BGRA rows. Accepts every block a conforming encoder may write,
// including the DXT1 three-colour mode and the BC4 six-value mode. Block
// layouts: DXTFormat.h.
//
// Textures are hostile input: a texture too short for the area asked for is
// refused before anything is written, so a destination never mixes decoded and
// stale pixels. A texture longer than needed is fine.
//
// Thread-safety: pure functions; may run concurrently on distinct
// destinations. Texture walks split block rows over oneTBB workers.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codecs/MalformedInput.h"
#include "codecs/dxt/DXTFormat.h"

namespace fw::DXTDecoder {

struct Bgra {
    std::uint8_t b = 0, g = 0, r = 0, a = 255;
};

// RGB565 to (r, g, b, 255) by bit replication.
constexpr Bgra expand565(std::uint16_t c) {
    const DXTEncoder::Rgb8 rgb = DXTEncoder::unpack565(c);
    return {static_cast<std::uint8_t>(rgb.b), static_cast<std::uint8_t>(rgb.g), static_cast<std::uint8_t>(rgb.r), 255};
}

enum class ColorMode {
    dxt1,        // c0 <= c1 selects the three-colour mode (entry 3 transparent black)
    alwaysFour,  // the colour half of DXT5 and scaled-YCoCg blocks
};

// One 8-byte colour block into 16 BGRA pixels (64 bytes, block order).
void decodeColorBlock(const std::uint8_t* block, std::uint8_t* pixels, ColorMode mode);
// One 8-byte BC4 block into 16 values.
void decodeBC4Block(const std::uint8_t* block, std::uint8_t* values);
// One 16-byte DXT5 block into 16 BGRA pixels.
void decodeDXT5Block(const std::uint8_t* block, std::uint8_t* pixels);
// One 16-byte scaled-YCoCg block into 16 BGRA pixels (alpha 255).
void decodeScaledYCoCgBlock(const std::uint8_t* block, std::uint8_t* pixels);

// Texture walkers. textureWidth and textureHeight are the padded dimensions of
// the block grid; only pixels with x < width and y < height are written, at
// destination + y * bytesPerRow + 4x.
// Throws, writing nothing: std::invalid_argument unless both texture
// dimensions are multiples of 4 no smaller than width and height;
// MalformedInput unless the texture holds every block row that the visible
// area touches.
// REQUIRES: destination holds height rows of bytesPerRow >= 4 * width bytes.
void decodeDXT1(std::span<const std::uint8_t> texture, int textureWidth, int textureHeight, int width, int height,
                std::uint8_t* destination, std::size_t bytesPerRow);
void decodeDXT5(std::span<const std::uint8_t> texture, int textureWidth, int textureHeight, int width, int height,
                std::uint8_t* destination, std::size_t bytesPerRow);
void decodeScaledYCoCgDXT5(std::span<const std::uint8_t> texture, int textureWidth, int textureHeight, int width,
                           int height, std::uint8_t* destination, std::size_t bytesPerRow);

// A BC4 texture of ceil(width / 4) x ceil(height / 4) blocks into a width x
// height plane (row-major, stride width). Throws MalformedInput when the
// texture is shorter than the grid; an empty plane when a side is 0.
std::vector<std::uint8_t> decodeBC4Plane(std::span<const std::uint8_t> texture, int width, int height);

// Full-resolution luma (and optional alpha: pass an empty span for none) with
// halfWidth x halfHeight Co and Cg planes (stored + 128) into width x height
// BGRA pixels; chroma sample (min(x / 2, halfWidth - 1), min(y / 2,
// halfHeight - 1)). With an empty chroma plane the chroma is neutral.
// Throws std::invalid_argument, writing nothing, when a plane is smaller than
// its size.
void composeYCoCg420(std::span<const std::uint8_t> y, std::span<const std::uint8_t> alpha,
                     std::span<const std::uint8_t> co, std::span<const std::uint8_t> cg, int width, int height,
                     int halfWidth, int halfHeight, std::uint8_t* destination, std::size_t bytesPerRow);

}  // namespace fw::DXTDecoder

#include "codecs/dxt/DXTDecoder.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "codecs/ByteBuffer.h"

namespace fw::DXTDecoder {
namespace {

// The palettes' divisions by 3, 7 and 5 in the multiply-add-shift forms whose
// results belong to the format.
constexpr int interpolateThird(int twice, int once) { return DXTEncoder::divideBy3(2 * twice + once); }
constexpr int interpolateSeventh(int a0, int a1, int k) { return (((8 - k) * a0 + (k - 1) * a1) * 9363 + 28089) >> 16; }
constexpr int interpolateFifth(int a0, int a1, int k) { return (((6 - k) * a0 + (k - 1) * a1) * 13108 + 26216) >> 16; }

// round() halves away from zero, then 0 ... 255.
inline std::uint8_t clamp(double v) { return static_cast<std::uint8_t>(std::clamp(std::round(v), 0.0, 255.0)); }

using BlockDecoder = void (*)(const std::uint8_t* block, std::uint8_t* pixels);

void decodeDXT1Block(const std::uint8_t* block, std::uint8_t* pixels) {
    decodeColorBlock(block, pixels, ColorMode::dxt1);
}

void decodeBlocks(std::span<const std::uint8_t> texture, int textureWidth, int textureHeight, int width, int height,
                  std::uint8_t* destination, std::size_t bytesPerRow, std::size_t blockBytes, BlockDecoder decode) {
    if (width < 0 || height < 0 || textureWidth < width || textureHeight < height || textureWidth % 4 != 0 ||
        textureHeight % 4 != 0)
        throw std::invalid_argument("DXT texture grid does not cover the picture in whole blocks");
    if (width == 0 || height == 0) return;
    const std::size_t columns = static_cast<std::size_t>(textureWidth) / 4;
    const std::size_t rowsNeeded = (static_cast<std::size_t>(height) + 3) / 4;
    if (texture.size() / blockBytes / columns < rowsNeeded)
        throw MalformedInput("DXT texture shorter than the picture");
    const std::size_t visibleColumns = (static_cast<std::size_t>(width) + 3) / 4;
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, rowsNeeded, 16), [&](const tbb::blocked_range<std::size_t>& range) {
            alignas(16) std::uint8_t pixels[64];
            for (std::size_t by = range.begin(); by != range.end(); ++by) {
                const std::size_t rowsHere = std::min<std::size_t>(4, static_cast<std::size_t>(height) - 4 * by);
                const std::uint8_t* block = texture.data() + by * columns * blockBytes;
                for (std::size_t bx = 0; bx < visibleColumns; ++bx, block += blockBytes) {
                    decode(block, pixels);
                    const std::size_t columnsHere = std::min<std::size_t>(4, static_cast<std::size_t>(width) - 4 * bx);
                    for (std::size_t j = 0; j < rowsHere; ++j)
                        std::memcpy(destination + (4 * by + j) * bytesPerRow + 16 * bx, pixels + 16 * j,
                                    4 * columnsHere);
                }
            }
        });
}

}  // namespace

void decodeColorBlock(const std::uint8_t* block, std::uint8_t* pixels, ColorMode mode) {
    const std::uint16_t c0 = loadLE16(block), c1 = loadLE16(block + 2);
    Bgra palette[4] = {expand565(c0), expand565(c1), {}, {}};
    const Bgra& p0 = palette[0];
    const Bgra& p1 = palette[1];
    if (c0 <= c1 && mode == ColorMode::dxt1) {
        palette[2] = {static_cast<std::uint8_t>((p0.b + p1.b) >> 1), static_cast<std::uint8_t>((p0.g + p1.g) >> 1),
                      static_cast<std::uint8_t>((p0.r + p1.r) >> 1), 255};
        palette[3] = {0, 0, 0, 0};
    } else {
        palette[2] = {static_cast<std::uint8_t>(interpolateThird(p0.b, p1.b)),
                      static_cast<std::uint8_t>(interpolateThird(p0.g, p1.g)),
                      static_cast<std::uint8_t>(interpolateThird(p0.r, p1.r)), 255};
        palette[3] = {static_cast<std::uint8_t>(interpolateThird(p1.b, p0.b)),
                      static_cast<std::uint8_t>(interpolateThird(p1.g, p0.g)),
                      static_cast<std::uint8_t>(interpolateThird(p1.r, p0.r)), 255};
    }
    const std::uint32_t word = loadLE32(block + 4);
    for (int i = 0; i < 16; ++i) {
        const Bgra& p = palette[(word >> (2 * i)) & 3];
        pixels[4 * i] = p.b, pixels[4 * i + 1] = p.g, pixels[4 * i + 2] = p.r, pixels[4 * i + 3] = p.a;
    }
}

void decodeBC4Block(const std::uint8_t* block, std::uint8_t* values) {
    const int a0 = block[0], a1 = block[1];
    std::uint8_t palette[8] = {block[0], block[1]};
    if (a0 > a1) {
        for (int k = 2; k < 8; ++k) palette[k] = static_cast<std::uint8_t>(interpolateSeventh(a0, a1, k));
    } else {
        for (int k = 2; k < 6; ++k) palette[k] = static_cast<std::uint8_t>(interpolateFifth(a0, a1, k));
        palette[6] = 0;
        palette[7] = 255;
    }
    std::uint64_t field = 0;
    for (int i = 0; i < 6; ++i) field |= static_cast<std::uint64_t>(block[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i) values[i] = palette[(field >> (3 * i)) & 7];
}

void decodeDXT5Block(const std::uint8_t* block, std::uint8_t* pixels) {
    decodeColorBlock(block + 8, pixels, ColorMode::alwaysFour);
    std::uint8_t alpha[16];
    decodeBC4Block(block, alpha);
    for (int i = 0; i < 16; ++i) pixels[4 * i + 3] = alpha[i];
}

void decodeScaledYCoCgBlock(const std::uint8_t* block, std::uint8_t* pixels) {
    decodeColorBlock(block + 8, pixels, ColorMode::alwaysFour);
    std::uint8_t luma[16];
    decodeBC4Block(block, luma);
    for (int i = 0; i < 16; ++i) {
        std::uint8_t* p = pixels + 4 * i;
        const double s = (p[0] >> 3) + 1;
        const double co = (p[2] - 128) / s;
        const double cg = (p[1] - 128) / s;
        const double y = luma[i];
        p[2] = clamp(y + co - cg);
        p[1] = clamp(y + cg);
        p[0] = clamp(y - co - cg);
        p[3] = 255;
    }
}

void decodeDXT1(std::span<const std::uint8_t> texture, int textureWidth, int textureHeight, int width, int height,
                std::uint8_t* destination, std::size_t bytesPerRow) {
    decodeBlocks(texture, textureWidth, textureHeight, width, height, destination, bytesPerRow, 8, decodeDXT1Block);
}

void decodeDXT5(std::span<const std::uint8_t> texture, int textureWidth, int textureHeight, int width, int height,
                std::uint8_t* destination, std::size_t bytesPerRow) {
    decodeBlocks(texture, textureWidth, textureHeight, width, height, destination, bytesPerRow, 16, decodeDXT5Block);
}

void decodeScaledYCoCgDXT5(std::span<const std::uint8_t> texture, int textureWidth, int textureHeight, int width,
                           int height, std::uint8_t* destination, std::size_t bytesPerRow) {
    decodeBlocks(texture, textureWidth, textureHeight, width, height, destination, bytesPerRow, 16,
                 decodeScaledYCoCgBlock);
}

std::vector<std::uint8_t> decodeBC4Plane(std::span<const std::uint8_t> texture, int width, int height) {
    if (width <= 0 || height <= 0) return std::vector<std::uint8_t>{};
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t columns = (w + 3) / 4, rows = (h + 3) / 4;
    if (texture.size() / 8 / columns < rows) throw MalformedInput("BC4 texture shorter than its plane");
    std::vector<std::uint8_t> plane(w * h);
    std::uint8_t values[16];
    for (std::size_t by = 0; by < rows; ++by) {
        for (std::size_t bx = 0; bx < columns; ++bx) {
            decodeBC4Block(texture.data() + (by * columns + bx) * 8, values);
            for (std::size_t j = 0; j < 4 && 4 * by + j < h; ++j)
                for (std::size_t i = 0; i < 4 && 4 * bx + i < w; ++i)
                    plane[(4 * by + j) * w + 4 * bx + i] = values[4 * j + i];
        }
    }
    return plane;
}

void composeYCoCg420(std::span<const std::uint8_t> y, std::span<const std::uint8_t> alpha,
                     std::span<const std::uint8_t> co, std::span<const std::uint8_t> cg, int width, int height,
                     int halfWidth, int halfHeight, std::uint8_t* destination, std::size_t bytesPerRow) {
    if (width < 0 || height < 0 || halfWidth < 0 || halfHeight < 0)
        throw std::invalid_argument("negative YCoCg plane size");
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t hw = static_cast<std::size_t>(halfWidth), hh = static_cast<std::size_t>(halfHeight);
    if (y.size() < w * h || (!alpha.empty() && alpha.size() < w * h) || co.size() < hw * hh || cg.size() < hw * hh)
        throw std::invalid_argument("YCoCg plane smaller than its size");
    const bool chroma = hw > 0 && hh > 0;
    for (std::size_t row = 0; row < h; ++row) {
        std::uint8_t* out = destination + row * bytesPerRow;
        const std::size_t cy = chroma ? std::min(row / 2, hh - 1) : 0;
        for (std::size_t x = 0; x < w; ++x, out += 4) {
            const int luma = y[row * w + x];
            int chromaO = 0, chromaG = 0;
            if (chroma) {
                const std::size_t c = cy * hw + std::min(x / 2, hw - 1);
                chromaO = co[c] - 128;
                chromaG = cg[c] - 128;
            }
            out[0] = static_cast<std::uint8_t>(DXTEncoder::clampByte(luma - chromaO - chromaG));
            out[1] = static_cast<std::uint8_t>(DXTEncoder::clampByte(luma + chromaG));
            out[2] = static_cast<std::uint8_t>(DXTEncoder::clampByte(luma + chromaO - chromaG));
            out[3] = alpha.empty() ? 255 : alpha[row * w + x];
        }
    }
}

}  // namespace fw::DXTDecoder

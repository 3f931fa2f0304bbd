#pragma once
// Generated inputs for the codec tests: BGRA pictures, and DXV textures whose
// blocks, half blocks and words recur at every distance the coders can express.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "support/TestSupport.h"

namespace fw::test {

using ByteVector = std::vector<std::uint8_t>;

struct BgraImage {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;  // bytes per row, padded so stride != width * 4
    std::vector<std::uint8_t> pixels;

    BgraImage(int w, int h, std::uint8_t fill = 0) : width(w), height(h), stride(static_cast<std::size_t>(w) * 4 + 12) {
        pixels.assign(stride * static_cast<std::size_t>(h > 0 ? h : 0), fill);
    }
    std::uint8_t* at(int x, int y) { return pixels.data() + static_cast<std::size_t>(y) * stride + 4 * x; }
    const std::uint8_t* at(int x, int y) const { return pixels.data() + static_cast<std::size_t>(y) * stride + 4 * x; }
};

enum class Pattern {
    photoLike,    // smooth gradients, soft shapes, hard edges and mild noise
    noise,        // every byte random
    lowContrast,  // a base colour plus deltas of 0 or 1: many ties in the searches
};

inline BgraImage makeImage(int width, int height, Pattern pattern, unsigned seed) {
    BgraImage image(width, height);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255), bit(0, 1), small(-6, 6);
    const int base[4] = {byte(random), byte(random), byte(random), byte(random)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.at(x, y);
            switch (pattern) {
            case Pattern::noise:
                for (int c = 0; c < 4; ++c) p[c] = static_cast<std::uint8_t>(byte(random));
                break;
            case Pattern::lowContrast:
                for (int c = 0; c < 4; ++c) p[c] = static_cast<std::uint8_t>(std::min(255, base[c] + bit(random)));
                break;
            case Pattern::photoLike: {
                const double u = width > 1 ? double(x) / (width - 1) : 0.0;
                const double v = height > 1 ? double(y) / (height - 1) : 0.0;
                const double ring = std::sin(12.0 * std::hypot(u - 0.4, v - 0.55));
                const bool edge = (x / 9 + y / 13) % 5 == 0;
                const double channel[4] = {
                    40 + 150 * u + 40 * ring,
                    60 + 120 * v + 50 * ring * u,
                    200 - 140 * u * v + (edge ? 50 : 0),
                    255 * (0.5 + 0.5 * std::cos(6.0 * u + 3.0 * v)),
                };
                for (int c = 0; c < 4; ++c) {
                    const double value = channel[c] + small(random);
                    p[c] = static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, value))));
                }
                break;
            }
            }
        }
    }
    return image;
}

// PSNR over the colour (and optionally alpha) bytes.
inline double psnr(const BgraImage& a, const std::uint8_t* b, std::size_t bStride, bool withAlpha) {
    return psnr(a.pixels.data(), a.stride, b, bStride, a.width, a.height, withAlpha ? 4 : 3);
}

// A texture of blockCount blocks of blockBytes (8 or 16). Blocks are new, or repeat the previous block, or reuse a
// whole block, a half or a single word from a random earlier block (near or far), so every code path is exercised.
inline ByteVector reuseTexture(std::size_t blockCount, std::size_t blockBytes, std::uint32_t seed,
                               std::size_t farthestBlock = 70000) {
    std::mt19937 random(seed);
    ByteVector texture(blockCount * blockBytes);
    auto block = [&](std::size_t k) { return texture.data() + k * blockBytes; };
    for (std::size_t k = 0; k < blockCount; ++k) {
        std::uint8_t* out = block(k);
        for (std::size_t i = 0; i < blockBytes; ++i) out[i] = static_cast<std::uint8_t>(random());
        if (k == 0) continue;
        const unsigned kind = random() % 10;
        const std::size_t reach = std::min<std::size_t>(k, (random() % 4 == 0) ? farthestBlock : 300);
        const std::size_t source = k - 1 - random() % reach;
        const std::size_t half = blockBytes / 2;
        switch (kind) {
        case 0:
        case 1: std::memcpy(out, block(k - 1), blockBytes); break;                            // repeat
        case 2: std::memcpy(out, block(source), blockBytes); break;                           // whole block
        case 3: std::memcpy(out, block(source), half); break;                                 // first half
        case 4: std::memcpy(out + half, block(source) + half, half); break;                   // second half
        case 5: std::memcpy(out + blockBytes - 8, block(source) + blockBytes - 8, 4); break;  // a colour word
        case 6: std::memcpy(out + blockBytes - 4, block(source) + blockBytes - 4, 4); break;
        case 7: std::memcpy(out, block(k - 1), half); break;  // same first half as the previous
        default: break;                                       // new
        }
    }
    return texture;
}

// Data that LZF can shrink: words from a small vocabulary with occasional noise.
inline ByteVector compressibleBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    static const char* const words[] = {"block ", "texture ", "frame ",  "\x00\x00\x00\x00",
                                        "DXT1 ",  "alpha ",   "\xff\xfe"};
    ByteVector out;
    out.reserve(size + 16);
    while (out.size() < size) {
        if (random() % 8 == 0) {
            out.push_back(static_cast<std::uint8_t>(random()));
        } else {
            const char* word = words[random() % 7];
            const std::size_t length = word[0] == 0 ? 4 : std::strlen(word);
            out.insert(out.end(), word, word + length);
        }
    }
    out.resize(size);
    return out;
}

}  // namespace fw::test

#pragma once
// Generated BGRA test pictures for the texture codec tests.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "support/TestSupport.h"

namespace fw::test {

struct BgraImage {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;  // bytes per row, padded so stride != width * 4
    std::vector<std::uint8_t> pixels;

    BgraImage(int w, int h) : width(w), height(h), stride(static_cast<std::size_t>(w) * 4 + 12) {
        pixels.assign(stride * static_cast<std::size_t>(h > 0 ? h : 0), 0);
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

}  // namespace fw::test

// The block encoder against a literal model of its rules (doubles where the
// format computes in doubles), on pictures that stress ties, edges and scales.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "CodecTestData.h"
#include "codecs/ByteBuffer.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxt/DXTEncoder_internal.h"

namespace fw {
namespace {

using DXTEncoder::Kind;
using test::BgraImage;
using test::makeImage;
using test::Pattern;

void modelColorBlock(const int* r, const int* g, const int* b, std::uint8_t* out) {
    int maxR = 0, maxG = 0, maxB = 0, minR = 255, minG = 255, minB = 255;
    for (int i = 0; i < 16; ++i) {
        maxR = std::max(maxR, r[i]), maxG = std::max(maxG, g[i]), maxB = std::max(maxB, b[i]);
        minR = std::min(minR, r[i]), minG = std::min(minG, g[i]), minB = std::min(minB, b[i]);
    }
    auto pack = [](int rr, int gg, int bb) { return ((rr >> 3) << 11) | ((gg >> 2) << 5) | (bb >> 3); };
    const int c0 = pack(maxR, maxG, maxB), c1 = pack(minR, minG, minB);
    int pr[4], pg[4], pb[4];
    for (int k = 0; k < 2; ++k) {
        const int c = k == 0 ? c0 : c1, r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
        pr[k] = (r5 << 3) | (r5 >> 2), pg[k] = (g6 << 2) | (g6 >> 4), pb[k] = (b5 << 3) | (b5 >> 2);
    }
    for (int* p : {pr, pg, pb}) {
        p[2] = c1 < c0 ? (2 * p[0] + p[1]) / 3 : p[0];
        p[3] = c1 < c0 ? (p[0] + 2 * p[1]) / 3 : p[0];
    }
    std::uint32_t word = 0;
    for (int i = 0; i < 16; ++i) {
        int best = 0;
        auto distance = [&](int k) {
            return (r[i] - pr[k]) * (r[i] - pr[k]) + (g[i] - pg[k]) * (g[i] - pg[k]) + (b[i] - pb[k]) * (b[i] - pb[k]);
        };
        for (int k = 1; k < 4; ++k)
            if (distance(k) < distance(best)) best = k;
        word |= std::uint32_t(best) << (2 * i);
    }
    storeLE16(out, std::uint16_t(c0));
    storeLE16(out + 2, std::uint16_t(c1));
    storeLE32(out + 4, word);
}

void modelAlphaBlock(const int* v, std::uint8_t* out) {
    int a0 = 0, a1 = 255;
    for (int i = 0; i < 16; ++i) a0 = std::max(a0, v[i]), a1 = std::min(a1, v[i]);
    int pal[8] = {a0, a1, a0, a0, a0, a0, a0, a0};
    if (a1 < a0)
        for (int k = 2; k < 8; ++k) pal[k] = ((8 - k) * a0 + (k - 1) * a1 + 3) / 7;
    std::uint64_t field = 0;
    for (int i = 0; i < 16; ++i) {
        int best = 0;
        for (int k = 1; k < 8; ++k)
            if (std::abs(v[i] - pal[k]) < std::abs(v[i] - pal[best])) best = k;
        field |= std::uint64_t(best) << (3 * i);
    }
    out[0] = std::uint8_t(a0), out[1] = std::uint8_t(a1);
    for (int i = 0; i < 6; ++i) out[2 + i] = std::uint8_t(field >> (8 * i));
}

void modelBlock(const int* r, const int* g, const int* b, const int* a, Kind kind, std::uint8_t* out) {
    if (kind == Kind::dxt1) return modelColorBlock(r, g, b, out);
    if (kind == Kind::dxt5) return modelAlphaBlock(a, out), modelColorBlock(r, g, b, out + 8);
    int y[16], cr[16], cg[16], blue[16];
    double co[16], cgd[16], m = 0;
    for (int i = 0; i < 16; ++i) {
        const double R = r[i], G = g[i], B = b[i];
        y[i] = int(std::round((R + 2 * G + B) * 0.25));
        co[i] = (R - B) * 0.5;
        cgd[i] = (2 * G - R - B) * 0.25;
        m = std::max({m, std::fabs(co[i]), std::fabs(cgd[i])});
    }
    const int s = m > 0 ? std::clamp(int(127.0 / m), 1, 32) : 1;
    for (int i = 0; i < 16; ++i) {
        cr[i] = std::clamp(int(std::round(s * co[i])) + 128, 0, 255);
        cg[i] = std::clamp(int(std::round(s * cgd[i])) + 128, 0, 255);
        blue[i] = (s - 1) * 8;
    }
    modelAlphaBlock(y, out);
    modelColorBlock(cr, cg, blue, out + 8);
}

std::vector<std::uint8_t> modelEncode(const BgraImage& image, Kind kind, int alignment) {
    if (image.width == 0 || image.height == 0) return {};
    const int bw = (image.width + alignment - 1) / alignment * alignment / 4;
    const int bh = (image.height + alignment - 1) / alignment * alignment / 4;
    const std::size_t size = DXTEncoder::blockBytes(kind);
    std::vector<std::uint8_t> out(std::size_t(bw) * bh * size);
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            int r[16], g[16], b[16], a[16];
            for (int i = 0; i < 16; ++i) {
                const int x = std::min(image.width - 1, 4 * bx + i % 4), y = std::min(image.height - 1, 4 * by + i / 4);
                const std::uint8_t* p = image.at(x, y);
                b[i] = p[0], g[i] = p[1], r[i] = p[2], a[i] = p[3];
            }
            modelBlock(r, g, b, a, kind, out.data() + (std::size_t(by) * bw + bx) * size);
        }
    }
    return out;
}

std::vector<std::uint8_t> encode(const BgraImage& image, Kind kind, int alignment) {
    return DXTEncoder::encode(image.pixels.data(), image.stride, image.width, image.height, kind, alignment);
}

constexpr Kind kKinds[] = {Kind::dxt1, Kind::dxt5, Kind::ycocg};

TEST(DXTEncoder, MatchesTheRulesBitForBit) {
    const std::pair<int, int> sizes[] = {{1, 1}, {5, 4}, {4, 5}, {127, 71}, {64, 32}, {33, 17}, {3, 2}};
    unsigned seed = 1;
    for (Pattern pattern : {Pattern::photoLike, Pattern::noise, Pattern::lowContrast}) {
        for (const auto& [width, height] : sizes) {
            const BgraImage image = makeImage(width, height, pattern, seed++);
            for (Kind kind : kKinds) {
                for (int alignment : {4, 16}) {
                    SCOPED_TRACE(testing::Message() << "pattern " << int(pattern) << " size " << width << "x" << height
                                                    << " kind " << int(kind) << " alignment " << alignment);
                    ASSERT_EQ(encode(image, kind, alignment), modelEncode(image, kind, alignment));
                }
            }
        }
    }
}

TEST(DXTEncoder, VectorAndPortableBlocksAgree) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255), spread(0, 8);
    alignas(16) std::uint8_t pixels[64];
    for (int trial = 0; trial < 20000; ++trial) {
        // Narrow ranges around a random base give many ties and small scales.
        const int width = trial % 3 == 0 ? 256 : spread(random) + 1;
        const int base = byte(random);
        for (auto& p : pixels) p = std::uint8_t(std::min(255, base + byte(random) % width));
        for (Kind kind : kKinds) {
            std::uint8_t simd[16] = {}, portable[16] = {};
            DXTEncoder::detail::encodeBlock(pixels, kind, simd);
            DXTEncoder::detail::encodeBlockPortable(pixels, kind, portable);
            ASSERT_TRUE(std::equal(simd, simd + 16, portable)) << "trial " << trial << " kind " << int(kind);
        }
        std::uint8_t simd[8], portable[8];
        DXTEncoder::detail::encodeBC4Block(pixels, simd);
        DXTEncoder::detail::encodeBC4BlockPortable(pixels, portable);
        ASSERT_TRUE(std::equal(simd, simd + 8, portable)) << "trial " << trial;
    }
}

TEST(DXTEncoder, EmptyImagesGiveNoBlocks) {
    for (Kind kind : kKinds) EXPECT_TRUE(encode(BgraImage(0, 5), kind, 4).empty());
    EXPECT_TRUE(DXTEncoder::encode(nullptr, 0, 7, 0, Kind::dxt1, 4).empty());
}

// Near-grey blocks reach the scale cap, which busier test pictures never do.
TEST(DXTEncoder, ScaledYCoCgOfGreyBlocks) {
    BgraImage grey(4, 4);
    for (int i = 0; i < 16; ++i) std::fill_n(grey.at(i % 4, i / 4), 4, std::uint8_t(100 + i));
    auto block = encode(grey, Kind::ycocg, 4);
    // Scale 1: blue 0, red and green 128 in both endpoints.
    EXPECT_EQ(loadLE16(&block[8]), DXTEncoder::pack565(128, 128, 0));
    EXPECT_EQ(loadLE16(&block[10]), DXTEncoder::pack565(128, 128, 0));

    // One pixel a level greener: largest chroma 0.5, scale 32 (capped), blue
    // field 31, that pixel's green 128 + 16.
    std::fill(grey.pixels.begin(), grey.pixels.end(), 60);
    grey.at(2, 1)[1] = 61;
    block = encode(grey, Kind::ycocg, 4);
    EXPECT_EQ(loadLE16(&block[8]), DXTEncoder::pack565(128, 144, 248));
    EXPECT_EQ(loadLE16(&block[10]), DXTEncoder::pack565(128, 128, 248));
    EXPECT_EQ(loadLE16(&block[8]) & 31, 31);
}

TEST(DXTEncoder, BC4PlanesMatchTheRules) {
    for (auto [width, height] : {std::pair{13, 9}, std::pair{1, 1}, std::pair{16, 8}}) {
        const BgraImage image = makeImage(width, height, Pattern::photoLike, 11);
        // The green channel as a plane with padding.
        const std::size_t stride = std::size_t(width) + 5;
        std::vector<std::uint8_t> plane(stride * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) plane[y * stride + x] = image.at(x, y)[1];
        for (int alignment : {4, 16}) {
            const auto blocks = DXTEncoder::encodeBC4PlaneBlocks(plane.data(), stride, width, height, alignment);
            const int bw = (width + alignment - 1) / alignment * alignment / 4;
            const int bh = (height + alignment - 1) / alignment * alignment / 4;
            ASSERT_EQ(blocks.size(), std::size_t(bw * bh));
            for (int by = 0; by < bh; ++by) {
                for (int bx = 0; bx < bw; ++bx) {
                    int values[16];
                    for (int i = 0; i < 16; ++i)
                        values[i] = plane[std::min(height - 1, 4 * by + i / 4) * stride + std::min(width - 1, 4 * bx + i % 4)];
                    std::uint8_t expected[8];
                    modelAlphaBlock(values, expected);
                    ASSERT_TRUE(std::equal(expected, expected + 8, blocks[by * bw + bx].begin()));
                }
            }
        }
    }
}

}  // namespace
}  // namespace fw

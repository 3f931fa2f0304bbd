// The DXT block coders: the encoder against a literal model of its rules, the
// decoder's palettes by hand. FFmpeg's decoder reads them in HapTest and DXVTextureSourceTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "CodecTestData.h"
#include "codecs/ByteBuffer.h"
#include "codecs/dxt/DXTDecoder.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxt/DXTEncoder_internal.h"

namespace fw {
namespace {

using DXTDecoder::ColorMode;
using DXTEncoder::Kind;
using test::BgraImage;
using test::makeImage;
using test::Pattern;

int expandCode(int code, int bits) { return bits == 5 ? (code << 3) | (code >> 2) : (code << 2) | (code >> 4); }

// Codes (high, low) of one channel with extremes hi >= lo; flat when the whole block is one colour.
std::pair<int, int> modelChannelCodes(int hi, int lo, int bits, bool flat) {
    const int top = (1 << bits) - 1;
    if (flat) {
        // The narrowest pair, at most 8 codes apart, whose entry (2 high + low) / 3 comes nearest.
        std::pair<int, int> best{0, 0};
        int bestError = 256;
        for (int span = 0; span <= 8; ++span)
            for (int high = span; high <= top; ++high) {
                const int error = std::abs((2 * expandCode(high, bits) + expandCode(high - span, bits)) / 3 - hi);
                if (error < bestError) best = {high, high - span}, bestError = error;
            }
        return best;
    }
    // The codes enclosing the extremes.
    int high = 0, low = top;
    while (expandCode(high, bits) < hi) ++high;
    while (expandCode(low, bits) > lo) --low;
    return {high, low};
}

void modelColorBlock(const int* r, const int* g, const int* b, std::uint8_t* out) {
    int maxR = 0, maxG = 0, maxB = 0, minR = 255, minG = 255, minB = 255;
    for (int i = 0; i < 16; ++i) {
        maxR = std::max(maxR, r[i]), maxG = std::max(maxG, g[i]), maxB = std::max(maxB, b[i]);
        minR = std::min(minR, r[i]), minG = std::min(minG, g[i]), minB = std::min(minB, b[i]);
    }
    const bool flat = maxR == minR && maxG == minG && maxB == minB;
    const auto [r0, r1] = modelChannelCodes(maxR, minR, 5, flat);
    const auto [g0, g1] = modelChannelCodes(maxG, minG, 6, flat);
    const auto [b0, b1] = modelChannelCodes(maxB, minB, 5, flat);
    const int c0 = r0 << 11 | g0 << 5 | b0, c1 = r1 << 11 | g1 << 5 | b1;
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
        blue[i] = expandCode(s - 1, 5);
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
    // Empty pictures give no blocks.
    const std::pair<int, int> sizes[] = {{1, 1}, {5, 4}, {4, 5}, {127, 71}, {64, 32}, {33, 17}, {3, 2}, {0, 5}, {7, 0}};
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
    // This trial's block, then the last trial's: the two an image row encodes side by side.
    alignas(16) std::uint8_t pair[128] = {};
    std::uint8_t* const pixels = pair;
    const int sweep = 256 * 4;
    for (int trial = 0; trial < 20000 + sweep; ++trial) {
        if (trial < sweep) {
            // Every byte as the maximum and the minimum of every channel, and one-colour blocks.
            const int v = trial / 4, other = std::clamp(v + (trial % 4 - 1) * 5, 0, 255);
            for (int i = 0; i < 64; ++i) pixels[i] = std::uint8_t(i % 8 < 4 ? v : other);
        } else {
            // Narrow ranges around a random base give many ties and small scales.
            const int width = trial % 3 == 0 ? 256 : spread(random) + 1;
            const int base = byte(random);
            for (int i = 0; i < 64; ++i) pixels[i] = std::uint8_t(std::min(255, base + byte(random) % width));
        }
        for (Kind kind : kKinds) {
            std::uint8_t portable[16] = {};
            DXTEncoder::detail::encodeBlockPortable(pixels, kind, portable);
            // Every vector unit this processor has, the widest being the one encode uses.
            for (auto unit : {VectorUnit::sse2, VectorUnit::avx2}) {
                if (unit > widestVectorUnit()) continue;
                std::uint8_t simd[16] = {};
                DXTEncoder::detail::encodeBlock(pixels, kind, simd, unit);
                ASSERT_TRUE(std::equal(simd, simd + 16, portable))
                    << "trial " << trial << " kind " << int(kind) << " unit " << int(unit);
            }
            std::uint8_t portablePair[32] = {};
            const std::size_t size = DXTEncoder::blockBytes(kind);
            DXTEncoder::detail::encodeBlockPortable(pair, kind, portablePair);
            DXTEncoder::detail::encodeBlockPortable(pair + 64, kind, portablePair + size);
            for (auto unit : {VectorUnit::sse2, VectorUnit::avx2}) {
                if (unit > widestVectorUnit()) continue;
                std::uint8_t simd[32] = {};
                DXTEncoder::detail::encodeBlockPair(pair, kind, simd, unit);
                ASSERT_TRUE(std::equal(simd, simd + 2 * size, portablePair))
                    << "pair, trial " << trial << " kind " << int(kind) << " unit " << int(unit);
            }
        }
        std::uint8_t portable[8];
        DXTEncoder::detail::encodeBC4BlockPortable(pixels, portable);
        for (auto unit : {VectorUnit::sse2, VectorUnit::avx2}) {
            if (unit > widestVectorUnit()) continue;
            std::uint8_t simd[8];
            DXTEncoder::detail::encodeBC4Block(pixels, simd, unit);
            ASSERT_TRUE(std::equal(simd, simd + 8, portable)) << "trial " << trial << " unit " << int(unit);
        }
        std::copy(pair, pair + 64, pair + 64);
    }
}

// Near-grey blocks reach the scale cap, which busier test pictures never do; either way the greys come back unchanged.
TEST(DXTEncoder, ScaledYCoCgOfGreyBlocks) {
    auto expectBack = [](const BgraImage& grey, const std::vector<std::uint8_t>& block, int tolerance) {
        std::uint8_t decoded[64];
        DXTDecoder::decodeScaledYCoCgBlock(block.data(), decoded);
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(decoded[4 * i + c], grey.at(i % 4, i / 4)[c], tolerance) << i << " " << c;
    };
    BgraImage grey(4, 4);
    // Eight levels, each an entry of the luma palette.
    for (int i = 0; i < 16; ++i) std::fill_n(grey.at(i % 4, i / 4), 4, std::uint8_t(100 + i / 2));
    auto block = encode(grey, Kind::ycocg, 4);
    // Scale 1: blue field 0 in both endpoints.
    EXPECT_EQ(loadLE16(&block[8]) & 31, 0);
    EXPECT_EQ(loadLE16(&block[10]) & 31, 0);
    expectBack(grey, block, 0);
    // One pixel a level greener: largest chroma 0.5, scale 32 (capped), blue field 31.
    std::fill(grey.pixels.begin(), grey.pixels.end(), 60);
    grey.at(2, 1)[1] = 61;
    block = encode(grey, Kind::ycocg, 4);
    EXPECT_EQ(loadLE16(&block[8]) & 31, 31);
    EXPECT_EQ(loadLE16(&block[10]) & 31, 31);
    // Half a level of chroma is below what the transform keeps.
    expectBack(grey, block, 1);
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
                        values[i] =
                            plane[std::min(height - 1, 4 * by + i / 4) * stride + std::min(width - 1, 4 * bx + i % 4)];
                    std::uint8_t expected[8];
                    modelAlphaBlock(values, expected);
                    ASSERT_TRUE(std::equal(expected, expected + 8, blocks[by * bw + bx].begin()));
                }
            }
            if (alignment == 16) continue;  // decoded back, each block is clipped to the picture
            std::vector<std::uint8_t> texture, block(16);
            for (const auto& coded : blocks) texture.insert(texture.end(), coded.begin(), coded.end());
            const auto decoded = DXTDecoder::decodeBC4Plane(texture, width, height);
            for (int i = 0; i < width * height; ++i) {
                DXTDecoder::decodeBC4Block(blocks[i / width / 4 * bw + i % width / 4].data(), block.data());
                ASSERT_EQ(decoded[i], block[i / width % 4 * 4 + i % width % 4]) << i;
            }
        }
    }
}

std::array<std::uint8_t, 8> colorBlock(std::uint16_t c0, std::uint16_t c1, std::uint32_t word) {
    std::array<std::uint8_t, 8> block{};
    storeLE16(block.data(), c0);
    storeLE16(block.data() + 2, c1);
    storeLE32(block.data() + 4, word);
    return block;
}

TEST(DXTDecoder, ColorBlockModes) {
    // Indices 0, 1, 2, 3 for pixels 0..3.
    const std::uint32_t word = 0b11100100;
    std::uint8_t pixels[64];
    // Equal endpoints in a DXT1 texture: three-colour mode, index 3 transparent black.
    const std::uint16_t c = DXTEncoder::pack565(200, 100, 40);
    const auto rgb = DXTEncoder::unpack565(c);
    auto same = colorBlock(c, c, word);
    DXTDecoder::decodeColorBlock(same.data(), pixels, ColorMode::dxt1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::vector<int>(pixels + 4 * i, pixels + 4 * i + 4), (std::vector<int>{rgb.b, rgb.g, rgb.r, 255}));
    EXPECT_EQ(std::vector<int>(pixels + 12, pixels + 16), (std::vector<int>{0, 0, 0, 0}));
    // The same block as the colour half of DXT5: index 3 is the colour again.
    DXTDecoder::decodeColorBlock(same.data(), pixels, ColorMode::alwaysFour);
    EXPECT_EQ(std::vector<int>(pixels + 12, pixels + 16), (std::vector<int>{rgb.b, rgb.g, rgb.r, 255}));
    // c0 < c1: midpoint for index 2 (three-colour mode).
    auto low = colorBlock(DXTEncoder::pack565(0, 0, 0), DXTEncoder::pack565(255, 255, 255), word);
    DXTDecoder::decodeColorBlock(low.data(), pixels, ColorMode::dxt1);
    EXPECT_EQ(pixels[8], 127);
    // c0 > c1: thirds, rounded down.
    auto high = colorBlock(DXTEncoder::pack565(255, 255, 255), DXTEncoder::pack565(0, 0, 0), word);
    DXTDecoder::decodeColorBlock(high.data(), pixels, ColorMode::dxt1);
    EXPECT_EQ(pixels[8], 170);
    EXPECT_EQ(pixels[12], 85);
    EXPECT_EQ(pixels[15], 255);
}

TEST(DXTDecoder, BC4Palettes) {
    std::uint8_t values[16];
    // Index k for pixel k (k = 0..7), pixels 8..15 take index 0.
    std::uint64_t field = 0;
    for (int k = 0; k < 8; ++k) field |= std::uint64_t(k) << (3 * k);
    std::uint8_t block[8] = {255, 0};
    for (int i = 0; i < 6; ++i) block[2 + i] = std::uint8_t(field >> (8 * i));
    DXTDecoder::decodeBC4Block(block, values);
    EXPECT_EQ(std::vector<int>(values, values + 8), (std::vector<int>{255, 0, 219, 182, 146, 109, 73, 36}));

    block[0] = block[1] = 90;  // a0 = a1: six-value mode
    DXTDecoder::decodeBC4Block(block, values);
    EXPECT_EQ(std::vector<int>(values, values + 8), (std::vector<int>{90, 90, 90, 90, 90, 90, 0, 255}));
    block[0] = 10, block[1] = 60;
    DXTDecoder::decodeBC4Block(block, values);
    EXPECT_EQ(std::vector<int>(values, values + 8), (std::vector<int>{10, 60, 20, 30, 40, 50, 0, 255}));
}

TEST(DXTDecoder, ScaledYCoCgArithmetic) {
    // Luma 100 everywhere; chroma from one endpoint (all indices 0).
    auto decode = [](int r5, int g6, int b5) {
        std::uint8_t block[16] = {100, 100};
        const auto c = std::uint16_t((r5 << 11) | (g6 << 5) | b5);
        storeLE16(block + 8, c);
        storeLE16(block + 10, c);
        std::uint8_t pixels[64];
        DXTDecoder::decodeScaledYCoCgBlock(block, pixels);
        return std::vector<int>{pixels[2], pixels[1], pixels[0], pixels[3]};  // R, G, B, A
    };
    // s = 3, Co = 37 / 3, Cg = -47 / 3: thirds kept as doubles, not truncated.
    EXPECT_EQ(decode(20, 20, 2), (std::vector<int>{128, 84, 103, 255}));
    // s = 2, Co = -2.5, Cg = 1: halves round away from zero (96.5 → 97, 101.5 → 102).
    EXPECT_EQ(decode(15, 32, 1), (std::vector<int>{97, 101, 102, 255}));
    // Results beyond a byte are clamped.
    EXPECT_EQ(decode(31, 0, 0)[0], 255);
}

TEST(DXTDecoder, WalkClipsToTheVisibleArea) {
    const BgraImage source = test::makeImage(8, 8, test::Pattern::photoLike, 5);
    const auto texture = DXTEncoder::encode(source.pixels.data(), source.stride, 8, 8, Kind::dxt5, 4);
    BgraImage full(8, 8), clipped(5, 5, 0xEE);
    DXTDecoder::decodeDXT5(texture, 8, 8, 8, 8, full.pixels.data(), full.stride);
    DXTDecoder::decodeDXT5(texture, 8, 8, 5, 5, clipped.pixels.data(), clipped.stride);
    for (int y = 0; y < 5; ++y) {
        EXPECT_TRUE(std::equal(full.at(0, y), full.at(5, y), clipped.at(0, y)));
        // The row padding after column 5 stays untouched.
        EXPECT_TRUE(std::all_of(clipped.at(5, y), clipped.at(0, y) + clipped.stride, [](auto b) { return b == 0xEE; }));
    }
}

TEST(DXTDecoder, ShortOrMismatchedTexturesAreRefusedUntouched) {
    const BgraImage source = test::makeImage(8, 8, test::Pattern::noise, 6);
    auto texture = DXTEncoder::encode(source.pixels.data(), source.stride, 8, 8, Kind::dxt1, 4);
    BgraImage out(8, 8, 0x5A);
    const auto untouched = out.pixels;
    const std::span<const std::uint8_t> all(texture);
    // Too short a texture is malformed input; a grid that does not fit the picture is the caller's bug.
    EXPECT_THROW(DXTDecoder::decodeDXT1(all.first(15), 8, 8, 8, 8, out.pixels.data(), out.stride), MalformedInput);
    EXPECT_THROW(DXTDecoder::decodeDXT1(all.first(31), 8, 8, 8, 8, out.pixels.data(), out.stride), MalformedInput);
    EXPECT_THROW(DXTDecoder::decodeDXT1(all, 4, 8, 8, 8, out.pixels.data(), out.stride), std::invalid_argument);
    EXPECT_THROW(DXTDecoder::decodeDXT1(all, 6, 8, 5, 8, out.pixels.data(), out.stride), std::invalid_argument);
    EXPECT_EQ(out.pixels, untouched);
    // One block row is enough for a picture four rows high; a longer texture is fine.
    EXPECT_NO_THROW(DXTDecoder::decodeDXT1(all.first(16), 8, 8, 8, 4, out.pixels.data(), out.stride));
    texture.resize(texture.size() + 100, 0xFF);
    EXPECT_NO_THROW(DXTDecoder::decodeDXT1(texture, 8, 8, 8, 8, out.pixels.data(), out.stride));

    EXPECT_THROW(DXTDecoder::decodeBC4Plane(std::vector<std::uint8_t>(15), 5, 4), MalformedInput);
    EXPECT_TRUE(DXTDecoder::decodeBC4Plane({}, 0, 4).empty());
}

TEST(DXTDecoder, ComposeYCoCg420) {
    // 4 x 2 picture, 2 x 1 chroma.
    const std::vector<std::uint8_t> y = {100, 110, 120, 130, 140, 150, 160, 250};
    const std::vector<std::uint8_t> alpha = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::uint8_t> co = {128 + 10, 128 - 20}, cg = {128 + 5, 128};
    BgraImage out(4, 2);
    DXTDecoder::composeYCoCg420(y, alpha, co, cg, 4, 2, 2, 1, out.pixels.data(), out.stride);
    // Pixel (1, 1): Y 150, chroma column 0: R = 150 + 10 - 5, G = 155, B = 150 - 10 - 5.
    EXPECT_EQ(std::vector<int>(out.at(1, 1), out.at(1, 1) + 4), (std::vector<int>{135, 155, 155, 6}));
    // Pixel (3, 1): Y 250, Co -20: R 230, G 250, B 270 → 255.
    EXPECT_EQ(std::vector<int>(out.at(3, 1), out.at(3, 1) + 4), (std::vector<int>{255, 250, 230, 8}));
    // Without chroma planes the chroma is neutral; without alpha, 255.
    DXTDecoder::composeYCoCg420(y, {}, {}, {}, 4, 2, 0, 0, out.pixels.data(), out.stride);
    EXPECT_EQ(std::vector<int>(out.at(2, 0), out.at(2, 0) + 4), (std::vector<int>{120, 120, 120, 255}));
    // Planes smaller than their sizes are refused.
    EXPECT_THROW(DXTDecoder::composeYCoCg420(y, {}, co, cg, 4, 2, 2, 2, out.pixels.data(), out.stride),
                 std::invalid_argument);
    EXPECT_THROW(
        DXTDecoder::composeYCoCg420(std::span(y).first(7), {}, co, cg, 4, 2, 2, 1, out.pixels.data(), out.stride),
        std::invalid_argument);
}

}  // namespace
}  // namespace fw

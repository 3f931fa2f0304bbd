// The block decoder: palette rules of both modes, scaled YCoCg arithmetic, the
// texture walk's clipping and refusal of short textures. Colour kinds round
// trip against FFmpeg's decoder in HapTest, BC4 planes in DXVTextureSourceTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "CodecTestData.h"
#include "codecs/ByteBuffer.h"
#include "codecs/dxt/DXTDecoder.h"
#include "codecs/dxt/DXTEncoder.h"

namespace fw {
namespace {

using DXTDecoder::ColorMode;
using DXTEncoder::Kind;
using test::BgraImage;

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
    EXPECT_THROW(DXTDecoder::composeYCoCg420(std::span(y).first(7), {}, co, cg, 4, 2, 2, 1, out.pixels.data(), out.stride),
                 std::invalid_argument);
}

}  // namespace
}  // namespace fw

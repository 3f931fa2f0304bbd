// DXV frames back to pixels, against FFmpeg's dxv decoder reading the same frames.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <tuple>

#include "CodecTestData.h"
#include "FFmpegOracle.h"
#include "codecs/dxt/DXTDecoder.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxv/DXVFrame.h"
#include "codecs/dxv/DXVHighQuality.h"
#include "codecs/dxv/DXVTextureSource.h"

namespace fw::DXV {
namespace {

using test::BgraImage;

// Destinations are filled with this marker, so that unwritten pixels show.
constexpr std::uint8_t kStale = 0xA7;

bool decodeInto(BgraImage& image, ByteSpan frame) {
    return TextureSource::decodeDXVFrame(frame, image.width, image.height, image.pixels.data(), image.stride);
}

bool anyPixelStale(const BgraImage& image) {
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (std::memcmp(image.at(x, y), "\xA7\xA7\xA7\xA7", 4) == 0) return true;
    return false;
}

int lumaOf(const std::uint8_t* p) { return (p[2] + 2 * p[1] + p[0] + 2) >> 2; }

// Co and Cg (offset by 128) of the 2 x 2 block at chroma position (i, j), edge pixels repeated.
std::pair<std::uint8_t, std::uint8_t> chromaOf(const BgraImage& image, int i, int j) {
    int sumCo = 0, sumCg = 0;
    for (int d = 0; d < 4; ++d) {
        const std::uint8_t* p =
            image.at(std::min(2 * i + d % 2, image.width - 1), std::min(2 * j + d / 2, image.height - 1));
        sumCo += p[2] - p[0];
        sumCg += 2 * p[1] - p[2] - p[0];
    }
    return {std::uint8_t(std::clamp((sumCo + 4) >> 3, -128, 127) + 128),
            std::uint8_t(std::clamp((sumCg + 8) >> 4, -128, 127) + 128)};
}

int largestDifference(const BgraImage& ours, const test::OracleFrame& theirs, bool withAlpha) {
    int largest = 0;
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x) {
            const std::uint8_t* a = ours.at(x, y);
            const std::uint8_t* b = theirs.at(0, x, y);  // RGBA
            const int channels[4] = {a[2] - b[0], a[1] - b[1], a[0] - b[2], withAlpha ? a[3] - b[3] : 0};
            for (int d : channels) largest = std::max(largest, std::abs(d));
        }
    return largest;
}

TEST(DXVTextureSource, DXTFramesOfEveryVersionAgainstFFmpeg) {
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{127, 71}, {1920, 1080}, {5, 3}}) {
        const BgraImage picture = test::makeImage(width, height, test::Pattern::photoLike, 31);
        for (const TextureFormat format : {TextureFormat::dxt1, TextureFormat::dxt5}) {
            const auto kind = format == TextureFormat::dxt1 ? DXTEncoder::Kind::dxt1 : DXTEncoder::Kind::dxt5;
            const Bytes texture = DXTEncoder::encode(picture.pixels.data(), picture.stride, width, height, kind, 16);
            BgraImage direct(width, height, kStale);  // same row padding as ours
            const int paddedWidth = (width + 15) / 16 * 16, paddedHeight = (height + 15) / 16 * 16;
            (format == TextureFormat::dxt1 ? DXTDecoder::decodeDXT1 : DXTDecoder::decodeDXT5)(
                texture, paddedWidth, paddedHeight, width, height, direct.pixels.data(), direct.stride);

            for (const Version version : {Version::dxv2, Version::dxv3}) {
                SCOPED_TRACE(testing::Message()
                             << width << "x" << height << " format " << int(format) << " version " << int(version));
                const auto frame = DXV::frame(texture, version, format);
                BgraImage ours(width, height, kStale);
                ASSERT_TRUE(decodeInto(ours, frame));
                EXPECT_EQ(ours.pixels, direct.pixels);

                const auto theirs = test::ffmpegDecodeDXV(frame, width, height);
                ASSERT_TRUE(theirs);
                ASSERT_EQ(theirs->format, AV_PIX_FMT_RGBA);
                // FFmpeg expands RGB565 and interpolates with its own rounding (a few levels); it misreads one DXV3
                // DXT5 alpha copy form, so alpha is compared only where that form cannot occur.
                const bool alphaComparable = format == TextureFormat::dxt5 && version == Version::dxv2;
                EXPECT_LE(largestDifference(ours, *theirs, alphaComparable), 3);
            }
        }
    }
}

TEST(DXVTextureSource, GridFittingOfRawTextures) {
    // A raw or block-reuse DXT1 payload for 1920 x 1088 decodes on the 16-aligned grid; one sized for 1920 x 1080 falls
    // back to alignment 4; a shorter raw one is refused.
    const BgraImage picture = test::makeImage(1920, 1080, test::Pattern::photoLike, 4);
    for (const int alignment : {16, 4}) {
        const Bytes texture =
            DXTEncoder::encode(picture.pixels.data(), picture.stride, 1920, 1080, DXTEncoder::Kind::dxt1, alignment);
        EXPECT_EQ(texture.size(), std::size_t{480} * (alignment == 16 ? 272 : 270) * 8);
        Bytes frame = {'1', 'T', 'X', 'D', 4, 0, 1, 0};
        appendLE32(frame, static_cast<std::uint32_t>(texture.size()));
        frame.insert(frame.end(), texture.begin(), texture.end());
        BgraImage ours(1920, 1080, kStale);
        EXPECT_TRUE(decodeInto(ours, frame));
        EXPECT_FALSE(anyPixelStale(ours));
        EXPECT_GT(test::psnr(picture, ours.pixels.data(), ours.stride, false), 30.0);
        // Block-reuse coded, the same texture is found on the same grid.
        BgraImage coded(1920, 1080, kStale);
        EXPECT_TRUE(decodeInto(coded, DXV::frame(texture, Version::dxv3, TextureFormat::dxt1)));
        EXPECT_EQ(coded.pixels, ours.pixels);
        // Short of the 16-aligned grid falls back to alignment 4; short of that is refused.
        frame.resize(frame.size() - 8);
        EXPECT_EQ(alignment == 16, decodeInto(ours, frame));
    }
    // The 4-byte header with the raw bit.
    const Bytes texture = DXTEncoder::encode(picture.pixels.data(), picture.stride, 64, 64, DXTEncoder::Kind::dxt5, 16);
    Bytes frame;
    appendLE32(frame, 0xC3000000u | static_cast<std::uint32_t>(texture.size()));
    frame.insert(frame.end(), texture.begin(), texture.end());
    BgraImage ours(64, 64, kStale);
    EXPECT_TRUE(decodeInto(ours, frame));
    EXPECT_FALSE(anyPixelStale(ours));
}

// A high-quality frame coded as other writers code it: luma (and alpha) planes at the size rounded down to multiples
// of 4, chroma at (size / 8) * 4, by the format's own formulas.
Bytes roundedDownHQFrame(const BgraImage& picture, HQFormat format) {
    const int w = picture.width / 4 * 4, h = picture.height / 4 * 4;
    const int cw = picture.width / 8 * 4, ch = picture.height / 8 * 4;
    Bytes luma(static_cast<std::size_t>(w) * h), alpha(luma.size()), co(static_cast<std::size_t>(cw) * ch),
        cg(co.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = picture.at(x, y);
            luma[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(lumaOf(p));
            alpha[static_cast<std::size_t>(y) * w + x] = p[3];
        }
    for (int j = 0; j < ch; ++j)
        for (int i = 0; i < cw; ++i)
            std::tie(co[std::size_t(j) * cw + i], cg[std::size_t(j) * cw + i]) = chromaOf(picture, i, j);
    auto blocks = [](const Bytes& plane, int width, int height) {
        return DXTEncoder::encodeBC4PlaneBlocks(plane.data(), static_cast<std::size_t>(width), width, height, 4);
    };
    return hqFrame(blocks(luma, w, h), blocks(alpha, w, h), blocks(co, cw, ch), blocks(cg, cw, ch), format);
}

TEST(DXVTextureSource, HighQualityFramesCoverEveryPixel) {
    // Our frames code every column and row (planes 16-aligned); other writers' frames code planes rounded down, which
    // differ from the 16-aligned ones on one side or both, by 0 to 3 pixels.
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{30, 21}, {127, 71}, {64, 38}, {1924, 1083}})
        for (const HQFormat format : {HQFormat::yg10, HQFormat::ycg6})
            for (const bool roundedDown : {false, true}) {
                if (!roundedDown && width != 30) continue;
                SCOPED_TRACE(testing::Message() << width << "x" << height << " format " << int(format) << " "
                                                << (roundedDown ? "rounded down" : "ours"));
                const BgraImage picture = test::makeImage(width, height, test::Pattern::photoLike, 12);
                BgraImage ours(width, height, kStale);
                ASSERT_TRUE(decodeInto(
                    ours, roundedDown ? roundedDownHQFrame(picture, format)
                                      : hqCompressFrame(picture.pixels.data(), picture.stride, width, height, format)));
                EXPECT_FALSE(anyPixelStale(ours));
                // Within the area the chroma covers, the picture as coded; outside it, chroma and then luma repeated.
                const int covered[2] = {roundedDown ? width / 8 * 8 : width, roundedDown ? height / 8 * 8 : height};
                EXPECT_GT(test::psnr(picture.pixels.data(), picture.stride, ours.pixels.data(), ours.stride, covered[0],
                                     covered[1], format == HQFormat::yg10 ? 4 : 3),
                          30);
                // Our last column's alpha is its own, not a neighbour's or stale.
                for (int y = 0; !roundedDown && y < height; ++y)
                    EXPECT_NEAR(ours.at(width - 1, y)[3], format == HQFormat::yg10 ? picture.at(width - 1, y)[3] : 255,
                                8);
                // Theirs: the uncoded edge repeats the last coded column, then the last coded row.
                const int codedWidth = roundedDown ? width / 4 * 4 : width,
                          codedHeight = roundedDown ? height / 4 * 4 : height;
                bool repeated = true;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        if (x >= codedWidth || y >= codedHeight)
                            repeated &=
                                std::memcmp(ours.at(x, y),
                                            ours.at(std::min(x, codedWidth - 1), std::min(y, codedHeight - 1)), 4) == 0;
                EXPECT_TRUE(repeated);
            }
}

// PSNR of FFmpeg's planes (Y, Cg, Co, A) against the source's own luma, chroma and alpha.
std::array<double, 4> planePSNRs(const BgraImage& image, const test::OracleFrame& decoded) {
    std::array<double, 4> error{};
    auto add = [&](int plane, int x, int y, int expected) {
        error[plane] += std::pow(expected - *decoded.at(plane, x, y), 2);
    };
    const int w = image.width, h = image.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            add(0, x, y, lumaOf(image.at(x, y)));
            add(3, x, y, image.at(x, y)[3]);
        }
    for (int j = 0; j < ch; ++j)
        for (int i = 0; i < cw; ++i) {
            const auto [co, cg] = chromaOf(image, i, j);
            add(1, i, j, cg);
            add(2, i, j, co);
        }
    const std::size_t pixels = static_cast<std::size_t>(w) * h, chroma = static_cast<std::size_t>(cw) * ch;
    return {test::psnrFromSquaredError(error[0], pixels), test::psnrFromSquaredError(error[1], chroma),
            test::psnrFromSquaredError(error[2], chroma), test::psnrFromSquaredError(error[3], pixels)};
}

TEST(DXVTextureSource, HighQualityPlanesMatchFFmpegs) {
    for (const auto& [width, height] :
         std::vector<std::pair<int, int>>{{127, 71}, {1920, 1080}, {5, 3}, {1924, 1080}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const BgraImage picture = test::makeImage(width, height, test::Pattern::photoLike, 7);
        const auto frame = hqCompressFrame(picture.pixels.data(), picture.stride, width, height, HQFormat::yg10);
        const auto theirs = test::ffmpegDecodeDXV(frame, width, height);
        ASSERT_TRUE(theirs);
        ASSERT_EQ(theirs->format, AV_PIX_FMT_YUVA420P);
        const auto quality = planePSNRs(picture, *theirs);
        // A few pixels of busy content leave BC4 less room than a large picture.
        for (const double planePSNR : quality) EXPECT_GT(planePSNR, width * height < 100 ? 30 : 44);
        // Ours in FFmpeg's plane order; its BC4 palette rounds its own way (a level).
        const HQPlaneSizes sizes = HQPlaneSizes::of(width, height);
        const HQTextures textures =
            referenceDecodeHQ(ByteSpan(frame).subspan(12), sizes.lumaWidth, sizes.lumaHeight, HQFormat::yg10);
        auto plane = [&](const Bytes& interleaved, int which, bool chroma) {
            Bytes half;
            for (std::size_t k = 0; k + 16 <= interleaved.size(); k += 16)
                half.insert(half.end(), interleaved.begin() + k + 8 * which, interleaved.begin() + k + 8 * which + 8);
            return chroma ? DXTDecoder::decodeBC4Plane(half, sizes.chromaWidth, sizes.chromaHeight)
                          : DXTDecoder::decodeBC4Plane(half, sizes.lumaWidth, sizes.lumaHeight);
        };
        const Bytes ours[4] = {plane(textures.tex, 0, false), plane(textures.ctex, 1, true),
                               plane(textures.ctex, 0, true), plane(textures.tex, 1, false)};
        for (int index = 0; index < 4; ++index) {
            const int stride = index == 0 || index == 3 ? sizes.lumaWidth : sizes.chromaWidth;
            int largest = 0;
            for (int y = 0; y < theirs->planeHeights[index]; ++y)
                for (int x = 0; x < theirs->planeWidths[index]; ++x)
                    largest = std::max(largest, std::abs(int(ours[index][static_cast<std::size_t>(y) * stride + x]) -
                                                         int(*theirs->at(index, x, y))));
            EXPECT_LE(largest, 1) << "plane " << index;
        }
    }
    // Without alpha there is no alpha plane.
    const BgraImage picture = test::makeImage(200, 120, test::Pattern::photoLike, 8);
    const auto frame = hqCompressFrame(picture.pixels.data(), picture.stride, 200, 120, HQFormat::ycg6);
    const auto theirs = test::ffmpegDecodeDXV(frame, 200, 120);
    ASSERT_TRUE(theirs);
    EXPECT_EQ(theirs->format, AV_PIX_FMT_YUV420P);
}

TEST(DXVTextureSourceCorruption, ShortAndDamagedFrames) {
    BgraImage ours(16, 16);
    // The last is an LZF payload that decodes to too little texture.
    for (const Bytes& frame : {Bytes{1, 2, 3}, Bytes{'6', 'G', 'C', 'Y', 4, 0, 0, 0},
                               Bytes{'1', 'T', 'X', 'D', 4, 0, 0, 0, 0, 0, 0, 0}, Bytes{3, 0, 0, 0x23, 0x01, 7, 7}})
        EXPECT_FALSE(decodeInto(ours, frame));
    // Sides beyond the largest are refused before anything is sized from them.
    const std::size_t wideTexture = (std::size_t{TextureSource::kMaximumSide} + 16) / 4 * 8;
    Bytes wide = {'1', 'T', 'X', 'D', 4, 0, 1, 0, 0, 0, 0, 0};
    wide.resize(wide.size() + wideTexture);
    for (const int side : {TextureSource::kMaximumSide, TextureSource::kMaximumSide + 1}) {
        BgraImage row(side, 1);
        EXPECT_EQ(decodeInto(row, wide), side == TextureSource::kMaximumSide);
    }
    // Damaged frames of every kind decode or are refused, never more.
    const BgraImage picture = test::makeImage(40, 24, test::Pattern::photoLike, 9);
    std::vector<Bytes> frames;
    for (const Version version : {Version::dxv2, Version::dxv3})
        for (const auto kind : {DXTEncoder::Kind::dxt1, DXTEncoder::Kind::dxt5})
            frames.push_back(frame(DXTEncoder::encode(picture.pixels.data(), picture.stride, 40, 24, kind, 16), version,
                                   kind == DXTEncoder::Kind::dxt1 ? TextureFormat::dxt1 : TextureFormat::dxt5));
    frames.push_back(hqCompressFrame(picture.pixels.data(), picture.stride, 40, 24, HQFormat::yg10));
    std::mt19937 random(3);
    BgraImage target(40, 24);
    for (const Bytes& original : frames) {
        for (int trial = 0; trial < 300; ++trial) {
            Bytes damaged = original;
            if (trial % 3 == 0) damaged.resize(random() % damaged.size());
            for (int flips = 0; flips < 2 && !damaged.empty(); ++flips)
                damaged[4 + random() % std::max<std::size_t>(damaged.size() - 4, 1) % damaged.size()] ^= 0x5A;
            decodeInto(target, damaged);
        }
    }
}

}  // namespace
}  // namespace fw::DXV

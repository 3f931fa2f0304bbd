// Flat colours and ramps through every texture kind, read back by FFmpeg's decoders: the endpoints a block gets must
// hold its colour, so that neutral areas stay neutral and smooth ramps carry no offset.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "CodecTestData.h"
#include "FFmpegOracle.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxv/DXVFrame.h"
#include "codecs/dxv/DXVHighQuality.h"
#include "codecs/hap/Hap.h"

namespace fw {
namespace {

using test::BgraImage;
using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<int, 3>;

// FFmpeg's reading of a DXV frame as BGRA; high-quality planes (Y, Cg, Co, chroma at half size) go back to RGB by
// the YCoCg formulas.
std::optional<BgraImage> ffmpegDecodeDXVToBgra(const Bytes& frame, int width, int height) {
    const auto decoded = test::ffmpegDecodeDXV(frame, width, height);
    if (!decoded) return std::nullopt;
    BgraImage out(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = out.at(x, y);
            if (decoded->format == AV_PIX_FMT_RGBA) {
                const std::uint8_t* q = decoded->at(0, x, y);
                p[0] = q[2], p[1] = q[1], p[2] = q[0], p[3] = q[3];
                continue;
            }
            const int luma = *decoded->at(0, x, y), cg = *decoded->at(1, x / 2, y / 2) - 128;
            const int co = *decoded->at(2, x / 2, y / 2) - 128;
            p[0] = std::uint8_t(DXTEncoder::clampByte(luma - co - cg));
            p[1] = std::uint8_t(DXTEncoder::clampByte(luma + cg));
            p[2] = std::uint8_t(DXTEncoder::clampByte(luma + co - cg));
            p[3] = 255;
        }
    return out;
}

struct TextureKind {
    const char* name;
    std::function<Bytes(const BgraImage&)> encode;
    std::function<std::optional<BgraImage>(const Bytes&, int, int)> decode;
};

TextureKind hapKind(const char* name, DXTEncoder::Kind kind, std::uint8_t formatCode, std::uint32_t tag) {
    return {
        name,
        [=](const BgraImage& image) {
            return Hap::frame(DXTEncoder::encode(image.pixels.data(), image.stride, image.width, image.height, kind, 4),
                              formatCode);
        },
        [=](const Bytes& frame, int width, int height) { return test::ffmpegDecodeHap(frame, tag, width, height); }};
}

TextureKind dxvKind(const char* name, DXV::Version version, DXV::TextureFormat format) {
    const auto kind = format == DXV::TextureFormat::dxt1 ? DXTEncoder::Kind::dxt1 : DXTEncoder::Kind::dxt5;
    return {name,
            [=](const BgraImage& image) {
                return DXV::frame(
                    DXTEncoder::encode(image.pixels.data(), image.stride, image.width, image.height, kind, 16), version,
                    format);
            },
            ffmpegDecodeDXVToBgra};
}

TextureKind hqKind(const char* name, DXV::HQFormat format) {
    return {name,
            [=](const BgraImage& image) {
                return DXV::hqCompressFrame(image.pixels.data(), image.stride, image.width, image.height, format);
            },
            ffmpegDecodeDXVToBgra};
}

const std::vector<TextureKind>& textureKinds() {
    static const std::vector<TextureKind> kinds = {
        hapKind("Hap", DXTEncoder::Kind::dxt1, Hap::kFormatDXT1, test::fourCC("Hap1")),
        hapKind("Hap Alpha", DXTEncoder::Kind::dxt5, Hap::kFormatDXT5, test::fourCC("Hap5")),
        hapKind("Hap Q", DXTEncoder::Kind::ycocg, Hap::kFormatScaledYCoCgDXT5, test::fourCC("HapY")),
        dxvKind("DXV2", DXV::Version::dxv2, DXV::TextureFormat::dxt1),
        dxvKind("DXV2 alpha", DXV::Version::dxv2, DXV::TextureFormat::dxt5),
        dxvKind("DXV3", DXV::Version::dxv3, DXV::TextureFormat::dxt1),
        dxvKind("DXV3 alpha", DXV::Version::dxv3, DXV::TextureFormat::dxt5),
        hqKind("DXV3 HQ", DXV::HQFormat::ycg6),
        hqKind("DXV3 HQ alpha", DXV::HQFormat::yg10),
    };
    return kinds;
}

// Every grey, then colours of everyday pictures, each a 16 x 16 tile (whole blocks and chroma cells in every kind).
constexpr int kTile = 16;
std::vector<Rgb> flatColours() {
    std::vector<Rgb> colours;
    for (int v = 0; v < 256; ++v) colours.push_back({v, v, v});
    const Rgb everyday[] = {
        {255, 0, 0},     {0, 255, 0},     {0, 0, 255},     {255, 255, 0},   {0, 255, 255},   {255, 0, 255},
        {128, 0, 0},     {0, 128, 0},     {0, 0, 128},     {128, 128, 0},   {0, 128, 128},   {128, 0, 128},
        {255, 128, 0},   {224, 172, 140}, {198, 134, 66},  {141, 85, 36},   {135, 206, 235}, {70, 130, 180},
        {34, 139, 34},   {107, 142, 35},  {250, 240, 230}, {245, 222, 179}, {30, 40, 50},    {200, 30, 60},
        {100, 149, 237}, {255, 215, 0},   {112, 128, 144}, {60, 60, 70},    {180, 170, 160}, {90, 100, 80},
        {16, 16, 16},    {235, 235, 235},
    };
    colours.insert(colours.end(), std::begin(everyday), std::end(everyday));
    return colours;
}

BgraImage tiles(const std::vector<Rgb>& colours, int columns) {
    const int rows = (int(colours.size()) + columns - 1) / columns;
    BgraImage image(columns * kTile, rows * kTile, 255);
    for (std::size_t k = 0; k < colours.size(); ++k)
        for (int y = 0; y < kTile; ++y)
            for (int x = 0; x < kTile; ++x) {
                std::uint8_t* p = image.at(int(k) % columns * kTile + x, int(k) / columns * kTile + y);
                p[0] = std::uint8_t(colours[k][2]), p[1] = std::uint8_t(colours[k][1]),
                p[2] = std::uint8_t(colours[k][0]);
            }
    return image;
}

// Per channel (R, G, B): the largest difference and the mean signed difference over a rectangle.
struct Errors {
    Rgb largest{};
    std::array<double, 3> mean{};
};
Errors compare(const BgraImage& source, const BgraImage& decoded, int left, int top, int width, int height) {
    Errors errors;
    std::array<double, 3> sum{};
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int difference = int(decoded.at(x, y)[2 - c]) - int(source.at(x, y)[2 - c]);
                errors.largest[c] = std::max(errors.largest[c], std::abs(difference));
                sum[c] += difference;
            }
    for (int c = 0; c < 3; ++c) errors.mean[c] = sum[c] / (double(width) * height);
    return errors;
}

TEST(TextureTone, FlatColoursComeBackWithinTwoLevels) {
    const std::vector<Rgb> colours = flatColours();
    const int columns = 16;
    const BgraImage image = tiles(colours, columns);
    for (const TextureKind& kind : textureKinds()) {
        const auto decoded = kind.decode(kind.encode(image), image.width, image.height);
        ASSERT_TRUE(decoded) << kind.name << ": FFmpeg refused the frame";
        std::string tinted;
        for (std::size_t k = 0; k < colours.size(); ++k) {
            const int left = int(k) % columns * kTile, top = int(k) / columns * kTile;
            const Errors errors = compare(image, *decoded, left, top, kTile, kTile);
            if (std::max({errors.largest[0], errors.largest[1], errors.largest[2]}) <= 2) continue;
            const std::uint8_t* back = decoded->at(left, top);
            tinted += " (" + std::to_string(colours[k][0]) + "," + std::to_string(colours[k][1]) + "," +
                      std::to_string(colours[k][2]) + ")->(" + std::to_string(back[2]) + "," + std::to_string(back[1]) +
                      "," + std::to_string(back[0]) + ")";
        }
        EXPECT_EQ(tinted, "") << kind.name;
    }
}

// Ramps across the picture: greys 0 ... 255, and a cool colour ramp a level every 4 to 8 pixels.
TEST(TextureTone, RampsCarryNoOffset) {
    const int width = 256, band = 16;
    using Ramp = Rgb (*)(int);
    const Ramp ramps[] = {
        [](int x) {
            return Rgb{x, x, x};
        },
        [](int x) {
            return Rgb{20 + x / 4, 90 + x / 8, 140 + x / 4};
        },
    };
    BgraImage image(width, band * int(std::size(ramps)), 255);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = ramps[y / band](x);
            std::uint8_t* p = image.at(x, y);
            p[0] = std::uint8_t(c[2]), p[1] = std::uint8_t(c[1]), p[2] = std::uint8_t(c[0]);
        }
    for (const TextureKind& kind : textureKinds()) {
        const auto decoded = kind.decode(kind.encode(image), image.width, image.height);
        ASSERT_TRUE(decoded) << kind.name << ": FFmpeg refused the frame";
        for (std::size_t ramp = 0; ramp < std::size(ramps); ++ramp) {
            const Errors errors = compare(image, *decoded, 0, int(ramp) * band, width, band);
            for (int c = 0; c < 3; ++c)
                EXPECT_LE(std::abs(errors.mean[c]), 0.5) << kind.name << " ramp " << ramp << " channel " << c;
        }
    }
}

}  // namespace
}  // namespace fw

#include "codecs/imagefile/EXRWriter.h"

#include "codecs/ByteBuffer.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>

namespace fw::EXRWriter {

namespace {

// Magic number and version, the eight attributes and the closing NUL; fixed
// because every value in it has a fixed width.
constexpr std::size_t kHeaderBytes = 313;

// Float to half, rounding to nearest with ties to even; infinities and
// values from 65520 up become infinity, NaN stays NaN. After F. Giesen's
// "float_to_half_fast3_rtne".
std::uint16_t halfBits(float value) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t sign = bits & 0x80000000u;
    bits ^= sign;
    std::uint32_t half;
    if (bits >= 0x47800000u) {
        half = bits > 0x7F800000u ? 0x7E00u : 0x7C00u;
    } else if (bits < 0x38800000u) {
        // Subnormal or zero: adding 0.5 lines the ten mantissa bits up at the
        // bottom of the float, rounded by the addition itself.
        constexpr std::uint32_t kDenormalMagic = 126u << 23;
        half = std::bit_cast<std::uint32_t>(std::bit_cast<float>(bits) + std::bit_cast<float>(kDenormalMagic)) -
               kDenormalMagic;
    } else {
        const std::uint32_t mantissaOdd = (bits >> 13) & 1u;
        bits += (static_cast<std::uint32_t>(15 - 127) << 23) + 0xFFFu + mantissaOdd;
        half = bits >> 13;
    }
    return static_cast<std::uint16_t>((sign >> 16) | half);
}

// sRGB decoding of an 8-bit value to linear light.
double linear(int code) {
    const double v = code / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

void appendName(ByteWriter& out, std::string_view text) {
    out.appendBytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    out.appendU8(0);
}

void appendAttributeHead(ByteWriter& out, std::string_view name, std::string_view type, std::uint32_t size) {
    appendName(out, name);
    appendName(out, type);
    out.appendU32LE(size);
}

void appendFloat(ByteWriter& out, float value) { out.appendU32LE(std::bit_cast<std::uint32_t>(value)); }

void appendBox(ByteWriter& out, std::uint32_t xMax, std::uint32_t yMax) {
    out.appendU32LE(0);
    out.appendU32LE(0);
    out.appendU32LE(xMax);
    out.appendU32LE(yMax);
}

ByteWriter header(std::uint32_t width, std::uint32_t height) {
    ByteWriter channels;
    for (const char* name : {"B", "G", "R"}) {
        appendName(channels, name);
        channels.appendU32LE(1);  // HALF
        channels.appendU8(0);     // pLinear
        channels.appendZeros(3);
        channels.appendU32LE(1);  // x sampling
        channels.appendU32LE(1);  // y sampling
    }
    channels.appendU8(0);

    ByteWriter out(kHeaderBytes);
    out.appendU32LE(20000630);
    out.appendU32LE(2);  // single-part scan lines, short names
    appendAttributeHead(out, "channels", "chlist", static_cast<std::uint32_t>(channels.size()));
    out.appendBytes(channels.view());
    appendAttributeHead(out, "compression", "compression", 1);
    out.appendU8(0);  // none
    appendAttributeHead(out, "dataWindow", "box2i", 16);
    appendBox(out, width - 1, height - 1);
    appendAttributeHead(out, "displayWindow", "box2i", 16);
    appendBox(out, width - 1, height - 1);
    appendAttributeHead(out, "lineOrder", "lineOrder", 1);
    out.appendU8(0);  // increasing y
    appendAttributeHead(out, "pixelAspectRatio", "float", 4);
    appendFloat(out, 1.0f);
    appendAttributeHead(out, "screenWindowCenter", "v2f", 8);
    appendFloat(out, 0.0f);
    appendFloat(out, 0.0f);
    appendAttributeHead(out, "screenWindowWidth", "float", 4);
    appendFloat(out, 1.0f);
    out.appendU8(0);
    return out;
}

}  // namespace

std::vector<std::uint8_t> data(const imagefile::BGRARaster& raster) {
    imagefile::checkRaster(raster, "OpenEXR");
    const auto width = static_cast<std::size_t>(raster.width);
    const auto height = static_cast<std::size_t>(raster.height);
    const std::size_t lineBytes = 8 + 6 * width;

    ByteWriter out = header(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    out.reserve(kHeaderBytes + 8 * height + height * lineBytes);
    const std::size_t firstLine = kHeaderBytes + 8 * height;
    for (std::size_t y = 0; y < height; ++y) out.appendU64LE(firstLine + y * lineBytes);

    // Every 8-bit code's linear half, and the same times each alpha on demand.
    std::array<float, 256> linearOf{};
    std::array<std::uint16_t, 256> opaqueHalf{};
    for (int code = 0; code < 256; ++code) {
        linearOf[code] = static_cast<float>(linear(code));
        opaqueHalf[code] = halfBits(linearOf[code]);
    }
    auto half = [&](std::uint8_t code, std::uint8_t alpha) {
        return alpha == 255 ? opaqueHalf[code] : halfBits(linearOf[code] * (alpha / 255.0f));
    };

    std::vector<std::uint8_t>& bytes = out.bytes();
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t start = bytes.size();
        bytes.resize(start + lineBytes);
        std::uint8_t* line = bytes.data() + start;
        storeLE32(line, static_cast<std::uint32_t>(y));
        storeLE32(line + 4, static_cast<std::uint32_t>(6 * width));
        std::uint8_t* blue = line + 8;
        std::uint8_t* green = blue + 2 * width;
        std::uint8_t* red = green + 2 * width;
        const std::uint8_t* pixel = raster.pixels + y * static_cast<std::size_t>(raster.rowBytes);
        for (std::size_t x = 0; x < width; ++x, pixel += 4) {
            storeLE16(blue + 2 * x, half(pixel[0], pixel[3]));
            storeLE16(green + 2 * x, half(pixel[1], pixel[3]));
            storeLE16(red + 2 * x, half(pixel[2], pixel[3]));
        }
    }
    return out.take();
}

}  // namespace fw::EXRWriter

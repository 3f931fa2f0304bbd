#include "codecs/imagefile/DPXWriter.h"

#include <cstring>

namespace fw::DPXWriter {

namespace {

constexpr std::uint32_t kHeaderBytes = 2048;

void putU32(std::uint8_t* file, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void putU16(std::uint8_t* file, std::size_t offset, std::uint16_t value) {
    file[offset] = static_cast<std::uint8_t>(value >> 8);
    file[offset + 1] = static_cast<std::uint8_t>(value);
}

// At most fieldBytes − 1 bytes of text, so the field always ends in NUL.
void putString(std::uint8_t* file, std::size_t offset, std::size_t fieldBytes, const char* text) {
    std::memcpy(file + offset, text, std::min(std::strlen(text), fieldBytes - 1));
}

std::uint32_t floatBits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// 8-bit channel times alpha, rounded, then widened to 10 bits by replication.
std::uint32_t tenBit(std::uint32_t channel, std::uint32_t alpha) {
    const std::uint32_t c = alpha == 255 ? channel : (channel * alpha + 127) / 255;
    return (c << 2) | (c >> 6);
}

void writeHeader(std::uint8_t* file, std::uint32_t width, std::uint32_t height, std::uint32_t fileBytes) {
    // File information header.
    putU32(file, 0, 0x53445058);  // "SDPX"
    putU32(file, 4, kHeaderBytes);
    putString(file, 8, 8, "V2.0");
    putU32(file, 16, fileBytes);
    putU32(file, 20, 1);     // ditto key: new frame
    putU32(file, 24, 1664);  // generic section
    putU32(file, 28, 384);   // industry-specific section
    putU32(file, 32, 0);     // user data
    putString(file, 160, 100, "Framewright");
    // Image information header, one element.
    putU16(file, 768, 0);  // left to right, top to bottom
    putU16(file, 770, 1);
    putU32(file, 772, width);
    putU32(file, 776, height);
    putU32(file, 780, 0);  // unsigned
    putU32(file, 784, 0);
    putU32(file, 788, floatBits(0.0f));
    putU32(file, 792, 1023);
    putU32(file, 796, floatBits(1.0f));
    file[800] = 50;        // R, G, B
    file[801] = 2;         // transfer characteristic
    file[802] = 2;         // colorimetric specification
    file[803] = 10;        // bits
    putU16(file, 804, 1);  // filled to 32-bit words, method A
    putU16(file, 806, 0);  // not run-length encoded
    putU32(file, 808, kHeaderBytes);
    putU32(file, 812, 0);
    putU32(file, 816, 0);
    putString(file, 820, 32, "Framewright");
}

}  // namespace

std::vector<std::uint8_t> data(const imagefile::BGRARaster& raster) {
    imagefile::checkRaster(raster, "DPX");
    // Within the checked limits every count here fits 32 bits.
    const auto width = static_cast<std::uint32_t>(raster.width);
    const auto height = static_cast<std::uint32_t>(raster.height);
    const std::uint32_t fileBytes = kHeaderBytes + 4 * width * height;
    std::vector<std::uint8_t> file(fileBytes, 0);
    writeHeader(file.data(), width, height, fileBytes);

    std::uint8_t* out = file.data() + kHeaderBytes;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* pixel = raster.pixels + static_cast<std::size_t>(y) * raster.rowBytes;
        for (std::uint32_t x = 0; x < width; ++x, pixel += 4, out += 4) {
            const std::uint32_t alpha = pixel[3];
            const std::uint32_t word =
                (tenBit(pixel[2], alpha) << 22) | (tenBit(pixel[1], alpha) << 12) | (tenBit(pixel[0], alpha) << 2);
            putU32(out, 0, word);
        }
    }
    return file;
}

}  // namespace fw::DPXWriter

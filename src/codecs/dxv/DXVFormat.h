#pragma once
// Shared vocabulary of the DXV frame formats: texture kinds, header versions,
// high-quality layouts, the decode error and the little-endian byte helpers.
// The byte layouts themselves are described in FORMAT.md beside this file.
//
// Thread-safety: everything here is constant data or a pure function.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/ByteBuffer.h"
#include "codecs/MalformedInput.h"

namespace fw::DXV {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

// The DXT payload kind of a DXT1/DXT5 frame.
enum class TextureFormat : std::uint8_t { dxt1 = 0, dxt5 = 1 };

constexpr std::size_t blockBytes(TextureFormat format) { return format == TextureFormat::dxt1 ? 8 : 16; }

// Tag bytes of the 12-byte header in file order: a little-endian read gives "DXT1"/"DXT5".
constexpr std::array<std::uint8_t, 4> tagBytes(TextureFormat format) {
    return format == TextureFormat::dxt1 ? std::array<std::uint8_t, 4>{'1', 'T', 'X', 'D'}
                                         : std::array<std::uint8_t, 4>{'5', 'T', 'X', 'D'};
}

// Top byte of the 4-byte header word: LZF payload, texture kind in bit 6.
constexpr std::uint32_t typeBits(TextureFormat format) {
    return format == TextureFormat::dxt1 ? 0x23000000u : 0x43000000u;
}

// Header layout: dxv2 = 4-byte header with an LZF payload, dxv3 = 12-byte
// header with a block-reuse-coded or raw payload.
enum class Version : std::uint8_t { dxv2 = 0, dxv3 = 1 };

// High-quality (YCoCg + BC4) layouts: ycg6 without alpha, yg10 with alpha.
enum class HQFormat : std::uint8_t { ycg6 = 0, yg10 = 1 };

constexpr std::array<std::uint8_t, 4> tagBytes(HQFormat format) {
    return format == HQFormat::ycg6 ? std::array<std::uint8_t, 4>{'6', 'G', 'C', 'Y'}
                                    : std::array<std::uint8_t, 4>{'0', '1', 'G', 'Y'};
}

// Thrown by the high-quality decoder for every malformed payload; what() is
// the readable reason (no frame context: the caller adds that).
class HQDecodeError : public MalformedInput {
public:
    explicit HQDecodeError(const std::string& description) : MalformedInput(description) {}
    std::string description() const { return what(); }
};

// Appends the four bytes of value, least significant first.
inline void appendLE32(Bytes& out, std::uint32_t value) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    storeLE32(out.data() + at, value);
}

// REQUIRES: index + 4 <= bytes.size().
inline std::uint32_t readLE32(ByteSpan bytes, std::size_t index) { return loadLE32(bytes.data() + index); }

}  // namespace fw::DXV

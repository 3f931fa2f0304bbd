#pragma once
// The Hap frame container: one video sample of a Hap movie.
//
// Byte layout (integers little-endian):
//   Section      u24 body length, u8 type, body. A length of 0 in all three
//                bytes marks the long form: u24 0, u8 type, u32 body length,
//                body.
//   Frame        one top-level section; bytes after it are ignored. Its type's
//                high nibble names the second-stage compressor (0xA none: the
//                body is the texture; 0xB one Snappy raw-format stream; 0xC a
//                complex, chunked body), its low nibble the texture format
//                (0xB DXT1, 0xE DXT5, 0xF scaled-YCoCg DXT5).
//   Complex body a decode-instructions container section (type 0x01) whose
//                body holds sections: 0x02 one compressor byte per chunk (0x0A
//                none, 0x0B Snappy), 0x03 one u32 chunk size per chunk, 0x04
//                (optional) one u32 chunk offset per chunk counted from the
//                end of the container; other types are skipped. The chunks
//                follow; without offsets they lie back to back. The texture is
//                the chunks' outputs concatenated in table order.
//   Snappy       varint (at most 5 bytes) output length, then elements: a tag
//                whose low 2 bits give literal (0), copy with 1-, 2- or 4-byte
//                offset (1, 2, 3).

#include <cstddef>
#include <cstdint>

namespace fw::Hap {

// Texture format codes (low nibble of the top-level section type).
inline constexpr std::uint8_t kFormatDXT1 = 0x0B;
inline constexpr std::uint8_t kFormatDXT5 = 0x0E;
inline constexpr std::uint8_t kFormatScaledYCoCgDXT5 = 0x0F;

// Second-stage compressors: high nibble of the top-level type, or one byte per
// chunk in the compressor table.
inline constexpr std::uint8_t kCompressorNone = 0xA0;
inline constexpr std::uint8_t kCompressorSnappy = 0xB0;
inline constexpr std::uint8_t kCompressorComplex = 0xC0;
inline constexpr std::uint8_t kChunkCompressorNone = 0x0A;
inline constexpr std::uint8_t kChunkCompressorSnappy = 0x0B;

// Section types inside a complex body.
inline constexpr std::uint8_t kSectionDecodeInstructions = 0x01;
inline constexpr std::uint8_t kSectionChunkCompressors = 0x02;
inline constexpr std::uint8_t kSectionChunkSizes = 0x03;
inline constexpr std::uint8_t kSectionChunkOffsets = 0x04;

// Bodies of 2^24 bytes or more (and empty ones) use the long form.
inline constexpr std::size_t kShortSectionLimit = std::size_t{1} << 24;
inline constexpr std::size_t kShortHeaderBytes = 4;
inline constexpr std::size_t kLongHeaderBytes = 8;

}  // namespace fw::Hap

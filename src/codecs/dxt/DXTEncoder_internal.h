#pragma once
// Block-level entry points of the DXT encoder, exposed for tests that hold the
// vector and portable paths to the same output.

#include <cstdint>

#include "codecs/VectorUnit.h"
#include "codecs/dxt/DXTFormat.h"

namespace fw::DXTEncoder {

// One worker's scratch memory: a gathered block for edge blocks, reused for
// every block of a row. Owned by one block-row work item, never shared.
struct Scratch {
    alignas(16) std::uint8_t pixels[64];  // 16 BGRA pixels in block order
    alignas(16) std::uint8_t values[16];  // 16 single-channel values
};

namespace detail {

// pixels: 16 BGRA pixels in block order; writes blockBytes(kind) bytes, with
// the widest unit or the one given (REQUIRES: no wider than widestVectorUnit()).
void encodeBlock(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination);
void encodeBlock(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination, VectorUnit unit);
// Two blocks side by side as an image row encodes them: pixels holds the
// first block's 16 pixels then the second's; writes both blocks in turn.
void encodeBlockPair(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination, VectorUnit unit);
// values: 16 bytes in block order; writes one 8-byte BC4 block with the unit
// given (REQUIRES: no wider than widestVectorUnit()).
void encodeBC4Block(const std::uint8_t* values, std::uint8_t* destination, VectorUnit unit);

// The portable forms of the two above (used where no vector unit is available).
void encodeBlockPortable(const std::uint8_t* pixels, Kind kind, std::uint8_t* destination);
void encodeBC4BlockPortable(const std::uint8_t* values, std::uint8_t* destination);

}  // namespace detail
}  // namespace fw::DXTEncoder

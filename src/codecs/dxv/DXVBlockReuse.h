#pragma once
// The block-reuse coders of version-1 (DXV3) DXT1 and DXT5 frames. They replace
// blocks, half blocks and single 32-bit words that occurred earlier in the
// texture by short back-references, driven by 2-bit operation codes packed
// sixteen to a control word. FORMAT.md beside this file gives the stream layout.
//
// Thread-safety: pure functions; each thread keeps its own match tables between
// calls. Any number of calls may run at once.

#include <cstddef>

#include "codecs/dxv/DXVFormat.h"

namespace fw::DXV {

// REQUIRES: texture.size() >= 8 and a multiple of 8 (DXT1 blocks).
// Deterministic; never fails.
Bytes compressDXT1(ByteSpan texture);

// REQUIRES: texture.size() >= 16 and a multiple of 16 (DXT5 blocks).
// Deterministic; never fails.
Bytes compressDXT5(ByteSpan texture);

// Inverses of the above. The result is exactly textureSize bytes. Throws
// MalformedInput when textureSize is below one block or not a multiple of it,
// the payload is shorter than the raw first block, a control word, operand or
// literal is cut off, or a copy reaches before the start of the texture. Input
// left over once the texture is full is ignored. Never reads outside the
// payload.
Bytes decompressDXT1(ByteSpan payload, std::size_t textureSize);
Bytes decompressDXT5(ByteSpan payload, std::size_t textureSize);

}  // namespace fw::DXV

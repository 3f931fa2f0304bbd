#pragma once
// Writes one DXT1/DXT5 DXV frame (header + payload) from a DXT texture.
// High-quality frames have their own writer (DXVHighQuality.h).
//
// Thread-safety: pure function; may run on any number of threads at once.

#include "codecs/dxv/DXVFormat.h"

namespace fw::DXV {

// dxv2: the 4-byte header (type bits | LZF payload size) and the LZF stream of
// the texture, coded whatever its size. dxv3: the 12-byte header and the
// block-reuse-coded payload when the texture is a whole, non-zero number of
// blocks, else the texture itself with the raw flag set.
// Throws std::length_error when the payload does not fit the header's size
// field (over 0xFFFFFF bytes for dxv2, 2^32 or more for dxv3); nothing else
// fails.
Bytes frame(ByteSpan texture, Version version, TextureFormat format);

}  // namespace fw::DXV

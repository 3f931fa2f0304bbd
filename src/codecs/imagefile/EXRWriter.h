#pragma once
// One picture as a complete OpenEXR file: single part, scan lines,
// uncompressed, half-float B, G and R channels, no alpha. Layout:
// ImageFileFormats.md beside this file.
//
// OpenEXR holds linear light. The raster's values are gamma-encoded (sRGB
// transfer), so each is decoded to linear before it is rounded to a half
// (nearest, ties to even): 0 gives 0.0, 255 gives 1.0, 128 gives 0.2158.
//
// Thread-safety: pure function.

#include "codecs/imagefile/BGRARaster.h"

#include <cstdint>
#include <vector>

namespace fw::EXRWriter {

// The file's bytes: 313 + 8 × height + height × (8 + 6 × width). Alpha is
// multiplied into the linear values.
// Throws std::invalid_argument for a raster checkRaster() refuses.
std::vector<std::uint8_t> data(const imagefile::BGRARaster& raster);

}  // namespace fw::EXRWriter

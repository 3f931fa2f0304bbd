#pragma once
// One picture as a complete DPX file: 10-bit RGB, one image element, pixels
// filled into 32-bit words (method A), big-endian, no alpha. Layout:
// ImageFileFormats.md beside this file.
//
// Thread-safety: pure function.

#include "codecs/imagefile/BGRARaster.h"

#include <cstdint>
#include <vector>

namespace fw::DPXWriter {

// The file's bytes: 2048 + 4 × width × height. Each 8-bit channel, multiplied
// by alpha, is widened to 10 bits by bit replication ((c << 2) | (c >> 6)); the
// values stay as encoded (no transfer conversion).
// Throws std::invalid_argument for a raster checkRaster() refuses.
std::vector<std::uint8_t> data(const imagefile::BGRARaster& raster);

}  // namespace fw::DPXWriter

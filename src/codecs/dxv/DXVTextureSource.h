#pragma once
// DXV frames back to pixels: the byte-level half of reading DXV source movies
// for re-encoding (the Hap half is codecs/hap/TextureSource.h).
//
// Headers read (the frame's own tag decides, whatever the track's codec type):
//   "DXT1"/"DXT5" (12 bytes)  byte 6 non-zero: raw texture, else block-reuse coded
//   "YCG6"/"YG10" (12 bytes)  high-quality YCoCg frame, YG10 with alpha; planes
//                             16-aligned, or else luma rounded down to multiples
//                             of 4 (the 0-3 uncoded edge rows and columns then
//                             repeat the last coded ones)
//   anything else (4 bytes)   byte 3: bit 6 DXT5 (else DXT1), bit 7 raw (else LZF)
//
// Thread-safety: pure function; may run concurrently on distinct destinations.

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/hap/TextureSource.h"

namespace fw::TextureSource {

// Decodes one DXV frame into width x height BGRA pixels at destination (rows
// bytesPerRow apart). Returns true only when every pixel of the picture was
// written. Returns false for a frame too short for its header, a payload that
// no decoder accepts, a texture too short to cover the picture, a side outside
// 1 ... kMaximumSide, or memory running out (this is where the codecs'
// exceptions end); the
// destination's content is then unspecified and must not be shown.
// REQUIRES: destination holds height rows of bytesPerRow >= 4 * width bytes.
bool decodeDXVFrame(std::span<const std::uint8_t> frame, int width, int height, std::uint8_t* destination,
                    std::size_t bytesPerRow);

}  // namespace fw::TextureSource

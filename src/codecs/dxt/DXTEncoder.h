#pragma once
// Fast bounding-box DXT compression of 8-bit BGRA images and single-channel
// planes. Each block takes its endpoints from the per-channel extremes of its
// 16 pixels and gives every pixel the nearest palette entry (squared RGB
// distance, or absolute difference for BC4; ties to the lower index). Colour
// endpoints are the RGB565 codes that enclose the extremes, so the palette
// spans the block's values without a tint; a block of one colour takes, per
// channel, codes whose one-third entry comes nearest it. There is no
// refinement, so the output is fully determined by the input, bit for bit,
// whichever vector unit (SSE2, or AVX2 where the processor has it) did the work.
// Block layouts: DXTFormat.h.
//
// Blocks that stick out of the image repeat its last column and row.
//
// Thread-safety: all functions are pure and may run concurrently. Each call
// compresses its block rows in parallel (oneTBB; safe to call from inside other
// TBB work) and returns when every row is written. The source must stay
// unchanged for the duration of the call.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codecs/dxt/DXTFormat.h"

namespace fw::DXTEncoder {

// Compresses a BGRA image (bytes B, G, R, A per pixel) into a texture of
// BlockGrid::covering(width, height, alignment).blockCount() * blockBytes(kind)
// bytes. A width or height of 0 gives an empty texture.
// REQUIRES: alignment is a positive multiple of 4 (else std::invalid_argument
// is thrown); when width and height are
// positive, source points to height rows of bytesPerRow bytes, each holding at
// least width * 4 bytes.
std::vector<std::uint8_t> encode(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, Kind kind,
                                 int alignment);
// The size of that texture, and the same texture written into place.
// REQUIRES: as for encode; texture.size() == textureBytes(width, height, kind,
// alignment) (else std::invalid_argument is thrown).
std::size_t textureBytes(int width, int height, Kind kind, int alignment);
void encodeInto(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, Kind kind, int alignment,
                std::span<std::uint8_t> texture);

using BC4Block = std::array<std::uint8_t, 8>;

// Compresses an 8-bit plane (stride bytes per row) into BC4 blocks, one per 4x4
// block of the grid at the alignment, in row-major block order.
// REQUIRES: as for encode, with one byte per pixel.
std::vector<BC4Block> encodeBC4PlaneBlocks(const std::uint8_t* plane, std::size_t stride, int width, int height,
                                           int alignment);

}  // namespace fw::DXTEncoder

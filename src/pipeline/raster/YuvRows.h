#pragma once
// Conversions between 'x420' buffers (10-bit 4:2:0 video range, in the
// buffer's own YCbCr matrix, chroma sited left-aligned horizontally and between rows vertically) and
// four-channel B, G, R, A rows. Ten bits survive both ways through 16-bit rows.
// Thread-safety: stateless functions.

#include "platform/media/PixelBuffer.h"

#include <cstdint>

namespace fw::raster {

// Pixels [x0, x1) of luma row y as opaque B, G, R, A; pixel x0 goes to out[0].
// REQUIRES: source.format() == x420, 0 <= x0 < x1 <= width, 0 <= y < height.
void x420RowToBgra(const media::PixelBuffer& source, int y, int x0, int x1, std::uint16_t* out);
void x420RowToBgra(const media::PixelBuffer& source, int y, int x0, int x1, std::uint8_t* out);

// How a picture is turned plane by plane, each plane within its own sides:
// turned x follows stored y when the sides swap (else stored x), turned y the
// other axis, each counting down along it when reversed.
struct PlaneTurn {
    bool swapsSides = false;
    bool reversesX = false;
    bool reversesY = false;
};

// As above, but each pixel gets the colour it has in `source` turned by
// `turn`: the chroma rows and columns it blends are picked in the turned
// chroma plane. Pixels stay in stored order (out[0] is stored pixel x0).
void x420RowToBgra(const media::PixelBuffer& source, const PlaneTurn& turn, int y, int x0, int x1, std::uint16_t* out);
void x420RowToBgra(const media::PixelBuffer& source, const PlaneTurn& turn, int y, int x0, int x1, std::uint8_t* out);

// One row of full-resolution Y, Cb and Cr samples in the same 16-bit scale as
// x420's words (code · 64) to opaque B, G, R, A pixels.
void yuvRowToBgra(media::YCbCrMatrix matrix, const std::uint16_t* luma, const std::uint16_t* cb,
                  const std::uint16_t* cr, int count, std::uint16_t* out);
void yuvRowToBgra(media::YCbCrMatrix matrix, const std::uint16_t* luma, const std::uint16_t* cb,
                  const std::uint16_t* cr, int count, std::uint8_t* out);

// Writes a whole x420 buffer, in its own matrix, from 16-bit B, G, R, A rows
// of its size (alpha is dropped); stride counts elements between rows.
// REQUIRES: destination.format() == x420.
void bgraToX420(const std::uint16_t* pixels, std::ptrdiff_t stride, media::PixelBuffer& destination);

}  // namespace fw::raster

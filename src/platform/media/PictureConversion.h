#pragma once
// Conversions between the YCbCr layouts decoders and encoders use and the
// pipeline's pictures (bgra8, x420, i420, x422). Every value is worked out in floating
// point and rounded once, to nearest with ties to even, so that a round trip
// through them moves no mean: a grey stays the grey it was. The exception is
// the commonest decode, 8-bit planar 4:2:0 or 4:2:2 without alpha to bgra8,
// worked out in integers that agree with the float path within one code.
// Untouched 8-bit 4:2:0 on its way to 10-bit 4:2:2 (ProRes 422) is widened in
// one pass with the float path's own operations, to the same values.
//
// Chroma siting: 4:2:x chroma sits on the even columns; 4:2:0 chroma sits
// between its two rows. Subsampling takes [1 2 1] across and the mean of the
// two rows; upsampling blends neighbours 1:1 across and 3:1 down, except that
// YCbCr made from 4:2:0 takes its rows as the ffmpeg converter does (bicubic).
// Thread-safety: stateless; each call spreads its rows over worker threads.

#include "platform/media/ColorTags.h"
#include "platform/media/PixelBuffer.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace fw::media {

// One picture's planes as a decoder fills them or an encoder reads them.
struct YCbCrPlanes {
    int width = 0;
    int height = 0;
    int bitDepth = 8;                // 8: a byte a sample; 9…16: little-endian 16-bit words
    int chromaShiftX = 1;            // log2 of the subsampling across (0 or 1)
    int chromaShiftY = 1;            // and down
    bool interleavedChroma = false;  // plane 1 holds Cb, Cr pairs; plane 2 unused
    bool highBitsAligned = false;    // words hold the value in their top bits (P010)
    bool fullRange = false;
    std::array<std::uint8_t*, 4> planes{};  // Y, Cb, Cr, alpha (null: none)
    std::array<std::ptrdiff_t, 4> strides{};
};

// A view of an x420, i420 or x422 buffer's planes, in the buffer's range.
// REQUIRES: one of those formats.
YCbCrPlanes planesOf(PixelBuffer& buffer);

// Same size in both; a destination is video range. A destination alpha plane
// is made opaque (convertPlanes) or taken from the pixels (convertFromBgra);
// a source alpha plane becomes the pixels' alpha. Without a destination alpha
// plane, convertFromBgra composites translucent pixels over black.
// REQUIRES: equal sides, bgra8 buffers where named.
void convertPlanes(const YCbCrPlanes& source, const YCbCrPlanes& destination);
// As above, the colours re-expressed from one matrix in another through RGB
// (unclamped, so nothing outside RGB is lost). Equal or unconvertible
// matrices leave the values as they are.
void convertPlanes(const YCbCrPlanes& source, YCbCrMatrix from, const YCbCrPlanes& destination, YCbCrMatrix to);
void convertToBgra(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination);
void convertFromBgra(const PixelBuffer& source, YCbCrMatrix matrix, const YCbCrPlanes& destination);

// A bgra8 picture as shown over black, for outputs that keep no alpha: the
// picture itself when it is opaque (at once when it is known to be) or not
// bgra8, else a new opaque buffer with each colour times its alpha (rounded);
// null when no buffer can be had.
PixelBufferRef composedOverBlack(const PixelBufferRef& picture);

}  // namespace fw::media

#pragma once
// The picture the DPX and OpenEXR writers read, and the sizes they accept.
//
// Both writers store R, G and B only. Alpha is straight in the raster and is
// multiplied in as the picture is written (a transparent pixel is stored as
// black), so the file shows the picture composited over black.
//
// Thread-safety: plain values and pure functions.

#include <cstddef>
#include <cstdint>

namespace fw::imagefile {

// width × height pixels of 4 bytes in the order B, G, R, A (straight alpha),
// row 0 at the top, rows `rowBytes` apart. Borrowed: the caller keeps the
// bytes alive and unchanged while a writer runs.
struct BGRARaster {
    const std::uint8_t* pixels = nullptr;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t rowBytes = 0;
};

// The largest picture either writer takes: sides up to the pixel buffers'
// limit and at most 2^28 pixels, which keeps the DPX file under its 32-bit
// size field and both files' bytes well inside what a size_t counts.
inline constexpr std::int64_t kMaxSide = 32768;
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;

// Throws std::invalid_argument, naming `format` and the size, when the raster
// cannot be written: no pixels, a side below 1 or above kMaxSide, more than
// kMaxPixels pixels, or rows shorter than 4 × width bytes.
void checkRaster(const BGRARaster& raster, const char* format);

}  // namespace fw::imagefile

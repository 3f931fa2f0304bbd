#pragma once
// Generated bgra8 pictures for the media and pipeline tests.

#include "platform/media/PixelBuffer.h"

#include <cstdint>

namespace fw::test {

// A width × height picture of one colour, given in BGRA byte order.
inline media::PixelBufferRef solidPicture(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r,
                                          std::uint8_t a = 255) {
    auto picture = media::PixelBuffer::create(width, height, media::PixelFormat::bgra8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture->row(y) + 4 * x;
            p[0] = b, p[1] = g, p[2] = r, p[3] = a;
        }
    return picture;
}

}  // namespace fw::test

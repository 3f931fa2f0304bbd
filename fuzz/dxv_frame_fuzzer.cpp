// Whole DXV frames (every header form) into pixels. The first four bytes pick
// the picture size (1..256 a side); the rest is the frame.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/dxv/DXVTextureSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || size > (1 << 20)) return 0;
    const int width = 1 + data[0] + (data[1] & 1) * 8;
    const int height = 1 + data[2];
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    fw::TextureSource::decodeDXVFrame({data + 4, size - 4}, width, height, pixels.data(),
                                      static_cast<std::size_t>(width) * 4);
    return 0;
}

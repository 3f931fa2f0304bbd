// Hap frames from hostile bytes: the reader and the frame-to-pixels path.
// Input: 2 bytes picking the picture size (1 ... 64 a side), then the frame.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/hap/HapDecoder.h"
#include "codecs/hap/TextureSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    const int width = 1 + data[0] % 64, height = 1 + data[1] % 64;
    const std::span<const std::uint8_t> frame(data + 2, size - 2);

    try {
        const auto decoded = fw::HapDecoder::decodeFrame(frame, std::size_t{1} << 24);
        if (decoded.texture.size() > (std::size_t{1} << 24)) std::abort();
    } catch (const fw::HapDecoder::DecodeError&) {}

    // Exactly sized rows, so that a write past the picture is caught.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    fw::TextureSource::decodeHapFrame(frame, width, height, pixels.data(), static_cast<std::size_t>(width) * 4);
    return 0;
}

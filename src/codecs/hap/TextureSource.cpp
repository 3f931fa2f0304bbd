#include "codecs/hap/TextureSource.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "codecs/dxt/DXTDecoder.h"
#include "codecs/hap/HapDecoder.h"
#include "codecs/hap/HapFormat.h"

namespace fw::TextureSource {

bool decodeHapFrame(std::span<const std::uint8_t> frame, int width, int height, std::uint8_t* destination,
                    std::size_t bytesPerRow) {
    if (width <= 0 || height <= 0 || width > kMaximumSide || height > kMaximumSide) return false;
    const auto textureWidth = DXTEncoder::roundUp(width, 4);
    const auto textureHeight = DXTEncoder::roundUp(height, 4);
    // No format needs more than a byte per pixel of the padded grid; bounding
    // the texture there keeps hostile chunk tables from asking for more.
    const auto maxTextureBytes = static_cast<std::size_t>(DXTEncoder::roundUp(width, 16)) *
                                 static_cast<std::size_t>(DXTEncoder::roundUp(height, 16));
    std::vector<std::uint8_t> storage;
    const int w = static_cast<int>(textureWidth), h = static_cast<int>(textureHeight);
    try {
        const HapDecoder::FrameView view = HapDecoder::decodeFrame(frame, storage, maxTextureBytes);
        switch (view.formatCode) {
        case Hap::kFormatDXT1:
            DXTDecoder::decodeDXT1(view.texture, w, h, width, height, destination, bytesPerRow);
            return true;
        case Hap::kFormatDXT5:
            DXTDecoder::decodeDXT5(view.texture, w, h, width, height, destination, bytesPerRow);
            return true;
        case Hap::kFormatScaledYCoCgDXT5:
            DXTDecoder::decodeScaledYCoCgDXT5(view.texture, w, h, width, height, destination, bytesPerRow);
            return true;
        default: return false;
        }
    } catch (const MalformedInput&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

std::optional<std::pair<int, int>> gridFitting(std::size_t textureBytes, std::size_t blockBytes, int width,
                                               int height) {
    if (width <= 0 || height <= 0) return std::nullopt;
    for (int alignment : {16, 4}) {
        const auto w = DXTEncoder::roundUp(width, alignment), h = DXTEncoder::roundUp(height, alignment);
        const auto need = static_cast<std::uint64_t>(w / 4) * static_cast<std::uint64_t>(h / 4) * blockBytes;
        if (need <= textureBytes) return std::pair{static_cast<int>(w), static_cast<int>(h)};
    }
    return std::nullopt;
}

}  // namespace fw::TextureSource

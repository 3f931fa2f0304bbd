#include "codecs/hap/Hap.h"

#include <algorithm>
#include <stdexcept>

#include "codecs/ByteBuffer.h"

namespace fw::Hap {

std::vector<std::uint8_t> frame(std::span<const std::uint8_t> texture, std::uint8_t formatCode) {
    return frame(texture.size(), formatCode,
                 [texture](std::span<std::uint8_t> into) { std::copy(texture.begin(), texture.end(), into.begin()); });
}

std::vector<std::uint8_t> frame(std::size_t textureBytes, std::uint8_t formatCode,
                                const std::function<void(std::span<std::uint8_t>)>& writeTexture) {
    if (textureBytes > 0xFFFFFFFFu) throw std::length_error("Hap texture of 2^32 bytes or more");
    const auto type = static_cast<std::uint8_t>(formatCode | kCompressorNone);
    ByteWriter out(textureBytes + kLongHeaderBytes);
    if (textureBytes == 0 || textureBytes >= kShortSectionLimit) {
        out.appendU24LE(0);
        out.appendU8(type);
        out.appendU32LE(static_cast<std::uint32_t>(textureBytes));
    } else {
        out.appendU24LE(static_cast<std::uint32_t>(textureBytes));
        out.appendU8(type);
    }
    const std::size_t header = out.size();
    out.appendZeros(textureBytes);
    writeTexture(std::span(out.bytes()).subspan(header));
    return out.take();
}

}  // namespace fw::Hap

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
    std::vector<std::uint8_t> bytes;  // grown from empty, so the texture is handed zeroed
    frameInto(bytes, textureBytes, formatCode, writeTexture);
    return bytes;
}

void frameInto(std::vector<std::uint8_t>& into, std::size_t textureBytes, std::uint8_t formatCode,
               const std::function<void(std::span<std::uint8_t>)>& writeTexture) {
    if (textureBytes > 0xFFFFFFFFu) throw std::length_error("Hap texture of 2^32 bytes or more");
    const auto type = static_cast<std::uint8_t>(formatCode | kCompressorNone);
    ByteWriter header(kLongHeaderBytes);
    if (textureBytes == 0 || textureBytes >= kShortSectionLimit) {
        header.appendU24LE(0);
        header.appendU8(type);
        header.appendU32LE(static_cast<std::uint32_t>(textureBytes));
    } else {
        header.appendU24LE(static_cast<std::uint32_t>(textureBytes));
        header.appendU8(type);
    }
    const std::size_t headerBytes = header.size();
    // A buffer of the same size keeps its bytes: nothing is cleared that the texture overwrites.
    into.resize(headerBytes + textureBytes);
    std::copy(header.bytes().begin(), header.bytes().end(), into.begin());
    writeTexture(std::span(into).subspan(headerBytes));
}

}  // namespace fw::Hap

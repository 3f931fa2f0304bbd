#include "codecs/hap/Hap.h"

#include <stdexcept>

#include "codecs/ByteBuffer.h"

namespace fw::Hap {

std::vector<std::uint8_t> frame(std::span<const std::uint8_t> texture, std::uint8_t formatCode) {
    if (texture.size() > 0xFFFFFFFFu) throw std::length_error("Hap texture of 2^32 bytes or more");
    const auto type = static_cast<std::uint8_t>(formatCode | kCompressorNone);
    ByteWriter out(texture.size() + kLongHeaderBytes);
    if (texture.empty() || texture.size() >= kShortSectionLimit) {
        out.appendU24LE(0);
        out.appendU8(type);
        out.appendU32LE(static_cast<std::uint32_t>(texture.size()));
    } else {
        out.appendU24LE(static_cast<std::uint32_t>(texture.size()));
        out.appendU8(type);
    }
    out.appendBytes(texture);
    return out.take();
}

}  // namespace fw::Hap

// DXT1 block-reuse decompression; see DXVDXT1Encoder.cpp for the operations.

#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVBlockReuse_internal.h"

namespace fw::DXV {
namespace {

// Distance of a copy code (1..3) in elements, reading its operand.
bool copyDistance(detail::StreamReader& reader, unsigned code, std::size_t& distance) {
    std::size_t operand = 0;
    switch (code) {
    case 1: distance = 2; return true;
    case 2:
        if (!reader.byte(operand)) return false;
        distance = 2 * operand + 4;
        return true;
    default:
        if (!reader.le16(operand)) return false;
        distance = 2 * operand + 516;
        return true;
    }
}

}  // namespace

Bytes decompressDXT1(ByteSpan payload, std::size_t textureSize) {
    if (textureSize < 8 || textureSize % 8 != 0)
        throw MalformedInput("DXT1 texture size is not a whole number of blocks");
    if (payload.size() < 8) throw MalformedInput("block-reuse payload shorter than its first block");
    Bytes texture(textureSize);
    std::uint8_t* const out = texture.data();
    std::memcpy(out, payload.data(), 8);
    const std::size_t elementCount = textureSize / 4;

    detail::StreamReader reader(payload.subspan(8));
    for (std::size_t p = 2; p + 2 <= elementCount; p += 2) {
        unsigned code;
        if (!reader.code(code)) detail::failStream();
        if (code != 0) {
            std::size_t distance;
            if (!copyDistance(reader, code, distance) || !detail::copyElement(out, p, distance) ||
                !detail::copyElement(out, p + 1, distance))
                detail::failStream();
            continue;
        }
        for (std::size_t q = p; q < p + 2; ++q) {
            unsigned elementCode;
            if (!reader.code(elementCode)) detail::failStream();
            if (elementCode == 0) {
                std::uint32_t literal;
                if (!reader.element(literal)) detail::failStream();
                detail::storeElement(out, q, literal);
            } else {
                std::size_t distance;
                if (!copyDistance(reader, elementCode, distance) || !detail::copyElement(out, q, distance))
                    detail::failStream();
            }
        }
    }
    return texture;
}

}  // namespace fw::DXV

// DXT5 block-reuse decompression; see DXVDXT5Encoder.cpp for the operations.

#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVBlockReuse_internal.h"

namespace fw::DXV {
namespace {

// Distance of a colour-step or element code (1..3), reading its operand.
bool colourDistance(detail::StreamReader& reader, unsigned code, std::size_t& distance) {
    std::size_t operand = 0;
    switch (code) {
    case 1: distance = 4; return true;
    case 2:
        if (!reader.byte(operand)) return false;
        distance = 4 * operand + 8;
        return true;
    default:
        if (!reader.le16(operand)) return false;
        distance = 4 * operand + 1032;
        return true;
    }
}

bool copyElements(std::uint8_t* out, std::size_t first, std::size_t count, std::size_t distance) {
    for (std::size_t q = first; q < first + count; ++q)
        if (!detail::copyElement(out, q, distance)) return false;
    return true;
}

}  // namespace

Bytes decompressDXT5(ByteSpan payload, std::size_t textureSize) {
    if (textureSize < 16 || textureSize % 16 != 0)
        throw MalformedInput("DXT5 texture size is not a whole number of blocks");
    if (payload.size() < 16) throw MalformedInput("block-reuse payload shorter than its first block");
    Bytes texture(textureSize);
    std::uint8_t* const out = texture.data();
    std::memcpy(out, payload.data(), 16);
    const std::size_t elementCount = textureSize / 4;

    detail::StreamReader reader(payload.subspan(16));
    std::size_t run = 0;
    std::size_t p = 4;
    while (p + 2 <= elementCount) {
        if (run > 0) {
            --run;
            copyElements(out, p, 2, 4);
        } else {
            unsigned code;
            if (!reader.code(code)) detail::failStream();
            std::size_t operand = 0;
            switch (code) {
            case 3:
                for (std::size_t q = p; q < p + 2; ++q) {
                    std::uint32_t literal;
                    if (!reader.element(literal)) detail::failStream();
                    detail::storeElement(out, q, literal);
                }
                break;
            case 2:
                if (!reader.le16(operand) || !copyElements(out, p, 2, 4 * operand + 8)) detail::failStream();
                break;
            case 1:
                if (!reader.byte(operand)) detail::failStream();
                if (operand == 255 && !reader.longCount(255, operand)) detail::failStream();
                run = operand;
                copyElements(out, p, 2, 4);
                break;
            default: {
                if (!reader.byte(operand)) detail::failStream();
                std::size_t blocks = operand + 1;
                if (operand == 255 && !reader.longCount(256, blocks)) detail::failStream();
                // The excess of a count past the end of the texture is dropped.
                for (; blocks > 0 && p + 4 <= elementCount; --blocks, p += 4) copyElements(out, p, 4, 4);
                continue;
            }
            }
        }

        unsigned code;
        if (!reader.code(code)) detail::failStream();
        if (code != 0) {
            std::size_t distance;
            if (!colourDistance(reader, code, distance) || !copyElements(out, p + 2, 2, distance)) detail::failStream();
        } else {
            for (std::size_t q = p + 2; q < p + 4; ++q) {
                unsigned elementCode;
                if (!reader.code(elementCode)) detail::failStream();
                if (elementCode == 0) {
                    std::uint32_t literal;
                    if (!reader.element(literal)) detail::failStream();
                    detail::storeElement(out, q, literal);
                } else {
                    std::size_t distance;
                    if (!colourDistance(reader, elementCode, distance) || !detail::copyElement(out, q, distance))
                        detail::failStream();
                }
            }
        }
        p += 4;
    }
    return texture;
}

}  // namespace fw::DXV

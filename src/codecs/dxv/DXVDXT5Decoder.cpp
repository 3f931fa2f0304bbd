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

std::optional<Bytes> decompressDXT5(ByteSpan payload, std::size_t textureSize) {
    if (textureSize < 16 || textureSize % 16 != 0 || payload.size() < 16) return std::nullopt;
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
            if (!reader.code(code)) return std::nullopt;
            std::size_t operand = 0;
            switch (code) {
            case 3:
                for (std::size_t q = p; q < p + 2; ++q) {
                    std::uint32_t literal;
                    if (!reader.element(literal)) return std::nullopt;
                    detail::storeElement(out, q, literal);
                }
                break;
            case 2:
                if (!reader.le16(operand) || !copyElements(out, p, 2, 4 * operand + 8)) return std::nullopt;
                break;
            case 1:
                if (!reader.byte(operand)) return std::nullopt;
                if (operand == 255 && !reader.longCount(255, operand)) return std::nullopt;
                run = operand;
                copyElements(out, p, 2, 4);
                break;
            default: {
                if (!reader.byte(operand)) return std::nullopt;
                std::size_t blocks = operand + 1;
                if (operand == 255 && !reader.longCount(256, blocks)) return std::nullopt;
                // The excess of a count past the end of the texture is dropped.
                for (; blocks > 0 && p + 4 <= elementCount; --blocks, p += 4) copyElements(out, p, 4, 4);
                continue;
            }
            }
        }

        unsigned code;
        if (!reader.code(code)) return std::nullopt;
        if (code != 0) {
            std::size_t distance;
            if (!colourDistance(reader, code, distance) || !copyElements(out, p + 2, 2, distance)) return std::nullopt;
        } else {
            for (std::size_t q = p + 2; q < p + 4; ++q) {
                unsigned elementCode;
                if (!reader.code(elementCode)) return std::nullopt;
                if (elementCode == 0) {
                    std::uint32_t literal;
                    if (!reader.element(literal)) return std::nullopt;
                    detail::storeElement(out, q, literal);
                } else {
                    std::size_t distance;
                    if (!colourDistance(reader, elementCode, distance) || !detail::copyElement(out, q, distance))
                        return std::nullopt;
                }
            }
        }
        p += 4;
    }
    return texture;
}

}  // namespace fw::DXV

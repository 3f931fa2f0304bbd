#include "codecs/dxv/DXVFrame.h"

#include <stdexcept>

#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVLZF.h"

namespace fw::DXV {

Bytes frame(ByteSpan texture, Version version, TextureFormat format) {
    if (version == Version::dxv2) {
        const Bytes payload = compressLZF(texture);
        // The size lives in the low 24 bits; a larger payload would corrupt the type byte.
        if (payload.size() > 0xFFFFFF) throw std::length_error("dxv2 LZF payload over 0xFFFFFF bytes");
        Bytes out;
        out.reserve(payload.size() + 4);
        appendLE32(out, typeBits(format) | static_cast<std::uint32_t>(payload.size()));
        out.insert(out.end(), payload.begin(), payload.end());
        return out;
    }

    const std::size_t blockSize = blockBytes(format);
    const bool coded = texture.size() >= blockSize && texture.size() % blockSize == 0;
    Bytes coding;
    if (coded) coding = format == TextureFormat::dxt1 ? compressDXT1(texture) : compressDXT5(texture);
    const ByteSpan payload = coded ? ByteSpan(coding) : texture;
    if (payload.size() > 0xFFFFFFFFu) throw std::length_error("dxv3 payload of 2^32 bytes or more");

    Bytes out;
    out.reserve(texture.size() + 12 + texture.size() / 32);
    const auto tag = tagBytes(format);
    out.insert(out.end(), tag.begin(), tag.end());
    out.push_back(0x04);
    out.push_back(0x00);
    out.push_back(coded ? 0x00 : 0x01);
    out.push_back(0x00);
    appendLE32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

}  // namespace fw::DXV

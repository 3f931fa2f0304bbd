// High-quality payloads through the decoder (first two bytes pick the coded
// size in 8-pixel steps and the alpha flag), and the rest as BC4 elements
// through hqFrame and back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/dxv/DXVHighQuality.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > (1 << 20)) return 0;
    using namespace fw::DXV;
    const int width = 8 * (1 + (data[0] & 63));
    const int height = 8 * (1 + (data[1] & 63));
    const HQFormat format = (data[1] & 128) != 0 ? HQFormat::yg10 : HQFormat::ycg6;
    const ByteSpan payload(data + 2, size - 2);
    try {
        const HQTextures textures = referenceDecodeHQ(payload, width, height, format);
        const std::size_t lumaBlocks = static_cast<std::size_t>(width / 4) * (height / 4);
        if (textures.tex.size() != lumaBlocks * (format == HQFormat::yg10 ? 16 : 8)) std::abort();
    } catch (const HQDecodeError&) {}

    // Round trip: a 16-wide frame whose element lists come from the payload
    // (elements repeat often, since the lists are short).
    const std::size_t rows = 2 * (1 + payload.size() / 160);
    auto list = [&](std::size_t count, std::size_t salt) {
        HQElements elements(count);
        for (std::size_t k = 0; k < count; ++k)
            for (std::size_t b = 0; b < 8; ++b)
                elements[k][b] = payload.empty() ? 0 : payload[(k * 3 + b / 4 + salt) % payload.size()];
        return elements;
    };
    const HQElements luma = list(4 * rows, 0), alpha = list(4 * rows, 1), co = list(rows, 2), cg = list(rows, 5);
    const Bytes frame = hqFrame(luma, alpha, co, cg, HQFormat::yg10);
    const HQTextures back =
        referenceDecodeHQ(ByteSpan(frame).subspan(12), 16, static_cast<int>(4 * rows), HQFormat::yg10);
    for (std::size_t k = 0; k < luma.size(); ++k)
        if (std::memcmp(back.tex.data() + 16 * k, luma[k].data(), 8) != 0 ||
            std::memcmp(back.tex.data() + 16 * k + 8, alpha[k].data(), 8) != 0)
            std::abort();
    for (std::size_t k = 0; k < co.size(); ++k)
        if (std::memcmp(back.ctex.data() + 16 * k, co[k].data(), 8) != 0 ||
            std::memcmp(back.ctex.data() + 16 * k + 8, cg[k].data(), 8) != 0)
            std::abort();
    return 0;
}

// Block-reuse coders: foreign payloads through both decompressors (first two
// bytes pick the texture size), and the input as a texture through each
// compressor and back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codecs/dxv/DXVBlockReuse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > (1 << 20)) return 0;
    const std::size_t blocks = 1 + (data[0] | data[1] << 8);
    const fw::DXV::ByteSpan payload(data + 2, size - 2);
    for (const std::size_t blockBytes : {8u, 16u}) {
        try {
            const auto texture = blockBytes == 8 ? fw::DXV::decompressDXT1(payload, blocks * 8)
                                                 : fw::DXV::decompressDXT5(payload, blocks * 16);
            if (texture.size() != blocks * blockBytes) std::abort();
        } catch (const fw::MalformedInput&) {}
    }

    const std::size_t dxt1 = size / 8 * 8;
    if (dxt1 >= 8) {
        const fw::DXV::ByteSpan texture(data, dxt1);
        const auto back = fw::DXV::decompressDXT1(fw::DXV::compressDXT1(texture), dxt1);
        if (!std::equal(back.begin(), back.end(), texture.begin())) std::abort();
    }
    const std::size_t dxt5 = size / 16 * 16;
    if (dxt5 >= 16) {
        const fw::DXV::ByteSpan texture(data, dxt5);
        const auto back = fw::DXV::decompressDXT5(fw::DXV::compressDXT5(texture), dxt5);
        if (!std::equal(back.begin(), back.end(), texture.begin())) std::abort();
    }
    return 0;
}

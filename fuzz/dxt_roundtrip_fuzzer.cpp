// DXT encode and decode of arbitrary pictures: every kind at both alignments,
// sizes as the grid says, the vector block path equal to the portable one, and
// decoding back without touching memory outside the picture.
// Input: 2 bytes picking the size (1 ... 32 a side), then pixels (repeated).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/dxt/DXTDecoder.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxt/DXTEncoder_internal.h"

using fw::DXTEncoder::Kind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > 8192) return 0;
    const int width = 1 + data[0] % 32, height = 1 + data[1] % 32;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> picture(stride * height);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = data[2 + i % (size - 2)];

    for (Kind kind : {Kind::dxt1, Kind::dxt5, Kind::ycocg}) {
        for (int alignment : {4, 16}) {
            const auto grid = fw::DXTEncoder::BlockGrid::covering(width, height, alignment);
            const auto texture = fw::DXTEncoder::encode(picture.data(), stride, width, height, kind, alignment);
            if (texture.size() != static_cast<std::size_t>(grid.blockCount()) * fw::DXTEncoder::blockBytes(kind))
                std::abort();
            std::vector<std::uint8_t> out(picture.size());
            const int tw = static_cast<int>(grid.columns * 4), th = static_cast<int>(grid.rows * 4);
            // A throw here is a failure too: the encoder's own texture must decode.
            switch (kind) {
            case Kind::dxt1: fw::DXTDecoder::decodeDXT1(texture, tw, th, width, height, out.data(), stride); break;
            case Kind::dxt5: fw::DXTDecoder::decodeDXT5(texture, tw, th, width, height, out.data(), stride); break;
            case Kind::ycocg:
                fw::DXTDecoder::decodeScaledYCoCgDXT5(texture, tw, th, width, height, out.data(), stride);
                break;
            }
        }
    }

    // The first 64 input bytes as one block through both block paths.
    alignas(16) std::uint8_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = data[2 + i % (size - 2)];
    for (Kind kind : {Kind::dxt1, Kind::dxt5, Kind::ycocg}) {
        std::uint8_t simd[16] = {}, portable[16] = {};
        fw::DXTEncoder::detail::encodeBlock(block, kind, simd);
        fw::DXTEncoder::detail::encodeBlockPortable(block, kind, portable);
        if (std::memcmp(simd, portable, 16) != 0) std::abort();
    }
    std::vector<std::uint8_t> plane(picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(width) * height);
    const auto blocks = fw::DXTEncoder::encodeBC4PlaneBlocks(plane.data(), width, width, height, 4);
    std::vector<std::uint8_t> bc4;
    for (const auto& b : blocks) bc4.insert(bc4.end(), b.begin(), b.end());
    const auto decoded = fw::DXTDecoder::decodeBC4Plane(bc4, width, height);
    if (decoded.size() != plane.size()) std::abort();
    return 0;
}

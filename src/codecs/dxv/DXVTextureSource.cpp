#include "codecs/dxv/DXVTextureSource.h"

#include <cstring>
#include <new>

#include "codecs/dxt/DXTDecoder.h"
#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVHighQuality.h"
#include "codecs/dxv/DXVLZF.h"
#include "codecs/hap/TextureSource.h"

namespace fw::TextureSource {
namespace {

using DXV::Bytes;
using DXV::ByteSpan;

constexpr std::uint32_t tag(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
           static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

std::uint64_t textureBytes(int width, int height, int alignment, std::size_t blockBytes) {
    return static_cast<std::uint64_t>(DXTEncoder::roundUp(width, alignment) / 4) *
           static_cast<std::uint64_t>(DXTEncoder::roundUp(height, alignment) / 4) * blockBytes;
}

void decodeTexture(ByteSpan texture, std::size_t blockBytes, int textureWidth, int textureHeight, int width, int height,
                   std::uint8_t* destination, std::size_t bytesPerRow) {
    if (blockBytes == 8)
        DXTDecoder::decodeDXT1(texture, textureWidth, textureHeight, width, height, destination, bytesPerRow);
    else
        DXTDecoder::decodeDXT5(texture, textureWidth, textureHeight, width, height, destination, bytesPerRow);
}

void decodeRawOrFitted(ByteSpan texture, std::size_t blockBytes, int width, int height, std::uint8_t* destination,
                       std::size_t bytesPerRow) {
    const auto grid = gridFitting(texture.size(), blockBytes, width, height);
    if (!grid) throw MalformedInput("DXV texture shorter than the picture");
    decodeTexture(texture, blockBytes, grid->first, grid->second, width, height, destination, bytesPerRow);
}

// Block-reuse payload: the decoded size is not stored, so try the grids the
// writers use (alignment 16, then 4) until one decodes. A frame on the smaller
// grid costs one caught exception, small beside decoding it.
void decodeBlockReuse(ByteSpan payload, std::size_t blockBytes, int width, int height, std::uint8_t* destination,
                      std::size_t bytesPerRow) {
    auto decompress = [&](int alignment) {
        const std::uint64_t size = textureBytes(width, height, alignment, blockBytes);
        return blockBytes == 8 ? DXV::decompressDXT1(payload, size) : DXV::decompressDXT5(payload, size);
    };
    int alignment = 16;
    Bytes texture;
    try {
        texture = decompress(alignment);
    } catch (const MalformedInput&) {
        alignment = 4;
        texture = decompress(alignment);
    }
    decodeTexture(texture, blockBytes, DXTEncoder::roundUp(width, alignment), DXTEncoder::roundUp(height, alignment),
                  width, height, destination, bytesPerRow);
}

// Splits interleaved 16-byte groups into their 8-byte halves.
void split(const Bytes& interleaved, Bytes& first, Bytes& second) {
    const std::size_t groups = interleaved.size() / 16;
    first.resize(8 * groups);
    second.resize(8 * groups);
    for (std::size_t k = 0; k < groups; ++k) {
        std::memcpy(first.data() + 8 * k, interleaved.data() + 16 * k, 8);
        std::memcpy(second.data() + 8 * k, interleaved.data() + 16 * k + 8, 8);
    }
}

// The visible width x height corner of a plane of the given stride.
Bytes crop(const Bytes& plane, std::size_t stride, int width, int height) {
    Bytes out(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::memcpy(out.data() + static_cast<std::size_t>(y) * width, plane.data() + y * stride, width);
    return out;
}

void decodeHighQuality(ByteSpan payload, DXV::HQFormat format, int width, int height, std::uint8_t* destination,
                       std::size_t bytesPerRow) {
    // Planes are coded at the 16-aligned size, so every pixel is covered.
    const DXV::HQPlaneSizes sizes = DXV::HQPlaneSizes::of(width, height);
    DXV::HQTextures textures = DXV::referenceDecodeHQ(payload, sizes.lumaWidth, sizes.lumaHeight, format);
    Bytes lumaBlocks, alphaBlocks, coBlocks, cgBlocks;
    if (format == DXV::HQFormat::yg10) {
        split(textures.tex, lumaBlocks, alphaBlocks);
    } else {
        lumaBlocks = std::move(textures.tex);
    }
    split(textures.ctex, coBlocks, cgBlocks);

    const auto luma = DXTDecoder::decodeBC4Plane(lumaBlocks, sizes.lumaWidth, sizes.lumaHeight);
    const auto co = DXTDecoder::decodeBC4Plane(coBlocks, sizes.chromaWidth, sizes.chromaHeight);
    const auto cg = DXTDecoder::decodeBC4Plane(cgBlocks, sizes.chromaWidth, sizes.chromaHeight);
    const std::size_t lumaStride = static_cast<std::size_t>(sizes.lumaWidth);
    Bytes alpha;
    if (format == DXV::HQFormat::yg10)
        alpha =
            crop(DXTDecoder::decodeBC4Plane(alphaBlocks, sizes.lumaWidth, sizes.lumaHeight), lumaStride, width, height);
    DXTDecoder::composeYCoCg420(crop(luma, lumaStride, width, height), alpha, co, cg, width, height, sizes.chromaWidth,
                                sizes.chromaHeight, destination, bytesPerRow);
}

// Writes the picture or throws MalformedInput.
void decodeFrame(std::span<const std::uint8_t> frame, int width, int height, std::uint8_t* destination,
                 std::size_t bytesPerRow) {
    if (frame.size() < 4) throw MalformedInput("DXV frame shorter than its header");
    switch (loadLE32(frame.data())) {
    case tag('D', 'X', 'T', '1'):
    case tag('D', 'X', 'T', '5'): {
        if (frame.size() < 12) throw MalformedInput("DXV frame shorter than its header");
        const std::size_t blockBytes = frame[0] == '1' ? 8 : 16;
        const ByteSpan payload = frame.subspan(12);
        if (frame[6] != 0) return decodeRawOrFitted(payload, blockBytes, width, height, destination, bytesPerRow);
        return decodeBlockReuse(payload, blockBytes, width, height, destination, bytesPerRow);
    }
    case tag('Y', 'C', 'G', '6'):
    case tag('Y', 'G', '1', '0'):
        if (frame.size() < 12) throw MalformedInput("DXV frame shorter than its header");
        return decodeHighQuality(frame.subspan(12), frame[0] == '0' ? DXV::HQFormat::yg10 : DXV::HQFormat::ycg6, width,
                                 height, destination, bytesPerRow);
    default: {
        const std::uint8_t flags = frame[3];
        const std::size_t blockBytes = (flags & 0x40) != 0 ? 16 : 8;
        const ByteSpan payload = frame.subspan(4);
        if ((flags & 0x80) != 0) return decodeRawOrFitted(payload, blockBytes, width, height, destination, bytesPerRow);
        // No more than the largest grid is ever used; the rest is only checked.
        const Bytes texture = DXV::decompressLZF(payload, textureBytes(width, height, 16, blockBytes));
        return decodeRawOrFitted(texture, blockBytes, width, height, destination, bytesPerRow);
    }
    }
}

}  // namespace

bool decodeDXVFrame(std::span<const std::uint8_t> frame, int width, int height, std::uint8_t* destination,
                    std::size_t bytesPerRow) {
    if (width < 1 || height < 1) return false;
    try {
        decodeFrame(frame, width, height, destination, bytesPerRow);
        return true;
    } catch (const MalformedInput&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace fw::TextureSource

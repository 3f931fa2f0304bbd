#include "codecs/dxv/DXVTextureSource.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

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

// The top-left width x height corner of a plane of the given stride.
Bytes crop(const Bytes& plane, std::size_t stride, int width, int height) {
    Bytes out(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::memcpy(out.data() + static_cast<std::size_t>(y) * width, plane.data() + y * stride, width);
    return out;
}

// Fills the picture right of column `coveredWidth` and below row
// `coveredHeight` from the last covered column and row.
void replicateEdges(int coveredWidth, int coveredHeight, int width, int height, std::uint8_t* destination,
                    std::size_t bytesPerRow) {
    for (int y = 0; y < coveredHeight; ++y) {
        std::uint8_t* row = destination + static_cast<std::size_t>(y) * bytesPerRow;
        for (int x = coveredWidth; x < width; ++x) std::memcpy(row + 4 * x, row + 4 * (coveredWidth - 1), 4);
    }
    const std::uint8_t* last = destination + static_cast<std::size_t>(coveredHeight - 1) * bytesPerRow;
    for (int y = coveredHeight; y < height; ++y)
        std::memcpy(destination + static_cast<std::size_t>(y) * bytesPerRow, last, 4 * static_cast<std::size_t>(width));
}

// The plane sizes a high-quality frame may be coded at. Ours (and the readers
// that expect 16-aligned planes) cover the picture; other writers round the
// luma down to multiples of 4 and the chroma to half that, leaving up to three
// edge rows and columns uncoded.
DXV::HQPlaneSizes roundedDownPlanes(int width, int height) {
    DXV::HQPlaneSizes sizes;
    sizes.lumaWidth = width / 4 * 4;
    sizes.lumaHeight = height / 4 * 4;
    sizes.chromaWidth = width / 8 * 4;
    sizes.chromaHeight = height / 8 * 4;
    return sizes;
}

void decodeHighQualityPlanes(ByteSpan payload, DXV::HQFormat format, const DXV::HQPlaneSizes& sizes, int width,
                             int height, std::uint8_t* destination, std::size_t bytesPerRow) {
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
    Bytes alpha;
    if (format == DXV::HQFormat::yg10)
        alpha = DXTDecoder::decodeBC4Plane(alphaBlocks, sizes.lumaWidth, sizes.lumaHeight);
    // Everything that can fail has; from here every pixel is written.
    const int coveredWidth = std::min(width, sizes.lumaWidth), coveredHeight = std::min(height, sizes.lumaHeight);
    const std::size_t lumaStride = static_cast<std::size_t>(sizes.lumaWidth);
    if (!alpha.empty()) alpha = crop(alpha, lumaStride, coveredWidth, coveredHeight);
    DXTDecoder::composeYCoCg420(crop(luma, lumaStride, coveredWidth, coveredHeight), alpha, co, cg, coveredWidth,
                                coveredHeight, sizes.chromaWidth, sizes.chromaHeight, destination, bytesPerRow);
    replicateEdges(coveredWidth, coveredHeight, width, height, destination, bytesPerRow);
}

// The 16-aligned planes first; a frame that does not decode on them is tried
// on the rounded-down planes (where these differ).
void decodeHighQuality(ByteSpan payload, DXV::HQFormat format, int width, int height, std::uint8_t* destination,
                       std::size_t bytesPerRow) {
    const DXV::HQPlaneSizes aligned = DXV::HQPlaneSizes::of(width, height);
    const DXV::HQPlaneSizes roundedDown = roundedDownPlanes(width, height);
    if (roundedDown.lumaWidth == aligned.lumaWidth && roundedDown.lumaHeight == aligned.lumaHeight)
        return decodeHighQualityPlanes(payload, format, aligned, width, height, destination, bytesPerRow);
    try {
        decodeHighQualityPlanes(payload, format, aligned, width, height, destination, bytesPerRow);
    } catch (const MalformedInput&) {
        decodeHighQualityPlanes(payload, format, roundedDown, width, height, destination, bytesPerRow);
    }
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
    if (width < 1 || height < 1 || width > kMaximumSide || height > kMaximumSide) return false;
    try {
        decodeFrame(frame, width, height, destination, bytesPerRow);
        return true;
    } catch (const MalformedInput&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

}  // namespace fw::TextureSource

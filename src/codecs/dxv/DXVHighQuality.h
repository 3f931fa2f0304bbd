#pragma once
// High-quality DXV frames: the picture as YCoCg planes (full-resolution luma
// and alpha, half-resolution Co and Cg), each compressed to 8-byte BC4 blocks
// ("elements"), and the element streams coded by a small reuse coder driven by
// per-plane operation lists. FORMAT.md beside this file gives the byte layout.
//
// Planes are coded at the frame size rounded up to multiples of 16 (edge
// pixels repeated), so that every source pixel is coded and readers that
// expect 16-aligned planes read the frames.
//
// Thread-safety: pure functions without shared state; any number of calls may
// run at once. hqCompressFrame fans its plane passes out over oneTBB and
// returns when they are done; everything else runs on the calling thread.

#include <cstdint>
#include <span>
#include <vector>

#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxv/DXVFormat.h"

namespace fw::DXV {

using HQElement = DXTEncoder::BC4Block;
using HQElements = std::vector<HQElement>;

// Coded plane sizes of a width x height frame.
struct HQPlaneSizes {
    int lumaWidth = 0;     // roundUp(width, 16)
    int lumaHeight = 0;    // roundUp(height, 16)
    int chromaWidth = 0;   // lumaWidth / 2
    int chromaHeight = 0;  // lumaHeight / 2
    static HQPlaneSizes of(int width, int height);
};

// Largest side hqCompressFrame accepts (keeps every size field within 32 bits).
constexpr int kHQMaximumSide = 32768;

// One BGRA frame (bytes B, G, R, A per pixel, rows bytesPerRow apart) into a
// complete high-quality frame: 12-byte header, luma (+ alpha) and chroma
// sections. yg10 carries the alpha plane, ycg6 does not.
// Throws std::invalid_argument when width or height is below 1 or above
// kHQMaximumSide.
// REQUIRES: source holds height rows of at least width * 4 bytes.
Bytes hqCompressFrame(const std::uint8_t* source, std::size_t bytesPerRow, int width, int height, HQFormat format);

// The frame from element lists. alpha is read only for yg10.
// REQUIRES: luma and co/cg non-empty, co.size() == cg.size(), and for yg10
// alpha.size() == luma.size().
Bytes hqFrame(std::span<const HQElement> luma, std::span<const HQElement> alpha, std::span<const HQElement> co,
              std::span<const HQElement> cg, HQFormat format);

// One-plane section: LE32 operation offset (data length + 8), LE32 count,
// data, blob. REQUIRES: single non-empty.
Bytes assembleHQSection(std::span<const HQElement> single);
// Two-plane section of interleaved elements: LE32 offset (data length + 12),
// LE32 count 0, LE32 count 1, data, blob 0, blob 1.
// REQUIRES: planeA.size() == planeB.size() > 0.
Bytes assembleHQSection(std::span<const HQElement> planeA, std::span<const HQElement> planeB);

struct HQStreams {
    Bytes data;                // seeds, then the operands of every plane in element order
    std::vector<Bytes> codes;  // one operation list per plane (codes 0..3)
};

// Codes interleaved elements (element i belongs to plane i % planes).
// REQUIRES: planes is 1 or 2 and elements.size() is a non-zero multiple of it.
HQStreams encodeHQStreams(std::span<const HQElement> elements, int planes);

// 0x01 v when the list is non-empty and all codes are v; else 0x00 and the codes.
Bytes opcodeBlob(std::span<const std::uint8_t> codes);

// Decoded BC4 textures of a high-quality frame: tex holds the luma blocks (with
// alpha: luma block k at element 2k, alpha block k at 2k + 1), ctex the chroma
// blocks (Co block k at element 2k, Cg block k at 2k + 1).
struct HQTextures {
    Bytes tex;
    Bytes ctex;
};

// Inverse of hqFrame's body: payload is the frame after its 12-byte header,
// codedWidth x codedHeight the coded luma size (multiples of 16 for frames of
// hqCompressFrame). Understands operation codes
// 0..3 and raw or run-length operation blobs.
// Throws HQDecodeError with a readable reason for every malformed payload,
// including a coded size below 8 x 8; never reads outside the payload.
HQTextures referenceDecodeHQ(ByteSpan payload, int codedWidth, int codedHeight, HQFormat format);

}  // namespace fw::DXV

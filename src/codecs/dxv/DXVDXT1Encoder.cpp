// DXT1 block-reuse compression: the inverse of decompressDXT1 in
// DXVDXT1Decoder.cpp. Per block (two elements at p): code 1, 2 or 3 copies the
// whole block from distance 2, 2b + 4 or 2v + 516; code 0 splits it into two
// element operations with the same distances, or a 4-byte literal (code 0).

#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVBlockReuse_internal.h"

namespace fw::DXV {
namespace {

constexpr std::size_t kFarthest = 131587;  // 2 * 65535 + 516 + 1

// Emits the copy code for an even distance d in [2, kFarthest); false when out of reach.
bool emitCopy(detail::CodeWriter& codes, ByteWriter& out, std::int64_t stored, std::size_t position) {
    if (stored < 0) return false;
    const std::size_t distance = position - static_cast<std::size_t>(stored);
    if (distance >= kFarthest) return false;
    if (distance == 2) {
        codes.code(1);
    } else if (distance < 516) {
        codes.code(2);
        out.appendU8(static_cast<std::uint8_t>((distance >> 1) - 2));
    } else {
        codes.code(3);
        out.appendU16LE(static_cast<std::uint16_t>((distance >> 1) - 258));
    }
    return true;
}

}  // namespace

Bytes compressDXT1(ByteSpan texture) {
    const std::size_t n = texture.size();
    const std::uint8_t* const in = texture.data();
    const std::size_t elementCount = n / 4;
    ByteWriter out(n + n / 16 + 64);
    // The first block goes out raw. (Zeros then a copy: GCC 12 misreads an insert
    // into a reserved, empty vector as an overflow.)
    out.appendZeros(8);
    std::memcpy(out.bytes().data(), in, 8);

    // Kept by each thread: 3.5 MB of slots faulted in afresh for every frame
    // cost more than the coding.
    thread_local detail::MatchTable<std::uint64_t> blocks;
    thread_local detail::MatchTable<std::uint32_t> endpoints;
    thread_local detail::MatchTable<std::uint32_t> indices;
    blocks.clear();
    endpoints.clear();
    indices.clear();
    blocks.enter(detail::loadPair(in, 0), 0);
    endpoints.enter(detail::loadElement(in, 0), 0);
    indices.enter(detail::loadElement(in, 1), 1);
    if (n < 16) return out.take();

    detail::CodeWriter codes(out);
    // The tables' slots are scattered over megabytes: those of a block a few ahead are fetched meanwhile.
    constexpr std::size_t kAhead = 16;
    for (std::size_t p = 2; p < elementCount; p += 2) {
        if (p + kAhead + 1 < elementCount) {
            blocks.prefetch(detail::loadPair(in, p + kAhead));
            endpoints.prefetch(detail::loadElement(in, p + kAhead));
            indices.prefetch(detail::loadElement(in, p + kAhead + 1));
        }
        const std::uint32_t endpoint = detail::loadElement(in, p);
        const std::uint32_t index = detail::loadElement(in, p + 1);
        const std::uint64_t block = std::uint64_t{endpoint} | std::uint64_t{index} << 32;
        if (!emitCopy(codes, out, blocks.find(block), p)) {
            codes.code(0);
            if (!emitCopy(codes, out, endpoints.find(endpoint), p)) {
                codes.code(0);
                out.appendU32LE(endpoint);
            }
            if (!emitCopy(codes, out, indices.find(index), p + 1)) {
                codes.code(0);
                out.appendU32LE(index);
            }
        }
        blocks.enter(block, p);
        endpoints.enter(endpoint, p);
        indices.enter(index, p + 1);
    }
    return out.take();
}

}  // namespace fw::DXV

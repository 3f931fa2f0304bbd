// DXT5 block-reuse compression: the inverse of decompressDXT5 in
// DXVDXT5Decoder.cpp. Each block (four elements at p: alpha endpoints and
// indices, colour endpoints and indices) takes an alpha step, then a colour
// step, both drawing codes from one sequence of control words.
//
// Alpha step: 0 = the block and t - 1 more repeat their predecessors whole (no
// colour step); 1 = alpha half from distance 4, then R more blocks do the same
// without a code; 2 = alpha half from distance 4v + 8; 3 = 8 literal bytes.
// Code 2 is written only for distance 8 (v = 0): FFmpeg's reader (5.1) takes
// v + 8 for the distance, and only there do the two readings meet, so every
// reader gets the alpha right; farther repeats are written literally.
// Colour step: 1 = colour half from distance 4, 2 = from 4b + 8, 3 = from
// 4v + 1032; 0 = two element operations with the same distances or a literal.

#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVBlockReuse_internal.h"

namespace fw::DXV {
namespace {

// The one alpha copy distance that readers agree on (see above).
constexpr std::size_t kAgreedAlphaDistance = 8;
constexpr std::size_t kFarthestColour = 263172;  // 4 * 65535 + 1032

bool colourReachable(std::size_t distance) { return distance == 4 || (distance >= 8 && distance <= kFarthestColour); }

// The colour-step or element-level code for a distance; 0 means "split" or "literal".
void pushCheckpoint(detail::CodeWriter& codes, ByteWriter& out, std::size_t distance) {
    if (distance == 4) {
        codes.code(1);
    } else if (distance < 8) {
        codes.code(0);
    } else if (distance < 1032) {
        codes.code(2);
        out.appendU8(static_cast<std::uint8_t>((distance >> 2) - 2));
    } else {
        codes.code(3);
        out.appendU16LE(static_cast<std::uint16_t>((distance >> 2) - 258));
    }
}

std::size_t distanceTo(std::int64_t stored, std::size_t position) {
    return stored < 0 ? 0 : position - static_cast<std::size_t>(stored);
}

bool sameBlock(const std::uint8_t* in, std::size_t p) { return std::memcmp(in + 4 * p, in + 4 * (p - 4), 16) == 0; }

bool sameAlpha(const std::uint8_t* in, std::size_t p) { return std::memcmp(in + 4 * p, in + 4 * (p - 4), 8) == 0; }

}  // namespace

Bytes compressDXT5(ByteSpan texture) {
    const std::size_t n = texture.size();
    const std::uint8_t* const in = texture.data();
    const std::size_t elementCount = n / 4;
    ByteWriter out(n / 2 + 64);
    // The first block goes out raw. (Zeros then a copy: GCC 12 misreads an insert
    // into a reserved, empty vector as an overflow.)
    out.appendZeros(16);
    std::memcpy(out.bytes().data(), in, 16);

    // Kept by each thread, as in compressDXT1.
    thread_local detail::MatchTable<std::uint64_t> alphas;
    thread_local detail::MatchTable<std::uint64_t> colours;
    thread_local detail::MatchTable<std::uint32_t> endpoints;
    thread_local detail::MatchTable<std::uint32_t> indices;
    alphas.clear();
    colours.clear();
    endpoints.clear();
    indices.clear();
    auto enterColour = [&](std::size_t start) {
        colours.enter(detail::loadPair(in, start + 2), start + 2);
        endpoints.enter(detail::loadElement(in, start + 2), start + 2);
        indices.enter(detail::loadElement(in, start + 3), start + 3);
    };
    alphas.enter(detail::loadPair(in, 0), 0);
    enterColour(0);
    if (elementCount < 5) return out.take();

    detail::CodeWriter codes(out);
    std::size_t run = 0;
    std::size_t p = 4;
    // As in compressDXT1, the slots of a block a few ahead are fetched meanwhile.
    constexpr std::size_t kAhead = 32;
    while (p < elementCount) {
        if (p + kAhead + 3 < elementCount) {
            alphas.prefetch(detail::loadPair(in, p + kAhead));
            colours.prefetch(detail::loadPair(in, p + kAhead + 2));
            endpoints.prefetch(detail::loadElement(in, p + kAhead + 2));
            indices.prefetch(detail::loadElement(in, p + kAhead + 3));
        }
        if (run > 0) {
            // Alpha half copied from the previous block without a code, and not entered.
            --run;
        } else if (sameBlock(in, p)) {
            std::size_t t = 1;
            while (p + 4 * t + 4 <= elementCount && sameBlock(in, p + 4 * t)) ++t;
            codes.code(0);
            if (t <= 255) {
                out.appendU8(static_cast<std::uint8_t>(t - 1));
            } else {
                detail::appendLongCount(out, t - 256);
            }
            p += 4 * t;
            const std::size_t last = p - 4;
            alphas.enter(detail::loadPair(in, last), last);
            enterColour(last);
            continue;
        } else {
            if (sameAlpha(in, p)) {
                std::size_t repeats = 0;
                while (p + 4 * (repeats + 1) + 4 <= elementCount && sameAlpha(in, p + 4 * (repeats + 1))) ++repeats;
                codes.code(1);
                if (repeats < 255) {
                    out.appendU8(static_cast<std::uint8_t>(repeats));
                } else {
                    detail::appendLongCount(out, repeats - 255);
                }
                run = repeats;
            } else {
                const std::uint64_t alpha = detail::loadPair(in, p);
                const std::size_t distance = distanceTo(alphas.find(alpha), p);
                if (distance == kAgreedAlphaDistance) {
                    codes.code(2);
                    out.appendU16LE(0);
                } else {
                    codes.code(3);
                    out.appendBytes(texture.subspan(4 * p, 8));
                }
            }
            alphas.enter(detail::loadPair(in, p), p);
        }

        const std::size_t colourDistance = distanceTo(colours.find(detail::loadPair(in, p + 2)), p + 2);
        if (colourReachable(colourDistance)) {
            pushCheckpoint(codes, out, colourDistance);
        } else {
            pushCheckpoint(codes, out, 0);
            for (std::size_t q = p + 2; q < p + 4; ++q) {
                const std::uint32_t element = detail::loadElement(in, q);
                const auto& table = q == p + 2 ? endpoints : indices;
                const std::size_t distance = distanceTo(table.find(element), q);
                if (colourReachable(distance)) {
                    pushCheckpoint(codes, out, distance);
                } else {
                    pushCheckpoint(codes, out, 0);
                    out.appendU32LE(element);
                }
            }
        }
        enterColour(p);
        p += 4;
    }
    return out.take();
}

}  // namespace fw::DXV

// LZF compression: the inverse of the reader in DXVLZFDecoder.cpp. Every choice
// (hash, table size, match limits, literal splitting) is fixed so that the
// output is reproducible bit for bit.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "codecs/dxv/DXVLZF.h"

namespace fw::DXV {
namespace {

constexpr int kHashBits = 14;
constexpr std::size_t kHashSize = std::size_t{1} << kHashBits;
constexpr std::size_t kMaxDistance = 8192;
constexpr std::size_t kMaxMatch = 264;
constexpr std::size_t kMaxLiteralRun = 32;

// Hash of the three bytes at p, read as b0 << 16 | b1 << 8 | b2.
// REQUIRES: four readable bytes at p (one more than hashed, for a single load).
inline std::uint32_t hashAt(const std::uint8_t* p) {
    const std::uint32_t v = __builtin_bswap32(loadLE32(p)) >> 8;
    return ((v * 0x9E3779B1u) >> (32 - kHashBits)) & (kHashSize - 1);
}

// REQUIRES: four readable bytes at both.
inline bool sameThreeBytes(const std::uint8_t* a, const std::uint8_t* b) {
    return ((loadLE32(a) ^ loadLE32(b)) & 0xFFFFFF) == 0;
}

static_assert(std::endian::native == std::endian::little, "match extension counts bytes from the low end");

inline std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// 3 plus the further equal bytes of the two positions, at most limit in all.
inline std::size_t matchLength(const std::uint8_t* earlier, const std::uint8_t* current, std::size_t limit) {
    std::size_t length = 3;
    while (length + 8 <= limit) {
        const std::uint64_t diff = load64(earlier + length) ^ load64(current + length);
        if (diff != 0) return length + static_cast<std::size_t>(std::countr_zero(diff)) / 8;
        length += 8;
    }
    while (length < limit && earlier[length] == current[length]) ++length;
    return length;
}

// Writes [begin, end) as literal runs of at most 32 bytes; returns the new end of output.
inline std::uint8_t* emitLiterals(std::uint8_t* op, const std::uint8_t* begin, const std::uint8_t* end,
                                  bool avoidSingleTail) {
    std::size_t left = static_cast<std::size_t>(end - begin);
    while (left > 0) {
        std::size_t run = std::min(left, kMaxLiteralRun);
        // A closing run of one byte would be a 2-byte operation, which readers
        // that drop one or two trailing bytes lose: split 33 as 31 + 2.
        if (avoidSingleTail && left == kMaxLiteralRun + 1) run = kMaxLiteralRun - 1;
        *op++ = static_cast<std::uint8_t>(run - 1);
        std::memcpy(op, begin, run);
        op += run;
        begin += run;
        left -= run;
    }
    return op;
}

}  // namespace

Bytes compressLZF(ByteSpan input) {
    const std::size_t n = input.size();
    if (n == 0) return {};
    const std::uint8_t* const in = input.data();
    if (n < 7) {
        Bytes out(n + 1);
        out[0] = static_cast<std::uint8_t>(n - 1);
        std::memcpy(out.data() + 1, in, n);
        return out;
    }

    // Worst case is all literals: n + ceil(n / 32) bytes, well inside this.
    Bytes out(n + n / 16 + 16);
    std::uint8_t* op = out.data();
    auto table = std::make_unique<std::int32_t[]>(kHashSize);
    std::fill_n(table.get(), kHashSize, -1);

    // The scan runs while i < n - 3, but its last two positions (n - 5 and
    // n - 4) are never looked up, so lookups stop at n - 6 (n >= 7 here).
    const std::size_t lastLookup = n - 6;
    std::size_t i = 0;
    std::size_t anchor = 0;
    while (i <= lastLookup) {
        const std::uint32_t h = hashAt(in + i);
        const std::int32_t stored = table[h];
        table[h] = static_cast<std::int32_t>(i);
        if (stored < 0 || i - static_cast<std::size_t>(stored) > kMaxDistance || !sameThreeBytes(in + stored, in + i)) {
            ++i;
            continue;
        }
        const std::size_t r = static_cast<std::size_t>(stored);

        // A match always leaves at least three input bytes after it.
        const std::size_t limit = std::min(n - 3 - i, kMaxMatch);
        const std::size_t length = limit < 4 ? 3 : matchLength(in + r, in + i, limit);
        op = emitLiterals(op, in + anchor, in + i, false);
        const std::size_t offset = i - r - 1;
        if (length <= 8) {
            *op++ = static_cast<std::uint8_t>(((length - 2) << 5) | (offset >> 8));
        } else {
            *op++ = static_cast<std::uint8_t>(0xE0 | (offset >> 8));
            *op++ = static_cast<std::uint8_t>(length - 9);
        }
        *op++ = static_cast<std::uint8_t>(offset & 0xFF);

        anchor = i + length;
        const std::size_t insertEnd = std::min(n - 3, i + length);
        for (std::size_t j = i + 1; j < insertEnd; ++j) table[hashAt(in + j)] = static_cast<std::int32_t>(j);
        i += length;
    }
    op = emitLiterals(op, in + anchor, in + n, true);
    out.resize(static_cast<std::size_t>(op - out.data()));
    return out;
}

}  // namespace fw::DXV

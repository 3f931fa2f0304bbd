#pragma once
// Pieces shared by the block-reuse coders: texture elements, the single-slot
// match tables, the control-word writer and the bounds-checked stream reader.

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "codecs/dxv/DXVFormat.h"

namespace fw::DXV::detail {

// Texture element k is the little-endian 32-bit word at bytes 4k..4k+3.
inline std::uint32_t loadElement(const std::uint8_t* texture, std::size_t k) { return loadLE32(texture + 4 * k); }
inline void storeElement(std::uint8_t* texture, std::size_t k, std::uint32_t value) {
    storeLE32(texture + 4 * k, value);
}

// Elements k and k + 1 as one value: element k in the low half.
inline std::uint64_t loadPair(const std::uint8_t* texture, std::size_t k) { return loadLE64(texture + 4 * k); }

constexpr std::size_t kMatchSlots = std::size_t{1} << 17;

inline std::size_t hashValue(std::uint64_t value) {
    return static_cast<std::size_t>((value * 0x9E3779B97F4A7C15ull) >> 47) & (kMatchSlots - 1);
}
inline std::size_t hashValue(std::uint32_t value) {
    return static_cast<std::size_t>((value * 0x9E3779B1u) >> 15) & (kMatchSlots - 1);
}

// One slot per hash: the latest value entered and its element position. A
// lookup succeeds only on an exact value match, so collisions cost
// compression, never correctness.
template <class Value>
class MatchTable {
public:
    MatchTable()
        : values_(std::make_unique_for_overwrite<Value[]>(kMatchSlots)),
          positions_(std::make_unique_for_overwrite<std::int32_t[]>(kMatchSlots)) {
        clear();
    }
    // Empties the table for another texture; its memory stays.
    void clear() { std::fill_n(positions_.get(), kMatchSlots, -1); }
    // The stored position of value, or -1.
    std::int64_t find(Value value) const {
        const std::size_t slot = hashValue(value);
        return positions_[slot] >= 0 && values_[slot] == value ? positions_[slot] : -1;
    }
    // Asks the cache for value's slot ahead of a find or enter.
    void prefetch(Value value) const {
        const std::size_t slot = hashValue(value);
        __builtin_prefetch(values_.get() + slot, 1);
        __builtin_prefetch(positions_.get() + slot, 1);
    }
    void enter(Value value, std::size_t position) {
        const std::size_t slot = hashValue(value);
        values_[slot] = value;
        positions_[slot] = static_cast<std::int32_t>(position);
    }

private:
    std::unique_ptr<Value[]> values_;
    std::unique_ptr<std::int32_t[]> positions_;
};

// Appends 2-bit codes to control words placed in the stream right before the
// operands of the first operation that needs them.
class CodeWriter {
public:
    explicit CodeWriter(ByteWriter& out) : out_(out) {}
    void code(unsigned value) {
        if (used_ == 16) {
            word_ = out_.size();
            out_.appendZeros(4);
            used_ = 0;
        }
        out_.bytes()[word_ + used_ / 4] |= static_cast<std::uint8_t>(value << (2 * (used_ % 4)));
        ++used_;
    }

private:
    ByteWriter& out_;
    std::size_t word_ = 0;
    unsigned used_ = 16;  // starts full: the first code opens a word
};

// Counts that do not fit one byte: the byte 255, then LE16 values summing to
// the rest, every one but the last being 0xFFFF (the last may be 0).
inline void appendLongCount(ByteWriter& out, std::size_t rest) {
    out.appendU8(255);
    while (rest >= 0xFFFF) {
        out.appendU16LE(0xFFFF);
        rest -= 0xFFFF;
    }
    out.appendU16LE(static_cast<std::uint16_t>(rest));
}

// The one failure of a block-reuse stream once its sizes have been checked.
[[noreturn, gnu::cold]] inline void failStream() {
    throw MalformedInput("block-reuse payload cut off, or a copy reaching before the texture");
}

// Reads codes, operands and literals; every read reports a cut-off stream.
class StreamReader {
public:
    explicit StreamReader(ByteSpan stream) : reader_(stream) {}
    bool code(unsigned& value) {
        if (left_ == 0) {
            const auto word = reader_.readU32LE();
            if (!word) return false;
            word_ = *word;
            left_ = 16;
        }
        value = word_ & 3;
        word_ >>= 2;
        --left_;
        return true;
    }
    bool byte(std::size_t& value) { return take(reader_.readU8(), value); }
    bool le16(std::size_t& value) { return take(reader_.readU16LE(), value); }
    bool element(std::uint32_t& value) {
        const auto read = reader_.readU32LE();
        if (read) value = *read;
        return read.has_value();
    }
    // A count written by appendLongCount after its first byte was 255:
    // `base` plus LE16 values, continued while a value is 0xFFFF.
    bool longCount(std::size_t base, std::size_t& value) {
        value = base;
        std::size_t part;
        do {
            if (!le16(part)) return false;
            value += part;
        } while (part == 0xFFFF);
        return true;
    }

private:
    template <class T>
    static bool take(std::optional<T> read, std::size_t& value) {
        if (read) value = *read;
        return read.has_value();
    }
    ByteReader reader_;
    std::uint32_t word_ = 0;
    unsigned left_ = 0;
};

// Copies element `to` from `distance` elements back; fails before the start.
inline bool copyElement(std::uint8_t* texture, std::size_t to, std::size_t distance) {
    if (distance > to) return false;
    std::memcpy(texture + 4 * to, texture + 4 * (to - distance), 4);
    return true;
}

}  // namespace fw::DXV::detail

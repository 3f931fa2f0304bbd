#pragma once
// Pieces shared by the block-reuse coders: texture elements, the single-slot
// match tables, the control-word writer and the bounds-checked stream reader.

#include <bit>
#include <cstring>
#include <memory>

#include "codecs/dxv/DXVFormat.h"

namespace fw::DXV::detail {

// Texture element k is the little-endian 32-bit word at bytes 4k..4k+3.
inline std::uint32_t loadElement(const std::uint8_t* texture, std::size_t k) {
    return readLE32(ByteSpan(texture + 4 * k, 4), 0);
}

inline void storeElement(std::uint8_t* texture, std::size_t k, std::uint32_t value) {
    texture[4 * k] = static_cast<std::uint8_t>(value);
    texture[4 * k + 1] = static_cast<std::uint8_t>(value >> 8);
    texture[4 * k + 2] = static_cast<std::uint8_t>(value >> 16);
    texture[4 * k + 3] = static_cast<std::uint8_t>(value >> 24);
}

// Elements k and k + 1 as one value: element k in the low half.
inline std::uint64_t loadPair(const std::uint8_t* texture, std::size_t k) {
    return std::uint64_t{loadElement(texture, k)} | std::uint64_t{loadElement(texture, k + 1)} << 32;
}

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
    MatchTable() : values_(std::make_unique<Value[]>(kMatchSlots)), positions_(std::make_unique<std::int32_t[]>(kMatchSlots)) {
        std::fill_n(positions_.get(), kMatchSlots, -1);
    }
    // The stored position of value, or -1.
    std::int64_t find(Value value) const {
        const std::size_t slot = hashValue(value);
        return positions_[slot] >= 0 && values_[slot] == value ? positions_[slot] : -1;
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
    explicit CodeWriter(Bytes& out) : out_(out) {}
    void code(unsigned value) {
        if (used_ == 16) {
            word_ = out_.size();
            out_.insert(out_.end(), 4, 0);
            used_ = 0;
        }
        out_[word_ + used_ / 4] |= static_cast<std::uint8_t>(value << (2 * (used_ % 4)));
        ++used_;
    }

private:
    Bytes& out_;
    std::size_t word_ = 0;
    unsigned used_ = 16;  // starts full: the first code opens a word
};

inline void appendLE16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void appendElement(Bytes& out, std::uint32_t value) {
    appendLE32(out, value);
}

// Counts that do not fit one byte: the byte 255, then LE16 values summing to
// the rest, every one but the last being 0xFFFF (the last may be 0).
inline void appendLongCount(Bytes& out, std::size_t rest) {
    out.push_back(255);
    while (rest >= 0xFFFF) {
        appendLE16(out, 0xFFFF);
        rest -= 0xFFFF;
    }
    appendLE16(out, static_cast<unsigned>(rest));
}

// Reads codes, operands and literals; every read reports a cut-off stream.
class StreamReader {
public:
    StreamReader(const std::uint8_t* begin, const std::uint8_t* end) : p_(begin), end_(end) {}
    bool code(unsigned& value) {
        if (left_ == 0) {
            if (end_ - p_ < 4) return false;
            word_ = readLE32(ByteSpan(p_, 4), 0);
            p_ += 4;
            left_ = 16;
        }
        value = word_ & 3;
        word_ >>= 2;
        --left_;
        return true;
    }
    bool byte(std::size_t& value) {
        if (p_ == end_) return false;
        value = *p_++;
        return true;
    }
    bool le16(std::size_t& value) {
        if (end_ - p_ < 2) return false;
        value = std::size_t{p_[0]} | std::size_t{p_[1]} << 8;
        p_ += 2;
        return true;
    }
    bool element(std::uint32_t& value) {
        if (end_ - p_ < 4) return false;
        value = readLE32(ByteSpan(p_, 4), 0);
        p_ += 4;
        return true;
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
    const std::uint8_t* p_;
    const std::uint8_t* end_;
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

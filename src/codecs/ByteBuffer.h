#pragma once
// Little-endian byte building and bounds-checked reading for the texture codecs'
// frame formats. Header-only.
//
// ByteWriter: a growable byte array with little-endian append helpers.
// ByteReader: a cursor over borrowed bytes; every read checks the bytes left and
//   reports a shortfall as an empty optional (or false) without moving, so
//   hostile input can never be read past its end.
//
// Thread-safety: none; each object belongs to one thread. A reader borrows its
// bytes, which must outlive it and stay unchanged.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace fw {

// Unchecked little-endian loads and stores. REQUIRES: the bytes exist.
inline std::uint16_t loadLE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t loadLE24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t loadLE32(const std::uint8_t* p) { return loadLE24(p) | (static_cast<std::uint32_t>(p[3]) << 24); }
inline std::uint64_t loadLE64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(loadLE32(p)) | (static_cast<std::uint64_t>(loadLE32(p + 4)) << 32);
}
inline void storeLE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeLE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(std::size_t reserveBytes) { bytes_.reserve(reserveBytes); }

    void reserve(std::size_t bytes) { bytes_.reserve(bytes); }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }

    void appendU8(std::uint8_t v) { bytes_.push_back(v); }
    void appendU16LE(std::uint16_t v) { appendLE(v, 2); }
    // REQUIRES: v < 2^24.
    void appendU24LE(std::uint32_t v) { appendLE(v, 3); }
    void appendU32LE(std::uint32_t v) { appendLE(v, 4); }
    void appendU64LE(std::uint64_t v) { appendLE(v, 8); }
    void appendBytes(std::span<const std::uint8_t> bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
    void appendZeros(std::size_t count) { bytes_.resize(bytes_.size() + count, 0); }

    // Overwrites 4 bytes already written. REQUIRES: offset + 4 <= size().
    void patchU32LE(std::size_t offset, std::uint32_t v) { storeLE32(bytes_.data() + offset, v); }

    std::span<const std::uint8_t> view() const { return bytes_; }
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    // Hands over the bytes; the writer is empty afterwards.
    std::vector<std::uint8_t> take() { return std::exchange(bytes_, {}); }

private:
    void appendLE(std::uint64_t v, int count) {
        for (int i = 0; i < count; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    std::vector<std::uint8_t> bytes_;
};

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t size() const { return bytes_.size(); }
    std::size_t position() const { return position_; }
    std::size_t remaining() const { return bytes_.size() - position_; }
    bool atEnd() const { return position_ == bytes_.size(); }
    bool has(std::size_t count) const { return count <= remaining(); }

    // False (and no move) when the position would pass the end.
    bool seek(std::size_t position) {
        if (position > bytes_.size()) return false;
        position_ = position;
        return true;
    }
    bool skip(std::size_t count) {
        if (!has(count)) return false;
        position_ += count;
        return true;
    }

    std::optional<std::uint8_t> readU8() {
        if (!has(1)) return std::nullopt;
        return bytes_[position_++];
    }
    std::optional<std::uint16_t> readU16LE() { return read<std::uint16_t>(2, loadLE16); }
    std::optional<std::uint32_t> readU24LE() { return read<std::uint32_t>(3, loadLE24); }
    std::optional<std::uint32_t> readU32LE() { return read<std::uint32_t>(4, loadLE32); }
    std::optional<std::uint64_t> readU64LE() { return read<std::uint64_t>(8, loadLE64); }
    // A view of the next count bytes (borrowed from the reader's bytes).
    std::optional<std::span<const std::uint8_t>> readBytes(std::size_t count) {
        if (!has(count)) return std::nullopt;
        auto view = bytes_.subspan(position_, count);
        position_ += count;
        return view;
    }
    std::span<const std::uint8_t> rest() const { return bytes_.subspan(position_); }

private:
    template <class T, class Load>
    std::optional<T> read(std::size_t count, Load load) {
        if (!has(count)) return std::nullopt;
        T v = static_cast<T>(load(bytes_.data() + position_));
        position_ += count;
        return v;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

}  // namespace fw

// Snappy raw-format decompression for Hap frames.
//
// Stream: a little-endian base-128 varint (at most 5 bytes) giving the output
// length, then elements until that length is reached:
//   tag & 3 = 0  literal: n = tag >> 2; n < 60: n + 1 bytes follow; else
//                n - 59 length bytes (LE) hold length - 1, then the bytes
//   tag & 3 = 1  copy: length ((tag >> 2) & 7) + 4, offset (tag >> 5) << 8 | next byte
//   tag & 3 = 2  copy: length (tag >> 2) + 1, offset next 2 bytes (LE)
//   tag & 3 = 3  copy: length (tag >> 2) + 1, offset next 4 bytes (LE)
// A copy repeats bytes from offset back in this stream's output; an offset
// below the length repeats the last offset bytes.
//
// Invariants of the loop below: op + length <= limit is checked before any
// element writes, and the buffer has kSlack writable bytes past limit, so the
// 8- and 16-byte block moves may overshoot the element's end. No element makes
// more than 64 bytes from its 3 (kMaxExpansion per input byte), which bounds
// what a stream can truly produce, whatever its preamble declares.

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "codecs/ByteBuffer.h"
#include "codecs/hap/HapDecoder.h"
#include "codecs/hap/HapDecoder_internal.h"

namespace fw::HapDecoder {
namespace {

constexpr std::size_t kSlack = 64;
constexpr std::uint64_t kMaxExpansion = 22;
// First reservation when the declared length is beyond what is plausible for
// the input; the buffer grows (up to the true bound) only as output arrives.
constexpr std::uint64_t kPlausibleExpansion = 8;

std::string decimal(std::uint64_t value) {
    char text[24];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

[[noreturn, gnu::cold, gnu::noinline]] void failLength(std::uint64_t actual, std::uint64_t expected) {
    detail::fail("snappy output " + decimal(actual) + " \u2260 expected " + decimal(expected));
}

class Output {
public:
    Output(std::vector<std::uint8_t>& bytes, std::uint64_t expected, std::uint64_t bound, std::size_t maxBytes)
        : bytes_(bytes), start_(bytes.size()), expected_(expected), bound_(bound) {
        if (bound > maxBytes || start_ > maxBytes - bound) detail::fail("texture too large");
        resize(expected <= bound
                   ? expected
                   : std::min<std::uint64_t>(bound, kPlausibleExpansion * (bound / kMaxExpansion) + 4096));
    }

    std::uint8_t* base;
    std::uint8_t* limit;

    // Makes room for count more bytes at op, or fails as the element would
    // leave the output at a length other than the declared one.
    [[gnu::noinline]] std::uint8_t* grow(std::uint8_t* op, std::uint64_t count) {
        const std::uint64_t produced = static_cast<std::uint64_t>(op - base);
        if (produced + count > bound_) failLength(produced + count, expected_);
        resize(std::min<std::uint64_t>(bound_, std::max<std::uint64_t>(2 * capacity_, produced + count)));
        return base + produced;
    }
    void finish(std::uint8_t* op) {
        const std::uint64_t produced = static_cast<std::uint64_t>(op - base);
        if (produced != expected_) failLength(produced, expected_);
        bytes_.resize(start_ + produced);
    }

private:
    void resize(std::uint64_t capacity) {
        capacity_ = capacity;
        bytes_.resize(start_ + capacity + kSlack);
        base = bytes_.data() + start_;
        limit = base + capacity;
    }
    std::vector<std::uint8_t>& bytes_;
    std::size_t start_;
    std::uint64_t expected_;
    std::uint64_t bound_;
    std::uint64_t capacity_ = 0;
};

inline void copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }
inline void copy16(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 16); }

}  // namespace

void snappyDecompressAppend(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                            std::size_t maxOutputBytes) {
    const std::uint8_t* ip = input.data();
    const std::uint8_t* const ipEnd = ip + input.size();

    std::uint64_t expected = 0;
    for (int i = 0;; ++i) {
        if (ip == ipEnd) detail::fail("snappy varint");
        const std::uint8_t byte = *ip++;
        expected |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
        if (!(byte & 0x80)) break;
        if (i == 4) detail::fail("snappy varint overflow");
    }
    const std::uint64_t bound =
        std::min<std::uint64_t>(expected, kMaxExpansion * static_cast<std::uint64_t>(ipEnd - ip));
    Output out(output, expected, bound, maxOutputBytes);
    std::uint8_t* op = out.base;

    while (ip < ipEnd && static_cast<std::uint64_t>(op - out.base) < expected) {
        const std::uint8_t tag = *ip++;
        const std::size_t available = static_cast<std::size_t>(ipEnd - ip);
        if ((tag & 3) == 0) {
            std::uint64_t length = (tag >> 2) + 1;
            if (length > 60) {
                const std::size_t lengthBytes = length - 60;
                if (available < lengthBytes) detail::fail("snappy literal len");
                std::uint32_t value = 0;
                for (std::size_t i = 0; i < lengthBytes; ++i) value |= static_cast<std::uint32_t>(ip[i]) << (8 * i);
                ip += lengthBytes;
                length = static_cast<std::uint64_t>(value) + 1;
            }
            if (length > static_cast<std::uint64_t>(ipEnd - ip)) detail::fail("snappy literal");
            if (length > static_cast<std::uint64_t>(out.limit - op)) op = out.grow(op, length);
            if (length <= 16 && ipEnd - ip >= 16)
                copy16(op, ip);
            else
                std::memcpy(op, ip, length);
            op += length;
            ip += length;
            continue;
        }

        std::size_t length;
        std::uint64_t offset;
        switch (tag & 3) {
        case 1:
            if (available < 1) detail::fail("snappy copy1");
            length = ((tag >> 2) & 7) + 4;
            offset = (static_cast<std::uint64_t>(tag >> 5) << 8) | ip[0];
            ip += 1;
            break;
        case 2:
            if (available < 2) detail::fail("snappy copy2");
            length = (tag >> 2) + 1;
            offset = loadLE16(ip);
            ip += 2;
            break;
        default:
            if (available < 4) detail::fail("snappy copy4");
            length = (tag >> 2) + 1;
            offset = loadLE32(ip);
            ip += 4;
            break;
        }
        if (offset == 0 || offset > static_cast<std::uint64_t>(op - out.base)) detail::fail("snappy offset");
        if (length > static_cast<std::uint64_t>(out.limit - op)) op = out.grow(op, length);
        const std::uint8_t* from = op - offset;
        if (offset >= 8) {
            // Each 8-byte move reads only bytes already written.
            for (std::size_t i = 0; i < length; i += 8) copy8(op + i, from + i);
        } else {
            // The output repeats with period offset, so also with the first
            // multiple of offset that is 8 or more: after a short head copied
            // byte by byte, 8-byte moves from that distance read only bytes
            // already written.
            static constexpr std::uint8_t kWidened[8] = {0, 8, 8, 9, 8, 10, 12, 14};
            const std::size_t widened = kWidened[offset];
            const std::size_t head = std::min<std::size_t>(length, widened - offset);
            for (std::size_t i = 0; i < head; ++i) op[i] = from[i];
            for (std::size_t i = head; i < length; i += 8) copy8(op + i, op + i - widened);
        }
        op += length;
    }
    out.finish(op);
}

std::vector<std::uint8_t> snappyDecompress(std::span<const std::uint8_t> input) {
    std::vector<std::uint8_t> output;
    snappyDecompressAppend(input, output, std::numeric_limits<std::size_t>::max());
    return output;
}

}  // namespace fw::HapDecoder

// LZF decompression. One loop serves both the size pass (SizeCounter) and the
// writing pass (BufferWriter), so validation and decoding cannot drift apart.

#include <algorithm>
#include <cstring>
#include <limits>

#include "codecs/dxv/DXVLZF.h"

namespace fw::DXV {
namespace {

// Counts the output and checks back-references against it; writes nothing.
struct SizeCounter {
    std::size_t produced = 0;
    bool full() const { return false; }
    bool literal(const std::uint8_t*, std::size_t length) {
        produced += length;
        return true;
    }
    bool backReference(std::size_t distance, std::size_t length) {
        if (distance > produced) return false;
        produced += length;
        return true;
    }
};

constexpr std::size_t kSlack = 16;  // spare bytes after the output for whole-word copies

// Writes into a buffer sized by a SizeCounter pass over the same stream, up to
// `end`: decoding stops once that is reached (the counter pass has already
// checked the rest). The buffer has kSlack bytes past `end`, so short copies
// may move whole 8-byte words. The checks stay so that the writer is safe on
// its own.
struct BufferWriter {
    std::uint8_t* begin;
    std::uint8_t* out;
    std::uint8_t* end;
    bool full() const { return out == end; }
    bool literal(const std::uint8_t* source, std::size_t length) {
        length = std::min(length, static_cast<std::size_t>(end - out));
        std::memcpy(out, source, length);
        out += length;
        return true;
    }
    bool backReference(std::size_t distance, std::size_t length) {
        if (distance > static_cast<std::size_t>(out - begin)) return false;
        length = std::min(length, static_cast<std::size_t>(end - out));
        const std::uint8_t* from = out - distance;
        if (distance >= 8) {
            // Each word's source lies wholly before its destination, even when
            // the ranges overlap; the last word may spill into the slack.
            for (std::size_t k = 0; k < length; k += 8) std::memcpy(out + k, from + k, 8);
        } else if (distance == 1) {
            std::memset(out, *from, length);
        } else {
            // Short distance: byte by byte repeats the last `distance` bytes.
            for (std::size_t k = 0; k < length; ++k) out[k] = from[k];
        }
        out += length;
        return true;
    }
};

// Control byte c: c < 32 literal run of c + 1 bytes; otherwise a back-reference
// of (c >> 5) + 2 bytes, or of next byte + 9 when c >> 5 is 7, at distance
// ((c & 31) << 8 | offset byte) + 1.
template <class Writer>
bool decodeLZF(ByteSpan stream, Writer& writer) {
    const std::uint8_t* ip = stream.data();
    const std::uint8_t* const end = ip + stream.size();
    while (ip < end && !writer.full()) {
        const std::size_t left = static_cast<std::size_t>(end - ip);
        const unsigned control = ip[0];
        std::size_t need;
        if (control < 32) {
            need = 1 + control + 1;
        } else {
            need = (control >> 5) == 7 ? 3 : 2;
        }
        if (left < need) {
            // One or two bytes after the last whole operation are padding that
            // some writers leave; anything longer that is cut off is damage.
            return left < 3;
        }
        if (control < 32) {
            if (!writer.literal(ip + 1, control + 1)) return false;
        } else {
            std::size_t length = control >> 5;
            std::size_t offset;
            if (length == 7) {
                length = std::size_t{ip[1]} + 9;
                offset = ip[2];
            } else {
                length += 2;
                offset = ip[1];
            }
            const std::size_t distance = ((std::size_t{control} & 31) << 8 | offset) + 1;
            if (!writer.backReference(distance, length)) return false;
        }
        ip += need;
    }
    return true;
}

}  // namespace

std::size_t decompressedSizeLZF(ByteSpan stream) {
    SizeCounter counter;
    if (!decodeLZF(stream, counter)) throw MalformedInput("LZF stream cut off or reaching before its start");
    return counter.produced;
}

Bytes decompressLZF(ByteSpan stream, std::size_t outputLimit) {
    const std::size_t kept = std::min(decompressedSizeLZF(stream), outputLimit);
    Bytes out(kept + kSlack);
    BufferWriter writer{out.data(), out.data(), out.data() + kept};
    // The size pass has checked the stream; the writer keeps its own checks.
    if (!decodeLZF(stream, writer) || !writer.full()) throw MalformedInput("LZF stream changed while decoding");
    out.resize(kept);
    return out;
}

Bytes decompressLZF(ByteSpan stream) { return decompressLZF(stream, std::numeric_limits<std::size_t>::max()); }

}  // namespace fw::DXV

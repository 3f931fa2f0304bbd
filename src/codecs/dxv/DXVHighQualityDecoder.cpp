// High-quality frame decoding into BC4 textures; the operation codes are
// listed in DXVHighQualityEncoder.cpp. Every failure throws HQDecodeError
// with a message naming the section or element at fault.

#include <array>
#include <charconv>
#include <cstring>

#include "codecs/dxv/DXVHighQuality.h"

namespace fw::DXV {
namespace {

std::string decimal(std::uint64_t value) {
    std::array<char, 24> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

[[noreturn]] void fail(const std::string& message) { throw HQDecodeError(message); }

class HQReader {
public:
    explicit HQReader(ByteSpan payload) : reader_(payload) {}

    std::uint32_t le32() {
        const auto value = reader_.readU32LE();
        if (!value) fail("le32 past end");
        return *value;
    }
    std::uint16_t le16() {
        const auto value = reader_.readU16LE();
        if (!value) fail("le16 past end");
        return *value;
    }
    std::uint8_t byte() {
        const auto value = reader_.readU8();
        if (!value) fail("byte past end");
        return *value;
    }
    std::size_t position() const { return reader_.position(); }
    std::size_t size() const { return reader_.size(); }
    std::size_t remaining() const { return reader_.remaining(); }
    // Positions past the end are clamped there, so the next read reports it.
    void seek(std::size_t position) { reader_.seek(std::min(position, reader_.size())); }
    const std::uint8_t* take(std::size_t count) { return reader_.readBytes(count)->data(); }

    // The codes of one plane: flag byte (two low bits count), then n raw codes
    // (flag 0) or one code repeated n times (flag 1).
    Bytes decodeOpBlob(std::size_t count) {
        if (remaining() == 0) fail("op blob past end");
        const unsigned flag = byte() & 3;
        if (flag == 0) {
            if (remaining() < count) fail("raw ops past end");
            const std::uint8_t* codes = take(count);
            return Bytes(codes, codes + count);
        }
        if (flag == 1) {
            if (remaining() == 0) fail("RLE op past end");
            return Bytes(count, byte());
        }
        fail("entropy-coded ops (unsupported by this reference)");
    }

private:
    ByteReader reader_;
};

struct PlaneState {
    Bytes codes;
    std::size_t next = 0;  // index of the next code
    std::size_t run = 0;   // elements still to repeat without a code
    std::string label;
};

// One element of one plane at write position p (stride: bytes between
// successive elements of the plane).
void decodeElement(HQReader& reader, Bytes& texture, std::size_t p, PlaneState& plane, std::size_t stride) {
    const std::string& label = plane.label;
    if (p + 8 > texture.size()) fail(label + ": dst overrun " + decimal(p + 8) + " > " + decimal(texture.size()));
    std::uint8_t* const out = texture.data() + p;
    if (plane.run > 0) {
        if (p < stride) fail(label + ": run cont. before first element");
        std::memcpy(out, out - stride, 8);
        --plane.run;
        return;
    }
    if (plane.next >= plane.codes.size())
        fail(label + ": opcode index " + decimal(plane.next) + " \u2265 op_size " + decimal(plane.codes.size()));
    const unsigned code = plane.codes[plane.next++];
    switch (code) {
    case 0: {
        std::size_t repeats = reader.byte();
        if (repeats == 255) {
            std::uint16_t part;
            do {
                part = reader.le16();
                repeats += part;
            } while (part == 0xFFFF);
        }
        if (p < stride) fail(label + ": run before first element");
        std::memcpy(out, out - stride, 8);
        plane.run = repeats + 3;
        return;
    }
    case 1:
        if (p < stride) fail(label + ": op1 before first element");
        std::memcpy(out, out - stride, 8);
        return;
    case 2: {
        const std::size_t distance = stride * (std::size_t{reader.le16()} + 1);
        if (p < distance) fail(label + ": op2 distance " + decimal(distance) + " > dst " + decimal(p));
        std::memcpy(out, out - distance, 8);
        return;
    }
    case 3:
        if (reader.remaining() < 8) fail(label + ": literal past end");
        std::memcpy(out, reader.take(8), 8);
        return;
    default: fail(label + ": opcode " + decimal(code) + " (4\u201317 unsupported by this reference)");
    }
}

// A one-plane (planes = 1) or two-plane section, elements interleaved.
Bytes decodeSection(HQReader& reader, const std::string& label, std::size_t textureSize, int planes,
                    std::size_t maximumOps) {
    const std::size_t start = reader.position();
    const std::size_t header = planes == 1 ? 8 : 12;
    const std::size_t stride = 8 * static_cast<std::size_t>(planes);
    const std::uint32_t offset = reader.le32();
    std::array<std::uint32_t, 2> counts{};
    for (int plane = 0; plane < planes; ++plane) counts[plane] = reader.le32();
    if (offset < header) fail(label + ": op_offset " + decimal(offset) + " < " + decimal(header));
    for (int plane = 0; plane < planes; ++plane) {
        if (counts[plane] <= maximumOps) continue;
        const std::string field = planes == 1 ? ": op_size " : plane == 0 ? ": op_size0 " : ": op_size1 ";
        fail(label + field + decimal(counts[plane]) + " > max " + decimal(maximumOps));
    }

    std::array<PlaneState, 2> states;
    reader.seek(start + offset);
    for (int plane = 0; plane < planes; ++plane) {
        states[plane].codes = reader.decodeOpBlob(counts[plane]);
        states[plane].label = planes == 1 ? label : label + (plane == 0 ? ".p0" : ".p1");
    }
    const std::size_t blobsEnd = reader.position();
    reader.seek(start + header);

    Bytes texture(textureSize);
    if (reader.remaining() < stride) fail(label + ": seed past end");
    std::memcpy(texture.data(), reader.take(stride), stride);
    for (std::size_t p = stride; p < textureSize;) {
        for (int plane = 0; plane < planes; ++plane, p += 8) decodeElement(reader, texture, p, states[plane], stride);
    }
    // The data stream need not end exactly where the blobs begin.
    reader.seek(blobsEnd);
    return texture;
}

}  // namespace

HQTextures referenceDecodeHQ(ByteSpan payload, int codedWidth, int codedHeight, HQFormat format) {
    if (codedWidth < 8 || codedHeight < 8)
        fail("coded size " + decimal(static_cast<std::uint64_t>(std::max(codedWidth, 0))) + "x" +
             decimal(static_cast<std::uint64_t>(std::max(codedHeight, 0))) + " too small");
    const std::size_t w = static_cast<std::size_t>(codedWidth);
    const std::size_t h = static_cast<std::size_t>(codedHeight);
    const std::size_t lumaBlocks = (w / 4) * (h / 4);
    const std::size_t chromaBlocks = (w / 8) * (h / 8);

    HQReader reader(payload);
    HQTextures textures;
    if (format == HQFormat::yg10) {
        textures.tex = decodeSection(reader, "luma+alpha", 16 * lumaBlocks, 2, w * h / 16);
    } else {
        textures.tex = decodeSection(reader, "luma", 8 * lumaBlocks, 1, w * h / 16);
    }
    textures.ctex = decodeSection(reader, "chroma", 16 * chromaBlocks, 2, w * h / 32);
    if (reader.position() != reader.size())
        fail("payload not fully consumed: " + decimal(reader.position()) + " of " + decimal(reader.size()));
    return textures;
}

}  // namespace fw::DXV

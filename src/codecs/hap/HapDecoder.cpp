#include "codecs/hap/HapDecoder.h"

#include <charconv>
#include <limits>

#include "codecs/ByteBuffer.h"
#include "codecs/hap/HapDecoder_internal.h"
#include "codecs/hap/HapFormat.h"

namespace fw::HapDecoder {

DecodeError::DecodeError(std::string detail)
    : MalformedInput("malformed Hap frame: " + detail), detail_(std::move(detail)) {}

namespace detail {

void fail(const char* detail) { throw DecodeError(detail); }
void fail(std::string detail) { throw DecodeError(std::move(detail)); }

std::string hex(unsigned value) {
    char text[16];
    return std::string(text, std::to_chars(text, text + sizeof text, value, 16).ptr);
}

}  // namespace detail

namespace {

using detail::fail;
using detail::hex;

struct Section {
    std::uint8_t type = 0;
    std::size_t bodyStart = 0;
    std::size_t bodyLength = 0;
    std::size_t end() const { return bodyStart + bodyLength; }
};

// The section whose header starts at offset; its body must lie within bytes.
Section section(std::size_t offset, std::span<const std::uint8_t> bytes) {
    const std::size_t count = bytes.size();
    if (offset > count || count - offset < Hap::kShortHeaderBytes) fail("truncated header");
    const std::uint8_t* header = bytes.data() + offset;
    Section result;
    result.type = header[3];
    std::uint64_t length = loadLE24(header);
    if (length == 0) {
        if (count - offset < Hap::kLongHeaderBytes) fail("truncated long header");
        length = loadLE32(header + 4);
        result.bodyStart = offset + Hap::kLongHeaderBytes;
    } else {
        result.bodyStart = offset + Hap::kShortHeaderBytes;
    }
    if (length > count - result.bodyStart) fail("body past end");
    result.bodyLength = static_cast<std::size_t>(length);
    return result;
}

std::uint32_t tableEntry(std::span<const std::uint8_t> table, std::size_t i) { return loadLE32(table.data() + 4 * i); }

// Concatenated chunk outputs of a complex body.
std::vector<std::uint8_t> decodeComplex(std::span<const std::uint8_t> body, std::size_t maxTextureBytes) {
    const Section container = section(0, body);
    if (container.type != Hap::kSectionDecodeInstructions)
        fail("expected decode-instructions container, got 0x" + hex(container.type));

    std::span<const std::uint8_t> compressors, sizes, offsets;
    bool haveOffsets = false;
    for (std::size_t position = container.bodyStart; position < container.end();) {
        const Section table = section(position, body);
        const auto tableBody = body.subspan(table.bodyStart, table.bodyLength);
        switch (table.type) {
        case Hap::kSectionChunkCompressors: compressors = tableBody; break;
        case Hap::kSectionChunkSizes:
            if (tableBody.size() % 4 != 0) fail("bad size table");
            sizes = tableBody;
            break;
        case Hap::kSectionChunkOffsets:
            if (tableBody.size() % 4 != 0) fail("bad offset table");
            offsets = tableBody;
            haveOffsets = true;
            break;
        default: break;
        }
        position = table.end();
    }
    const std::size_t chunks = compressors.size();
    if (chunks == 0 || sizes.size() / 4 != chunks) fail("chunk tables missing or mismatched");
    if (haveOffsets && offsets.size() / 4 < chunks) fail("offset table shorter than the chunk count");

    const std::uint64_t base = container.end();
    std::uint64_t previousEnd = base;
    std::vector<std::uint8_t> texture;
    // Plain chunks add their size; Snappy ones reserve in snappyDecompressAppend.
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::uint64_t start = haveOffsets ? base + tableEntry(offsets, i) : previousEnd;
        const std::uint64_t end = start + tableEntry(sizes, i);
        if (end > body.size()) fail("chunk past end");
        previousEnd = end;
        const auto chunk = body.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
        switch (compressors[i]) {
        case Hap::kChunkCompressorSnappy: snappyDecompressAppend(chunk, texture, maxTextureBytes); break;
        case Hap::kChunkCompressorNone:
            if (chunk.size() > maxTextureBytes - texture.size()) fail("texture too large");
            texture.insert(texture.end(), chunk.begin(), chunk.end());
            break;
        default: fail("unknown chunk compressor 0x" + hex(compressors[i]));
        }
    }
    return texture;
}

}  // namespace

FrameView decodeFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& storage,
                      std::size_t maxTextureBytes) {
    const Section top = section(0, frame);
    const auto body = frame.subspan(top.bodyStart, top.bodyLength);
    FrameView view;
    view.formatCode = top.type & 0x0F;
    switch (top.type & 0xF0) {
    case Hap::kCompressorNone: view.texture = body; break;
    case Hap::kCompressorSnappy:
        storage.clear();
        snappyDecompressAppend(body, storage, maxTextureBytes);
        view.texture = storage;
        break;
    case Hap::kCompressorComplex:
        storage = decodeComplex(body, maxTextureBytes);
        view.texture = storage;
        break;
    default: fail("unknown compressor 0x" + hex(top.type & 0xF0u));
    }
    return view;
}

DecodedFrame decodeFrame(std::span<const std::uint8_t> frame, std::size_t maxTextureBytes) {
    std::vector<std::uint8_t> storage;
    const FrameView view = decodeFrame(frame, storage, maxTextureBytes);
    DecodedFrame decoded;
    decoded.formatCode = view.formatCode;
    if (view.texture.data() == storage.data())
        decoded.texture = std::move(storage);
    else
        decoded.texture.assign(view.texture.begin(), view.texture.end());
    return decoded;
}

}  // namespace fw::HapDecoder

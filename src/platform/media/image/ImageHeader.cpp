// The picture size a still image's header declares, read from as few bytes as
// each format needs, so that a picture too large to hold is refused before any
// decoder (ours or FFmpeg's probe) allocates for it. Byte layouts:
//   PNG   IHDR first: width, height as big-endian u32 at 16 and 20.
//   JPEG  markers from offset 2, each 0xFF, a code and (but for RSTn, TEM) a
//         big-endian u16 length that counts itself; the first SOFn holds
//         precision (u8), height, width (u16 each). Segments are skipped, not read.
//   GIF   logical screen: width, height as little-endian u16 at 6 and 8.
//   WebP  RIFF, "WEBP", then the first chunk at 12: "VP8 " (start code 9D 01 2A
//         at 23, 14-bit sides at 26 and 28), "VP8L" (0x2F at 20, then two
//         14-bit sides minus one), "VP8X" (24-bit sides minus one at 24, 27).
//   TIFF  byte order at 0, first IFD offset (u32) at 4; the IFD's tags 256
//         (ImageWidth) and 257 (ImageLength), SHORT or LONG.
//   BMP   DIB header size (u32) at 14: 12 gives u16 sides at 18, 20; the larger
//         headers signed 32-bit sides at 18, 22 (a negative height is top-down).
//   HEIF  boxes (u32 size, four-character type; size 1: u64 size follows; 0:
//         to the end). Top-level "meta" (a full box) holds "pitm" (the primary
//         item), and "iprp" with "ipco" (the properties, numbered from 1) and
//         "ipma" (which properties each item has); the primary item's "ispe"
//         gives its size. Without that chain, the largest "ispe" stands.
// Every offset and length is checked against what the reads return; a header
// that does not add up declares no size (the decoder then says what is wrong).

#include "platform/media/image/ImageReaders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace fw::media::image {

namespace {

// A JPEG with more segments than this before its frame header is not searched further.
constexpr int kMaxJpegSegments = 4096;
// TIFF directories list a few dozen tags; a longer one is only read this far.
constexpr std::uint32_t kMaxTiffTags = 1024;
// HEIF "meta" boxes hold item tables of a few kilobytes; larger ones are not read.
constexpr std::uint64_t kMaxHeifMetaBytes = std::uint64_t{1} << 22;

std::uint32_t be16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
std::uint32_t be32(const std::uint8_t* p) { return be16(p) << 16 | be16(p + 2); }
std::uint32_t le16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[1]) << 8 | p[0]; }
std::uint32_t le24(const std::uint8_t* p) { return le16(p) | static_cast<std::uint32_t>(p[2]) << 16; }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// Exactly `count` bytes at `offset`, or nothing.
std::optional<std::vector<std::uint8_t>> bytesAt(const ReadAt& read, std::uint64_t offset, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    if (read(offset, bytes) != count) return std::nullopt;
    return bytes;
}

DeclaredPicture sized(ImageFormat format, std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1) return {format, 0, 0};
    return {format, width, height};
}

DeclaredPicture pngSize(const ReadAt& read) {
    const auto head = bytesAt(read, 0, 24);
    if (!head || std::memcmp(head->data() + 12, "IHDR", 4) != 0) return {ImageFormat::png};
    return sized(ImageFormat::png, be32(head->data() + 16), be32(head->data() + 20));
}

bool isJpegFrameHeader(std::uint8_t marker) {
    // SOF0...SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

DeclaredPicture jpegSize(const ReadAt& read) {
    std::uint64_t offset = 2;
    for (int segment = 0; segment < kMaxJpegSegments; ++segment) {
        std::array<std::uint8_t, 9> marker{};
        if (read(offset, {marker.data(), 2}) != 2 || marker[0] != 0xFF) break;
        if (marker[1] == 0xFF) {  // fill byte before a marker
            ++offset;
            continue;
        }
        if ((marker[1] >= 0xD0 && marker[1] <= 0xD7) || marker[1] == 0x01) {
            offset += 2;
            continue;
        }
        if (marker[1] == 0xD9 || marker[1] == 0xDA) break;  // the image ends or its data begins
        if (read(offset + 2, {marker.data() + 2, 7}) != 7) break;
        const std::uint32_t length = be16(marker.data() + 2);
        if (length < 2) break;
        if (isJpegFrameHeader(marker[1]))
            return length < 7 ? DeclaredPicture{ImageFormat::jpeg}
                              : sized(ImageFormat::jpeg, be16(marker.data() + 7), be16(marker.data() + 5));
        offset += 2 + length;
    }
    return {ImageFormat::jpeg};
}

DeclaredPicture gifSize(const ReadAt& read) {
    const auto head = bytesAt(read, 0, 10);
    if (!head) return {ImageFormat::gif};
    return sized(ImageFormat::gif, le16(head->data() + 6), le16(head->data() + 8));
}

DeclaredPicture webpSize(const ReadAt& read) {
    std::array<std::uint8_t, 30> head{};
    const std::size_t count = read(0, head);
    const std::uint8_t* p = head.data();
    if (count >= 30 && std::memcmp(p + 12, "VP8 ", 4) == 0 && p[23] == 0x9D && p[24] == 0x01 && p[25] == 0x2A)
        return sized(ImageFormat::webp, le16(p + 26) & 0x3FFF, le16(p + 28) & 0x3FFF);
    if (count >= 25 && std::memcmp(p + 12, "VP8L", 4) == 0 && p[20] == 0x2F) {
        const std::uint32_t bits = le32(p + 21);
        return sized(ImageFormat::webp, (bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    if (count >= 30 && std::memcmp(p + 12, "VP8X", 4) == 0)
        return sized(ImageFormat::webp, std::int64_t{le24(p + 24)} + 1, std::int64_t{le24(p + 27)} + 1);
    return {ImageFormat::webp};
}

DeclaredPicture tiffSize(const ReadAt& read) {
    const auto head = bytesAt(read, 0, 8);
    if (!head) return {ImageFormat::tiff};
    const bool little = (*head)[0] == 'I';
    const auto u16 = [little](const std::uint8_t* p) { return little ? le16(p) : be16(p); };
    const auto u32 = [little](const std::uint8_t* p) { return little ? le32(p) : be32(p); };
    const std::uint32_t directory = u32(head->data() + 4);
    const auto count = bytesAt(read, directory, 2);
    if (!count) return {ImageFormat::tiff};
    const std::uint32_t tags = std::min(u16(count->data()), kMaxTiffTags);
    const auto entries = bytesAt(read, std::uint64_t{directory} + 2, std::size_t{tags} * 12);
    if (!entries) return {ImageFormat::tiff};
    std::int64_t width = 0, height = 0;
    for (std::uint32_t i = 0; i < tags; ++i) {
        const std::uint8_t* entry = entries->data() + std::size_t{i} * 12;
        const std::uint32_t tag = u16(entry), type = u16(entry + 2);
        // A single SHORT sits in the first two bytes of the value field.
        const std::int64_t value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : 0;
        if (tag == 256) width = value;
        if (tag == 257) height = value;
    }
    return sized(ImageFormat::tiff, width, height);
}

DeclaredPicture bmpSize(const ReadAt& read) {
    const auto head = bytesAt(read, 0, 26);
    if (!head) return {ImageFormat::bmp};
    const std::uint8_t* p = head->data();
    const std::uint32_t header = le32(p + 14);
    if (header == 12) return sized(ImageFormat::bmp, le16(p + 18), le16(p + 20));
    if (header < 16 || header > 124) return {ImageFormat::bmp};
    const auto width = static_cast<std::int32_t>(le32(p + 18));
    const auto height = static_cast<std::int32_t>(le32(p + 22));
    return sized(ImageFormat::bmp, width, height == INT32_MIN ? 0 : std::abs(height));
}

// One box inside `bytes`: its type, and its payload's place.
struct Box {
    std::array<char, 4> type{};
    std::size_t begin = 0, end = 0;  // payload
    std::size_t next = 0;            // the box after it
};

std::optional<Box> boxAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (bytes.size() < 8 || offset > bytes.size() - 8) return std::nullopt;
    const std::uint8_t* p = bytes.data() + offset;
    std::uint64_t size = be32(p);
    std::size_t header = 8;
    if (size == 1) {
        if (offset > bytes.size() - 16) return std::nullopt;
        size = std::uint64_t{be32(p + 8)} << 32 | be32(p + 12);
        header = 16;
    } else if (size == 0) {
        size = bytes.size() - offset;
    }
    if (size < header || size > bytes.size() - offset) return std::nullopt;
    Box box;
    std::memcpy(box.type.data(), p + 4, 4);
    box.begin = offset + header;
    box.end = offset + static_cast<std::size_t>(size);
    box.next = box.end;
    return box;
}

bool isType(const Box& box, const char* type) { return std::memcmp(box.type.data(), type, 4) == 0; }

// The children of the box whose payload is [begin, end), past `skip` bytes (a full box's version and flags).
std::vector<Box> children(std::span<const std::uint8_t> bytes, std::size_t begin, std::size_t end, std::size_t skip) {
    std::vector<Box> boxes;
    if (end - begin < skip) return boxes;
    const auto inside = bytes.subspan(0, end);
    for (std::size_t at = begin + skip; at < end;) {
        const auto box = boxAt(inside, at);
        if (!box) break;
        boxes.push_back(*box);
        at = box->next;
    }
    return boxes;
}

// The primary item's "ispe" in a "meta" box's payload, else the largest one.
DeclaredPicture heifMetaSize(std::span<const std::uint8_t> meta) {
    const std::vector<Box> boxes = children(meta, 0, meta.size(), 4);
    std::optional<std::uint32_t> primary;
    std::vector<Box> properties;
    std::optional<Box> associations;
    for (const Box& box : boxes) {
        if (isType(box, "pitm") && box.end - box.begin >= 6) {
            const std::uint8_t* p = meta.data() + box.begin;
            if (p[0] == 0)
                primary = be16(p + 4);
            else if (box.end - box.begin >= 8)
                primary = be32(p + 4);
        }
        if (isType(box, "iprp"))
            for (const Box& child : children(meta, box.begin, box.end, 0)) {
                if (isType(child, "ipco")) properties = children(meta, child.begin, child.end, 0);
                if (isType(child, "ipma")) associations = child;
            }
    }
    const auto spatialExtent = [&](const Box& box) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
        if (!isType(box, "ispe") || box.end - box.begin < 12) return std::nullopt;
        const std::uint8_t* p = meta.data() + box.begin;
        return std::pair<std::int64_t, std::int64_t>{be32(p + 4), be32(p + 8)};
    };

    if (primary && associations && associations->end - associations->begin >= 8) {
        const std::uint8_t* p = meta.data() + associations->begin;
        const std::uint8_t* end = meta.data() + associations->end;
        const int version = p[0];
        const bool wideIndices = (p[3] & 1) != 0;
        const std::uint32_t entries = be32(p + 4);
        p += 8;
        for (std::uint32_t entry = 0; entry < entries; ++entry) {
            const std::size_t idBytes = version < 1 ? 2 : 4;
            if (static_cast<std::size_t>(end - p) < idBytes + 1) break;
            const std::uint32_t item = version < 1 ? be16(p) : be32(p);
            const int count = p[idBytes];
            p += idBytes + 1;
            const std::size_t indexBytes = wideIndices ? 2 : 1;
            if (static_cast<std::size_t>(end - p) < indexBytes * static_cast<std::size_t>(count)) break;
            for (int i = 0; i < count; ++i, p += indexBytes) {
                if (item != *primary) continue;
                const std::uint32_t index = wideIndices ? be16(p) & 0x7FFF : p[0] & 0x7Fu;
                if (index < 1 || index > properties.size()) continue;
                if (const auto extent = spatialExtent(properties[index - 1]))
                    return sized(ImageFormat::heif, extent->first, extent->second);
            }
        }
    }
    std::int64_t width = 0, height = 0;
    for (const Box& box : properties)
        if (const auto extent = spatialExtent(box); extent && extent->first * extent->second > width * height)
            std::tie(width, height) = *extent;
    return sized(ImageFormat::heif, width, height);
}

DeclaredPicture heifSize(const ReadAt& read) {
    DeclaredPicture declared{ImageFormat::heif};
    if (const auto brand = bytesAt(read, 8, 4)) {
        for (std::string_view sequence : {"hevc", "hevx", "msf1", "avis"})
            declared.sequence |= std::memcmp(brand->data(), sequence.data(), 4) == 0;
    }
    // Top-level boxes, read header by header, up to "meta".
    std::uint64_t offset = 0;
    for (int box = 0; box < 64; ++box) {
        std::array<std::uint8_t, 16> bytes{};
        const std::size_t got = read(offset, bytes);
        if (got < 8) break;
        std::uint64_t size = be32(bytes.data());
        std::uint64_t header = 8;
        if (size == 1) {
            if (got < 16) break;
            size = std::uint64_t{be32(bytes.data() + 8)} << 32 | be32(bytes.data() + 12);
            header = 16;
        }
        if (size != 0 && size < header) break;
        if (std::memcmp(bytes.data() + 4, "meta", 4) == 0) {
            // A box running to the file's end is read as far as the cap.
            const std::uint64_t payload = size == 0 ? kMaxHeifMetaBytes : size - header;
            if (payload > kMaxHeifMetaBytes) break;
            std::vector<std::uint8_t> meta(static_cast<std::size_t>(payload));
            meta.resize(read(offset + header, meta));
            const DeclaredPicture found = heifMetaSize(meta);
            declared.width = found.width;
            declared.height = found.height;
            break;
        }
        if (size == 0) break;
        offset += size;
    }
    return declared;
}

// Reads from memory.
ReadAt memoryReader(std::span<const std::uint8_t> file) {
    return [file](std::uint64_t offset, std::span<std::uint8_t> bytes) -> std::size_t {
        if (offset >= file.size()) return 0;
        const std::size_t count = std::min<std::size_t>(bytes.size(), file.size() - static_cast<std::size_t>(offset));
        std::memcpy(bytes.data(), file.data() + offset, count);
        return count;
    };
}

}  // namespace

DeclaredPicture declaredPicture(const ReadAt& read) {
    std::array<std::uint8_t, 16> first{};
    const std::size_t count = read(0, first);
    switch (sniffImageFormat({first.data(), count})) {
    case ImageFormat::png: return pngSize(read);
    case ImageFormat::jpeg: return jpegSize(read);
    case ImageFormat::gif: return gifSize(read);
    case ImageFormat::webp: return webpSize(read);
    case ImageFormat::tiff: return tiffSize(read);
    case ImageFormat::bmp: return bmpSize(read);
    case ImageFormat::heif: return heifSize(read);
    case ImageFormat::unknown: break;
    }
    return {};
}

DeclaredPicture declaredPicture(std::span<const std::uint8_t> file) { return declaredPicture(memoryReader(file)); }

void checkDeclaredSize(const DeclaredPicture& declared) {
    if (declared.width > 0 && declared.height > 0) checkImageSize(declared.width, declared.height);
}

}  // namespace fw::media::image

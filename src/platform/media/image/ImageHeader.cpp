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
//         gives its size, but for a grid or an overlay (its type in "iinf"),
//         whose data ("iloc": in "idat" or the file) gives the output size the
//         decoder makes. Without that chain, the largest "ispe" stands.
// Every offset and length is checked against what the reads return; a header
// that does not add up declares no size (the decoder then says what is wrong).

#include "platform/media/image/ImageReaders.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
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

// Sides are 32-bit, so their products fit 64 unsigned bits.
std::uint64_t area(std::int64_t width, std::int64_t height) {
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
}

using Extent = std::pair<std::int64_t, std::int64_t>;

// A big-endian number of 0, 2, 4 or 8 bytes at `p`, moving `p` past it; nothing past `end`.
std::optional<std::uint64_t> takeNumber(const std::uint8_t*& p, const std::uint8_t* end, std::size_t bytes) {
    if (bytes != 0 && bytes != 2 && bytes != 4 && bytes != 8) return std::nullopt;
    if (static_cast<std::size_t>(end - p) < bytes) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value = value << 8 | p[i];
    p += bytes;
    return value;
}

// The item tables of a "meta" box's payload.
struct HeifItems {
    std::span<const std::uint8_t> meta;
    std::optional<std::uint32_t> primary;
    std::vector<Box> properties;
    std::optional<Box> associations, locations, information, data;

    explicit HeifItems(std::span<const std::uint8_t> payload) : meta(payload) {
        for (const Box& box : children(meta, 0, meta.size(), 4)) {
            if (isType(box, "pitm") && box.end - box.begin >= 6) {
                const std::uint8_t* p = meta.data() + box.begin;
                if (p[0] == 0)
                    primary = be16(p + 4);
                else if (box.end - box.begin >= 8)
                    primary = be32(p + 4);
            }
            if (isType(box, "iloc")) locations = box;
            if (isType(box, "iinf")) information = box;
            if (isType(box, "idat")) data = box;
            if (isType(box, "iprp"))
                for (const Box& child : children(meta, box.begin, box.end, 0)) {
                    if (isType(child, "ipco")) properties = children(meta, child.begin, child.end, 0);
                    if (isType(child, "ipma")) associations = child;
                }
        }
    }

    std::optional<Extent> spatialExtent(const Box& box) const {
        if (!isType(box, "ispe") || box.end - box.begin < 12) return std::nullopt;
        const std::uint8_t* p = meta.data() + box.begin;
        return Extent{be32(p + 4), be32(p + 8)};
    }

    // The "ispe" associated with `item`.
    std::optional<Extent> itemExtent(std::uint32_t item) const {
        if (!associations || associations->end - associations->begin < 8) return std::nullopt;
        const std::uint8_t* p = meta.data() + associations->begin;
        const std::uint8_t* end = meta.data() + associations->end;
        const std::size_t idBytes = p[0] < 1 ? 2 : 4, indexBytes = (p[3] & 1) != 0 ? 2 : 1;
        const std::uint32_t entries = be32(p + 4);
        p += 8;
        for (std::uint32_t entry = 0; entry < entries; ++entry) {
            const auto id = takeNumber(p, end, idBytes);
            if (!id || p == end) break;
            const std::size_t count = *p++;
            if (static_cast<std::size_t>(end - p) < indexBytes * count) break;
            for (std::size_t i = 0; i < count; ++i, p += indexBytes) {
                const std::uint32_t index = indexBytes == 2 ? be16(p) & 0x7FFF : p[0] & 0x7Fu;
                if (*id != item || index < 1 || index > properties.size()) continue;
                if (const auto extent = spatialExtent(properties[index - 1])) return extent;
            }
        }
        return std::nullopt;
    }

    // The four-character type of `item` ("hvc1", "grid", ...), from its "infe".
    std::optional<std::array<char, 4>> itemType(std::uint32_t item) const {
        if (!information || information->end - information->begin < 6) return std::nullopt;
        const std::size_t countBytes = meta[information->begin] == 0 ? 2 : 4;
        for (const Box& entry : children(meta, information->begin, information->end, 4 + countBytes)) {
            if (!isType(entry, "infe") || entry.end - entry.begin < 12) continue;
            const std::uint8_t* p = meta.data() + entry.begin;
            const int version = p[0];
            if (version < 2) continue;
            const std::size_t idBytes = version == 2 ? 2 : 4;
            if (entry.end - entry.begin < 4 + idBytes + 2 + 4) continue;
            const std::uint32_t id = version == 2 ? be16(p + 4) : be32(p + 4);
            if (id != item) continue;
            std::array<char, 4> type{};
            std::memcpy(type.data(), p + 4 + idBytes + 2, 4);
            return type;
        }
        return std::nullopt;
    }

    // The first bytes of `item`'s data: from "idat", or from the file.
    std::optional<std::array<std::uint8_t, 20>> itemData(std::uint32_t item, const ReadAt& read) const {
        if (!locations || locations->end - locations->begin < 8) return std::nullopt;
        const std::uint8_t* p = meta.data() + locations->begin;
        const std::uint8_t* end = meta.data() + locations->end;
        const int version = p[0];
        const std::size_t offsetBytes = p[4] >> 4, lengthBytes = p[4] & 15, baseBytes = p[5] >> 4;
        const std::size_t indexBytes = version == 1 || version == 2 ? p[5] & 15 : 0;
        p += 6;
        const auto count = takeNumber(p, end, version < 2 ? 2 : 4);
        for (std::uint64_t i = 0; count && i < *count; ++i) {
            const auto id = takeNumber(p, end, version < 2 ? 2 : 4);
            const auto method = version == 1 || version == 2 ? takeNumber(p, end, 2) : std::optional<std::uint64_t>(0);
            const auto reference = takeNumber(p, end, 2);
            const auto base = takeNumber(p, end, baseBytes);
            const auto extents = takeNumber(p, end, 2);
            if (!id || !method || !reference || !base || !extents || *extents < 1) return std::nullopt;
            std::optional<std::uint64_t> offset;
            for (std::uint64_t extent = 0; extent < *extents; ++extent) {
                const auto index = takeNumber(p, end, indexBytes);
                const auto at = takeNumber(p, end, offsetBytes);
                const auto length = takeNumber(p, end, lengthBytes);
                if (!index || !at || !length) return std::nullopt;
                if (extent == 0) offset = *base + *at;
            }
            if (*id != item) continue;
            std::array<std::uint8_t, 20> bytes{};
            if ((*method & 15) == 0) {
                if (*offset > std::numeric_limits<std::uint64_t>::max() - bytes.size() ||
                    read(*offset, bytes) < bytes.size() / 2)
                    return std::nullopt;
                return bytes;
            }
            if ((*method & 15) != 1 || !data || *offset > data->end - data->begin) return std::nullopt;
            const std::size_t inside = data->begin + static_cast<std::size_t>(*offset);
            std::memcpy(bytes.data(), meta.data() + inside, std::min(bytes.size(), data->end - inside));
            return bytes;
        }
        return std::nullopt;
    }
};

// The picture a grid ("grid") or overlay ("iovl") item makes: the output size
// its data gives, 16-bit sides or, with flag 1, 32-bit ones.
std::optional<Extent> derivedExtent(const HeifItems& items, std::uint32_t item, const ReadAt& read) {
    const auto type = items.itemType(item);
    if (!type) return std::nullopt;
    const bool grid = std::memcmp(type->data(), "grid", 4) == 0, overlay = std::memcmp(type->data(), "iovl", 4) == 0;
    if (!grid && !overlay) return std::nullopt;
    const auto data = items.itemData(item, read);
    if (!data) return std::nullopt;
    const bool wide = ((*data)[1] & 1) != 0;
    const std::uint8_t* sides = data->data() + (grid ? 4 : 10);
    return wide ? Extent{be32(sides), be32(sides + 4)} : Extent{be16(sides), be16(sides + 2)};
}

// The primary item's size: a grid's or overlay's output size, else its
// "ispe"; without those, the largest "ispe" stands.
DeclaredPicture heifMetaSize(const HeifItems& items, const ReadAt& read) {
    if (items.primary) {
        if (const auto extent = derivedExtent(items, *items.primary, read))
            return sized(ImageFormat::heif, extent->first, extent->second);
        if (const auto extent = items.itemExtent(*items.primary))
            return sized(ImageFormat::heif, extent->first, extent->second);
    }
    Extent largest{0, 0};
    for (const Box& box : items.properties)
        if (const auto extent = items.spatialExtent(box);
            extent && area(extent->first, extent->second) > area(largest.first, largest.second))
            largest = *extent;
    return sized(ImageFormat::heif, largest.first, largest.second);
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
            const DeclaredPicture found = heifMetaSize(HeifItems(meta), read);
            declared.width = found.width;
            declared.height = found.height;
            break;
        }
        if (size == 0 || size > std::numeric_limits<std::uint64_t>::max() - offset) break;
        offset += size;
    }
    return declared;
}

// Reads from memory.
ReadAt memoryReader(std::span<const std::uint8_t> file) {
    return [file](std::uint64_t offset, std::span<std::uint8_t> bytes) -> std::size_t {
        if (bytes.empty() || offset >= file.size()) return 0;
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

#include "platform/media/StatedLength_internal.h"

#include "codecs/ByteBuffer.h"
#include "platform/media/FFmpeg_internal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <string_view>

namespace fw::media::detail {

namespace {

constexpr std::uint32_t fourcc(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

// A chunk's payload and the pad byte that follows an odd size.
constexpr std::uint64_t paddedSize(std::uint32_t size) { return std::uint64_t{size} + (size & 1u); }

struct Chunk {
    std::uint32_t id = 0;
    std::uint32_t size = 0;
    // The part of the payload that lies within the bytes.
    std::span<const std::uint8_t> payload;
};

// The chunks one after another; the last may run past the bytes.
class ChunkWalk {
public:
    explicit ChunkWalk(std::span<const std::uint8_t> bytes) : reader_(bytes) {}

    std::optional<Chunk> next() {
        const auto id = reader_.readU32LE();
        const auto size = reader_.readU32LE();
        if (!id || !size) return std::nullopt;
        const Chunk chunk{*id, *size, reader_.rest().first(std::min<std::size_t>(*size, reader_.remaining()))};
        if (!reader_.skip(paddedSize(*size))) reader_.seek(reader_.size());
        return chunk;
    }

private:
    ByteReader reader_;
};

// The payload of a RIFF file of the given form, or none.
std::optional<std::span<const std::uint8_t>> riffForm(std::span<const std::uint8_t> head, std::uint32_t form) {
    ByteReader reader(head);
    if (reader.readU32LE() != fourcc("RIFF") || !reader.skip(4) || reader.readU32LE() != form) return std::nullopt;
    return reader.rest();
}

// A LIST chunk's type and the chunks after it.
std::optional<std::pair<std::uint32_t, std::span<const std::uint8_t>>> listOf(const Chunk& chunk) {
    if (chunk.id != fourcc("LIST")) return std::nullopt;
    ByteReader reader(chunk.payload);
    const auto type = reader.readU32LE();
    if (!type) return std::nullopt;
    return std::pair{*type, reader.rest()};
}

std::optional<double> secondsOf(std::uint64_t units, std::uint32_t scale, std::uint32_t rate) {
    if (units == 0 || scale == 0 || rate == 0) return std::nullopt;
    return static_cast<double>(units) * scale / rate;
}

// The streams of an AVI's 'hdrl' list, in FFmpeg's order: one per stream
// header, but for padding streams.
std::optional<StreamSeconds> aviStreams(std::span<const std::uint8_t> headerList) {
    std::optional<double> mainSeconds;
    StreamSeconds streams;
    ChunkWalk walk(headerList);
    while (const auto chunk = walk.next()) {
        if (chunk->id == fourcc("avih")) {
            ByteReader avih(chunk->payload);
            const auto microseconds = avih.readU32LE();
            const auto frames = avih.skip(12) ? avih.readU32LE() : std::nullopt;
            if (microseconds && frames) mainSeconds = secondsOf(*frames, *microseconds, 1'000'000);
            continue;
        }
        const auto list = listOf(*chunk);
        if (!list || list->first != fourcc("strl")) continue;
        ChunkWalk inner(list->second);
        std::optional<Chunk> strh;
        while (const auto candidate = inner.next())
            if (candidate->id == fourcc("strh")) {
                strh = candidate;
                break;
            }
        if (!strh) continue;
        ByteReader header(strh->payload);
        const auto type = header.readU32LE();
        const auto scale = header.seek(20) ? header.readU32LE() : std::nullopt;
        const auto rate = header.readU32LE();
        const auto length = header.seek(32) ? header.readU32LE() : std::nullopt;
        // A stream header cut short leaves the streams unknown.
        if (!type || !scale || !rate || !length) return std::nullopt;
        if (*type == fourcc("pads")) continue;
        // DV type 1 is demuxed as the DV stream's own sound and pictures.
        if (*type == fourcc("iavs")) return std::nullopt;
        std::optional<double> seconds;
        if (*type == fourcc("vids")) {
            seconds = secondsOf(*length, *scale, *rate);
            if (!seconds) seconds = mainSeconds;
        }
        streams.push_back(seconds);
    }
    return streams;
}

bool storesPcm(std::uint16_t formatTag) {
    // PCM, IEEE float, A-law, mu-law, extensible.
    return formatTag == 1 || formatTag == 3 || formatTag == 6 || formatTag == 7 || formatTag == 0xFFFE;
}

// The bytes a second of sound takes by a WAV's format chunk; none when it does
// not say.
std::optional<double> soundBytesPerSecond(std::span<const std::uint8_t> formatChunk) {
    ByteReader fmt(formatChunk);
    const auto tag = fmt.readU16LE();
    const auto channels = fmt.readU16LE();
    const auto sampleRate = fmt.readU32LE();
    const auto average = fmt.readU32LE();
    const auto bits = fmt.skip(2) ? fmt.readU16LE() : std::nullopt;
    if (!tag || !channels || !sampleRate || !average) return std::nullopt;
    // Sound stored as samples lasts as FFmpeg counts it, by the sample size;
    // other codings by the rate the header gives.
    const std::uint64_t frameBytes = bits ? std::uint64_t{*channels} * ((*bits + 7u) / 8u) : 0;
    if (storesPcm(*tag) && frameBytes > 0 && *sampleRate > 0) return static_cast<double>(frameBytes) * *sampleRate;
    if (*average > 0) return *average;
    return std::nullopt;
}

constexpr std::uint32_t boxType(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

std::uint64_t loadBE(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) value = value << 8 | byte;
    return value;
}

struct Box {
    std::uint32_t type = 0;
    std::uint64_t headerSize = 0;
    std::uint64_t size = 0;  // header included; may run past the bytes there are
};

// The box at `offset`, before `end`; none when its header is cut short or
// states a size smaller than itself.
std::optional<Box> boxAt(const ReadAt& read, std::uint64_t offset, std::uint64_t end) {
    if (offset >= end || end - offset < 8) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    const std::span header = std::span(bytes).first(std::min<std::uint64_t>(bytes.size(), end - offset));
    const std::size_t got = std::min(read(offset, header), header.size());
    if (got < 8) return std::nullopt;
    Box box{static_cast<std::uint32_t>(loadBE(header.subspan(4, 4))), 8, loadBE(header.first(4))};
    if (box.size == 1) {
        if (got < 16) return std::nullopt;
        box.headerSize = 16;
        box.size = loadBE(header.subspan(8, 8));
    } else if (box.size == 0) {
        box.size = end - offset;
    }
    if (box.size < box.headerSize) return std::nullopt;
    return box;
}

}  // namespace

std::optional<bool> mp4Fragmented(const ReadAt& read, std::uint64_t fileSize) {
    // Each step moves on by at least a box header, and stops at the file's end.
    std::uint64_t offset = 0;
    for (int boxes = 0; boxes < kMostMp4Boxes; ++boxes) {
        const auto box = boxAt(read, offset, fileSize);
        if (!box) return std::nullopt;
        if (box->type == boxType("moov")) {
            const std::uint64_t end = offset + std::min(box->size, fileSize - offset);
            std::uint64_t child = offset + box->headerSize;
            for (int children = 0; children < kMostMp4Boxes; ++children) {
                const auto inner = boxAt(read, child, end);
                if (!inner) return false;
                if (inner->type == boxType("mvex")) return true;
                if (inner->size > end - child) return false;
                child += inner->size;
            }
            return false;
        }
        if (box->size > fileSize - offset) return std::nullopt;
        offset += box->size;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> flvStatedFileSize(std::span<const std::uint8_t> head) {
    ByteReader reader(head);
    const auto number = [&](std::size_t bytes) -> std::optional<std::uint64_t> {
        const auto read = reader.readBytes(bytes);
        return read ? std::optional(loadBE(*read)) : std::nullopt;
    };
    const auto text = [&](std::string_view expected) {
        const auto size = number(2);
        const auto read = size ? reader.readBytes(*size) : std::nullopt;
        return read && std::equal(read->begin(), read->end(), expected.begin(), expected.end());
    };
    const auto signature = reader.readBytes(3);
    if (!signature || !std::equal(signature->begin(), signature->end(), "FLV") || !reader.skip(2)) return std::nullopt;
    // Past the header and the size of no tag before the first, to the script tag's data.
    const auto headerSize = number(4);
    if (!headerSize || !reader.seek(*headerSize + 4) || reader.readU8() != 18 || !reader.skip(10)) return std::nullopt;
    if (reader.readU8() != 2 || !text("onMetaData")) return std::nullopt;
    const auto container = reader.readU8();
    if (container != 3 && !(container == 8 && reader.skip(4))) return std::nullopt;
    for (;;) {
        const bool fileSize = text("filesize");
        const auto type = reader.readU8();
        if (!type) return std::nullopt;
        switch (*type) {
        case 0: {
            const auto bits = number(8);
            if (!bits) return std::nullopt;
            const double value = std::bit_cast<double>(*bits);
            if (fileSize) return value >= 1 && value < 0x1p62 ? std::optional(std::uint64_t(value)) : std::nullopt;
            break;
        }
        case 1: reader.skip(1); break;
        case 2: text({}); break;
        case 5:
        case 6: break;
        case 11: reader.skip(10); break;
        // The end of the values (after an empty name), or one of a kind not read here.
        default: return std::nullopt;
        }
    }
}

std::optional<double> matroskaTagSeconds(std::string_view text) {
    const char* const end = text.data() + text.size();
    unsigned hours = 0, minutes = 0;
    double seconds = 0;
    auto parsed = std::from_chars(text.data(), end, hours);
    if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != ':') return std::nullopt;
    parsed = std::from_chars(parsed.ptr + 1, end, minutes);
    if (parsed.ec != std::errc() || parsed.ptr == end || *parsed.ptr != ':' || minutes >= 60) return std::nullopt;
    // Digits only: from_chars would also take a sign, "inf" or "nan".
    const std::string_view rest(parsed.ptr + 1, end);
    if (rest.empty() || rest.find_first_not_of("0123456789.") != std::string_view::npos) return std::nullopt;
    parsed = std::from_chars(rest.data(), end, seconds, std::chars_format::fixed);
    if (parsed.ec != std::errc() || parsed.ptr != end || !(seconds < 60)) return std::nullopt;
    return hours * 3600.0 + minutes * 60.0 + seconds;
}

ReadAt readerOf(int descriptor) {
    return [descriptor](std::uint64_t offset, std::span<std::uint8_t> into) {
        std::size_t filled = 0;
        while (filled < into.size()) {
            const ssize_t got =
                ::pread(descriptor, into.data() + filled, into.size() - filled, static_cast<off_t>(offset + filled));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            filled += static_cast<std::size_t>(got);
        }
        return filled;
    };
}

std::optional<StreamSeconds> aviStatedSeconds(std::span<const std::uint8_t> head) {
    const auto form = riffForm(head, fourcc("AVI "));
    if (!form) return std::nullopt;
    ChunkWalk walk(*form);
    // The header list comes first; the data list ('movi') never before it.
    while (const auto chunk = walk.next()) {
        const auto list = listOf(*chunk);
        if (!list) continue;
        if (list->first == fourcc("hdrl")) return aviStreams(list->second);
        if (list->first == fourcc("movi")) break;
    }
    return std::nullopt;
}

std::optional<StreamSeconds> wavStatedSeconds(const ReadAt& read, std::uint64_t fileSize) {
    std::array<std::uint8_t, 16> buffer{};
    // Up to `count` (at most 16) bytes at `offset`, as many as the file has.
    const auto bytesAt = [&](std::uint64_t offset, std::size_t count) -> std::span<const std::uint8_t> {
        if (offset >= fileSize) return {};
        const std::span into = std::span(buffer).first(std::min<std::uint64_t>(count, fileSize - offset));
        return into.first(std::min(read(offset, into), into.size()));
    };
    ByteReader riff(bytesAt(0, 12));
    if (riff.readU32LE() != fourcc("RIFF") || !riff.skip(4) || riff.readU32LE() != fourcc("WAVE")) return std::nullopt;
    std::optional<double> bytesPerSecond;
    // Each step moves on by at least a chunk header and at most 2^32 + 8
    // bytes from within the file: the offset cannot wrap, and the walk ends.
    std::uint64_t offset = 12;
    for (int chunks = 0; chunks < kMostWavChunks; ++chunks) {
        ByteReader header(bytesAt(offset, 8));
        const auto id = header.readU32LE();
        const auto size = header.readU32LE();
        if (!id || !size) return std::nullopt;
        if (*id == fourcc("fmt ")) {
            bytesPerSecond = soundBytesPerSecond(bytesAt(offset + 8, std::min<std::uint32_t>(*size, 16)));
            if (!bytesPerSecond) return std::nullopt;
        } else if (*id == fourcc("data")) {
            if (!bytesPerSecond) return std::nullopt;
            if (*size == 0 || *size >= 0x7FFFF000u) return StreamSeconds{std::nullopt};
            return StreamSeconds{*size / *bytesPerSecond};
        }
        offset += 8 + paddedSize(*size);
    }
    return std::nullopt;
}

std::optional<StreamSeconds> statedStreamSeconds(const AVFormatContext& format, int descriptor) {
    const std::string_view name = format.iformat ? format.iformat->name : "";
    struct stat file {};
    if ((name != "avi" && name != "wav") || descriptor < 0 || ::fstat(descriptor, &file) != 0) return std::nullopt;
    const ReadAt read = readerOf(descriptor);
    const auto fileSize = static_cast<std::uint64_t>(std::max<off_t>(file.st_size, 0));
    std::optional<StreamSeconds> stated;
    if (name == "wav") {
        stated = wavStatedSeconds(read, fileSize);
    } else {
        std::vector<std::uint8_t> head(std::min<std::uint64_t>(kStatedLengthHeadBytes, fileSize));
        head.resize(read(0, head));
        stated = aviStatedSeconds(head);
    }
    if (!stated || stated->size() != format.nb_streams) return std::nullopt;
    return stated;
}

}  // namespace fw::media::detail

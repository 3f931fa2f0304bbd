#include "platform/media/StatedLength_internal.h"

#include "codecs/ByteBuffer.h"
#include "platform/media/FFmpeg_internal.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace fw::media::detail {

namespace {

constexpr std::uint32_t fourcc(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

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
        if (!reader_.skip(std::size_t{*size} + (*size & 1))) reader_.seek(reader_.size());
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

}  // namespace

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

std::optional<StreamSeconds> wavStatedSeconds(std::span<const std::uint8_t> head) {
    const auto form = riffForm(head, fourcc("WAVE"));
    if (!form) return std::nullopt;
    std::optional<double> bytesPerSecond;
    ChunkWalk walk(*form);
    while (const auto chunk = walk.next()) {
        if (chunk->id == fourcc("fmt ")) {
            ByteReader fmt(chunk->payload);
            const auto tag = fmt.readU16LE();
            const auto channels = fmt.readU16LE();
            const auto sampleRate = fmt.readU32LE();
            const auto average = fmt.readU32LE();
            const auto bits = fmt.skip(2) ? fmt.readU16LE() : std::nullopt;
            if (!tag || !channels || !sampleRate || !average) return std::nullopt;
            // Sound stored as samples lasts as FFmpeg counts it, by the sample
            // size; other codings by the rate the header gives.
            const std::uint64_t frameBytes = bits ? std::uint64_t{*channels} * ((*bits + 7u) / 8u) : 0;
            if (storesPcm(*tag) && frameBytes > 0 && *sampleRate > 0)
                bytesPerSecond = static_cast<double>(frameBytes) * *sampleRate;
            else if (*average > 0)
                bytesPerSecond = *average;
            else
                return std::nullopt;
        } else if (chunk->id == fourcc("data")) {
            if (!bytesPerSecond) return std::nullopt;
            if (chunk->size == 0 || chunk->size >= 0x7FFFF000u) return StreamSeconds{std::nullopt};
            return StreamSeconds{chunk->size / *bytesPerSecond};
        }
    }
    return std::nullopt;
}

std::optional<StreamSeconds> statedStreamSeconds(const AVFormatContext& format, int descriptor) {
    const std::string_view name = format.iformat ? format.iformat->name : "";
    if ((name != "avi" && name != "wav") || descriptor < 0) return std::nullopt;
    std::vector<std::uint8_t> head(kStatedLengthHeadBytes);
    std::size_t filled = 0;
    while (filled < head.size()) {
        const ssize_t got = ::pread(descriptor, head.data() + filled, head.size() - filled, static_cast<off_t>(filled));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    head.resize(filled);
    auto stated = name == "avi" ? aviStatedSeconds(head) : wavStatedSeconds(head);
    if (!stated || stated->size() != format.nb_streams) return std::nullopt;
    return stated;
}

}  // namespace fw::media::detail

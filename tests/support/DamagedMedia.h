#pragma once
// Damage in the middle of a file, as a bad sector or a broken copy leaves it: the container stays whole and some of
// one stream's packets carry bytes no encoder wrote. The packets are found through ffprobe, so the same damage lands
// in the same place of whatever the generated file holds. Or bits flipped and blocks moved at places a seed picks,
// wherever they land: in the pictures, the sound, their times or the container's own structure.

#include "support/Probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fw::test {

struct PacketSpan {
    double seconds = 0;  // presentation time
    std::int64_t offset = 0, size = 0;
};

// The packets of the first stream of `type` ("audio", "video"), in file order.
inline std::vector<PacketSpan> packetsOf(const std::filesystem::path& file, const std::string& type) {
    const Json probed = probe(file, {"-show_packets"});
    const Json stream = streamOf(probed, type);
    std::vector<PacketSpan> spans;
    if (stream.is_null()) return spans;
    for (const auto& packet : probed.value("packets", Json::array()))
        if (packet.value("stream_index", -1) == stream.value("index", -2))
            spans.push_back({number(packet["pts_time"]), static_cast<std::int64_t>(number(packet["pos"])),
                             static_cast<std::int64_t>(number(packet["size"]))});
    return spans;
}

// A copy of `source` at `destination` in which `count` packets of the first `type` stream (all of them from there
// on for a negative count), starting with the first at or after `fromSeconds`, begin with 40 bytes of 0xff (the
// whole packet when shorter). Returns the time of the first damaged packet; a failed test and -1 when none lies
// there.
inline double damagePackets(const std::filesystem::path& source, const std::filesystem::path& destination,
                            const std::string& type, double fromSeconds, int count = 1) {
    std::filesystem::copy_file(source, destination, std::filesystem::copy_options::overwrite_existing);
    std::fstream file(destination, std::ios::in | std::ios::out | std::ios::binary);
    double first = -1;
    for (const PacketSpan& packet : packetsOf(source, type)) {
        if (packet.seconds < fromSeconds || count == 0) continue;
        if (first < 0) first = packet.seconds;
        file.seekp(packet.offset);
        const std::string bytes(static_cast<std::size_t>(std::min<std::int64_t>(packet.size, 40)), '\xff');
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        --count;
    }
    if (first < 0) ADD_FAILURE() << "no " << type << " packet at or after " << fromSeconds << " s in " << source;
    return first;
}

// A copy of `source` at `destination` that ends where the first packet of the `type` stream at or after `seconds`
// (in file order) begins, as a copy cut short between packets leaves it: the demuxer meets a clean end of the file
// while the index still lists the rest. Returns the time of that packet; a failed test and -1 when none lies there.
inline double cutBeforePacket(const std::filesystem::path& source, const std::filesystem::path& destination,
                              const std::string& type, double seconds) {
    for (const PacketSpan& packet : packetsOf(source, type)) {
        if (packet.seconds < seconds) continue;
        std::filesystem::copy_file(source, destination, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(destination, static_cast<std::uintmax_t>(packet.offset));
        return packet.seconds;
    }
    ADD_FAILURE() << "no " << type << " packet at or after " << seconds << " s in " << source;
    return -1;
}

// A copy of the Matroska file `source` at `destination` in which the blocks of `count` packets of the `type` stream,
// from the first at or after `seconds`, are stored `milliseconds` later, their bytes and places unchanged: as damaged
// block headers leave them. Their track number must take one byte (tracks 1 to 127).
inline std::filesystem::path withBlocksMoved(const std::filesystem::path& source,
                                             const std::filesystem::path& destination, const std::string& type,
                                             double seconds, int count, int milliseconds) {
    std::vector<std::uint8_t> file = readFile(source);
    for (const PacketSpan& packet : packetsOf(source, type)) {
        if (packet.seconds < seconds || count-- <= 0) continue;
        // The block starts with its track number, then its time against its cluster's, big-endian.
        std::uint8_t* time = file.data() + packet.offset + 1;
        const auto moved = static_cast<std::uint16_t>(((time[0] << 8) | time[1]) + milliseconds);
        time[0] = static_cast<std::uint8_t>(moved >> 8), time[1] = static_cast<std::uint8_t>(moved);
    }
    if (count > 0) ADD_FAILURE() << count << " " << type << " packets short after " << seconds << " s in " << source;
    std::ofstream(destination, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return destination;
}

// The MP4 in fragments `file` with the base time (tfdt, 64 bits) of the eighth fragment of track `track` moved on by
// `ticks`, as a damaged fragment header leaves it. Each track fragment's header (tfhd) names its track before it.
inline void withEighthFragmentMoved(const std::filesystem::path& file, std::uint32_t track, std::uint64_t ticks) {
    std::vector<std::uint8_t> bytes = readFile(file);
    const auto word = [&](std::size_t at) {
        return std::uint32_t(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3]);
    };
    for (std::size_t box = 4, owner = 0, fragment = 0; box + 16 <= bytes.size(); ++box) {
        if (word(box) == 0x74666864) owner = word(box + 8);
        if (word(box) == 0x74666474 && owner == track && ++fragment == 8)
            for (std::uint64_t i = 0, moved = (std::uint64_t{word(box + 8)} << 32 | word(box + 12)) + ticks; i < 8; ++i)
                bytes[box + 8 + i] = static_cast<std::uint8_t>(moved >> (56 - 8 * i));
    }
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A copy of `source` at `destination` with `flips` bits flipped and `moves` blocks of 64 to 4095 bytes copied over
// others, each place picked by `seed`, all in the middle of the file (its first and last twentieth untouched, where
// headers and indexes lie). The same seed gives the same bytes on any machine. Returns `destination`.
inline std::filesystem::path scrambled(const std::filesystem::path& source, const std::filesystem::path& destination,
                                       std::uint32_t seed, int flips, int moves) {
    std::vector<std::uint8_t> file = readFile(source);
    const std::size_t margin = file.size() / 20, span = file.size() - 2 * margin;
    // The engine's numbers are fixed by the standard, unlike its distributions'.
    std::mt19937 random(seed);
    const auto place = [&](std::size_t length) { return margin + random() % (span - length); };
    for (int i = 0; i < flips; ++i) file[place(1)] ^= static_cast<std::uint8_t>(1u << random() % 8);
    for (int i = 0; i < moves; ++i) {
        const std::size_t length = 64 + random() % 4032, from = place(length), to = place(length);
        const std::vector<std::uint8_t> block(file.begin() + from, file.begin() + from + length);
        std::copy(block.begin(), block.end(), file.begin() + to);
    }
    std::ofstream(destination, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return destination;
}

// A copy of the RIFF file (AVI, WAV) `source` at `destination` with a 'JUNK' chunk of `bytes` bytes, and the pad byte
// after an odd size, before its first chunk, and the RIFF size grown to match: as tags or padding ahead of the
// streams leave it. Returns `destination`.
inline std::filesystem::path withLeadingChunk(const std::filesystem::path& source,
                                              const std::filesystem::path& destination, std::uint32_t bytes) {
    const auto putU32 = [](std::uint8_t* at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    std::vector<std::uint8_t> file = readFile(source), chunk(8 + bytes + (bytes & 1));
    std::copy_n("JUNK", 4, chunk.begin());
    putU32(chunk.data() + 4, bytes);
    file.insert(file.begin() + 12, chunk.begin(), chunk.end());
    putU32(file.data() + 4, static_cast<std::uint32_t>(file.size() - 8));
    std::ofstream(destination, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return destination;
}

// A copy of the Matroska file `source` at `destination` without its tracks' own lengths (the "DURATION" tags, renamed),
// as a muxer that writes none leaves it. Returns `destination`.
inline std::filesystem::path withoutTrackLengths(const std::filesystem::path& source,
                                                 const std::filesystem::path& destination) {
    std::vector<std::uint8_t> file = readFile(source);
    const std::string tag = "DURATION";
    for (auto at = file.begin(); (at = std::search(at, file.end(), tag.begin(), tag.end())) != file.end();) *at++ = 'X';
    std::ofstream(destination, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return destination;
}

}  // namespace fw::test

// The lengths read from AVI and WAV headers, and the size an FLV's writer states: what they state, what states nothing,
// and headers that lie about their own sizes or stop short.

#include "codecs/ByteBuffer.h"
#include "platform/media/StatedLength_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <string>

namespace fw::media::detail {
namespace {

std::uint32_t id(const char (&text)[5]) { return loadLE32(reinterpret_cast<const std::uint8_t*>(text)); }

ByteWriter words(std::initializer_list<std::uint32_t> values) {
    ByteWriter out;
    for (std::uint32_t value : values) out.appendU32LE(value);
    return out;
}

// A chunk of `name` holding `payload`; `size` overrides the size it states.
void chunk(ByteWriter& out, const char (&name)[5], const ByteWriter& payload, std::optional<std::uint32_t> size = {}) {
    out.appendU32LE(id(name));
    out.appendU32LE(size.value_or(static_cast<std::uint32_t>(payload.size())));
    out.appendBytes(payload.view());
    if (payload.size() % 2) out.appendU8(0);
}

ByteWriter riff(const char (&form)[5], const ByteWriter& chunks) {
    ByteWriter out = words({id("RIFF"), static_cast<std::uint32_t>(chunks.size() + 4), id(form)});
    out.appendBytes(chunks.view());
    return out;
}

struct Row {
    std::string name;
    ByteWriter bytes;
    std::optional<StreamSeconds> expected;
};

// 16-bit stereo at 44.1 kHz (176 400 bytes a second) with a data chunk stating `dataSize`, of which 8 bytes are there.
ByteWriter wav(std::uint32_t dataSize, std::uint16_t tag = 1, std::uint32_t bytesPerSecond = 176400) {
    ByteWriter chunks;
    // Format tag and channels, sample rate, bytes a second, bytes and bits a sample.
    chunk(chunks, "fmt ", words({tag | 2u << 16, 44100, bytesPerSecond, 4 | 16u << 16}));
    chunk(chunks, "data", words({0, 0}), dataSize);
    return riff("WAVE", chunks);
}

// A stream's list: its header of `headerBytes` stating its type @0, scale @20, rate @24 and length @32.
ByteWriter strl(const char (&type)[5], std::uint32_t scale, std::uint32_t rate, std::uint32_t length,
                std::size_t headerBytes = 56) {
    ByteWriter strh = words({id(type), 0, 0, 0, 0, scale, rate, 0, length, 0, 0, 0, 0, 0});
    strh.bytes().resize(headerBytes);
    ByteWriter list = words({id("strl")});
    chunk(list, "strh", strh);
    return list;
}

// An AVI whose main header gives 600 frames (@16) of 1/30 s (@0), with these streams' lists after it.
ByteWriter avi(const std::vector<ByteWriter>& streams) {
    ByteWriter hdrl = words({id("hdrl")}), chunks;
    chunk(hdrl, "avih", words({33333, 0, 0, 0, 600, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (const ByteWriter& stream : streams) chunk(hdrl, "LIST", stream);
    chunk(chunks, "LIST", hdrl);
    return riff("AVI ", chunks);
}

// `bytes` read as a file of their size.
ReadAt fileOf(const ByteWriter& bytes) {
    const auto file = bytes.view();
    return [file](std::uint64_t offset, std::span<std::uint8_t> into) {
        const std::size_t count = std::min<std::uint64_t>(into.size(), file.size() - std::min(offset, file.size()));
        if (count) std::memcpy(into.data(), file.data() + offset, count);
        return count;
    };
}

std::optional<StreamSeconds> wavSeconds(const ByteWriter& bytes) {
    return wavStatedSeconds(fileOf(bytes), bytes.size());
}

// The WAV above with `count` chunks of `bytes` each before its format chunk.
ByteWriter tagged(std::size_t count, std::size_t bytes) {
    ByteWriter chunks, tag;
    tag.bytes().resize(bytes);
    for (std::size_t i = 0; i < count; ++i) chunk(chunks, "LIST", tag);
    ByteWriter sound = wav(3528000);
    chunks.appendBytes(sound.view().subspan(12));
    return riff("WAVE", chunks);
}

TEST(StatedLength, WavStatesItsDataSizeOverItsRateAndPipePlaceholdersStateNothing) {
    ByteWriter rf64 = wav(1764000), cutInFmt = wav(1764000);
    rf64.patchU32LE(0, id("RF64"));
    cutInFmt.bytes().resize(30);
    const Row rows[] = {
        {"20 s of PCM", wav(3528000), StreamSeconds{20.0}},
        {"PCM by its sample size, not a lying byte rate", wav(3528000, 1, 1000), StreamSeconds{20.0}},
        {"IEEE float by its sample size, not a lying byte rate", wav(3528000, 3, 1000), StreamSeconds{20.0}},
        {"other codings by their byte rate", wav(300000, 0x55, 16000), StreamSeconds{18.75}},
        {"size 0", wav(0), StreamSeconds{std::nullopt}},
        {"size 0xFFFFFFFF", wav(0xFFFFFFFF), StreamSeconds{std::nullopt}},
        {"size 0x7FFFF000", wav(0x7FFFF000), StreamSeconds{std::nullopt}},
        {"RF64", std::move(rf64), std::nullopt},
        {"cut inside the format chunk", std::move(cutInFmt), std::nullopt},
        {"an AVI", avi({}), std::nullopt},
        {"300 kB of tags before the sound", tagged(1, 300'000), StreamSeconds{20.0}},
        {"an odd-sized tag and its pad byte", tagged(1, 3), StreamSeconds{20.0}},
        {"more chunks before the sound than are looked at", tagged(kMostWavChunks, 0), std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(wavSeconds(row.bytes), row.expected) << row.name;
}

TEST(StatedLength, AviStatesItsPictureStreamsFrameCountTimesFrameTime) {
    ByteWriter listPastTheEnd = avi({strl("vids", 1, 30, 600)});
    listPastTheEnd.patchU32LE(16, 0xFFFFFFFF);
    const Row rows[] = {
        {"pictures and sound", avi({strl("vids", 1, 30, 600), strl("auds", 1152, 44100, 767)}),
         StreamSeconds{20.0, std::nullopt}},
        {"no frame count in the stream header", avi({strl("vids", 1, 30, 0)}), StreamSeconds{19.9998}},
        {"padding streams are no streams", avi({strl("pads", 1, 1, 1), strl("vids", 1, 25, 250)}), StreamSeconds{10.0}},
        {"a header list stating more than there is", std::move(listPastTheEnd), StreamSeconds{20.0}},
        {"DV type 1", avi({strl("iavs", 1, 25, 250)}), std::nullopt},
        {"a stream header cut short", avi({strl("vids", 1, 30, 600, 30)}), std::nullopt},
        {"a WAV", wav(3528000), std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(aviStatedSeconds(row.bytes.view()), row.expected) << row.name;
}

// An MP4 box of `type` stating `size` (its own by default) holding `payload`; `large` states it in 64 bits.
ByteWriter box(const char (&type)[5], const ByteWriter& payload, std::optional<std::uint64_t> size = {},
               bool large = false) {
    const std::uint64_t stated = size.value_or(payload.size() + (large ? 16 : 8));
    std::array<std::uint8_t, 16> header{};
    const auto storeBE = [&header](std::size_t at, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) header[at + i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
    };
    storeBE(0, large ? 1 : stated, 4);
    std::copy_n(type, 4, header.begin() + 4);
    if (large) storeBE(8, stated, 8);
    const std::size_t headerSize = large ? 16 : 8;
    std::vector<std::uint8_t> bytes(headerSize + payload.size());
    std::copy_n(header.begin(), headerSize, bytes.begin());
    if (payload.size()) std::memcpy(bytes.data() + headerSize, payload.view().data(), payload.size());
    ByteWriter out;
    out.bytes() = std::move(bytes);
    return out;
}

ByteWriter boxes(std::initializer_list<ByteWriter> parts) {
    ByteWriter out;
    for (const ByteWriter& part : parts) out.appendBytes(part.view());
    return out;
}

TEST(StatedLength, AnMp4IsInFragmentsWhereItsMovieHeaderHoldsAFragmentBox) {
    const ByteWriter data = words({1, 2, 3, 4}), header = box("mvhd", words({0}));
    const struct {
        std::string name;
        ByteWriter bytes;
        std::optional<bool> expected;
    } rows[] = {
        {"fragments announced", boxes({box("ftyp", data), box("moov", boxes({header, box("mvex", data)}))}), true},
        {"a plain movie", boxes({box("ftyp", data), box("moov", boxes({header, box("trak", data)}))}), false},
        {"the header after 64-bit sized data",
         boxes({box("mdat", data, {}, true), box("moov", boxes({header, box("mvex", data)}))}), true},
        {"the header cut before its fragment box", boxes({box("moov", header, 40)}), false},
        {"data to the end of the file", boxes({box("ftyp", data), box("mdat", data, 0)}), std::nullopt},
        {"data stating more than there is", boxes({box("mdat", data, 1000), box("moov", box("mvex", data))}),
         std::nullopt},
        {"a box smaller than its header", boxes({box("ftyp", data, 4), box("moov", box("mvex", data))}), std::nullopt},
        {"a child stating more than its parent holds",
         boxes({box("moov", boxes({box("trak", data, 500), box("mvex", data)}))}), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mp4Fragmented(fileOf(row.bytes), row.bytes.size()), row.expected) << row.name;
    ByteWriter many;
    for (int i = 0; i < kMostMp4Boxes; ++i) many.appendBytes(box("free", {}).view());
    many.appendBytes(box("moov", box("mvex", data)).view());
    EXPECT_EQ(mp4Fragmented(fileOf(many), many.size()), std::nullopt)
        << "more boxes before the header than are looked at";
}

// An FLV's head: its header, then a script tag of "onMetaData" and an array of `values` (each a name, its type and
// bytes), closed as writers close them.
std::vector<std::uint8_t> flv(const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& values) {
    std::vector<std::uint8_t> out{'F', 'L', 'V', 1,   5,   0,   0,   0,   9,   0, 0, 0, 0,  18,
                                  0,   0,   0,   0,   0,   0,   0,   0,   0,   0, 2, 0, 10, 'o',
                                  'n', 'M', 'e', 't', 'a', 'D', 'a', 't', 'a', 8, 0, 0, 0,  0};
    for (const auto& [name, value] : values) {
        out.insert(out.end(), {0, std::uint8_t(name.size())});
        out.insert(out.end(), name.begin(), name.end());
        out.insert(out.end(), value.begin(), value.end());
    }
    out.insert(out.end(), {0, 0, 9});
    return out;
}

TEST(StatedLength, AnFlvStatesItsSizeAmongTheValuesOfItsFirstScriptTag) {
    // 440060 and 0, as big-endian doubles.
    const std::pair<std::string, std::vector<std::uint8_t>> size{"filesize", {0, 0x41, 0x1a, 0xdb, 0xf0, 0, 0, 0, 0}},
        noSize{"filesize", std::vector<std::uint8_t>(9)};
    auto cut = flv({size});
    cut.resize(cut.size() - 6);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::optional<std::uint64_t> expected;
    } rows[] = {
        {"after values of each kind",
         flv({{"stereo", {1, 1}},
              {"", {5}},
              {"made", {11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
              {"text", {2, 0, 1, 'x'}},
              size}),
         440060},
        {"after a value of a kind not read", flv({{"keyframes", {3, 0, 0, 9}}, size}), {}},
        {"cut before it ends", cut, {}},
        {"none", flv({noSize}), {}},
    };
    for (const auto& row : rows) EXPECT_EQ(flvStatedFileSize(row.bytes), row.expected) << row.name;
}

TEST(StatedLength, AMatroskaTrackLengthTagReadsAsSeconds) {
    const std::pair<const char*, std::optional<double>> rows[] = {
        {"00:00:20.023000000", 20.023},       {"01:02:03.5", 3723.5},       {"100:00:00", 360000.0},
        {"00:00:59.999999999", 59.999999999}, {"", std::nullopt},           {"20.023", std::nullopt},
        {"00:60:00.0", std::nullopt},         {"00:00:60.0", std::nullopt}, {"-1:00:00.0", std::nullopt},
        {"00:00:-1.0", std::nullopt},         {"00:00:inf", std::nullopt},  {"00:00:20.0 s", std::nullopt},
        {"00:00:1.2.3", std::nullopt},
    };
    for (const auto& [text, expected] : rows) {
        const auto seconds = matroskaTagSeconds(text);
        ASSERT_EQ(seconds.has_value(), expected.has_value()) << text;
        if (expected) {
            EXPECT_DOUBLE_EQ(*seconds, *expected) << text;
        }
    }
}

}  // namespace
}  // namespace fw::media::detail

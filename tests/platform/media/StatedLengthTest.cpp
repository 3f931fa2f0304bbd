// The lengths read from AVI and WAV headers: what they state, what states nothing, and headers that lie about their
// own sizes or stop short.

#include "codecs/ByteBuffer.h"
#include "platform/media/StatedLength_internal.h"

#include <gtest/gtest.h>

#include <string>

namespace fw::media::detail {
namespace {

void fourcc(ByteWriter& out, const char (&text)[5]) {
    out.appendU32LE(loadLE32(reinterpret_cast<const std::uint8_t*>(text)));
}

// A chunk of `id` holding `payload`; `size` overrides the size it states.
void chunk(ByteWriter& out, const char (&id)[5], const ByteWriter& payload, std::optional<std::uint32_t> size = {}) {
    fourcc(out, id);
    out.appendU32LE(size.value_or(static_cast<std::uint32_t>(payload.size())));
    out.appendBytes(payload.view());
    if (payload.size() % 2) out.appendU8(0);
}

ByteWriter riff(const char (&form)[5], const ByteWriter& chunks) {
    ByteWriter out;
    fourcc(out, "RIFF");
    out.appendU32LE(static_cast<std::uint32_t>(chunks.size() + 4));
    fourcc(out, form);
    out.appendBytes(chunks.view());
    return out;
}

// 16-bit stereo at 44.1 kHz (176 400 bytes a second) with a data chunk stating `dataSize`, of which 8 bytes are there.
ByteWriter wav(std::uint32_t dataSize, std::uint16_t tag = 1, std::uint32_t bytesPerSecond = 176400) {
    ByteWriter fmt;
    fmt.appendU16LE(tag);
    fmt.appendU16LE(2);
    fmt.appendU32LE(44100);
    fmt.appendU32LE(bytesPerSecond);
    fmt.appendU16LE(4);
    fmt.appendU16LE(16);
    ByteWriter data;
    data.appendZeros(8);
    ByteWriter chunks;
    chunk(chunks, "fmt ", fmt);
    chunk(chunks, "data", data, dataSize);
    return riff("WAVE", chunks);
}

TEST(StatedLength, WavStatesItsDataSizeOverItsRateAndPipePlaceholdersStateNothing) {
    struct Row {
        std::string name;
        ByteWriter bytes;
        std::optional<StreamSeconds> expected;
    };
    ByteWriter rf64 = wav(1764000);
    storeLE32(rf64.bytes().data(), 0x34364652);  // "RF64"
    ByteWriter cutInFmt = wav(1764000);
    cutInFmt.bytes().resize(30);
    const Row rows[] = {
        {"20 s of PCM", wav(3528000), StreamSeconds{20.0}},
        {"PCM by its sample size, not a lying byte rate", wav(3528000, 1, 1000), StreamSeconds{20.0}},
        {"other codings by their byte rate", wav(300000, 0x55, 16000), StreamSeconds{18.75}},
        {"size 0", wav(0), StreamSeconds{std::nullopt}},
        {"size 0xFFFFFFFF", wav(0xFFFFFFFF), StreamSeconds{std::nullopt}},
        {"size 0x7FFFF000", wav(0x7FFFF000), StreamSeconds{std::nullopt}},
        {"RF64", std::move(rf64), std::nullopt},
        {"cut inside the format chunk", std::move(cutInFmt), std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(wavStatedSeconds(row.bytes.view()), row.expected) << row.name;
}

ByteWriter strl(const char (&type)[5], std::uint32_t scale, std::uint32_t rate, std::uint32_t length,
                std::size_t headerBytes = 56) {
    ByteWriter strh;
    fourcc(strh, type);
    strh.appendZeros(16);
    strh.appendU32LE(scale);
    strh.appendU32LE(rate);
    strh.appendU32LE(0);
    strh.appendU32LE(length);
    strh.appendZeros(20);
    strh.bytes().resize(headerBytes);
    ByteWriter list;
    fourcc(list, "strl");
    chunk(list, "strh", strh);
    return list;
}

// An AVI whose main header gives 600 frames of 1/30 s, with these streams' lists after it.
ByteWriter avi(const std::vector<ByteWriter>& streams) {
    ByteWriter avih;
    avih.appendU32LE(33333);
    avih.appendZeros(12);
    avih.appendU32LE(600);
    avih.appendZeros(36);
    ByteWriter hdrl;
    fourcc(hdrl, "hdrl");
    chunk(hdrl, "avih", avih);
    for (const ByteWriter& stream : streams) chunk(hdrl, "LIST", stream);
    ByteWriter chunks;
    chunk(chunks, "LIST", hdrl);
    return riff("AVI ", chunks);
}

TEST(StatedLength, AviStatesItsPictureStreamsFrameCountTimesFrameTime) {
    struct Row {
        std::string name;
        ByteWriter bytes;
        std::optional<StreamSeconds> expected;
    };
    ByteWriter listPastTheEnd = avi({strl("vids", 1, 30, 600)});
    storeLE32(listPastTheEnd.bytes().data() + 16, 0xFFFFFFFF);
    const Row rows[] = {
        {"pictures and sound", avi({strl("vids", 1, 30, 600), strl("auds", 1152, 44100, 767)}),
         StreamSeconds{20.0, std::nullopt}},
        {"no frame count in the stream header", avi({strl("vids", 1, 30, 0)}), StreamSeconds{19.9998}},
        {"padding streams are no streams", avi({strl("pads", 1, 1, 1), strl("vids", 1, 25, 250)}), StreamSeconds{10.0}},
        {"a header list stating more than there is", std::move(listPastTheEnd), StreamSeconds{20.0}},
        {"DV type 1", avi({strl("iavs", 1, 25, 250)}), std::nullopt},
        {"a stream header cut short", avi({strl("vids", 1, 30, 600, 30)}), std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(aviStatedSeconds(row.bytes.view()), row.expected) << row.name;
    EXPECT_EQ(aviStatedSeconds(wav(3528000).view()), std::nullopt);
    EXPECT_EQ(wavStatedSeconds(avi({}).view()), std::nullopt);
}

}  // namespace
}  // namespace fw::media::detail

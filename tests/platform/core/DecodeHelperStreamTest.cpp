// The decode helper's stream read from memory in pieces of every size: frame
// times at the stream's timescale, sound cut into bounded chunks of whole
// frames, pictures read into rows wider than the picture.

#include "platform/core/DecodeHelperStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace fw {
namespace {

TEST(DecodeHelperStream, FrameTimesKeepEveryRateApart) {
    struct Row {
        double rate;
        std::int32_t timescale;
        std::int64_t index;
        std::int64_t ticks;
    } rows[] = {
        {29.97, 3000, 9, 900},  {29.97, 3000, 10, 1001}, {29.97, 3000, 11, 1101},      {30000.0 / 1001, 3000, 10, 1001},
        {25, 2500, 7, 700},     {5, 600, 3, 360},        {6.5, 700, 13, 1400},         {1000, 100000, 1, 100},
        {2400, 240000, 1, 100}, {0.5, 600, 1, 1200},     {59.94, 6000, 60000, 6006006}};
    for (const auto& row : rows) {
        DecodeHelperHeader header;
        header.frameRate = row.rate;
        EXPECT_EQ(header.timescale(), row.timescale) << row.rate;
        EXPECT_EQ(header.frameTime(row.index), row.ticks) << row.rate << " frame " << row.index;
    }
}

std::string littleEndian(std::uint64_t value, int bytes = 4) {
    std::string out(bytes, '\0');
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>(value >> (8 * i));
    return out;
}
std::string le32(std::uint32_t value) { return littleEndian(value); }
std::string le64(std::uint64_t value) { return littleEndian(value, 8); }

TEST(DecodeHelperStream, LongSoundComesInBoundedChunksAndPicturesInWideRows) {
    constexpr std::size_t kSoundBytes = 200000 * 6;  // 200000 frames of three channels
    std::string bytes = "FWDC" + le32(0) + le32(3) + le32(2) + le64(std::bit_cast<std::uint64_t>(24.0)) + le64(0) +
                        le32(48000) + le32(3);
    bytes += "A" + le64(kSoundBytes);
    for (std::size_t i = 0; i < kSoundBytes; ++i) bytes += static_cast<char>(i % 251);
    bytes += "V" + le64(24);
    for (int i = 0; i < 24; ++i) bytes += static_cast<char>(100 + i);
    bytes += "E" + le64(12345) + "never read";

    for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(1) << 20}) {
        SCOPED_TRACE(piece);
        std::size_t at = 0;
        DecodeHelperStream stream([&](std::span<std::uint8_t> out) {
            const std::size_t count = std::min({out.size(), piece, bytes.size() - at});
            std::memcpy(out.data(), bytes.data() + at, count);
            at += count;
            return count;
        });
        const DecodeHelperHeader& header = stream.readHeader();
        EXPECT_EQ(header.frameBytes(), 24u);

        std::size_t soundRead = 0;
        bool sameBytes = true;
        DecodeHelperStream::Part part;
        while ((part = stream.next()) == DecodeHelperStream::Part::audio) {
            const auto chunk = stream.audio();
            ASSERT_LE(chunk.size(), DecodeHelperStream::kAudioChunkBytes);
            ASSERT_EQ(chunk.size() % 6, 0u);
            for (std::size_t i = 0; i < chunk.size(); ++i)
                sameBytes &= chunk[i] == static_cast<std::uint8_t>((soundRead + i) % 251);
            soundRead += chunk.size();
        }
        EXPECT_EQ(soundRead, kSoundBytes);
        EXPECT_TRUE(sameBytes);
        ASSERT_EQ(part, DecodeHelperStream::Part::picture);
        // Two rows of 12 bytes into rows 16 apart; the rows' padding is left alone.
        std::vector<std::uint8_t> rows(2 * 16, 0xEE), expected = rows;
        for (int i = 0; i < 24; ++i) expected[i / 12 * 16 + i % 12] = std::uint8_t(100 + i);
        stream.readPicture(rows.data(), 16);
        EXPECT_EQ(rows, expected);
        EXPECT_EQ(stream.next(), DecodeHelperStream::Part::end);
        EXPECT_EQ(bytes.size() - at, std::string("never read").size()) << "nothing after the end message";
    }
}

// Streams a helper may send that still make a movie: pictures whose payload is shorter or longer than the frame, and
// sound after the first picture, read through and dropped however long it is. Each stream holds two 3 × 2 pictures.
TEST(DecodeHelperStream, OddPictureLengthsAndLateSoundAreReadThrough) {
    const std::string head = "FWDC" + le32(0) + le32(3) + le32(2) + le64(std::bit_cast<std::uint64_t>(24.0)) + le64(0) +
                             le32(8000) + le32(1);
    const auto picture = [](std::uint64_t length, char fill) {
        return "V" + le64(length) + std::string(static_cast<std::size_t>(length), fill);
    };
    const auto sound = [](std::uint64_t length) { return "A" + le64(length) + std::string(length, '\x11'); };
    const std::string whole = picture(24, 'b');
    struct Row {
        const char* name;
        std::string messages;
        std::size_t firstCovered;  // bytes of the first picture its payload covers, with 'a'
    } rows[] = {
        {"short by half a row", picture(18, 'a') + whole, 18},
        {"one byte", picture(1, 'a') + whole, 1},
        {"empty", picture(0, 'a') + whole, 0},
        {"long", picture(24 + 70001, 'a') + whole, 24},
        {"sound after the first picture", sound(4) + picture(24, 'a') + sound(2) + sound(200002) + whole, 24},
    };
    // Rows packed (one block) and 16 bytes apart, whose padding stays as it was.
    for (const std::size_t stride : {std::size_t(12), std::size_t(16)})
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << row.name << ", stride " << stride);
            const std::string bytes = head + row.messages + "E" + le64(0);
            std::size_t at = 0;
            DecodeHelperStream stream([&](std::span<std::uint8_t> out) {
                const std::size_t count = std::min({out.size(), std::size_t(5), bytes.size() - at});
                std::memcpy(out.data(), bytes.data() + at, count);
                at += count;
                return count;
            });
            stream.readHeader();
            std::vector<std::vector<std::uint8_t>> pictures;
            for (DecodeHelperStream::Part part; (part = stream.next()) != DecodeHelperStream::Part::end;) {
                if (part != DecodeHelperStream::Part::picture) continue;
                pictures.emplace_back(2 * stride, 0xEE);
                stream.readPicture(pictures.back().data(), stride);
            }
            EXPECT_EQ(at, bytes.size());
            ASSERT_EQ(pictures.size(), 2u);
            std::vector<std::uint8_t> first(2 * stride, 0xEE), second = first;
            for (std::size_t i = 0; i < 24; ++i) {
                first[i / 12 * stride + i % 12] = i < row.firstCovered ? 'a' : 0;
                second[i / 12 * stride + i % 12] = 'b';
            }
            EXPECT_EQ(pictures[0], first);
            EXPECT_EQ(pictures[1], second);
        }
}

}  // namespace
}  // namespace fw

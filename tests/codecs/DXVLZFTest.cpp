// LZF coder: exact streams for the fixed rules, round trips with liblzf in
// both directions, and malformed streams.

#include <gtest/gtest.h>

#include <lzf.h>

#include "CodecTestData.h"
#include "codecs/dxv/DXVLZF.h"

namespace fw::DXV {
namespace {

using test::ByteVector;

ByteVector liblzfDecompress(const Bytes& stream, std::size_t size) {
    ByteVector out(size + 1);
    const unsigned got = lzf_decompress(stream.data(), static_cast<unsigned>(stream.size()), out.data(),
                                        static_cast<unsigned>(out.size()));
    out.resize(got);
    return out;
}

TEST(DXVLZF, ExactStreamsForTheFixedRules) {
    EXPECT_TRUE(compressLZF({}).empty());

    const ByteVector six = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(compressLZF(six), (ByteVector{5, 1, 2, 3, 4, 5, 6}));

    // 33 bytes without a repeat: a run of 31 and a run of 2, never 32 and 1.
    ByteVector unique(33);
    for (int i = 0; i < 33; ++i) unique[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes split = compressLZF(unique);
    ASSERT_EQ(split.size(), 35u);
    EXPECT_EQ(split[0], 30);
    EXPECT_EQ(split[32], 1);

    // 300 equal bytes: a literal, back-references of distance 1 (the first of
    // the longest form, 264 bytes), then literals for the last three bytes.
    const ByteVector same(300, 0xAB);
    EXPECT_EQ(compressLZF(same), (ByteVector{0x00, 0xAB, 0xE0, 255, 0x00, 0xE0, 23, 0x00, 0x02, 0xAB, 0xAB, 0xAB}));
}

TEST(DXVLZF, RoundTripsThroughLiblzfBothWays) {
    std::vector<ByteVector> inputs;
    for (std::size_t size : {1, 2, 3, 5, 7, 8, 31, 32, 33, 34, 100, 1000, 70000})
        inputs.push_back(test::compressibleBytes(size, static_cast<std::uint32_t>(size)));
    inputs.push_back(test::reuseTexture(30000, 8, 3));  // DXT-like: long-range repeats, noise
    inputs.push_back(ByteVector(100000, 0));
    std::mt19937 random(9);
    ByteVector noise(5000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    inputs.push_back(noise);

    for (const ByteVector& input : inputs) {
        SCOPED_TRACE(input.size());
        const Bytes ours = compressLZF(input);
        ASSERT_EQ(decompressLZF(ours), input);
        ASSERT_EQ(decompressedSizeLZF(ours), input.size());
        EXPECT_EQ(liblzfDecompress(ours, input.size()), input);
        EXPECT_LE(ours.size(), input.size() + input.size() / 32 + 1);

        Bytes theirs(input.size() + input.size() / 16 + 64);
        const unsigned size = lzf_compress(input.data(), static_cast<unsigned>(input.size()), theirs.data(),
                                           static_cast<unsigned>(theirs.size()));
        ASSERT_GT(size, 0u);
        theirs.resize(size);
        EXPECT_EQ(decompressLZF(theirs), input);
    }
}

TEST(DXVLZF, ShortStreams) {
    EXPECT_EQ(decompressLZF({}), ByteVector{});
    // One byte makes a complete literal run, which is decoded, not dropped.
    EXPECT_EQ(decompressLZF(compressLZF(ByteVector{42})), ByteVector{42});
    // One or two bytes that begin an operation they cannot finish are ignored.
    EXPECT_EQ(decompressLZF(ByteVector{5}), ByteVector{});
    EXPECT_EQ(decompressLZF(ByteVector{0x01, 'a', 'b', 0x05, 'x'}), (ByteVector{'a', 'b'}));
    EXPECT_EQ(decompressLZF(ByteVector{0x01, 'a', 'b', 0xE0}), (ByteVector{'a', 'b'}));
    EXPECT_EQ(decompressLZF(ByteVector{0x01, 'a', 'b', 0xE0, 0x00}), (ByteVector{'a', 'b'}));
}

TEST(DXVLZFCorruption, TruncatedLiteralRun) {
    EXPECT_THROW(decompressLZF(ByteVector{0x05, 1, 2}), MalformedInput);
    EXPECT_THROW(decompressLZF(ByteVector{0x00, 9, 0x1F, 1, 2, 3}), MalformedInput);
}

TEST(DXVLZFCorruption, BackReferenceBeforeStart) {
    // Distance equal to the output so far is fine; one more is not.
    EXPECT_EQ(decompressLZF(ByteVector{0x01, 'a', 'b', 0x20, 0x01, 0x00, 'z', 'z'}),
              (ByteVector{'a', 'b', 'a', 'b', 'a', 'z'}));
    EXPECT_THROW(decompressLZF(ByteVector{0x01, 'a', 'b', 0x20, 0x02, 0x00, 'z', 'z'}), MalformedInput);
    EXPECT_THROW(decompressedSizeLZF(ByteVector{0x01, 'a', 'b', 0x20, 0x02, 0x00, 'z', 'z'}), MalformedInput);
}

TEST(DXVLZFCorruption, EveryTruncationIsRejectedOrAPrefix) {
    const ByteVector input = test::compressibleBytes(3000, 5);
    const Bytes stream = compressLZF(input);
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
        try {
            const auto decoded = decompressLZF(ByteSpan(stream.data(), cut));
            ASSERT_LE(decoded.size(), input.size());
            ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), input.begin())) << cut;
        } catch (const MalformedInput&) {
        }
    }
}

TEST(DXVLZF, OutputLimitKeepsThePrefixButChecksTheWhole) {
    const ByteVector input = test::compressibleBytes(5000, 8);
    Bytes stream = compressLZF(input);
    EXPECT_EQ(decompressLZF(stream, 1234), ByteVector(input.begin(), input.begin() + 1234));
    EXPECT_EQ(decompressLZF(stream, 100000), input);
    // Damage past the limit still fails the stream.
    stream.insert(stream.end(), {0x3F, 0xFF, 0x00});  // distance 8192, beyond the 5000 bytes
    EXPECT_THROW(decompressLZF(stream, 10), MalformedInput);
}

}  // namespace
}  // namespace fw::DXV

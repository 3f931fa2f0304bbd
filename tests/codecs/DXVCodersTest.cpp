// The DXV coders (block reuse, LZF against liblzf) and frame headers; FFmpeg's
// dxv decoder reads coded frames exactly as the same textures stored raw.

#include <gtest/gtest.h>

#include <lzf.h>

#include "CodecTestData.h"
#include "FFmpegOracle.h"
#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVFrame.h"
#include "codecs/dxv/DXVLZF.h"

namespace fw::DXV {
namespace {

using test::ByteVector;

ByteVector repeatedBlocks(std::size_t count, std::size_t blockBytes) {
    ByteVector texture(count * blockBytes);
    for (std::size_t k = 0; k < texture.size(); ++k) texture[k] = static_cast<std::uint8_t>(k % blockBytes * 17 + 3);
    return texture;
}

TEST(DXVBlockReuse, SingleBlocksStayRawAndDXT1RepeatsAreCodeOne) {
    const ByteVector dxt1 = repeatedBlocks(1, 8), dxt5 = repeatedBlocks(1, 16);
    EXPECT_EQ(compressDXT1(dxt1), dxt1);
    EXPECT_EQ(compressDXT5(dxt5), dxt5);
    EXPECT_EQ(decompressDXT1(dxt1, 8), dxt1);
    EXPECT_EQ(decompressDXT5(dxt5, 16), dxt5);
    // 100 identical blocks: 8 raw bytes, then 99 codes 1 in seven control words.
    const ByteVector texture = repeatedBlocks(100, 8);
    const Bytes coded = compressDXT1(texture);
    ASSERT_EQ(coded.size(), 36u);
    for (std::size_t word = 0; word < 6; ++word) EXPECT_EQ(readLE32(coded, 8 + 4 * word), 0x55555555u);
    EXPECT_EQ(readLE32(coded, 32), 0x55555555u & ((1u << 6) - 1));  // the last three codes
    EXPECT_EQ(decompressDXT1(coded, texture.size()), texture);
}

TEST(DXVBlockReuse, DXT5LongCopyCounts) {
    // t - 1 as a byte when t <= 255; else 255 and LE16 parts summing to t - 256.
    struct Case {
        std::size_t blocks;
        ByteVector tail;
    };
    for (const Case& c : {Case{200, {198}}, Case{1000, {255, 0xE7, 0x02}}, Case{257, {255, 0, 0}}, Case{256, {254}},
                          Case{65792, {255, 0xFF, 0xFF, 0, 0}}}) {
        SCOPED_TRACE(c.blocks);
        const ByteVector texture = repeatedBlocks(c.blocks, 16);
        const Bytes coded = compressDXT5(texture);
        ASSERT_EQ(coded.size(), 16 + 4 + c.tail.size());
        EXPECT_EQ(readLE32(coded, 16), 0u);  // one code 0
        EXPECT_EQ(ByteVector(coded.begin() + 20, coded.end()), c.tail);
        EXPECT_EQ(decompressDXT5(coded, texture.size()), texture);
    }
}

TEST(DXVBlockReuse, DXT5AlphaRunCarriesTheFollowingBlocks) {
    // Eleven blocks share one alpha half; the colour halves all differ.
    ByteVector texture(11 * 16);
    for (std::size_t k = 0; k < 11; ++k) {
        for (int i = 0; i < 8; ++i) texture[k * 16 + i] = static_cast<std::uint8_t>(0x40 + i);
        for (int i = 8; i < 16; ++i) texture[k * 16 + i] = static_cast<std::uint8_t>(k * 16 + i);
    }
    const Bytes coded = compressDXT5(texture);
    // Codes: alpha 1 (R = 9), then eleven colour steps of code 0 with two literal
    // elements each, and no alpha codes for the nine blocks of the run.
    const std::uint32_t first = readLE32(coded, 16);
    EXPECT_EQ(first & 3, 1u);
    EXPECT_EQ(coded[20], 9);
    std::size_t codes = 1 + 10 * 3;  // one alpha code, then per block: code 0 + two literal codes
    EXPECT_EQ(coded.size(), 16 + 4 * ((codes + 15) / 16) + 1 + 10 * 8);
    EXPECT_EQ(decompressDXT5(coded, texture.size()), texture);
}

TEST(DXVBlockReuse, DXT5ColourAndAlphaCopyDistances) {
    // Block k's colour half recurs at block k + 4 (distance 16): code 2, byte 2.
    ByteVector texture(6 * 16);
    for (std::size_t k = 0; k < 6; ++k)
        for (int i = 0; i < 16; ++i) texture[k * 16 + i] = static_cast<std::uint8_t>(k * 16 + i + 1);
    std::copy_n(texture.begin() + 8 + 16, 8, texture.begin() + 8 + 5 * 16);
    const Bytes coded = compressDXT5(texture);
    EXPECT_EQ(decompressDXT5(coded, texture.size()), texture);
    // The last block: alpha code 3 with 8 bytes, colour code 2 with the byte 2.
    EXPECT_EQ(coded.back(), 2);
    // Alpha halves A, B, A, C, A over one colour half K: block 2 copies its alpha from 8 elements back, code 2 with
    // LE16 0, the one alpha copy that FFmpeg 5.1 (which reads v + 8, not 4v + 8) reads alike; block 4's A, 8 elements
    // back again, is a copy too, while a repeat from farther back would be literal. The far form 4v + 8 (v = 1 for 12
    // elements) is still read.
    const Bytes a = {1, 2, 3, 4, 5, 6, 7, 8}, b = {9, 9, 9, 9, 9, 9, 9, 9}, c = {7, 7, 7, 7, 7, 7, 7, 6};
    const Bytes k = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    const auto blocks = [&](std::initializer_list<const Bytes*> alphas) {
        Bytes built;
        for (const Bytes* alpha : alphas) {
            built.insert(built.end(), alpha->begin(), alpha->end());
            built.insert(built.end(), k.begin(), k.end());
        }
        return built;
    };
    const Bytes near = blocks({&a, &b, &a, &c, &a});
    Bytes payload(near.begin(), near.begin() + 16);
    // Codes 3 1 | 2 1 | 3 1 | 2 1: literal B, copy A from 8, literal C, copy A from 8; colour from 4 each time.
    appendLE32(payload, 3 | 1 << 2 | 2 << 4 | 1 << 6 | 3 << 8 | 1 << 10 | 2 << 12 | 1 << 14);
    payload.insert(payload.end(), b.begin(), b.end());
    payload.insert(payload.end(), {0x00, 0x00});
    payload.insert(payload.end(), c.begin(), c.end());
    payload.insert(payload.end(), {0x00, 0x00});
    EXPECT_EQ(compressDXT5(near), payload);
    EXPECT_EQ(decompressDXT5(payload, near.size()), near);

    const Bytes far = blocks({&a, &b, &c, &a});
    const Bytes farCoded = compressDXT5(far);
    EXPECT_EQ(farCoded.size(), 16 + 4 + 3 * 8) << "three literal alpha halves";
    EXPECT_EQ(decompressDXT5(farCoded, far.size()), far);
    Bytes farCopy(far.begin(), far.begin() + 16);
    appendLE32(farCopy, 3 | 1 << 2 | 3 << 4 | 1 << 6 | 2 << 8 | 1 << 10);
    farCopy.insert(farCopy.end(), b.begin(), b.end());
    farCopy.insert(farCopy.end(), c.begin(), c.end());
    farCopy.insert(farCopy.end(), {0x01, 0x00});
    EXPECT_EQ(decompressDXT5(farCopy, far.size()), far);
}

TEST(DXVBlockReuse, DXT1ElementBeyondReachIsLiteral) {
    // An endpoint word seen 131588 elements back is out of reach (limit 131586).
    // Filler blocks around one special block keep the match tables uncrowded.
    auto texture = [](std::size_t distanceBlocks) {
        ByteVector t(8 * (distanceBlocks + 3), 0x11);
        const ByteVector special = {1, 2, 3, 4, 5, 6, 7, 8};
        std::copy(special.begin(), special.end(), t.begin() + 8);
        std::copy_n(special.begin(), 4, t.begin() + 8 * (1 + distanceBlocks));
        t[8 * (1 + distanceBlocks) + 4] = 0x99;
        return t;
    };
    const ByteVector reach = texture(65793);   // 131586 elements
    const ByteVector beyond = texture(65794);  // 131588 elements
    const Bytes a = compressDXT1(reach);
    const Bytes b = compressDXT1(beyond);
    EXPECT_EQ(a.size() + 2, b.size());  // LE16 copy vs 4-byte literal
    EXPECT_EQ(decompressDXT1(a, reach.size()), reach);
    EXPECT_EQ(decompressDXT1(b, beyond.size()), beyond);
}

TEST(DXVBlockReuse, RoundTripsOfReuseTextures) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const std::size_t blocks = seed == 4 ? 140000 : 3000 * seed + seed;
        const ByteVector dxt1 = test::reuseTexture(blocks, 8, seed);
        EXPECT_EQ(decompressDXT1(compressDXT1(dxt1), dxt1.size()), dxt1) << seed;
        const ByteVector dxt5 = test::reuseTexture(blocks, 16, seed);
        EXPECT_EQ(decompressDXT5(compressDXT5(dxt5), dxt5.size()), dxt5) << seed;
    }
}

TEST(DXVBlockReuseCorruption, BadSizesShortHeadsAndEveryTruncation) {
    const ByteVector dxt1 = test::reuseTexture(10, 8, 1);
    const Bytes coded = compressDXT1(dxt1);
    EXPECT_THROW(decompressDXT1(coded, 12), MalformedInput);
    EXPECT_THROW(decompressDXT1(coded, 0), MalformedInput);
    EXPECT_THROW(decompressDXT1(ByteSpan(coded.data(), 7), 8), MalformedInput);
    EXPECT_THROW(decompressDXT5(coded, 24), MalformedInput);
    EXPECT_THROW(decompressDXT5(ByteSpan(coded.data(), 15), 16), MalformedInput);
    // Every truncation fails.
    const ByteVector long1 = test::reuseTexture(400, 8, 7), dxt5 = test::reuseTexture(400, 16, 7);
    const Bytes coded1 = compressDXT1(long1), coded5 = compressDXT5(dxt5);
    for (std::size_t cut = 0; cut < coded1.size(); ++cut)
        ASSERT_THROW(decompressDXT1(ByteSpan(coded1.data(), cut), long1.size()), MalformedInput) << cut;
    for (std::size_t cut = 0; cut < coded5.size(); ++cut)
        ASSERT_THROW(decompressDXT5(ByteSpan(coded5.data(), cut), dxt5.size()), MalformedInput) << cut;
}

TEST(DXVBlockReuseCorruption, CopyBeforeTheStart) {
    // DXT1: block code 2 with byte 0 (distance 4) at element 2.
    ByteVector payload(8, 0x11);
    payload.insert(payload.end(), {0x02, 0, 0, 0, 0x00});
    EXPECT_THROW(decompressDXT1(payload, 16), MalformedInput);
    payload[8] = 0x01;  // distance 2 reaches the first block
    EXPECT_EQ(decompressDXT1(payload, 16), ByteVector(16, 0x11));
    // DXT5: alpha code 2 with LE16 0 (distance 8) at element 4.
    ByteVector five(16, 0x22);
    five.insert(five.end(), {0x02 | 0x01 << 2, 0, 0, 0, 0x00, 0x00});
    EXPECT_THROW(decompressDXT5(five, 32), MalformedInput);
    // Colour code 2 with byte 0 reaches 8 back from element 6: before the start.
    ByteVector colour(16, 0x22);
    colour.insert(colour.end(), {0x03 | 0x02 << 2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0x00});
    EXPECT_THROW(decompressDXT5(colour, 32), MalformedInput);
}

TEST(DXVBlockReuse, SurplusCodesAndOverlongCopiesAreHarmless) {
    // Two DXT1 blocks; the control word announces sixteen copies.
    ByteVector payload(8, 0x33);
    payload.insert(payload.end(), {0x55, 0x55, 0x55, 0x55});
    EXPECT_EQ(decompressDXT1(payload, 16), ByteVector(16, 0x33));
    // A DXT5 long copy of 1000 blocks into a texture of 3.
    ByteVector five(16, 0x44);
    five.insert(five.end(), {0, 0, 0, 0, 255, 0xE7, 0x02});
    EXPECT_EQ(decompressDXT5(five, 48), ByteVector(48, 0x44));
}

ByteVector liblzfDecompress(const Bytes& stream, std::size_t size) {
    ByteVector out(size + 1);
    const unsigned got = lzf_decompress(stream.data(), static_cast<unsigned>(stream.size()), out.data(),
                                        static_cast<unsigned>(out.size()));
    out.resize(got);
    return out;
}

TEST(DXVLZF, ExactStreamsForTheFixedRules) {
    EXPECT_TRUE(compressLZF({}).empty());

    EXPECT_EQ(compressLZF(ByteVector{1, 2, 3, 4, 5, 6}), (ByteVector{5, 1, 2, 3, 4, 5, 6}));
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

TEST(DXVLZFCorruption, ShortStreamsAndBackReferenceBeforeStart) {
    EXPECT_EQ(decompressLZF({}), ByteVector{});
    EXPECT_THROW(decompressLZF(ByteVector{0x05, 1, 2}), MalformedInput);  // a literal run cut short
    EXPECT_THROW(decompressLZF(ByteVector{0x00, 9, 0x1F, 1, 2, 3}), MalformedInput);
    // One byte makes a complete literal run, which is decoded, not dropped.
    EXPECT_EQ(decompressLZF(compressLZF(ByteVector{42})), ByteVector{42});
    // One or two bytes that begin an operation they cannot finish are ignored.
    EXPECT_EQ(decompressLZF(ByteVector{5}), ByteVector{});
    EXPECT_EQ(decompressLZF(ByteVector{0x01, 'a', 'b', 0x05, 'x'}), (ByteVector{'a', 'b'}));
    EXPECT_EQ(decompressLZF(ByteVector{0x01, 'a', 'b', 0xE0}), (ByteVector{'a', 'b'}));
    EXPECT_EQ(decompressLZF(ByteVector{0x01, 'a', 'b', 0xE0, 0x00}), (ByteVector{'a', 'b'}));
    // A back-reference as far as the output so far is fine; one more is not.
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
        } catch (const MalformedInput&) {}
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

TEST(DXVFrame, HeadersOfBothVersions) {
    EXPECT_EQ(frame({}, Version::dxv2, TextureFormat::dxt1), (Bytes{0x00, 0x00, 0x00, 0x23}));
    EXPECT_EQ(frame({}, Version::dxv2, TextureFormat::dxt5), (Bytes{0x00, 0x00, 0x00, 0x43}));
    EXPECT_EQ(frame({}, Version::dxv3, TextureFormat::dxt1), (Bytes{'1', 'T', 'X', 'D', 4, 0, 1, 0, 0, 0, 0, 0}));
    // Version 0 carries the LZF stream.
    const test::ByteVector texture = test::reuseTexture(500, 16, 2);
    const Bytes out = frame(texture, Version::dxv2, TextureFormat::dxt5);
    const Bytes stream = compressLZF(texture);
    EXPECT_EQ(loadLE32(out.data()), 0x43000000u | stream.size());
    EXPECT_EQ(Bytes(out.begin() + 4, out.end()), stream);
    // Version 1 codes whole blocks only: DXT5 of 24 bytes raw, of 32 bytes coded.
    const test::ByteVector odd = test::reuseTexture(3, 8, 4);
    const Bytes raw = frame(odd, Version::dxv3, TextureFormat::dxt5);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 12), (Bytes{'5', 'T', 'X', 'D', 4, 0, 1, 0, 24, 0, 0, 0}));
    EXPECT_EQ(Bytes(raw.begin() + 12, raw.end()), odd);

    const test::ByteVector two = test::reuseTexture(2, 16, 4);
    const Bytes coded = frame(two, Version::dxv3, TextureFormat::dxt5);
    const Bytes payload = compressDXT5(two);
    EXPECT_EQ(coded[6], 0);
    EXPECT_EQ(loadLE32(coded.data() + 8), payload.size());
    EXPECT_EQ(Bytes(coded.begin() + 12, coded.end()), payload);

    const Bytes dxt1 = frame(odd, Version::dxv3, TextureFormat::dxt1);
    EXPECT_EQ(dxt1[6], 0);
    EXPECT_EQ(Bytes(dxt1.begin() + 12, dxt1.end()), compressDXT1(odd));
}

TEST(DXVFrame, Version0RefusesPayloadsBeyondItsSizeField) {
    // Incompressible data larger than 24 bits cannot be described by the header.
    test::ByteVector noise(0x1000000);
    std::mt19937 random(1);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    EXPECT_THROW(frame(noise, Version::dxv2, TextureFormat::dxt1), std::length_error);
}

// FFmpeg reads the coded frame of `texture` exactly as it reads the texture stored raw. FFmpeg 5.1 wants a raw payload
// of 4 bytes per coded pixel (it reads the texture from the front), so the raw frame is padded with zeros.
void expectSameAsRaw(const ByteVector& texture, Version version, TextureFormat format, int width, int height) {
    Bytes raw;
    const auto tag = tagBytes(format);
    raw.insert(raw.end(), tag.begin(), tag.end());
    raw.insert(raw.end(), {4, 0, 1, 0});
    const std::size_t size = std::size_t{(width + 15) / 16 * 16u} * ((height + 15) / 16 * 16) * 4;
    appendLE32(raw, static_cast<std::uint32_t>(std::max(texture.size(), size)));
    raw.insert(raw.end(), texture.begin(), texture.end());
    raw.resize(std::max(raw.size(), 12 + size));
    const auto a = test::ffmpegDecodeDXV(frame(texture, version, format), width, height);
    const auto b = test::ffmpegDecodeDXV(raw, width, height);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->format, AV_PIX_FMT_RGBA);
    ASSERT_EQ(a->planes[0].size(), b->planes[0].size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a->planes[0].size(); ++i)
        if (a->planes[0][i] != b->planes[0][i]) ++differing;
    EXPECT_EQ(differing, 0u);
}

TEST(DXVBlockReuseOracle, FFmpegReadsCodedFramesAsRaw) {
    const int width = 127, height = 71;  // coded 128 x 80: 32 x 20 blocks
    const ByteVector dxt1 = test::reuseTexture(32 * 20, 8, 11, 600);
    expectSameAsRaw(dxt1, Version::dxv3, TextureFormat::dxt1, width, height);
    expectSameAsRaw(dxt1, Version::dxv2, TextureFormat::dxt1, width, height);
    const ByteVector dxt5 = test::reuseTexture(32 * 20, 16, 12, 600);
    expectSameAsRaw(dxt5, Version::dxv2, TextureFormat::dxt5, width, height);
    // Alpha copies are written only where FFmpeg reads them alike, so alpha matches too.
    expectSameAsRaw(dxt5, Version::dxv3, TextureFormat::dxt5, width, height);
}

TEST(DXVBlockReuseOracle, FFmpegReadsDXT5AlphaRunsAndLongCopies) {
    // Alpha halves recur only next to each other (runs, long copies, literals),
    // so the alpha form FFmpeg misreads never occurs and alpha must match too.
    const int width = 1920, height = 1080;
    const std::size_t blocks = 480 * 272;
    ByteVector texture = test::reuseTexture(blocks, 16, 13);
    std::mt19937 random(4);
    for (std::size_t k = 0; k < blocks; ++k) {
        std::uint8_t* alpha = texture.data() + k * 16;
        if (k > 0 && random() % 3 != 0)
            std::copy_n(alpha - 16, 8, alpha);
        else
            storeLE32(alpha, static_cast<std::uint32_t>(k) | 0xA5000000u);
    }
    for (std::size_t k = 1000; k < 1400; ++k) std::copy_n(texture.data() + 999 * 16, 16, texture.data() + k * 16);
    expectSameAsRaw(texture, Version::dxv3, TextureFormat::dxt5, width, height);
}

}  // namespace
}  // namespace fw::DXV

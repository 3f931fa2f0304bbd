// High-quality coder and decoder: exact bytes, round trips, messages, hostile payloads.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <tuple>

#include "CodecTestData.h"
#include "codecs/dxv/DXVHighQuality.h"

namespace fw::DXV {
namespace {

using test::BgraImage;

HQElement element(std::uint64_t value) {
    HQElement e;
    storeLE32(e.data(), static_cast<std::uint32_t>(value));
    storeLE32(e.data() + 4, static_cast<std::uint32_t>(value >> 32));
    return e;
}

BgraImage uniformImage(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
    BgraImage image(width, height);
    for (int i = 0; i < width * height; ++i)
        std::memcpy(image.at(i % width, i / width), std::array{b, g, r, a}.data(), 4);
    return image;
}

Bytes compress(const BgraImage& image, HQFormat format = HQFormat::yg10) {
    return hqCompressFrame(image.pixels.data(), image.stride, image.width, image.height, format);
}

ByteSpan payloadOf(const Bytes& frame) { return ByteSpan(frame).subspan(12); }

Bytes patched(Bytes bytes, std::size_t at, std::uint32_t value) {
    storeLE32(bytes.data() + at, value);
    return bytes;
}

std::string decodeError(ByteSpan payload, int width = 16, int height = 8, HQFormat format = HQFormat::ycg6) {
    try {
        referenceDecodeHQ(payload, width, height, format);
    } catch (const HQDecodeError& error) {
        return error.description();
    }
    return "(no error)";
}

TEST(DXVHighQuality, OpcodeBlobsAndStreamCodes) {
    EXPECT_EQ(opcodeBlob(Bytes{3, 3, 3}), (Bytes{0x01, 0x03}));
    EXPECT_EQ(opcodeBlob(Bytes{3, 1}), (Bytes{0x00, 0x03, 0x01}));
    EXPECT_EQ(opcodeBlob(Bytes{}), (Bytes{0x00}));
    // An element and three repeats: codes 1, 1, 1. With four repeats: one code 0
    // with the data byte 0, the other three without a code.
    HQStreams streams = encodeHQStreams(HQElements(4, element(7)), 1);
    EXPECT_EQ(streams.codes[0], (Bytes{1, 1, 1}));
    EXPECT_EQ(streams.data.size(), 8u);
    streams = encodeHQStreams(HQElements(5, element(7)), 1);
    EXPECT_EQ(streams.codes[0], (Bytes{0}));
    EXPECT_EQ(streams.data.size(), 9u);
    // Run lengths: 4 -> 0; 258 -> 254; 259 -> 255 00 00; 65794 -> 255 FF FF 00 00.
    for (const auto& [run, bytes] : std::vector<std::pair<std::size_t, Bytes>>{
             {4, {0}}, {258, {254}}, {259, {255, 0, 0}}, {65794, {255, 0xFF, 0xFF, 0, 0}}}) {
        const HQElements elements(run + 1, element(9));
        streams = encodeHQStreams(elements, 1);
        EXPECT_EQ(Bytes(streams.data.begin() + 8, streams.data.end()), bytes) << run;
    }
    // A block seen 65536 plane elements earlier is copied (LE16 65535); one seen
    // 65537 earlier is written literally. Two planes: distances count per plane.
    for (const std::size_t distance : {65536u, 65537u}) {
        HQElements elements;
        for (std::size_t k = 0; k <= distance; ++k) {
            elements.push_back(element(k == distance ? 0 : k));  // plane 0: 0, 1, 2, ..., 0
            elements.push_back(element(1000000 + k));            // plane 1: all different
        }
        streams = encodeHQStreams(elements, 2);
        EXPECT_EQ(streams.codes[0].back(), distance == 65536 ? 2 : 3);
    }
}

TEST(DXVHighQuality, UniformFrameIsOneRunPerPlane) {
    const Bytes frame = compress(uniformImage(64, 64, 10, 200, 30, 255));
    ASSERT_GE(frame.size(), 12u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 8), (Bytes{'0', '1', 'G', 'Y', 4, 0, 0, 0}));
    EXPECT_EQ(loadLE32(frame.data() + 8), frame.size() - 12);
    // Luma+alpha: 256 elements a plane, seeds then a run of 255 each.
    const std::uint8_t* section = frame.data() + 12;
    const std::uint32_t offset = loadLE32(section);
    EXPECT_EQ(offset, 12u + 16 + 2);  // seeds, then one run byte per plane
    EXPECT_EQ(std::tuple(loadLE32(section + 4), loadLE32(section + 8), section[28], section[29]),
              std::tuple(1u, 1u, 251, 251));
    EXPECT_EQ(Bytes(section + offset, section + offset + 4), (Bytes{0x01, 0x00, 0x01, 0x00}));
}

TEST(DXVHighQuality, ColourConversion) {
    // White: Y 255, Co = Cg = 128. Red: Y 64, Co 255 (clamped), Cg 64.
    struct Case {
        std::uint8_t b, g, r;
        std::uint8_t y, co, cg;
    };
    for (const Case& c : {Case{255, 255, 255, 255, 128, 128}, Case{0, 0, 255, 64, 255, 64}}) {
        const Bytes frame = compress(uniformImage(16, 16, c.b, c.g, c.r, 77));
        const HQTextures textures = referenceDecodeHQ(payloadOf(frame), 16, 16, HQFormat::yg10);
        ASSERT_EQ(textures.tex.size(), 256u);
        ASSERT_EQ(textures.ctex.size(), 64u);
        for (std::size_t k = 0; k < 16; ++k) {
            EXPECT_EQ(textures.tex[16 * k], c.y);     // luma endpoints
            EXPECT_EQ(textures.tex[16 * k + 8], 77);  // alpha endpoints
        }
        for (std::size_t k = 0; k < 4; ++k)
            EXPECT_EQ(std::pair(textures.ctex[16 * k], textures.ctex[16 * k + 8]), std::pair(c.co, c.cg));
    }
}

TEST(DXVHighQuality, PlanesAreSixteenAligned) {
    // 1924 x 1080: coded 1936 x 1088, chroma 968 x 544; FFmpeg reads such a frame in DXVTextureSourceTest.
    const HQPlaneSizes sizes = HQPlaneSizes::of(1924, 1080);
    EXPECT_EQ(std::tuple(sizes.lumaWidth, sizes.lumaHeight, sizes.chromaWidth, sizes.chromaHeight),
              std::tuple(1936, 1088, 968, 544));
    // Tiny frames are coded too, at 16 x 16.
    const BgraImage image = uniformImage(1, 1, 1, 2, 3, 4);
    const Bytes tiny = compress(image, HQFormat::ycg6);
    EXPECT_EQ(Bytes(tiny.begin(), tiny.begin() + 4), (Bytes{'6', 'G', 'C', 'Y'}));
    EXPECT_EQ(referenceDecodeHQ(payloadOf(tiny), 16, 16, HQFormat::ycg6).tex.size(), 128u);
    EXPECT_THROW(hqCompressFrame(image.pixels.data(), image.stride, 0, 5, HQFormat::yg10), std::invalid_argument);
}

// Elements with repeats, runs of every length class and copies from near and far, through hqFrame and back.
HQElements reusePlane(std::size_t count, std::mt19937& random) {
    HQElements plane;
    while (plane.size() < count) {
        const unsigned kind = random() % 8;
        if (plane.empty() || kind >= 5) {
            plane.push_back(element(std::uint64_t{random()} << 32 | random()));
        } else if (kind < 2) {
            plane.push_back(plane.back());
        } else if (kind < 4) {
            plane.push_back(plane[random() % plane.size()]);
        } else {
            const std::size_t run = random() % 2 ? random() % 300 : random() % 70000;
            plane.insert(plane.end(), std::min(run, count - plane.size()), plane.back());
        }
    }
    return plane;
}

TEST(DXVHighQuality, ElementStreamsRoundTrip) {
    std::mt19937 random(5);
    for (const std::size_t rows : {2u, 6u, 400u, 20000u}) {
        // 32 pixels wide: 8 luma blocks and 2 chroma blocks a row, height 4 * rows.
        const int width = 32, height = static_cast<int>(4 * rows);
        const HQElements luma = reusePlane(8 * rows, random), alpha = reusePlane(8 * rows, random);
        const HQElements co = reusePlane(2 * rows, random), cg = reusePlane(2 * rows, random);
        for (const HQFormat format : {HQFormat::yg10, HQFormat::ycg6}) {
            const Bytes frame = hqFrame(luma, alpha, co, cg, format);
            const HQTextures textures = referenceDecodeHQ(payloadOf(frame), width, height, format);
            const std::size_t step = format == HQFormat::yg10 ? 16 : 8;
            ASSERT_EQ(textures.tex.size(), step * luma.size());
            for (std::size_t k = 0; k < luma.size(); ++k) {
                ASSERT_EQ(std::memcmp(textures.tex.data() + step * k, luma[k].data(), 8), 0) << k;
                if (format == HQFormat::yg10) {
                    ASSERT_EQ(std::memcmp(textures.tex.data() + 16 * k + 8, alpha[k].data(), 8), 0) << k;
                }
            }
            ASSERT_EQ(textures.ctex.size(), 16 * co.size());
            for (std::size_t k = 0; k < co.size(); ++k) {
                ASSERT_EQ(std::memcmp(textures.ctex.data() + 16 * k, co[k].data(), 8), 0) << k;
                ASSERT_EQ(std::memcmp(textures.ctex.data() + 16 * k + 8, cg[k].data(), 8), 0) << k;
            }
        }
    }
}

// A hand-made payload: one-plane luma section and two-plane chroma section of
// a 16 x 8 frame (8 luma elements, 2 chroma elements a plane).
struct HandMade {
    Bytes lumaData;
    Bytes lumaCodes;
    std::uint32_t lumaCount = 0;
    Bytes build() const {
        Bytes out;
        appendLE32(out, static_cast<std::uint32_t>(8 + 8 + lumaData.size()));
        appendLE32(out, lumaCount);
        out.insert(out.end(), 8, 0x11);  // seed
        out.insert(out.end(), lumaData.begin(), lumaData.end());
        out.insert(out.end(), lumaCodes.begin(), lumaCodes.end());
        // Chroma: seeds, one code 1 per plane, blobs "01 01".
        for (const std::uint32_t field : {12 + 16, 1, 1}) appendLE32(out, field);
        out.insert(out.end(), 16, 0x22);
        out.insert(out.end(), {0x01, 0x01, 0x01, 0x01});
        return out;
    }
};

TEST(DXVHighQualityDecoder, RunsAndCopies) {
    // Run byte 0: the previous element four times (elements 1-4), then code 2
    // with LE16 0 (the previous element), literals, code 1.
    const HandMade frame{.lumaData = {0x00, 0x00, 0x00, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37},
                         .lumaCodes = {0x00, 0, 2, 3, 1},
                         .lumaCount = 4};
    const HQTextures textures = referenceDecodeHQ(frame.build(), 16, 8, HQFormat::ycg6);
    ASSERT_EQ(textures.tex.size(), 64u);
    EXPECT_EQ(Bytes(textures.tex.begin(), textures.tex.begin() + 48), Bytes(48, 0x11));
    EXPECT_EQ(textures.tex[48], 0x30);
    EXPECT_EQ(Bytes(textures.tex.begin() + 48, textures.tex.begin() + 56),
              Bytes(textures.tex.begin() + 56, textures.tex.end()));
    EXPECT_EQ(textures.ctex, Bytes(32, 0x22));
}

TEST(DXVHighQualityDecoder, BlobFlags) {
    HandMade frame{.lumaData = {}, .lumaCodes = {0x04, 1, 1, 1, 1, 1, 1, 1}, .lumaCount = 7};  // flag 4: raw codes
    EXPECT_EQ(referenceDecodeHQ(frame.build(), 16, 8, HQFormat::ycg6).tex, Bytes(64, 0x11));
    frame.lumaCodes = {0x02};
    EXPECT_EQ(decodeError(frame.build()), "entropy-coded ops (unsupported by this reference)");
}

TEST(DXVHighQualityDecoder, Messages) {
    const Bytes frame = compress(test::makeImage(16, 16, test::Pattern::photoLike, 2));
    Bytes payload(frame.begin() + 12, frame.end());
    EXPECT_NO_THROW(referenceDecodeHQ(payload, 16, 16, HQFormat::yg10));

    Bytes longer = payload;
    longer.push_back(0);
    EXPECT_EQ(decodeError(longer, 16, 16, HQFormat::yg10),
              "payload not fully consumed: " + std::to_string(payload.size()) + " of " + std::to_string(longer.size()));
    // Code 5 in plane 0 of the luma+alpha section.
    HQElements planeA(16, element(1)), planeB(16, element(2));
    planeA[1] = element(3);
    Bytes section = assembleHQSection(planeA, planeB);
    section[loadLE32(section.data())] = 0x00;  // raw blob of plane 0
    Bytes bad = section;
    bad.resize(loadLE32(section.data()));
    bad.push_back(0x00);
    for (int i = 0; i < 15; ++i) bad.push_back(5);
    EXPECT_EQ(decodeError(bad, 16, 16, HQFormat::yg10),
              "luma+alpha.p0: opcode 5 (4\u201317 unsupported by this reference)");

    HandMade small{.lumaData = {}, .lumaCodes = {0x01, 0x01}, .lumaCount = 7};
    EXPECT_EQ(decodeError(patched(small.build(), 0, 4)), "luma: op_offset 4 < 8");
    EXPECT_EQ(decodeError(patched(small.build(), 4, 9)), "luma: op_size 9 > max 8");
    // The Cg plane of the chroma section is labelled "chroma.p1"; its maximum is w * h / 32.
    const std::size_t cgCount = 8 + 8 + small.lumaCodes.size() + 8;
    EXPECT_EQ(decodeError(patched(small.build(), cgCount, 0)), "chroma.p1: opcode index 0 \u2265 op_size 0");
    EXPECT_EQ(decodeError(patched(small.build(), cgCount, 5)), "chroma: op_size1 5 > max 4");
    small.lumaCount = 3;
    EXPECT_EQ(decodeError(small.build()), "luma: opcode index 3 \u2265 op_size 3");
    small.lumaCount = 7;
    small.lumaCodes = {0x01, 0x02};
    small.lumaData = {0x05, 0x00};
    EXPECT_EQ(decodeError(small.build()), "luma: op2 distance 48 > dst 8");
    small.lumaCodes = {0x01, 0x03};
    small.lumaData = {1, 2, 3};
    EXPECT_EQ(decodeError(small.build()), "luma: literal past end");

    EXPECT_EQ(decodeError(Bytes{1, 2, 3}), "le32 past end");
    EXPECT_EQ(decodeError(payload, 4, 16, HQFormat::yg10), "coded size 4x16 too small");
}

// A one-plane section header: operation offset and count, then the rest.
Bytes lumaSection(std::uint32_t offset, std::uint32_t count, Bytes rest) {
    rest.insert(rest.begin(), 8, 0);
    return patched(patched(rest, 0, offset), 4, count);
}

TEST(DXVHighQualityDecoder, ReaderBlobAndSectionMessages) {
    const Bytes seed(8, 0x11);
    auto seedThen = [&](Bytes tail) { return tail.insert(tail.begin(), seed.begin(), seed.end()), tail; };
    // The blob sits where the operation offset points, here at the payload's end or inside it.
    EXPECT_EQ(decodeError(lumaSection(16, 0, seed)), "op blob past end");
    EXPECT_EQ(decodeError(lumaSection(16, 3, seedThen({0x00, 0x01}))), "raw ops past end");
    EXPECT_EQ(decodeError(lumaSection(16, 3, seedThen({0x01}))), "RLE op past end");
    EXPECT_EQ(decodeError(lumaSection(8, 0, {0x01, 0x01})), "luma: seed past end");
    // Offset 8 makes the seed's first bytes the blob: seven codes 0 (runs), whose data bytes then run past the payload.
    const Bytes runSeed = {0x01, 0x00, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(decodeError(lumaSection(8, 7, runSeed)), "byte past end");
    const Bytes longRun = {0x01, 0x00, 0, 0, 0, 0, 0, 0, 0xFF, 0x00};
    EXPECT_EQ(decodeError(lumaSection(8, 7, longRun)), "le16 past end");
    // Two-plane headers: offset below 12, and each plane's count against w * h / 16.
    auto twoPlane = [](std::uint32_t offset, std::uint32_t count0, std::uint32_t count1) {
        Bytes out;
        for (const std::uint32_t field : {offset, count0, count1}) appendLE32(out, field);
        out.insert(out.end(), 16, 0x11);
        out.insert(out.end(), {0x01, 0x01, 0x01, 0x01});
        return out;
    };
    EXPECT_EQ(decodeError(twoPlane(11, 1, 1), 16, 8, HQFormat::yg10), "luma+alpha: op_offset 11 < 12");
    EXPECT_EQ(decodeError(twoPlane(28, 9, 1), 16, 8, HQFormat::yg10), "luma+alpha: op_size0 9 > max 8");
    EXPECT_EQ(decodeError(twoPlane(28, 1, 9), 16, 8, HQFormat::yg10), "luma+alpha: op_size1 9 > max 8");
}

TEST(DXVHighQualityCorruption, TruncationsAndFlipsNeverEscape) {
    const Bytes frame = compress(test::makeImage(48, 40, test::Pattern::photoLike, 4));
    const Bytes payload(frame.begin() + 12, frame.end());
    for (std::size_t cut = 0; cut < payload.size(); ++cut)
        EXPECT_NE(decodeError(ByteSpan(payload.data(), cut), 48, 48, HQFormat::yg10), "(no error)") << cut;
    std::mt19937 random(1);
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes damaged = payload;
        for (int flips = 0; flips < 3; ++flips)
            damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
        decodeError(damaged, 48, 48, HQFormat::yg10);  // any outcome but a crash
    }
}

}  // namespace
}  // namespace fw::DXV

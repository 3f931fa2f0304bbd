// Frame headers of both versions, and when a payload is coded or stored raw.

#include <gtest/gtest.h>

#include "DXVTestData.h"
#include "codecs/dxv/DXVBlockReuse.h"
#include "codecs/dxv/DXVFrame.h"
#include "codecs/dxv/DXVLZF.h"

namespace fw::DXV {
namespace {

TEST(DXVFrame, EmptyTextures) {
    EXPECT_EQ(frame({}, Version::dxv2, TextureFormat::dxt1), (Bytes{0x00, 0x00, 0x00, 0x23}));
    EXPECT_EQ(frame({}, Version::dxv2, TextureFormat::dxt5), (Bytes{0x00, 0x00, 0x00, 0x43}));
    EXPECT_EQ(frame({}, Version::dxv3, TextureFormat::dxt1), (Bytes{'1', 'T', 'X', 'D', 4, 0, 1, 0, 0, 0, 0, 0}));
}

TEST(DXVFrame, Version0CarriesTheLZFStream) {
    const test::ByteVector texture = test::reuseTexture(500, 16, 2);
    const Bytes out = frame(texture, Version::dxv2, TextureFormat::dxt5);
    const Bytes stream = compressLZF(texture);
    EXPECT_EQ(loadLE32(out.data()), 0x43000000u | stream.size());
    EXPECT_EQ(Bytes(out.begin() + 4, out.end()), stream);
}

TEST(DXVFrame, Version1CodesWholeBlocksOnly) {
    // DXT5: 24 bytes (not a whole number of blocks) raw; 32 bytes coded.
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
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < noise.size(); i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        storeLE32(noise.data() + i, static_cast<std::uint32_t>(state));
        storeLE32(noise.data() + i + 4, static_cast<std::uint32_t>(state >> 32));
    }
    EXPECT_THROW(frame(noise, Version::dxv2, TextureFormat::dxt1), std::length_error);
}

}  // namespace
}  // namespace fw::DXV

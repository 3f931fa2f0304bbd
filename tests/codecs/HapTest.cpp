// Hap frames written and read, our Snappy decoder against libsnappy, and
// FFmpeg's hap coders in-process reading ours and writing frames we read.

#include <gtest/gtest.h>
#include <snappy.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>

#include "CodecTestData.h"
#include "FFmpegOracle.h"
#include "codecs/ByteBuffer.h"
#include "codecs/dxt/DXTDecoder.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/hap/Hap.h"
#include "codecs/hap/HapDecoder.h"
#include "codecs/hap/TextureSource.h"

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes section(std::uint8_t type, const Bytes& body, bool longForm = false) {
    ByteWriter out;
    if (longForm || body.empty() || body.size() >= (1u << 24)) {
        out.appendU24LE(0);
        out.appendU8(type);
        out.appendU32LE(std::uint32_t(body.size()));
    } else {
        out.appendU24LE(std::uint32_t(body.size()));
        out.appendU8(type);
    }
    out.appendBytes(body);
    return out.take();
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes u32Table(std::initializer_list<std::uint32_t> values) {
    ByteWriter out;
    for (auto v : values) out.appendU32LE(v);
    return out.take();
}

Bytes snappyCompressed(const Bytes& raw) {
    std::string out;
    snappy::Compress(reinterpret_cast<const char*>(raw.data()), raw.size(), &out);
    return bytesOf(out);
}

// The reader's error detail for a frame, or "" when it decodes.
std::string readError(const Bytes& frame, std::size_t maxTexture = HapDecoder::kMaxTextureBytes) {
    try {
        HapDecoder::decodeFrame(frame, maxTexture);
        return "";
    } catch (const HapDecoder::DecodeError& error) {
        EXPECT_EQ(std::string(error.what()), "malformed Hap frame: " + error.detail());
        return error.detail();
    }
}

std::string snappyError(const Bytes& stream) {
    try {
        HapDecoder::snappyDecompress(stream);
    } catch (const HapDecoder::DecodeError& error) {
        return error.detail();
    }
    return "";
}

TEST(HapFrame, SectionForms) {
    const Bytes texture(16, 0x5C);
    EXPECT_EQ(Hap::frame(texture, Hap::kFormatDXT1), concat({{0x10, 0x00, 0x00, 0xAB}, texture}));
    EXPECT_EQ(Hap::frame({}, Hap::kFormatDXT5), (Bytes{0, 0, 0, 0xAE, 0, 0, 0, 0}));
    const auto empty = HapDecoder::decodeFrame(Hap::frame({}, Hap::kFormatDXT5));
    EXPECT_EQ(empty.formatCode, 0x0E);
    EXPECT_TRUE(empty.texture.empty());

    const Bytes big(1u << 24, 1);
    const Bytes longFrame = Hap::frame(big, Hap::kFormatScaledYCoCgDXT5);
    EXPECT_EQ(Bytes(longFrame.begin(), longFrame.begin() + 8), (Bytes{0, 0, 0, 0xAF, 0, 0, 0, 1}));
    EXPECT_EQ(longFrame.size(), big.size() + 8);
    const Bytes shortFrame = Hap::frame(std::span(big).first(big.size() - 1), Hap::kFormatDXT1);
    EXPECT_EQ(Bytes(shortFrame.begin(), shortFrame.begin() + 4), (Bytes{0xFF, 0xFF, 0xFF, 0xAB}));
    EXPECT_EQ(HapDecoder::decodeFrame(shortFrame).texture.size(), big.size() - 1);
}

TEST(HapDecoder, PlainFramesAndHeaderFaults) {
    const Bytes texture = bytesOf("0123456789abcdef");
    auto decoded = HapDecoder::decodeFrame(concat({section(0xAB, texture, true), bytesOf("trailing")}));
    EXPECT_EQ(decoded.texture, texture);
    EXPECT_EQ(decoded.formatCode, 0x0B);

    EXPECT_EQ(readError({0x10, 0, 0}), "truncated header");
    EXPECT_EQ(readError({0, 0, 0, 0xAB, 1, 0, 0}), "truncated long header");
    Bytes frame = section(0xAB, texture);
    EXPECT_EQ(readError(frame), "");
    frame.pop_back();
    EXPECT_EQ(readError(frame), "body past end");
    EXPECT_EQ(readError({0, 0, 0, 0xAB, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2}), "body past end");
    EXPECT_EQ(readError(section(0xDB, texture)), "unknown compressor 0xd0");
    EXPECT_EQ(readError(section(0x0B, texture)), "unknown compressor 0x0");
    // The format code is passed on unchecked.
    EXPECT_EQ(HapDecoder::decodeFrame(section(0xA7, texture)).formatCode, 0x07);
}

// A complex frame body: container with the given tables, then the chunk data.
Bytes complexFrame(const Bytes& container, const Bytes& data, std::uint8_t format = 0x0B) {
    return section(0xC0 | format, concat({section(0x01, container), data}));
}

TEST(HapDecoder, ChunkedFrames) {
    const Bytes first = bytesOf("first chunk, first chunk, first chunk!");
    const Bytes second = bytesOf("second, raw");
    const Bytes firstCompressed = snappyCompressed(first);
    const Bytes expected = concat({first, second});
    // Back to back, no offset table; an unknown section type is skipped.
    const Bytes tables =
        concat({section(0x02, {0x0B, 0x0A}),
                section(0x03, u32Table({std::uint32_t(firstCompressed.size()), std::uint32_t(second.size())})),
                section(0x7E, bytesOf("ignored"))});
    auto decoded = HapDecoder::decodeFrame(complexFrame(tables, concat({firstCompressed, second})));
    EXPECT_EQ(decoded.texture, expected);
    // With offsets, stored in the other order: the texture follows table order.
    const Bytes withOffsets = concat({tables, section(0x04, u32Table({std::uint32_t(second.size()), 0}))});
    decoded = HapDecoder::decodeFrame(complexFrame(withOffsets, concat({second, firstCompressed})));
    EXPECT_EQ(decoded.texture, expected);
    // A later table replaces an earlier one.
    const Bytes replaced = concat({section(0x02, {0x0B}), tables});
    EXPECT_EQ(HapDecoder::decodeFrame(complexFrame(replaced, concat({firstCompressed, second}))).texture, expected);
}

TEST(HapDecoder, ChunkedFrameFaults) {
    const Bytes data = bytesOf("0123456789");
    auto sizes = [](std::initializer_list<std::uint32_t> v) { return section(0x03, u32Table(v)); };
    auto kinds = [](const Bytes& v) { return section(0x02, v); };
    auto offsets = [](std::initializer_list<std::uint32_t> v) { return section(0x04, u32Table(v)); };
    EXPECT_EQ(readError(section(0xCB, kinds({0x0A}))), "expected decode-instructions container, got 0x2");
    const std::pair<Bytes, std::string> faults[] = {
        {concat({kinds({0x0A, 0x0A}), sizes({5})}), "chunk tables missing or mismatched"},
        {sizes({5}), "chunk tables missing or mismatched"},
        {concat({kinds({}), sizes({})}), "chunk tables missing or mismatched"},
        {concat({kinds({0x0A}), section(0x03, {1, 2, 3, 4, 5})}), "bad size table"},
        {concat({kinds({0x0A}), sizes({5}), section(0x04, {1, 2})}), "bad offset table"},
        {concat({kinds({0x0A, 0x0A}), sizes({5, 5}), offsets({0})}), "offset table shorter than the chunk count"},
        {concat({kinds({0x0A, 0x0A}), sizes({5, 6})}), "chunk past end"},
        {concat({kinds({0x0A}), sizes({5}), offsets({0xFFFFFFFF})}), "chunk past end"},
        {concat({kinds({0x0A}), sizes({0xFFFFFFFF}), offsets({1})}), "chunk past end"},
        {concat({kinds({0x0C}), sizes({5})}), "unknown chunk compressor 0xc"},
    };
    for (const auto& [tables, error] : faults) EXPECT_EQ(readError(complexFrame(tables, data)), error);
    // A table section may not run past the frame.
    EXPECT_EQ(readError(section(0xCB, concat({Bytes{4, 0, 0, 0x01}, Bytes{9, 0, 0, 0x02}}))), "body past end");
    // Overlapping chunks cannot add up past the texture bound.
    ByteWriter starts, lengths;
    for (int i = 0; i < 64; ++i) starts.appendU32LE(0), lengths.appendU32LE(10);
    const Bytes overlapping = complexFrame(
        concat({kinds(Bytes(64, 0x0A)), section(0x03, lengths.take()), section(0x04, starts.take())}), data);
    EXPECT_EQ(readError(overlapping), "");
    EXPECT_EQ(HapDecoder::decodeFrame(overlapping).texture.size(), 640u);
    EXPECT_EQ(readError(overlapping, 639), "texture too large");
}

TEST(HapSnappy, ElementsAndFaults) {
    // "a", then copy offset 1 length 10 (2-byte offset form).
    EXPECT_EQ(HapDecoder::snappyDecompress(Bytes{11, 0x00, 'a', (9 << 2) | 2, 1, 0}), Bytes(11, 'a'));
    // Copy with 1-byte offset (length 4..11) and 4-byte offset.
    EXPECT_EQ(HapDecoder::snappyDecompress(Bytes{7, 0x08, 'x', 'y', 'z', (0 << 2) | 1, 3}), bytesOf("xyzxyzx"));
    EXPECT_EQ(HapDecoder::snappyDecompress(Bytes{5, 0x04, 'p', 'q', (2 << 2) | 3, 2, 0, 0, 0}), bytesOf("pqpqp"));
    // Long literal with one length byte; trailing input past the length is ignored.
    Bytes literal = {70, 60 << 2, 69};
    for (int i = 0; i < 70; ++i) literal.push_back(std::uint8_t(i));
    literal.push_back(0xFF);
    EXPECT_EQ(HapDecoder::snappyDecompress(literal).size(), 70u);
    EXPECT_EQ(HapDecoder::snappyDecompress(Bytes{0, 0xFF}), Bytes{});

    EXPECT_EQ(snappyError({}), "snappy varint");
    EXPECT_EQ(snappyError({0x80, 0x80}), "snappy varint");
    EXPECT_EQ(snappyError({0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), "snappy varint overflow");
    EXPECT_EQ(snappyError({5, 5 << 2, 'a', 'b', 'c', 'd', 'e', 'f'}), "snappy output 6 \u2260 expected 5");
    EXPECT_EQ(snappyError({10, 2 << 2, 'a', 'b', 'c'}), "snappy output 3 \u2260 expected 10");
    EXPECT_EQ(snappyError({10, 61 << 2, 1}), "snappy literal len");
    EXPECT_EQ(snappyError({10, 9 << 2, 'a'}), "snappy literal");
    // A four-byte literal length near 2^32 is summed without wrapping.
    EXPECT_EQ(snappyError({10, 63 << 2, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), "snappy literal");
    EXPECT_EQ(snappyError({10, 0, 'a', 1}), "snappy copy1");
    EXPECT_EQ(snappyError({10, 0, 'a', 2, 1}), "snappy copy2");
    EXPECT_EQ(snappyError({10, 0, 'a', 3, 1, 0, 0}), "snappy copy4");
    EXPECT_EQ(snappyError({10, 0, 'a', 2, 0, 0}), "snappy offset");
    EXPECT_EQ(snappyError({10, 0, 'a', 2, 2, 0}), "snappy offset");
    // A declared length far beyond what the input could make fails on the length, without reserving it.
    EXPECT_EQ(snappyError({0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0, 'a', (63 << 2) | 2, 1, 0}),
              "snappy output 65 \u2260 expected 4294967295");
}

TEST(HapSnappy, AgreesWithLibsnappy) {
    // Runs, repeats at many distances and noise, like a texture, and runs of
    // every short period (copies that overlap their own output).
    std::vector<Bytes> inputs = {
        {}, bytesOf("a"), Bytes(100000, 0), test::reuseTexture(37500, 8, 1), test::compressibleBytes(5000, 2)};
    Bytes periodic;
    for (int period = 1; period <= 9; ++period)
        for (int i = 0; i < 40 * period; ++i) periodic.push_back(std::uint8_t(16 * period + i % period));
    inputs.push_back(periodic);
    std::mt19937 random(3);
    Bytes noise(70000);
    for (auto& b : noise) b = std::uint8_t(random());
    inputs.push_back(noise);
    const test::BgraImage picture = test::makeImage(256, 128, test::Pattern::photoLike, 4);
    inputs.push_back(DXTEncoder::encode(picture.pixels.data(), picture.stride, 256, 128, DXTEncoder::Kind::dxt5, 4));

    for (const Bytes& input : inputs) {
        const Bytes compressed = snappyCompressed(input);
        EXPECT_EQ(HapDecoder::snappyDecompress(compressed), input) << "size " << input.size();
        // Damaged streams: whatever libsnappy accepts, we decode to the same bytes.
        for (int trial = 0; trial < 200 && !compressed.empty(); ++trial) {
            Bytes damaged = compressed;
            for (int flips = 1 + trial % 3; flips > 0; --flips)
                damaged[random() % damaged.size()] ^= std::uint8_t(1u << (random() % 8));
            if (trial % 5 == 0) damaged.resize(random() % damaged.size());
            std::string reference;
            const bool referenceOk =
                snappy::Uncompress(reinterpret_cast<const char*>(damaged.data()), damaged.size(), &reference);
            std::optional<Bytes> ours;
            try {
                ours = HapDecoder::snappyDecompress(damaged);
            } catch (const HapDecoder::DecodeError&) {}
            if (referenceOk) {
                ASSERT_EQ(ours, bytesOf(reference)) << "trial " << trial;
            }
        }
    }
}

// Frames decode as their texture does, row padding untouched (FFmpeg reads
// them alike, below), and are refused when they do not fit.
TEST(TextureSource, HapFramesToPixels) {
    const int width = 127, height = 71;
    const test::BgraImage picture = test::makeImage(width, height, test::Pattern::photoLike, 8);
    test::BgraImage out(width, height), expected(width, height);
    auto decode = [&](std::span<const std::uint8_t> frame) {
        return TextureSource::decodeHapFrame(frame, width, height, out.pixels.data(), out.stride);
    };
    struct Case {
        DXTEncoder::Kind kind;
        std::uint8_t format;
        void (*direct)(std::span<const std::uint8_t>, int, int, int, int, std::uint8_t*, std::size_t);
    };
    for (const auto& [kind, format, direct] :
         {Case{DXTEncoder::Kind::dxt1, Hap::kFormatDXT1, DXTDecoder::decodeDXT1},
          Case{DXTEncoder::Kind::dxt5, Hap::kFormatDXT5, DXTDecoder::decodeDXT5},
          Case{DXTEncoder::Kind::ycocg, Hap::kFormatScaledYCoCgDXT5, DXTDecoder::decodeScaledYCoCgDXT5}}) {
        const Bytes texture = DXTEncoder::encode(picture.pixels.data(), picture.stride, width, height, kind, 4);
        direct(texture, 128, 72, width, height, expected.pixels.data(), expected.stride);
        const Bytes frame = Hap::frame(texture, format);
        ASSERT_TRUE(decode(frame));
        EXPECT_EQ(out.pixels, expected.pixels);
        // A texture one byte short of the picture, a frame cut short, an unknown format code: nothing to show.
        EXPECT_FALSE(decode(Hap::frame(std::span(texture).first(texture.size() - 1), format)));
        EXPECT_FALSE(decode(std::span(frame).first(frame.size() - 1)));
        EXPECT_FALSE(decode(Hap::frame(texture, 0x0C)));
        EXPECT_FALSE(decode(Bytes{1, 2, 3}));
    }
}

TEST(TextureSource, GridFitting) {
    using Grid = std::optional<std::pair<int, int>>;
    EXPECT_EQ(TextureSource::gridFitting(480 * 272 * 8, 8, 1920, 1080), (Grid{{1920, 1088}}));
    EXPECT_EQ(TextureSource::gridFitting(480 * 270 * 8, 8, 1920, 1080), (Grid{{1920, 1080}}));
    EXPECT_EQ(TextureSource::gridFitting(480 * 270 * 8 - 1, 8, 1920, 1080), Grid{});
    EXPECT_EQ(TextureSource::gridFitting(16, 16, 1, 1), (Grid{{4, 4}}));
    EXPECT_EQ(TextureSource::gridFitting(256, 16, 1, 1), (Grid{{16, 16}}));
}

struct Variant {
    const char* name;  // the ffmpeg encoder's -format value
    DXTEncoder::Kind kind;
    std::uint8_t formatCode;
    std::uint32_t tag;
    // FFmpeg expands RGB565 and interpolates palettes with its own rounding (a level either way) and converts YCoCg
    // with truncating integer division (a few levels); a wrong block layout, palette or index order would differ by far
    // more.
    int largestDifference;
    double meanDifference;
};
const Variant kVariants[] = {
    {"hap", DXTEncoder::Kind::dxt1, Hap::kFormatDXT1, test::fourCC("Hap1"), 2, 0.5},
    {"hap_alpha", DXTEncoder::Kind::dxt5, Hap::kFormatDXT5, test::fourCC("Hap5"), 2, 0.5},
    {"hap_q", DXTEncoder::Kind::ycocg, Hap::kFormatScaledYCoCgDXT5, test::fourCC("HapY"), 4, 1.0},
};

// Decodes `frame` both ways and expects the pictures within the variant's
// rounding of each other; FFmpeg's picture, or nullopt when either refuses it.
std::optional<test::BgraImage> expectDecodesLikeFFmpeg(const Bytes& frame, const Variant& v, int width, int height) {
    auto reference = test::ffmpegDecodeHap(frame, v.tag, width, height);
    test::BgraImage ours(width, height);
    if (!reference || reference->width != width || reference->height != height ||
        !TextureSource::decodeHapFrame(frame, width, height, ours.pixels.data(), ours.stride)) {
        ADD_FAILURE() << "FFmpeg or we refused the frame, or FFmpeg gave another size";
        return std::nullopt;
    }
    int largest = 0;
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) {
                const int delta = std::abs(int(ours.at(x, y)[c]) - int(reference->at(x, y)[c]));
                largest = std::max(largest, delta);
                sum += delta;
            }
    EXPECT_LE(largest, v.largestDifference);
    EXPECT_LE(sum / (4.0 * width * height), v.meanDifference);
    return reference;
}

// A frame made in a buffer kept from an earlier one (longer, shorter, in the other section form) is the same frame,
// none of the earlier bytes left over.
TEST(HapFrame, MadeInAReusedBufferIsTheSameFrame) {
    const Bytes texture(100, 0x5C);
    const Bytes expected = Hap::frame(texture, Hap::kFormatDXT1);
    const auto copyTexture = [&](std::span<std::uint8_t> into) {
        std::copy(texture.begin(), texture.end(), into.begin());
    };
    for (const Bytes& earlier : {Bytes{}, Bytes(3, 0xEE), Bytes(104, 0xEE), Bytes(5000, 0xEE),
                                 Hap::frame(Bytes(1u << 24, 1), Hap::kFormatScaledYCoCgDXT5)}) {
        SCOPED_TRACE(earlier.size());
        Bytes reused = earlier;
        Hap::frameInto(reused, texture.size(), Hap::kFormatDXT1, copyTexture);
        EXPECT_EQ(reused, expected);
    }
}

TEST(HapOracle, FFmpegDecodesOurFrames) {
    for (auto [width, height] : {std::pair{127, 71}, std::pair{64, 32}}) {
        const test::BgraImage picture = test::makeImage(width, height, test::Pattern::photoLike, 21);
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(testing::Message() << v.name << " " << width << "x" << height);
            const Bytes frame = Hap::frame(
                DXTEncoder::encode(picture.pixels.data(), picture.stride, width, height, v.kind, 4), v.formatCode);
            const auto reference = expectDecodesLikeFFmpeg(frame, v, width, height);
            ASSERT_TRUE(reference.has_value());
            // Both decodes keep the source picture.
            EXPECT_GT(test::psnr(picture, reference->pixels.data(), reference->stride, false), 29.0);
        }
    }
}

// Video packets of a movie, read with libavformat.
std::vector<Bytes> moviePackets(const std::filesystem::path& file) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) return {};
    std::unique_ptr<AVFormatContext, test::FFmpegDeleter> input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return {};
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return {};
    std::vector<Bytes> packets;
    std::unique_ptr<AVPacket, test::FFmpegDeleter> packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) packets.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    return packets;
}

TEST(HapOracle, WeReadFFmpegsSnappyAndChunkedFrames) {
    test::TempDir folder;
    const int width = 128, height = 72;
    // Without Snappy the encoder writes one plain section whatever the chunk count; the
    // top-level compressor is plain, Snappy, or complex when chunked.
    const std::tuple<std::string, int, int> compressions[] = {
        {"snappy", 1, 0xB0}, {"snappy", 16, 0xC0}, {"none", 1, 0xA0}};
    for (const Variant& v : kVariants) {
        for (const auto& [compressor, chunks, top] : compressions) {
            SCOPED_TRACE(testing::Message() << v.name << " " << compressor << " chunks " << chunks);
            const auto movie = folder / (v.name + compressor + std::to_string(chunks) + ".mov");
            ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=128x72:r=5", "-frames:v", "2", "-pix_fmt",
                                      "rgba", "-c:v", "hap", "-format", v.name, "-compressor", compressor, "-chunks",
                                      std::to_string(chunks), "-f", "mov", movie.string()}));
            const auto packets = moviePackets(movie);
            ASSERT_EQ(packets.size(), 2u);
            for (const Bytes& packet : packets) {
                const auto decoded = HapDecoder::decodeFrame(packet);
                EXPECT_EQ(decoded.formatCode, v.formatCode);
                EXPECT_EQ(decoded.texture.size(),
                          std::size_t{width / 4 * (height / 4)} * DXTEncoder::blockBytes(v.kind));
                EXPECT_EQ(packet[3] & 0xF0, top);
                expectDecodesLikeFFmpeg(packet, v, width, height);
            }
        }
    }
}

}  // namespace
}  // namespace fw

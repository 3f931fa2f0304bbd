// Hap frames against FFmpeg, in-process: its hap decoder reads the frames we
// write, and our reader reads the Snappy and chunked frames its hap encoder
// writes (test oracles only).

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "CodecTestImages.h"
#include "FFmpegOracle.h"
#include "support/TestSupport.h"
#include "codecs/dxt/DXTEncoder.h"
#include "codecs/hap/Hap.h"
#include "codecs/hap/HapDecoder.h"
#include "codecs/hap/TextureSource.h"

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct InputDeleter {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

constexpr std::uint32_t fourCC(const char (&tag)[5]) {
    return std::uint32_t(std::uint8_t(tag[0])) | std::uint32_t(std::uint8_t(tag[1])) << 8 |
           std::uint32_t(std::uint8_t(tag[2])) << 16 | std::uint32_t(std::uint8_t(tag[3])) << 24;
}

// FFmpeg's decode of one Hap frame as BGRA (alpha 255 where it gives none),
// or nullopt when it refuses the packet.
std::optional<test::BgraImage> ffmpegDecodeHap(const Bytes& frame, std::uint32_t tag, int width, int height) {
    const test::AVFramePtr decoded = test::ffmpegDecodePacket(AV_CODEC_ID_HAP, tag, frame, width, height);
    if (!decoded) return std::nullopt;
    const auto format = static_cast<AVPixelFormat>(decoded->format);
    if (format != AV_PIX_FMT_RGBA && format != AV_PIX_FMT_RGB0) {
        ADD_FAILURE() << "unexpected pixel format " << format;
        return std::nullopt;
    }
    test::BgraImage out(decoded->width, decoded->height);
    for (int y = 0; y < decoded->height; ++y) {
        const std::uint8_t* row = decoded->data[0] + static_cast<std::ptrdiff_t>(y) * decoded->linesize[0];
        for (int x = 0; x < decoded->width; ++x) {
            std::uint8_t* p = out.at(x, y);
            p[0] = row[4 * x + 2], p[1] = row[4 * x + 1], p[2] = row[4 * x];
            p[3] = format == AV_PIX_FMT_RGBA ? row[4 * x + 3] : 255;
        }
    }
    return out;
}

struct Variant {
    const char* name;        // the ffmpeg encoder's -format value
    DXTEncoder::Kind kind;
    std::uint8_t formatCode;
    std::uint32_t tag;
    // FFmpeg expands RGB565 and interpolates palettes with its own rounding
    // (a level either way) and converts YCoCg with truncating integer
    // division (a few levels); a wrong block layout, palette or index order
    // would differ by far more.
    int largestDifference;
    double meanDifference;
};
const Variant kVariants[] = {
    {"hap", DXTEncoder::Kind::dxt1, Hap::kFormatDXT1, fourCC("Hap1"), 2, 0.5},
    {"hap_alpha", DXTEncoder::Kind::dxt5, Hap::kFormatDXT5, fourCC("Hap5"), 2, 0.5},
    {"hap_q", DXTEncoder::Kind::ycocg, Hap::kFormatScaledYCoCgDXT5, fourCC("HapY"), 4, 1.0},
};

// Decodes `frame` both ways and expects the pictures within the variant's
// rounding of each other; FFmpeg's picture, or nullopt when either refuses it.
std::optional<test::BgraImage> expectDecodesLikeFFmpeg(const Bytes& frame, const Variant& v, int width, int height) {
    auto reference = ffmpegDecodeHap(frame, v.tag, width, height);
    test::BgraImage ours(width, height);
    if (!reference || reference->width != width || reference->height != height) {
        ADD_FAILURE() << "FFmpeg refused the frame or gave another size";
        return std::nullopt;
    }
    if (!TextureSource::decodeHapFrame(frame, width, height, ours.pixels.data(), ours.stride)) {
        ADD_FAILURE() << "we refused the frame";
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
    std::unique_ptr<AVFormatContext, InputDeleter> input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return {};
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return {};
    std::vector<Bytes> packets;
    std::unique_ptr<AVPacket, test::AVPacketDeleter> packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) packets.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    return packets;
}

TEST(HapOracle, WeReadFFmpegsSnappyAndChunkedFrames) {
    test::TempDir folder;
    const int width = 128, height = 72;
    for (const Variant& v : kVariants) {
        for (const char* compressor : {"snappy", "none"}) {
            for (int chunks : {1, 16}) {
                // Without Snappy the encoder writes one plain section whatever the chunk count.
                if (std::string(compressor) == "none" && chunks > 1) continue;
                SCOPED_TRACE(testing::Message() << v.name << " " << compressor << " chunks " << chunks);
                const auto movie = folder / (std::string(v.name) + compressor + std::to_string(chunks) + ".mov");
                ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=128x72:r=5", "-frames:v", "2", "-pix_fmt",
                                          "rgba", "-c:v", "hap", "-format", v.name, "-compressor", compressor,
                                          "-chunks", std::to_string(chunks), "-f", "mov", movie.string()}));
                const auto packets = moviePackets(movie);
                ASSERT_EQ(packets.size(), 2u);
                for (const Bytes& packet : packets) {
                    const auto decoded = HapDecoder::decodeFrame(packet);
                    EXPECT_EQ(decoded.formatCode, v.formatCode);
                    const std::size_t blockBytes = DXTEncoder::blockBytes(v.kind);
                    EXPECT_EQ(decoded.texture.size(), std::size_t(width / 4) * (height / 4) * blockBytes);
                    // The top-level compressor: plain, Snappy, or complex when chunked.
                    const std::uint8_t top = packet[3] & 0xF0;
                    const bool snappy = std::string(compressor) == "snappy";
                    EXPECT_EQ(top, !snappy ? 0xA0 : chunks > 1 ? 0xC0 : 0xB0);

                    expectDecodesLikeFFmpeg(packet, v, width, height);
                }
            }
        }
    }
}

}  // namespace
}  // namespace fw

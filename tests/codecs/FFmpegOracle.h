#pragma once
// Decodes one packet with one of FFmpeg's own decoders, in-process: an independent reader of the frames our coders
// write (test oracle only). Hap frames come back as BGRA pictures, DXV frames unpacked plane by plane.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "CodecTestData.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace fw::test {

struct FFmpegDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using AVFramePtr = std::unique_ptr<AVFrame, FFmpegDeleter>;

// The frame FFmpeg's `codec` decoder makes of `bytes` as a key frame of width x height (codec tag `tag`, 0 for none),
// or null when it refuses it. Set FW_FFMPEG_LOG to see the decoder's own messages.
inline AVFramePtr ffmpegDecodePacket(AVCodecID codecId, std::uint32_t tag, const std::vector<std::uint8_t>& bytes,
                                     int width, int height) {
    av_log_set_level(std::getenv("FW_FFMPEG_LOG") ? AV_LOG_DEBUG : AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(codecId);
    if (!codec) return nullptr;
    std::unique_ptr<AVCodecContext, FFmpegDeleter> context(avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->codec_tag = tag;
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    std::unique_ptr<AVPacket, FFmpegDeleter> packet(av_packet_alloc());
    if (av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) return nullptr;
    std::copy(bytes.begin(), bytes.end(), packet->data);
    packet->flags |= AV_PKT_FLAG_KEY;
    if (avcodec_send_packet(context.get(), packet.get()) < 0) return nullptr;
    avcodec_send_packet(context.get(), nullptr);
    AVFramePtr decoded(av_frame_alloc());
    if (avcodec_receive_frame(context.get(), decoded.get()) < 0) return nullptr;
    return decoded;
}

constexpr std::uint32_t fourCC(const char (&tag)[5]) {
    return std::uint32_t(std::uint8_t(tag[0])) | std::uint32_t(std::uint8_t(tag[1])) << 8 |
           std::uint32_t(std::uint8_t(tag[2])) << 16 | std::uint32_t(std::uint8_t(tag[3])) << 24;
}

// FFmpeg's decode of one Hap frame (codec tag Hap1, Hap5 or HapY) as BGRA (alpha 255 where it gives none), or nullopt
// when it refuses the packet.
inline std::optional<BgraImage> ffmpegDecodeHap(const std::vector<std::uint8_t>& frame, std::uint32_t tag, int width,
                                                int height) {
    const AVFramePtr decoded = ffmpegDecodePacket(AV_CODEC_ID_HAP, tag, frame, width, height);
    if (!decoded) return std::nullopt;
    const auto format = static_cast<AVPixelFormat>(decoded->format);
    if (format != AV_PIX_FMT_RGBA && format != AV_PIX_FMT_RGB0) {
        ADD_FAILURE() << "unexpected pixel format " << format;
        return std::nullopt;
    }
    BgraImage out(decoded->width, decoded->height);
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

struct OracleFrame {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
    // One tightly packed buffer per plane (RGBA: one plane, 4 bytes a pixel).
    std::vector<std::vector<std::uint8_t>> planes;
    std::vector<int> planeWidths;
    std::vector<int> planeHeights;
    const std::uint8_t* at(int plane, int x, int y) const {
        const int bytes = format == AV_PIX_FMT_RGBA ? 4 : 1;
        return planes[plane].data() + (static_cast<std::size_t>(y) * planeWidths[plane] + x) * bytes;
    }
};

// The decoded frame, or nullopt when FFmpeg refuses the packet.
inline std::optional<OracleFrame> ffmpegDecodeDXV(const std::vector<std::uint8_t>& frame, int width, int height) {
    const AVFramePtr decoded = ffmpegDecodePacket(AV_CODEC_ID_DXV, 0, frame, width, height);
    if (!decoded) return std::nullopt;

    OracleFrame result;
    result.format = static_cast<AVPixelFormat>(decoded->format);
    result.width = decoded->width;
    result.height = decoded->height;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(result.format);
    const int planeCount = av_pix_fmt_count_planes(result.format);
    for (int plane = 0; plane < planeCount; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int w = chroma ? AV_CEIL_RSHIFT(decoded->width, descriptor->log2_chroma_w) : decoded->width;
        const int h = chroma ? AV_CEIL_RSHIFT(decoded->height, descriptor->log2_chroma_h) : decoded->height;
        const int bytes = result.format == AV_PIX_FMT_RGBA ? 4 : 1;
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(w) * h * bytes);
        for (int y = 0; y < h; ++y)
            std::copy_n(decoded->data[plane] + static_cast<std::ptrdiff_t>(y) * decoded->linesize[plane],
                        static_cast<std::size_t>(w) * bytes, packed.data() + static_cast<std::size_t>(y) * w * bytes);
        result.planes.push_back(std::move(packed));
        result.planeWidths.push_back(w);
        result.planeHeights.push_back(h);
    }
    return result;
}

}  // namespace fw::test

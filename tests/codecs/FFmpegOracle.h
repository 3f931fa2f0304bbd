#pragma once
// Decodes one packet with one of FFmpeg's own decoders, in-process: an
// independent reader of the frames our coders write (test oracle only).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace fw::test {

struct AVCodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct AVPacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AVFrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;

// The frame FFmpeg's `codec` decoder makes of `bytes` as a key frame of
// width x height (codec tag `tag`, 0 for none), or null when it refuses it.
// Set FW_FFMPEG_LOG to see the decoder's own messages.
inline AVFramePtr ffmpegDecodePacket(AVCodecID codecId, std::uint32_t tag, const std::vector<std::uint8_t>& bytes,
                                     int width, int height) {
    av_log_set_level(std::getenv("FW_FFMPEG_LOG") ? AV_LOG_DEBUG : AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(codecId);
    if (!codec) return nullptr;
    std::unique_ptr<AVCodecContext, AVCodecContextDeleter> context(avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->codec_tag = tag;
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    std::unique_ptr<AVPacket, AVPacketDeleter> packet(av_packet_alloc());
    if (av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) return nullptr;
    std::copy(bytes.begin(), bytes.end(), packet->data);
    packet->flags |= AV_PKT_FLAG_KEY;
    if (avcodec_send_packet(context.get(), packet.get()) < 0) return nullptr;
    avcodec_send_packet(context.get(), nullptr);
    AVFramePtr decoded(av_frame_alloc());
    if (avcodec_receive_frame(context.get(), decoded.get()) < 0) return nullptr;
    return decoded;
}

}  // namespace fw::test

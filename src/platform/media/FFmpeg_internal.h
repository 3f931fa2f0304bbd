#pragma once
// Internal to fw_media: RAII owners for FFmpeg handles, error text and the
// conversions between FFmpeg's values and ours. Never include from a public header.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/media/Asset.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaError.h"
#include "platform/media/MediaTime.h"
#include "platform/media/PictureConversion.h"

#include <memory>
#include <optional>
#include <string>

namespace fw::media::detail {

struct FormatInputDeleter {
    void operator()(AVFormatContext* c) const noexcept { avformat_close_input(&c); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const noexcept { avcodec_free_context(&c); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const noexcept { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const noexcept { av_frame_free(&f); }
};
struct SwsDeleter {
    void operator()(SwsContext* c) const noexcept { sws_freeContext(c); }
};
struct SwrDeleter {
    void operator()(SwrContext* c) const noexcept { swr_free(&c); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* f) const noexcept { av_audio_fifo_free(f); }
};

using FormatInputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;

// The file Asset::open probed for `asset`, still open and positioned as
// probing left it, when it is the asset opened last and no reader took it
// yet; else null. Thread-safe.
FormatInputPtr takeProbedInput(const Asset& asset);
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

inline PacketPtr makePacket() {
    PacketPtr p(av_packet_alloc());
    if (!p) throw MediaError("Out of memory", AVERROR(ENOMEM));
    return p;
}
inline FramePtr makeFrame() {
    FramePtr f(av_frame_alloc());
    if (!f) throw MediaError("Out of memory", AVERROR(ENOMEM));
    return f;
}

// Once per process: the libraries' informational chatter (encoder statistics,
// banners) stays off the standard error stream unless someone set a level.
void quietLibraryLogs();

// The library's text for an error number ("Invalid data found when processing input").
std::string errorText(int code);
// "<what>: <library text>" as a MediaError.
[[noreturn]] void fail(const std::string& what, int code);
// Throws fail(what, code) when code < 0; returns code otherwise.
inline int check(int code, const std::string& what) {
    if (code < 0) fail(what, code);
    return code;
}
// “name” of a file for messages.
std::string quotedName(const std::filesystem::path& path);

// Our four-character code (most significant first) from FFmpeg's tag (first
// character in the low byte), and back.
inline FourCharCode fromCodecTag(unsigned tag) {
    return ((tag & 0xFF) << 24) | (((tag >> 8) & 0xFF) << 16) | (((tag >> 16) & 0xFF) << 8) | (tag >> 24);
}
inline unsigned toCodecTag(FourCharCode code) { return fromCodecTag(code); }

inline MediaTime toMediaTime(std::int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0) return MediaTime::invalid();
    return MediaTime(value * timeBase.num, timeBase.den);
}
// Rounded to the nearest tick of timeBase; AV_NOPTS_VALUE for non-numeric times.
inline std::int64_t fromMediaTime(const MediaTime& time, AVRational timeBase) {
    if (!time.isNumeric()) return AV_NOPTS_VALUE;
    return av_rescale_q_rnd(time.value(), AVRational{1, time.timescale()}, timeBase,
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

// Assets are presented on a timeline that starts at zero: the container's
// start time (MPEG-TS clocks, leading empty edits, streams remuxed with their
// original times) is taken off every time read from the file. Each stream
// keeps its offset from the earliest one. A negative start comes from
// pre-roll the decoders drop (codec delay, edit-list lead-in), and the library
// already presents those files from zero, so they are left as they are;
// except where it comes from a clock that wrapped within the file, whose
// times before the wrap the library counts from below zero.
// The container's start in AV_TIME_BASE units; zero when unknown or pre-roll.
std::int64_t timelineStart(const AVFormatContext& context);
// The same in the stream's time base: what to take off its stored timestamps.
std::int64_t timelineStart(const AVFormatContext& context, const AVStream& stream);
// The length of the file on that timeline; invalid when unknown.
MediaTime timelineDuration(const AVFormatContext& context);

// A picture converter that runs its slices on all cores (the library's own
// slice threads). colorSpace: the matrix used on both sides; the range of each
// side follows its format (RGB full, YUV video range unless sourceFullRange).
// Subsampled YUV is sited as MPEG video is read: chroma on the even luma
// columns and, for 4:2:0, midway between rows; full-range JPEG formats keep
// centred chroma. sourceChromaLocation, when specified, overrides the
// source side's siting (what the decoded stream says).
SwsPtr makeConverter(int sourceWidth, int sourceHeight, AVPixelFormat sourceFormat, int width, int height,
                     AVPixelFormat format, int flags, int colorSpace, bool sourceFullRange,
                     AVChromaLocation sourceChromaLocation = AVCHROMA_LOC_UNSPECIFIED);
// An AVFrame over a PixelBuffer's planes, keeping the buffer alive by reference.
FramePtr wrapPixelBuffer(const PixelBufferRef& buffer);
// A frame's planes as the picture conversions take them: planar or Cb-first
// semi-planar YCbCr, optionally with alpha, 8 to 16 bits little-endian, 4:2:0,
// 4:2:2 or 4:4:4, chroma sited on the even columns. nullopt for any other.
std::optional<YCbCrPlanes> planesOf(const AVFrame& frame);

MediaType mediaTypeOf(const AVCodecParameters& par);
// The format description of a stored stream (subtype from the codec tag, or
// from the QuickTime tag table when the container stores none).
FormatDescriptionRef describeStream(const AVStream& stream);
AffineTransform transformFromDisplayMatrix(const std::int32_t* matrix);
void displayMatrixFromTransform(const AffineTransform& t, std::int32_t* matrix);

AVPixelFormat toAVPixelFormat(PixelFormat format);
// The tags of a stream or frame as stored.
ColorTags colorTagsOf(AVColorPrimaries primaries, AVColorTransferCharacteristic transfer, AVColorSpace matrix,
                      AVColorRange range);
AVSampleFormat toAVSampleFormat(AudioSampleFormat format);

}  // namespace fw::media::detail

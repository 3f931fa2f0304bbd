#include "platform/media/FFmpeg_internal.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace fw::media::detail {

void quietLibraryLogs() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
    });
}

std::string errorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) < 0) return "error " + std::to_string(code);
    return buffer;
}

void fail(const std::string& what, int code) { throw MediaError(what + ": " + errorText(code), code); }

std::string quotedName(const std::filesystem::path& path) { return "\u201C" + path.filename().string() + "\u201D"; }

namespace {

// True when the library moved a stream's first times below zero to keep them
// in order with those after its clock wrapped (MPEG-TS, MPEG-PS: a 33-bit
// clock at 90 kHz wraps every 26.5 hours). Those times are the recording's
// own, not pre-roll.
bool clockUnwrapped(const AVFormatContext& context) {
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream& stream = *context.streams[i];
        if (stream.pts_wrap_bits < 63 && stream.start_time != AV_NOPTS_VALUE && stream.start_time < 0) return true;
    }
    return false;
}

}  // namespace

std::int64_t timelineStart(const AVFormatContext& context) {
    if (context.start_time == AV_NOPTS_VALUE || context.start_time == 0) return 0;
    return context.start_time > 0 || clockUnwrapped(context) ? context.start_time : 0;
}

std::int64_t timelineStart(const AVFormatContext& context, const AVStream& stream) {
    const std::int64_t start = timelineStart(context);
    if (start == 0 || stream.time_base.num <= 0 || stream.time_base.den <= 0) return 0;
    // Rounded to the nearest tick: the start came from one stream's first
    // timestamp, which this gives back exactly, and no stream's first
    // timestamp lies before it.
    return av_rescale_q_rnd(start, AV_TIME_BASE_Q, stream.time_base, AV_ROUND_NEAR_INF);
}

MediaTime timelineDuration(const AVFormatContext& context) {
    const std::int64_t start = timelineStart(context);
    const bool known = context.duration != AV_NOPTS_VALUE && context.duration >= 0;
    if (start == 0) return known ? MediaTime(context.duration, AV_TIME_BASE) : MediaTime::invalid();
    // The container's own duration counts from zero in some formats (a movie
    // header, a Matroska segment) and from the start in others (estimated from
    // MPEG-TS timestamps); where the streams' ends are known they settle it.
    std::int64_t end = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream& stream = *context.streams[i];
        if (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (stream.start_time == AV_NOPTS_VALUE || stream.duration == AV_NOPTS_VALUE || stream.duration < 0 ||
            stream.time_base.num <= 0 || stream.time_base.den <= 0)
            continue;
        std::int64_t streamEnd =
            av_rescale_q_rnd(stream.start_time + stream.duration, stream.time_base, AV_TIME_BASE_Q, AV_ROUND_NEAR_INF);
        if (end == AV_NOPTS_VALUE || streamEnd > end) end = streamEnd;
    }
    if (end != AV_NOPTS_VALUE) return MediaTime(std::max<std::int64_t>(end - start, 0), AV_TIME_BASE);
    if (!known) return MediaTime::invalid();
    if (context.duration_estimation_method == AVFMT_DURATION_FROM_STREAM)
        return MediaTime(std::max<std::int64_t>(context.duration - start, 0), AV_TIME_BASE);
    return MediaTime(context.duration, AV_TIME_BASE);
}

namespace {

bool isJpegFormat(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ411P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ444P: return true;
    default: return false;
    }
}

// Sets one side's chroma position ("src" or "dst"), in 1/256 luma pixel.
// Left alone (the converter's centred default) for RGB, 4:4:4 and JPEG
// formats with no location of their own.
void setChromaPosition(SwsContext* c, const char* side, AVPixelFormat format, AVChromaLocation location) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_RGB) || descriptor->log2_chroma_w == 0) return;
    int x = 0, y = 128;  // left
    if (location != AVCHROMA_LOC_UNSPECIFIED) {
        if (avcodec_enum_to_chroma_pos(&x, &y, location) < 0) return;
    } else if (isJpegFormat(format)) {
        return;
    }
    // The location names a 4:2:0 siting; without vertical subsampling the
    // chroma rows are the luma rows.
    if (descriptor->log2_chroma_h == 0) y = 0;
    const std::string prefix(side);
    av_opt_set_int(c, (prefix + "_h_chr_pos").c_str(), x, 0);
    av_opt_set_int(c, (prefix + "_v_chr_pos").c_str(), y, 0);
}

}  // namespace

SwsPtr makeConverter(int sourceWidth, int sourceHeight, AVPixelFormat sourceFormat, int width, int height,
                     AVPixelFormat format, int flags, int colorSpace, bool sourceFullRange,
                     AVChromaLocation sourceChromaLocation) {
    SwsPtr context(sws_alloc_context());
    if (!context) throw MediaError("Out of memory", AVERROR(ENOMEM));
    SwsContext* c = context.get();
    av_opt_set_int(c, "srcw", sourceWidth, 0);
    av_opt_set_int(c, "srch", sourceHeight, 0);
    av_opt_set_int(c, "src_format", sourceFormat, 0);
    av_opt_set_int(c, "dstw", width, 0);
    av_opt_set_int(c, "dsth", height, 0);
    av_opt_set_int(c, "dst_format", format, 0);
    av_opt_set_int(c, "sws_flags", flags, 0);
    av_opt_set_int(c, "threads", 0, 0);
    setChromaPosition(c, "src", sourceFormat, sourceChromaLocation);
    setChromaPosition(c, "dst", format, AVCHROMA_LOC_UNSPECIFIED);
    const AVPixFmtDescriptor* source = av_pix_fmt_desc_get(sourceFormat);
    const AVPixFmtDescriptor* target = av_pix_fmt_desc_get(format);
    bool sourceRGB = source && (source->flags & AV_PIX_FMT_FLAG_RGB);
    bool targetRGB = target && (target->flags & AV_PIX_FMT_FLAG_RGB);
    av_opt_set_int(c, "src_range", sourceRGB || sourceFullRange ? 1 : 0, 0);
    av_opt_set_int(c, "dst_range", targetRGB ? 1 : 0, 0);
    int status = sws_init_context(c, nullptr, nullptr);
    if (status < 0)
        fail(std::string("Cannot convert pictures from ") + (source ? source->name : "?") + " to " +
                 (target ? target->name : "?"),
             status);
    const int* table = sws_getCoefficients(colorSpace);
    sws_setColorspaceDetails(c, table, sourceRGB || sourceFullRange ? 1 : 0, table, targetRGB ? 1 : 0, 0, 1 << 16,
                             1 << 16);
    return context;
}

std::optional<YCbCrPlanes> planesOf(const AVFrame& frame) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER)))
        return std::nullopt;
    if (d->nb_components < 3 || d->log2_chroma_w > 1 || d->log2_chroma_h > 1) return std::nullopt;
    const int depth = d->comp[0].depth;
    const int bytes = depth > 8 ? 2 : 1;
    for (int c = 0; c < d->nb_components; ++c)
        if (d->comp[c].depth != depth || (depth <= 8 && d->comp[c].shift != 0)) return std::nullopt;
    YCbCrPlanes p;
    p.width = frame.width;
    p.height = frame.height;
    p.bitDepth = depth;
    p.chromaShiftX = d->log2_chroma_w;
    p.chromaShiftY = d->log2_chroma_h;
    p.highBitsAligned = d->comp[0].shift != 0;
    if (p.highBitsAligned && d->comp[0].shift + depth != 16) return std::nullopt;
    const bool semiPlanar = d->comp[1].plane == d->comp[2].plane;
    if (semiPlanar) {
        // Cb first, then Cr, in pairs.
        if (d->comp[1].plane != 1 || d->comp[1].offset != 0 || d->comp[2].offset != bytes ||
            d->comp[1].step != 2 * bytes)
            return std::nullopt;
        p.interleavedChroma = true;
    } else if (d->comp[0].plane != 0 || d->comp[1].plane != 1 || d->comp[2].plane != 2) {
        return std::nullopt;
    }
    for (int c = 0; c < d->nb_components; ++c)
        if (!semiPlanar && d->comp[c].step != bytes) return std::nullopt;
    if (d->nb_components == 4) {
        if (d->comp[3].plane != 3) return std::nullopt;
        p.planes[3] = frame.data[3];
        p.strides[3] = frame.linesize[3];
    }
    for (int i = 0; i < (semiPlanar ? 2 : 3); ++i) {
        p.planes[static_cast<std::size_t>(i)] = frame.data[i];
        p.strides[static_cast<std::size_t>(i)] = frame.linesize[i];
    }
    const auto format = static_cast<AVPixelFormat>(frame.format);
    p.fullRange = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                  format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P;
    return p;
}

ColorTags colorTagsOf(AVColorPrimaries primaries, AVColorTransferCharacteristic transfer, AVColorSpace matrix,
                      AVColorRange range) {
    // The enumerators hold the H.273 code points, as FFmpeg's do.
    ColorTags tags;
    tags.primaries = static_cast<ColorPrimaries>(primaries);
    tags.transfer = static_cast<TransferFunction>(transfer);
    tags.matrix = static_cast<YCbCrMatrix>(matrix);
    tags.range = range == AVCOL_RANGE_JPEG   ? ColorRange::full
                 : range == AVCOL_RANGE_MPEG ? ColorRange::video
                                             : ColorRange::unspecified;
    return tags;
}

FramePtr wrapPixelBuffer(const PixelBufferRef& buffer) {
    FramePtr frame = makeFrame();
    auto* keep = new PixelBufferRef(buffer);
    const std::size_t lastPlane = buffer->planeCount() - 1;
    std::uint8_t* begin = buffer->data(0);
    std::uint8_t* end = buffer->data(static_cast<int>(lastPlane)) +
                        buffer->stride(static_cast<int>(lastPlane)) * buffer->planeHeight(static_cast<int>(lastPlane));
    frame->buf[0] = av_buffer_create(
        begin, static_cast<std::size_t>(end - begin),
        [](void* opaque, std::uint8_t*) { delete static_cast<PixelBufferRef*>(opaque); }, keep, 0);
    if (!frame->buf[0]) {
        delete keep;
        throw MediaError("Out of memory", AVERROR(ENOMEM));
    }
    for (int p = 0; p < buffer->planeCount(); ++p) {
        frame->data[p] = buffer->data(p);
        frame->linesize[p] = static_cast<int>(buffer->stride(p));
    }
    frame->width = buffer->width();
    frame->height = buffer->height();
    frame->format = toAVPixelFormat(buffer->format());
    return frame;
}

MediaType mediaTypeOf(const AVCodecParameters& par) {
    switch (par.codec_type) {
    case AVMEDIA_TYPE_VIDEO: return MediaType::video;
    case AVMEDIA_TYPE_AUDIO: return MediaType::audio;
    case AVMEDIA_TYPE_SUBTITLE: return MediaType::subtitle;
    default: return par.codec_tag == MKTAG('t', 'm', 'c', 'd') ? MediaType::timecode : MediaType::data;
    }
}

FormatDescriptionRef describeStream(const AVStream& stream) {
    const AVCodecParameters& par = *stream.codecpar;
    auto format = std::make_shared<FormatDescription>();
    format->mediaType = mediaTypeOf(par);
    unsigned tag = par.codec_tag;
    if (tag == 0 && par.codec_id != AV_CODEC_ID_NONE) {
        const AVCodecTag* tables[] = {
            par.codec_type == AVMEDIA_TYPE_AUDIO ? avformat_get_mov_audio_tags() : avformat_get_mov_video_tags(),
            nullptr};
        tag = av_codec_get_tag(tables, par.codec_id);
    }
    format->mediaSubtype = fromCodecTag(tag);
    format->codecName = avcodec_get_name(par.codec_id);
    if (format->mediaType == MediaType::video) {
        format->width = par.width;
        format->height = par.height;
        format->color = colorTagsOf(par.color_primaries, par.color_trc, par.color_space, par.color_range);
        const auto pixels = static_cast<AVPixelFormat>(par.format);
        if (pixels == AV_PIX_FMT_YUVJ420P || pixels == AV_PIX_FMT_YUVJ422P || pixels == AV_PIX_FMT_YUVJ444P)
            format->color.range = ColorRange::full;
        const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(pixels);
        format->chroma420 = layout && layout->nb_components == 3 && layout->log2_chroma_w == 1 &&
                            layout->log2_chroma_h == 1 &&
                            !(layout->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_ALPHA));
        format->chroma422 = layout && layout->nb_components == 3 && layout->log2_chroma_w == 1 &&
                            layout->log2_chroma_h == 0 &&
                            !(layout->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_ALPHA));
        if (layout) format->bitDepth = layout->comp[0].depth;
        format->chromaSitedLeft =
            par.chroma_location == AVCHROMA_LOC_LEFT || par.chroma_location == AVCHROMA_LOC_UNSPECIFIED;
    } else if (format->mediaType == MediaType::audio) {
        format->sampleRate = par.sample_rate;
        format->channelCount = par.ch_layout.nb_channels;
        format->sampleFormat = par.format == AV_SAMPLE_FMT_FLT || par.format == AV_SAMPLE_FMT_FLTP
                                   ? AudioSampleFormat::float32
                                   : AudioSampleFormat::int16;
    }
    return format;
}

AffineTransform transformFromDisplayMatrix(const std::int32_t* m) {
    // The display matrix is stored as in the movie header: a, b, u / c, d, v / tx, ty, w,
    // with a-d and tx, ty in 16.16 fixed point.
    AffineTransform t;
    t.a = m[0] / 65536.0;
    t.b = m[1] / 65536.0;
    t.c = m[3] / 65536.0;
    t.d = m[4] / 65536.0;
    t.tx = m[6] / 65536.0;
    t.ty = m[7] / 65536.0;
    return t;
}

void displayMatrixFromTransform(const AffineTransform& t, std::int32_t* m) {
    auto fixed = [](double v) { return static_cast<std::int32_t>(std::lround(v * 65536.0)); };
    m[0] = fixed(t.a);
    m[1] = fixed(t.b);
    m[2] = 0;
    m[3] = fixed(t.c);
    m[4] = fixed(t.d);
    m[5] = 0;
    m[6] = fixed(t.tx);
    m[7] = fixed(t.ty);
    m[8] = 1 << 30;  // w in 2.30 fixed point
}

AVPixelFormat toAVPixelFormat(PixelFormat format) {
    switch (format) {
    case PixelFormat::bgra8: return AV_PIX_FMT_BGRA;
    case PixelFormat::x420: return AV_PIX_FMT_P010LE;
    case PixelFormat::i420: return AV_PIX_FMT_YUV420P;
    case PixelFormat::x422: return AV_PIX_FMT_YUV422P10LE;
    case PixelFormat::rgbaHalf: return AV_PIX_FMT_NONE;
    }
    return AV_PIX_FMT_NONE;
}

AVSampleFormat toAVSampleFormat(AudioSampleFormat format) {
    return format == AudioSampleFormat::float32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
}

}  // namespace fw::media::detail

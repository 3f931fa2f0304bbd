// The encoding inputs of AssetWriter: pictures through ProRes, H.264 or HEVC,
// sound through AAC or 16-bit PCM.

#include "platform/media/AssetWriter_internal.h"
#include "platform/media/ChannelMixing_internal.h"
#include "platform/media/CodecThread_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace fw::media::detail {

namespace {

void openEncoder(AVCodecContext& context, const AVCodec& codec, AVDictionary** options, const char* what) {
    int status = avcodec_open2(&context, &codec, options);
    av_dict_free(options);
    check(status, std::string("Could not open the ") + what + " encoder");
}

// Encoded packets of a context go to the muxer.
bool drain(WriterCore& core, AVCodecContext& context, AVStream& stream, std::int64_t fallbackDuration) {
    PacketPtr packet = makePacket();
    for (;;) {
        int status = avcodec_receive_packet(&context, packet.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
        if (status < 0) {
            core.failWriting(std::string("Encoding failed: ") + errorText(status));
            return false;
        }
        packet->stream_index = stream.index;
        if (packet->duration <= 0) packet->duration = fallbackDuration;
        if (!core.writePacket(packet.get(), context.time_base)) return false;
        av_packet_unref(packet.get());
    }
}

// The highest level of H.264 and HEVC (6.2) bounds a frame's area and each
// of its sides (at sqrt(8 × area)), counted in coded units: 16-pixel
// macroblocks, 8-pixel coding blocks. The encoders write larger frames into
// a stream no decoder has to play; libx264 refuses sides over 16384 even
// though the level would allow 16880.
struct FrameLimit {
    const char* codecName;
    int unit;              // pixels
    std::int64_t maxArea;  // units
    std::int64_t maxSide;  // units
};
constexpr FrameLimit kH264FrameLimit{"H.264", 16, 139264, 1024};
constexpr FrameLimit kHevcFrameLimit{"HEVC", 8, 557056, 2111};

std::string sizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "\u00D7" + std::to_string(height);
}

void checkLevelFrameSize(const FrameLimit& limit, int width, int height) {
    const std::int64_t across = (std::int64_t{width} + limit.unit - 1) / limit.unit;
    const std::int64_t down = (std::int64_t{height} + limit.unit - 1) / limit.unit;
    if (across * down <= limit.maxArea && across <= limit.maxSide && down <= limit.maxSide) return;
    // The level's own nominal shape, 8192 wide, names the largest size.
    constexpr std::int64_t kNominalWidth = 8192;
    const std::int64_t areaPixels = limit.maxArea * limit.unit * limit.unit;
    throw MediaError("The frame size " + sizeText(width, height) + " is larger than " + limit.codecName +
                     " allows: at most " + sizeText(kNominalWidth, areaPixels / kNominalWidth) + ", or " +
                     std::to_string(areaPixels) + " pixels in another shape with no side over " +
                     std::to_string(limit.maxSide * limit.unit));
}

// FFmpeg opens no encoder for a picture whose 8-byte-a-pixel rows, padded by
// 128 pixels each way, would reach 2 GiB; prores_ks has no other bound. The
// largest even square and the largest with a 16384 side name the limit (the
// movie routes ask for even sides).
void checkProResFrameSize(int width, int height) {
    if ((8 * std::int64_t{width} + 1024) * (std::int64_t{height} + 128) < std::numeric_limits<int>::max()) return;
    throw MediaError("The frame size " + sizeText(width, height) +
                     " is larger than ProRes allows: at most 16254\u00D716254, or 16384\u00D716128 with a side of "
                     "16384");
}

// What the stream is tagged with, and so what bgra8 pictures are converted with.
ColorTags writtenColor(const std::optional<ColorTags>& asked, int height) {
    ColorTags tags = asked ? *asked
                           : ColorTags{ColorPrimaries::unspecified, TransferFunction::unspecified,
                                       YCbCrMatrix::unspecified, ColorRange::video};
    tags.range = ColorRange::video;
    return resolvedColor(tags, height);
}

class VideoEncoderInput final : public WriterInputBase {
public:
    VideoEncoderInput(WriterCore& core, const VideoEncoderSettings& settings, const AffineTransform& transform)
        : WriterInputBase(core), settings_(settings), transform_(transform) {}

    MediaType mediaType() const override { return MediaType::video; }

    void open(AVFormatContext& format) override {
        const char* name = settings_.codec == VideoCodec::proRes ? "prores_ks"
                           : settings_.codec == VideoCodec::h264 ? "libx264"
                                                                 : "libx265";
        checkFrameSize(settings_.codec, settings_.width, settings_.height);
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        if (!codec) throw MediaError(std::string("The ") + name + " encoder is not available");
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) throw MediaError("Out of memory", AVERROR(ENOMEM));
        AVCodecContext& c = *encoder_;
        c.width = settings_.width;
        c.height = settings_.height;
        double rate = settings_.expectedFrameRate > 0 && std::isfinite(settings_.expectedFrameRate)
                          ? settings_.expectedFrameRate
                          : 30.0;
        timeBase_ = AVRational{1, settings_.timescale > 0 ? settings_.timescale : timescaleForFrameRate(rate)};
        c.time_base = timeBase_;
        c.framerate = av_d2q(rate, 1001000);
        frameInterval_ = std::max<std::int64_t>(1, std::llround(timeBase_.den / rate));
        c.sample_aspect_ratio = AVRational{1, 1};
        c.thread_count = std::max(settings_.threads, 0);
        c.thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        color_ = writtenColor(settings_.color, settings_.height);
        c.color_range = AVCOL_RANGE_MPEG;
        // The enumerators hold the H.273 code points, as FFmpeg's do.
        c.color_primaries = static_cast<AVColorPrimaries>(color_.primaries);
        c.color_trc = static_cast<AVColorTransferCharacteristic>(color_.transfer);
        c.colorspace = static_cast<AVColorSpace>(color_.matrix);
        if (format.oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* options = nullptr;
        switch (settings_.codec) {
        case VideoCodec::proRes: {
            static const char* profiles[] = {"proxy", "lt", "standard", "hq", "4444"};
            av_dict_set(&options, "profile", profiles[static_cast<int>(settings_.proResProfile)], 0);
            bool fourByFour = settings_.proResProfile == ProResProfile::fourByFour;
            c.pix_fmt = fourByFour ? (settings_.proResAlpha ? AV_PIX_FMT_YUVA444P10LE : AV_PIX_FMT_YUV444P10LE)
                                   : AV_PIX_FMT_YUV422P10LE;
            av_dict_set(&options, "vendor", "apl0", 0);
            // A fixed quantiser per profile. prores_ks' own rate steering tries
            // every quantiser on every slice and runs about seven times slower;
            // these land within a few percent of each profile's nominal data
            // rate (Proxy 45, LT 102, 422 147, HQ 220, 4444 330 Mbit/s at
            // 1080p29.97) on camera-like material. Flat pictures come out smaller.
            static const int quantisers[] = {12, 7, 7, 7, 5};
            c.flags |= AV_CODEC_FLAG_QSCALE;
            c.global_quality = quantisers[static_cast<int>(settings_.proResProfile)] * FF_QP2LAMBDA;
            break;
        }
        case VideoCodec::h264: {
            c.pix_fmt = AV_PIX_FMT_YUV420P;
            const char* profile = settings_.profile == VideoProfile::baseline    ? "baseline"
                                  : settings_.profile == VideoProfile::main      ? "main"
                                  : settings_.profile == VideoProfile::automatic ? nullptr
                                                                                 : "high";
            if (profile) av_dict_set(&options, "profile", profile, 0);
            if (!settings_.level.empty()) av_dict_set(&options, "level", settings_.level.c_str(), 0);
            break;
        }
        case VideoCodec::hevc: {
            bool tenBit = settings_.profile == VideoProfile::main10;
            c.pix_fmt = tenBit ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
            std::string params = "log-level=error";
            if (!settings_.level.empty()) params += ":level-idc=" + settings_.level;
            av_dict_set(&options, "x265-params", params.c_str(), 0);
            if (settings_.profile == VideoProfile::main || tenBit)
                av_dict_set(&options, "profile", tenBit ? "main10" : "main", 0);
            c.codec_tag = MKTAG('h', 'v', 'c', '1');
            break;
        }
        }
        // The converter sites 4:2:0 chroma left, as untagged streams are read.
        const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(c.pix_fmt);
        if (layout && layout->log2_chroma_w == 1 && layout->log2_chroma_h == 1)
            c.chroma_sample_location = AVCHROMA_LOC_LEFT;
        if (settings_.codec != VideoCodec::proRes) {
            if (settings_.averageBitRate > 0) c.bit_rate = settings_.averageBitRate;
            if (settings_.maxKeyFrameInterval > 0) c.gop_size = settings_.maxKeyFrameInterval;
            // The key pictures asked for after a pause close what lies before them.
            av_dict_set(&options, "forced-idr", "1", 0);
        }
        openEncoder(c, *codec, &options, codec->name);

        stream_ = avformat_new_stream(&format, nullptr);
        if (!stream_) throw MediaError("Out of memory", AVERROR(ENOMEM));
        check(avcodec_parameters_from_context(stream_->codecpar, &c), "Could not set up the video stream");
        if (settings_.codec == VideoCodec::hevc) stream_->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
        stream_->time_base = c.time_base;
        stream_->avg_frame_rate = c.framerate;
        setDisplayMatrix(*stream_, transform_);
        // What the pictures are converted to; the codec itself goes to its thread.
        pixelFormat_ = c.pix_fmt;
        frameWidth_ = c.width;
        frameHeight_ = c.height;
        codecThread_.emplace(std::move(encoder_), core_, stream_->index, pacedTrack);
    }

    bool appendPixelBuffer(const PixelBufferRef& picture, MediaTime presentationTime) override {
        std::lock_guard guard(inputMutex_);
        return append(picture, presentationTime, MediaTime::invalid());
    }

    bool appendSampleBuffer(const SampleBuffer& sample) override {
        std::lock_guard guard(inputMutex_);
        if (!sample.imageBuffer()) return unsupported("samples without a picture");
        return append(sample.imageBuffer(), sample.presentationTime(), sample.duration());
    }

    void writerStopped() override {
        if (codecThread_) codecThread_->writerStopped();
    }

    void abandon() override {
        if (codecThread_) codecThread_->abandon();
    }

protected:
    void flush() override {
        if (!codecThread_) return;
        if (preroll_) {
            auto picture = std::move(preroll_);
            encode(picture, 0);
        }
        codecThread_->finish(frameInterval_);
    }

private:
    bool append(const PixelBufferRef& picture, MediaTime sourceTime, MediaTime duration) {
        if (!picture) return unsupported("empty pictures");
        if (picture->format() == PixelFormat::rgbaHalf) return unsupported("half-float pictures");
        MediaTime time = relative(sourceTime);
        if (!time.isNumeric()) {
            core_.failWriting("A picture without a valid time was appended");
            return false;
        }
        if (time < MediaTime::zero()) {
            // Before the session: only the latest such picture matters, shown from zero.
            if (duration.isNumeric() && time + duration <= MediaTime::zero()) return core_.isWriting();
            preroll_ = picture;
            return core_.isWriting();
        }
        if (!core_.pace(*this, time.seconds())) return false;
        std::int64_t pts = fromMediaTime(time, timeBase_);
        if (preroll_) {
            auto early = std::move(preroll_);
            if (pts > 0 && !encode(early, 0)) return false;
        }
        // Pictures closer together than a tick of the track, and exact repeats,
        // land on one tick: the first keeps it, the others are dropped.
        if (pts == lastPts_) return core_.isWriting();
        if (pts < lastPts_) {
            core_.failWriting("Pictures must be appended in increasing time order");
            return false;
        }
        return encode(picture, pts);
    }

    bool encode(const PixelBufferRef& picture, std::int64_t pts) {
        try {
            FramePtr shared = sharedPlanes(picture);
            AVFrame* frame = shared ? prepare(*shared) : nextFrame();
            if (!shared) convert(picture, *frame);
            frame->pts = pts;
            // After a pause longer than the lead, a picture that pictures
            // before it referred to would be stored ahead of the whole
            // pause's sound: it starts afresh instead.
            frame->pict_type = lastPts_ >= 0 && static_cast<double>(pts - lastPts_) * timeBase_.num / timeBase_.den >
                                                    AssetWriter::kMaxLead
                                   ? AV_PICTURE_TYPE_I
                                   : AV_PICTURE_TYPE_NONE;
            if (lastPts_ >= 0) frameInterval_ = std::max<std::int64_t>(1, pts - lastPts_);
            lastPts_ = pts;
            // The codec holds the picture until later ones push it out: the
            // other tracks wait for it where it lies, not where this one got to.
            core_.pacer.hold(pacedTrack, static_cast<double>(pts) * timeBase_.num / timeBase_.den);
            return codecThread_->send(*frame, frameInterval_);
        } catch (const std::exception& error) {
            core_.failWriting(error.what());
            return false;
        }
    }

    // The picture's own planes as a frame, when they are what the codec takes
    // and convert() would only copy them: the codec reads them in place, and
    // the picture returns to its pool once the codec is done with it.
    FramePtr sharedPlanes(const PixelBufferRef& picture) const {
        const bool sameLayout = (picture->format() == PixelFormat::i420 && pixelFormat_ == AV_PIX_FMT_YUV420P) ||
                                (picture->format() == PixelFormat::x422 && pixelFormat_ == AV_PIX_FMT_YUV422P10LE);
        if (!sameLayout || picture->isFullRange() || picture->width() != frameWidth_ ||
            picture->height() != frameHeight_)
            return nullptr;
        const YCbCrMatrix matrix = picture->yCbCrMatrix();
        if (matrix != color_.matrix && isConvertible(matrix) && isConvertible(color_.matrix)) return nullptr;
        return wrapPixelBuffer(picture);
    }

    // A frame neither the queue nor the codec holds, else a new one.
    AVFrame* nextFrame() {
        for (auto& frame : frames_)
            if (av_frame_is_writable(frame.get())) return prepare(*frame);
        frames_.push_back(makeFrame());
        AVFrame* frame = frames_.back().get();
        frame->format = pixelFormat_;
        frame->width = frameWidth_;
        frame->height = frameHeight_;
        check(av_frame_get_buffer(frame, 0), "Out of memory for a picture");
        return prepare(*frame);
    }

    AVFrame* prepare(AVFrame& frame) {
        // The enumerators hold the H.273 code points, as FFmpeg's do.
        frame.color_range = AVCOL_RANGE_MPEG;
        frame.color_primaries = static_cast<AVColorPrimaries>(color_.primaries);
        frame.color_trc = static_cast<AVColorTransferCharacteristic>(color_.transfer);
        frame.colorspace = static_cast<AVColorSpace>(color_.matrix);
        frame.sample_aspect_ratio = AVRational{1, 1};
        return &frame;
    }

    void convert(const PixelBufferRef& picture, AVFrame& frame) {
        if (picture->width() == frameWidth_ && picture->height() == frameHeight_) {
            if (const std::optional<YCbCrPlanes> planes = planesOf(frame)) {
                if (picture->format() != PixelFormat::bgra8)
                    convertPlanes(planesOf(*picture), picture->yCbCrMatrix(), *planes, color_.matrix);
                else
                    convertFromBgra(*picture, color_.matrix, *planes);
                return;
            }
        }
        // The scaler would drop alpha; an output without it shows the picture over black, as the conversion does.
        PixelBufferRef shown = picture;
        if (!(av_pix_fmt_desc_get(pixelFormat_)->flags & AV_PIX_FMT_FLAG_ALPHA)) {
            shown = composedOverBlack(picture);
            if (!shown) check(AVERROR(ENOMEM), "Out of memory for a picture");
        }
        const AVPixelFormat source = toAVPixelFormat(shown->format());
        const bool fullRange = shown->format() != PixelFormat::bgra8 && shown->isFullRange();
        if (!scaler_ || scalerSource_ != source || scalerWidth_ != shown->width() || scalerHeight_ != shown->height() ||
            scalerFullRange_ != fullRange) {
            scaler_ = makeConverter(shown->width(), shown->height(), source, frameWidth_, frameHeight_, pixelFormat_,
                                    SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP,
                                    static_cast<int>(color_.matrix), fullRange);
            scalerSource_ = source;
            scalerWidth_ = shown->width();
            scalerHeight_ = shown->height();
            scalerFullRange_ = fullRange;
        }
        FramePtr wrapped = wrapPixelBuffer(shown);
        check(sws_scale_frame(scaler_.get(), &frame, wrapped.get()), "Picture conversion failed");
    }

    VideoEncoderSettings settings_;
    AffineTransform transform_;
    ColorTags color_;
    CodecContextPtr encoder_;  // until open() hands it to its thread
    AVPixelFormat pixelFormat_ = AV_PIX_FMT_NONE;
    int frameWidth_ = 0, frameHeight_ = 0;
    std::vector<FramePtr> frames_;
    SwsPtr scaler_;
    AVPixelFormat scalerSource_ = AV_PIX_FMT_NONE;
    int scalerWidth_ = 0, scalerHeight_ = 0;
    bool scalerFullRange_ = false;
    std::int64_t lastPts_ = -1;
    std::int64_t frameInterval_ = 1;
    AVRational timeBase_{1, kSecondsTimescale};
    PixelBufferRef preroll_;
    // Declared last: it goes first, before the frames its queue may still refer to.
    std::optional<CodecThread> codecThread_;
};

// PCM in, resampled and converted (saturating), cut into encoder frames.
class AudioEncoderInput final : public WriterInputBase {
public:
    AudioEncoderInput(WriterCore& core, const AudioEncoderSettings& settings)
        : WriterInputBase(core), settings_(settings) {
        if (settings_.sampleRate <= 0 || !std::isfinite(settings_.sampleRate))
            settings_.sampleRate = kDefaultSampleRate;
    }

    MediaType mediaType() const override { return MediaType::audio; }

    void open(AVFormatContext& format) override {
        const char* name = settings_.codec == AudioCodec::aac ? "aac" : "pcm_s16le";
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        if (!codec) throw MediaError(std::string("The ") + name + " encoder is not available");
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) throw MediaError("Out of memory", AVERROR(ENOMEM));
        AVCodecContext& c = *encoder_;
        c.sample_rate = static_cast<int>(std::lround(settings_.sampleRate));
        av_channel_layout_default(&c.ch_layout, settings_.channelCount);
        c.sample_fmt = settings_.codec == AudioCodec::aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
        c.time_base = AVRational{1, c.sample_rate};
        if (settings_.codec == AudioCodec::aac)
            c.bit_rate = settings_.bitRate > 0 ? settings_.bitRate : 128000LL * ((settings_.channelCount + 1) / 2);
        if (format.oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* options = nullptr;
        openEncoder(c, *codec, &options, codec->name);
        frameSize_ = c.frame_size > 0 ? c.frame_size : 1024;
        fifo_.reset(av_audio_fifo_alloc(c.sample_fmt, c.ch_layout.nb_channels, frameSize_ * 4));
        if (!fifo_) throw MediaError("Out of memory", AVERROR(ENOMEM));
        stream_ = avformat_new_stream(&format, nullptr);
        if (!stream_) throw MediaError("Out of memory", AVERROR(ENOMEM));
        check(avcodec_parameters_from_context(stream_->codecpar, &c), "Could not set up the audio stream");
        stream_->time_base = c.time_base;
    }

    bool appendSampleBuffer(const SampleBuffer& sample) override {
        std::lock_guard guard(inputMutex_);
        const FormatDescription* format = sample.formatDescription().get();
        if (!format || format->mediaSubtype != subtype::linearPCM || format->channelCount < 1 ||
            format->sampleRate <= 0)
            return unsupported("anything but linear PCM");
        MediaTime time = relative(sample.presentationTime());
        if (!time.isNumeric()) {
            core_.failWriting("Sound without a valid time was appended");
            return false;
        }
        if (!core_.pace(*this, time.seconds())) return false;
        try {
            int frames = static_cast<int>(sample.data().size() / static_cast<std::size_t>(format->bytesPerFrame()));
            const std::uint8_t* data = sample.data().data();
            if (!resampler_ || format->sampleRate != inputRate_ || format->channelCount != inputChannels_ ||
                format->sampleFormat != inputFormat_)
                setUp(*format);
            if (!started_) {
                started_ = true;
                // Sound before the session start is cut off.
                std::int64_t offset =
                    time.convertScale(static_cast<std::int32_t>(std::lround(format->sampleRate))).value();
                if (offset < 0) {
                    std::int64_t skip = std::min<std::int64_t>(-offset, frames);
                    data += skip * format->bytesPerFrame();
                    frames -= static_cast<int>(skip);
                    if (frames == 0) started_ = false;
                } else {
                    nextPts_ = time.convertScale(encoder_->sample_rate).value();
                }
            }
            if (frames > 0) push(&data, frames);
            return encodeAvailable(false);
        } catch (const std::exception& error) {
            core_.failWriting(error.what());
            return false;
        }
    }

protected:
    void flush() override {
        if (resampler_) push(nullptr, 0);
        if (encodeAvailable(true)) {
            avcodec_send_frame(encoder_.get(), nullptr);
            drain(core_, *encoder_, *stream_, 0);
        }
    }

private:
    void setUp(const FormatDescription& format) {
        AVChannelLayout inputLayout{};
        av_channel_layout_default(&inputLayout, format.channelCount);
        SwrContext* raw = nullptr;
        int status = swr_alloc_set_opts2(&raw, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
                                         &inputLayout, toAVSampleFormat(format.sampleFormat),
                                         static_cast<int>(std::lround(format.sampleRate)), 0, nullptr);
        resampler_.reset(raw);
        if (status >= 0) status = setChannelMixing(raw, inputLayout, encoder_->ch_layout);
        av_channel_layout_uninit(&inputLayout);
        check(status, "Could not set up audio conversion");
        // Mixing and resampling in float, so that only the final conversion clips.
        av_opt_set_sample_fmt(raw, "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0);
        check(swr_init(raw), "Could not set up audio conversion");
        inputRate_ = format.sampleRate;
        inputChannels_ = format.channelCount;
        inputFormat_ = format.sampleFormat;
    }

    void push(const std::uint8_t** data, int frames) {
        int capacity = swr_get_out_samples(resampler_.get(), frames);
        if (capacity <= 0) return;
        check(av_samples_alloc_array_and_samples(&converted_, nullptr, encoder_->ch_layout.nb_channels, capacity,
                                                 encoder_->sample_fmt, 0) < 0
                  ? AVERROR(ENOMEM)
                  : 0,
              "Out of memory");
        int produced = swr_convert(resampler_.get(), converted_, capacity, data, frames);
        if (produced > 0) av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(converted_), produced);
        av_freep(&converted_[0]);
        av_freep(&converted_);
        check(produced, "Audio conversion failed");
    }

    bool encodeAvailable(bool final) {
        while (av_audio_fifo_size(fifo_.get()) >= frameSize_ || (final && av_audio_fifo_size(fifo_.get()) > 0)) {
            int count = std::min(frameSize_, av_audio_fifo_size(fifo_.get()));
            FramePtr frame = makeFrame();
            frame->nb_samples = count;
            frame->format = encoder_->sample_fmt;
            frame->sample_rate = encoder_->sample_rate;
            check(av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout), "Out of memory");
            check(av_frame_get_buffer(frame.get(), 0), "Out of memory");
            av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), count);
            frame->pts = nextPts_;
            nextPts_ += count;
            int status = avcodec_send_frame(encoder_.get(), frame.get());
            if (status < 0) fail("Audio encoding failed", status);
            if (!drain(core_, *encoder_, *stream_, 0)) return false;
        }
        return core_.isWriting();
    }

    AudioEncoderSettings settings_;
    CodecContextPtr encoder_;
    SwrPtr resampler_;
    AudioFifoPtr fifo_;
    std::uint8_t** converted_ = nullptr;
    int frameSize_ = 1024;
    double inputRate_ = 0;
    int inputChannels_ = 0;
    AudioSampleFormat inputFormat_ = AudioSampleFormat::float32;
    bool started_ = false;
    std::int64_t nextPts_ = 0;
};

}  // namespace

std::unique_ptr<WriterInputBase> makeVideoEncoderInput(WriterCore& core, const VideoEncoderSettings& settings,
                                                       const AffineTransform& transform) {
    return std::make_unique<VideoEncoderInput>(core, settings, transform);
}

std::unique_ptr<WriterInputBase> makeAudioEncoderInput(WriterCore& core, const AudioEncoderSettings& settings) {
    return std::make_unique<AudioEncoderInput>(core, settings);
}

}  // namespace fw::media::detail

namespace fw::media {

void checkFrameSize(VideoCodec codec, int width, int height) {
    switch (codec) {
    case VideoCodec::proRes: detail::checkProResFrameSize(width, height); break;
    case VideoCodec::h264: detail::checkLevelFrameSize(detail::kH264FrameLimit, width, height); break;
    case VideoCodec::hevc: detail::checkLevelFrameSize(detail::kHevcFrameLimit, width, height); break;
    }
}

}  // namespace fw::media

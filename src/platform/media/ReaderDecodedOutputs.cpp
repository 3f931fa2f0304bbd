// The decoding outputs of AssetReader: pictures as BGRA, P010, 8-bit planar 4:2:0 or 10-bit planar 4:2:2, sound as
// interleaved PCM with an optional gain.

#include "platform/media/AssetReader_internal.h"
#include "platform/media/ChannelMixing_internal.h"

#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <exception>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

namespace fw::media::detail {

namespace {

// threads: 0 lets the decoder size itself to the machine.
CodecContextPtr openDecoder(const AVStream& stream, int threads) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (!codec) throw MediaError(std::string("No decoder for ") + avcodec_get_name(stream.codecpar->codec_id));
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) throw MediaError("Out of memory", AVERROR(ENOMEM));
    check(avcodec_parameters_to_context(context.get(), stream.codecpar), "Could not set up the decoder");
    context->pkt_timebase = stream.time_base;
    context->thread_count = std::max(threads, 0);
    context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    check(avcodec_open2(context.get(), codec, nullptr), std::string("Could not open the ") + codec->name + " decoder");
    return context;
}

// Whether each of the stream's packets that carries a time of its own holds
// one picture to show, whatever the container (not so for codecs that store
// pictures never shown, or placeholders): one that gives neither a picture
// nor an error is then a picture the decoder let go.
bool onePicturePerPacket(const AVStream& stream) {
    const AVCodecID codec = stream.codecpar->codec_id;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
    return (descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY)) || codec == AV_CODEC_ID_H264 ||
           codec == AV_CODEC_ID_HEVC || codec == AV_CODEC_ID_VP9 || codec == AV_CODEC_ID_AV1;
}

// Pictures lost whole from a stretch of constant rate where a stream read to
// its end (MPEG-TS) broke its continuity, as transport packets lost to damage
// leave it: the next picture's decode time lies whole frames on, and it is no
// key frame (a recording joined on there, or an encoder started again after
// a pause, begins with one). A pause that lost nothing, and the gaps of a
// variable rate, break no continuity or no constant rate.
class LostPictures {
public:
    // How many pictures were lost just before the packet, the next given the decoder.
    std::int64_t before(const AVPacket& packet) {
        sinceBreak_ = packet.flags & AV_PKT_FLAG_CORRUPT ? 0 : std::min(sinceBreak_ + 1, kNearBreak + 1);
        if (packet.dts == AV_NOPTS_VALUE) return 0;
        const std::int64_t step = last_ == AV_NOPTS_VALUE ? 0 : packet.dts - last_;
        last_ = packet.dts;
        // Within a tick, as a clock with a whole number of ticks a frame keeps it.
        if (step > 0 && std::abs(step - step_) <= 1) {
            ++steady_;
            return 0;
        }
        const std::int64_t frames = step_ > 0 ? (step + step_ / 2) / step_ : 0;
        const bool lost = steady_ >= kSteady && frames >= 2 && frames <= kMostLost &&
                          std::abs(step - frames * step_) <= 1 && sinceBreak_ <= kNearBreak &&
                          !(packet.flags & AV_PKT_FLAG_KEY);
        if (lost) return frames - 1;
        step_ = step;
        steady_ = 0;
        return 0;
    }

private:
    // Steps of one frame in a row that make a constant rate; how many frames
    // one damaged stretch may take; and how few packets before the one after
    // it the break shows (the library gives a packet out a frame late).
    static constexpr int kSteady = 8;
    static constexpr std::int64_t kMostLost = 250;
    static constexpr int kNearBreak = 4;

    std::int64_t last_ = AV_NOPTS_VALUE;  // decode time
    std::int64_t step_ = 0;
    int steady_ = 0;
    int sinceBreak_ = kNearBreak + 1;
};

// Whether the sound's stored times are its clock: where the container states
// each packet's time, or joins recordings that each do (MPEG-TS, MPEG-PS, Ogg).
// There a stored packet's time is that of the first frame that begins in it;
// sound the library cannot split into frames (LPCM) comes in packets cut
// anywhere, whose first samples lie up to a frame before that time, and is
// counted instead.
bool soundOnStoredClock(const AVFormatContext& format, const AVStream& stream) {
    if (statesExactTimes(*format.iformat)) return true;
    if (!(format.iformat->flags & AVFMT_TS_DISCONT)) return false;
    AVCodecParserContext* parser = av_parser_init(stream.codecpar->codec_id);
    if (!parser) return false;
    av_parser_close(parser);
    return true;
}

// The rate sound is given out at: the one asked for, else the stream's own.
int outputRateOf(const AVStream& stream, const AudioOutputSettings& settings) {
    return settings.sampleRate && *settings.sampleRate > 0 ? static_cast<int>(std::lround(*settings.sampleRate))
                                                           : stream.codecpar->sample_rate;
}

// Shared decode loop: frames out of the decoder, packets in from the reader.
class DecodingOutput : public ReaderOutputBase {
public:
    DecodingOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track, int threads = 0)
        : ReaderOutputBase(std::move(core), track), decoder_(openDecoder(stream(), threads)), frame_(makeFrame()) {}

protected:
    enum class Decoded {
        frame,     // the next frame is in frame_
        rejected,  // the decoder refused a packet (only where damage is concealed)
        end,       // the end of the track, or a stop
    };

    // Next decoded frame in frame_. A packet the decoder refuses fails the
    // track, unless concealsDamage_: it is then dropped (rejectedSamples()
    // says how long it was) and decoding goes on with the next one.
    Decoded receiveFrame() {
        for (;;) {
            av_frame_unref(frame_.get());
            int status = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (status == 0) {
                if (frame_->nb_samples > 0) lastFrameSamples_ = frame_->nb_samples;
                answered(frame_->pts);
                return Decoded::frame;
            }
            if (status == AVERROR_EOF) {
                decoderEnded_ = true;
                return Decoded::end;
            }
            if (status != AVERROR(EAGAIN)) return rejected(status);
            if (drained_) return Decoded::end;
            PacketPtr packet;
            switch (core_->nextPacket(*this, packet)) {
            case PacketResult::stop: return Decoded::end;
            case PacketResult::endOfStream:
                drained_ = true;
                avcodec_send_packet(decoder_.get(), nullptr);
                break;
            case PacketResult::packet: {
                lastPacketDuration_ = packet->duration;
                lastPacketTime_ = assetTime(packet->pts);
                if (timeJumped(*packet)) timeJumped_ = true;
                if (outOfLine(*packet)) outOfLine_ = true;
                ++packetsSent_;
                if (timeJumped(*packet) && packet->dts != AV_NOPTS_VALUE && lastPacketDecodeTime_ != AV_NOPTS_VALUE &&
                    packet->dts < lastPacketDecodeTime_)
                    steppedBackTo_ = lastPacketTime_;
                if (packet->dts != AV_NOPTS_VALUE) lastPacketDecodeTime_ = packet->dts;
                if (lostPictures_) lostWhole(lostPictures_->before(*packet));
                if (awaitsPictures_ && packet->pts != AV_NOPTS_VALUE) unanswered_.insert(packet->pts);
                if (awaitsPictures_ && packet->pts == AV_NOPTS_VALUE) {
                    ++untimedSent_;
                    if (outOfLine(*packet)) ++clearedSent_;
                }
                int sent = avcodec_send_packet(decoder_.get(), packet.get());
                if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) return rejected(sent);
                break;
            }
            }
        }
    }

    // Samples at `rate` of the packet last refused: its stored duration, else
    // the length of the frames before it.
    std::int64_t rejectedSamples(int rate) const {
        if (lastPacketDuration_ > 0 && rate > 0)
            return av_rescale_q(lastPacketDuration_, stream().time_base, AVRational{1, rate});
        return lastFrameSamples_ > 0 ? lastFrameSamples_ : std::max(decoder_->frame_size, 0);
    }

    // Where the packet last refused lay on the asset's timeline: its stored
    // time, else the track's start; invalid when neither is known.
    MediaTime rejectedTime() const {
        return lastPacketTime_.isValid() ? lastPacketTime_ : assetTime(stream().start_time);
    }

    // The error of the last refused packet; 0 when none was refused.
    int lastRejection() const { return lastRejection_; }

    MediaTime frameTime() const {
        std::int64_t pts = frame_->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) pts = frame_->pts;
        return assetTime(pts);
    }

    std::string decodeFailure() const {
        const char* kind = track_.mediaType == MediaType::audio ? "audio" : "video";
        return std::string("Could not decode the ") + kind + " track (track " + std::to_string(track_.trackID + 1) +
               ") of " + quotedName(core_->asset->path());
    }

    CodecContextPtr decoder_;
    FramePtr frame_;
    // A packet given the decoder jumped in time (a join, a lost signal), or
    // lay out of line.
    bool timeJumped_ = false;
    bool outOfLine_ = false;
    bool drained_ = false;
    bool concealsDamage_ = false;
    // Where the last packet that jumped back in time showed: the start of a
    // recording joined on over the end of the one before.
    MediaTime steppedBackTo_;
    // Where each packet holds a picture: the times of the packets given the
    // decoder that no picture has come out at yet, and the first picture's.
    bool awaitsPictures_ = false;
    std::multiset<std::int64_t> unanswered_;
    std::int64_t firstPicture_ = AV_NOPTS_VALUE;
    // Packets given without a showing time, those whose time the reader took
    // away as out of line, and the pictures that came out without one.
    std::int64_t untimedSent_ = 0, clearedSent_ = 0, untimedAnswered_ = 0;
    // Packets the decoder refused.
    std::int64_t refusals_ = 0;
    // Where pictures lost whole are counted (MPEG-TS).
    std::optional<LostPictures> lostPictures_;
    // The decoder gave out all it had: the track was read to its end.
    bool decoderEnded_ = false;

private:
    // Pictures lost whole just before the packet last given the decoder are
    // damage, where it lies in the range.
    void lostWhole(std::int64_t lost) {
        const MediaTime end = core_->range.end();
        if (lost > 0 && !(lastPacketTime_.isNumeric() &&
                          (lastPacketTime_ < core_->range.start || (end.isNumeric() && lastPacketTime_ >= end))))
            core_->picturesDamaged += lost;
    }

    void answered(std::int64_t time) {
        if (awaitsPictures_ && time == AV_NOPTS_VALUE) ++untimedAnswered_;
        if (!awaitsPictures_ || time == AV_NOPTS_VALUE) return;
        if (firstPicture_ == AV_NOPTS_VALUE) firstPicture_ = time;
        if (const auto found = unanswered_.find(time); found != unanswered_.end()) unanswered_.erase(found);
    }

    Decoded rejected(int status) {
        // Running out of memory is no damage in the file, and a decoder that
        // refuses more packets than its threads hold, with none given it in
        // between, is stuck.
        refusedInARow_ = packetsSent_ == sentAtRejection_ ? refusedInARow_ + 1 : 1;
        if (!concealsDamage_ || status == AVERROR(ENOMEM) || refusedInARow_ > std::max(decoder_->thread_count, 1))
            fail(decodeFailure(), status);
        lastRejection_ = status;
        sentAtRejection_ = packetsSent_;
        ++refusals_;
        return Decoded::rejected;
    }

    std::int64_t lastPacketDuration_ = 0;  // stream time base
    MediaTime lastPacketTime_;
    std::int64_t packetsSent_ = 0;
    std::int64_t sentAtRejection_ = 0;
    int refusedInARow_ = 0;
    std::int64_t lastPacketDecodeTime_ = AV_NOPTS_VALUE;  // stream time base
    int lastFrameSamples_ = 0;
    int lastRejection_ = 0;
};

// Each picture is converted while the decoder works on the next one, so that
// the conversion stays off the decoding path: one picture at most is pending.
class VideoOutput final : public DecodingOutput {
public:
    VideoOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track, VideoOutputSettings settings)
        : DecodingOutput(std::move(core), track, settings.threads),
          pixelFormat_(settings.pixelFormat),
          pendingFrame_(makeFrame()) {
        concealsDamage_ = true;
        awaitsPictures_ = onePicturePerPacket(stream());
        if (std::string_view(core_->format->iformat->name) == "mpegts") lostPictures_.emplace();
        AVRational rate = stream().avg_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            frameDuration_ = MediaTime::fromSeconds(av_q2d(av_inv_q(rate)), 1000 * kSecondsTimescale);
        outputFormat_ = describe(stream().codecpar->width, stream().codecpar->height);
    }
    ~VideoOutput() noexcept override {
        try {
            arena_.execute([this] { converting_.wait(); });
        } catch (...) {}
    }
    VideoOutput(const VideoOutput&) = delete;
    VideoOutput& operator=(const VideoOutput&) = delete;

protected:
    // The pictures come out in decoding order as before; a decoding failure
    // waits until the picture converted before it has come out.
    SampleBufferRef produce() override {
        if (deferredFailure_) std::rethrow_exception(std::exchange(deferredFailure_, nullptr));
        bool decoded = false;
        if (!decodingEnded_) {
            try {
                decoded = nextFrameInRange();
            } catch (...) {
                if (!pending_) throw;
                deferredFailure_ = std::current_exception();
            }
            decodingEnded_ = !decoded;
        }
        SampleBufferRef converted = finishPending();
        if (decoded) {
            try {
                startConverting();
            } catch (...) {
                if (!converted) throw;
                deferredFailure_ = std::current_exception();
                decodingEnded_ = true;
            }
        }
        if (converted || !decoded) return converted;
        return produce();
    }

private:
    // The next frame that shows within the range in frame_, with its time and
    // duration; false at the range end, the end of the track or a stop. A
    // packet the decoder refuses (damage in the file) is a picture left out,
    // as is a picture dropped below for its time; a track of which nothing
    // decodes fails.
    bool nextFrameInRange() {
        const MediaTime start = core_->range.start;
        const MediaTime end = core_->range.end();
        for (;;) {
            const Decoded decoded = receiveFrame();
            if (decoded == Decoded::end) {
                if (!frameStart_.isValid() && lastRejection() != 0 && !core_->shouldStop())
                    throw MediaError(decodeFailure() + ": none of its packets could be decoded", lastRejection());
                if (decoderEnded_) core_->picturesDamaged += droppedUnsaid();
                return false;
            }
            if (decoded == Decoded::rejected) {
                // One that lay before the range was never to be shown.
                const MediaTime at = rejectedTime();
                if (!(at.isNumeric() && start.isNumeric() && at < start)) ++core_->picturesDamaged;
                continue;
            }
            if (frame_->interlaced_frame) {
                // Fields stored a packet each would look the same as pictures let go.
                awaitsPictures_ = false;
                unanswered_.clear();
            }
            MediaTime time = frameTime();
            MediaTime duration =
                frame_->pkt_duration > 0 ? toMediaTime(frame_->pkt_duration, stream().time_base) : frameDuration_;
            // Where the track's showing times lay out of line, each picture
            // shows at the time settled for it (the decoder's guesses from
            // decode times would mix the two), or, where it was lost with its
            // neighbours', after the one before it: the decoder gives them out
            // in their showing order.
            if (outOfLine_) time = frame_->pts != AV_NOPTS_VALUE ? assetTime(frame_->pts) : lastEnd_;
            if (!time.isValid()) time = lastEnd_.isValid() ? lastEnd_ : MediaTime::zero();
            if (frameStart_.isValid() && time <= frameStart_) {
                // Where two recordings were joined, time steps back as the
                // second begins: its frames are dropped until they reach the
                // end of the last frame given out, and the rest follows.
                // Elsewhere the track's times are settled, and a picture that
                // still steps back goes alone.
                if (std::exchange(timeJumped_, false)) resumeAt_ = lastEnd_;
                // A key frame on the time of the one before begins a recording joined on there.
                if (time < frameStart_ || !frame_->key_frame) leaveOut(time);
                continue;
            }
            if (resumeAt_.isValid()) {
                if (time < resumeAt_) {
                    leaveOut(time);
                    continue;
                }
                resumeAt_ = MediaTime::invalid();
                steppedBackTo_ = MediaTime::invalid();
            }
            if (end.isNumeric() && time >= end) {
                stopPackets();
                return false;
            }
            MediaTime until = duration.isValid() ? time + duration : time;
            if (duration.isValid() ? until <= start : until < start) continue;
            lastEnd_ = until;
            frameStart_ = time;
            decodedDuration_ = duration;
            ++core_->picturesDelivered;
            return true;
        }
    }

    // Packets of a track read to its end that gave neither a picture nor an
    // error, where each holds a picture: once damage has muddled their
    // references, the decoder lets pictures go without a word. Those shown
    // before the first picture are not counted: what comes before the first
    // key frame, or leads it in an open group of pictures, cannot be decoded
    // without what went before.
    std::int64_t droppedUnsaid() const {
        if (!awaitsPictures_) return 0;
        const auto shown = std::distance(unanswered_.lower_bound(firstPicture_), unanswered_.end());
        // Without a showing time a packet cannot be matched to its picture:
        // only as many as lost their time to the reader are counted.
        const std::int64_t untimed = std::min(std::max<std::int64_t>(untimedSent_ - untimedAnswered_, 0), clearedSent_);
        return std::max<std::int64_t>(shown + untimed - refusals_, 0);
    }

    // A picture dropped for its time is damage, unless it belongs to a
    // recording joined on over the end of the one before (the reader marks
    // where time stepped back so), which it overlaps.
    void leaveOut(MediaTime time) {
        if (!(steppedBackTo_.isValid() && time >= steppedBackTo_)) ++core_->picturesDamaged;
    }

    // Takes frame_ over and converts it on a worker; the picture's buffer,
    // size and description are settled here, on the pulling thread.
    void startConverting() {
        av_frame_unref(pendingFrame_.get());
        av_frame_move_ref(pendingFrame_.get(), frame_.get());
        PixelBufferRef buffer = pictureBuffer(*pendingFrame_);
        pending_ = Pending{buffer, frameStart_, decodedDuration_, outputFormat_};
        arena_.execute(
            [&] { converting_.run([this, buffer = std::move(buffer)] { convert(*pendingFrame_, buffer); }); });
    }

    // The pending picture once converted, or null when none is pending.
    SampleBufferRef finishPending() {
        if (!pending_) return nullptr;
        Pending done = std::move(*pending_);
        pending_.reset();
        arena_.execute([this] { converting_.wait(); });
        av_frame_unref(pendingFrame_.get());
        return SampleBuffer::makeImage(std::move(done.picture), done.time, done.duration, std::move(done.format));
    }

    FormatDescriptionRef describe(int width, int height) const {
        auto format = std::make_shared<FormatDescription>();
        format->mediaType = MediaType::video;
        format->mediaSubtype = pixelFormat_ == PixelFormat::x420   ? subtype::x420
                               : pixelFormat_ == PixelFormat::i420 ? subtype::i420
                               : pixelFormat_ == PixelFormat::x422 ? subtype::x422
                                                                   : subtype::bgra;
        format->codecName = decoder_->codec->name;
        format->width = width;
        format->height = height;
        format->pixelFormat = pixelFormat_;
        format->color = resolvedColor(describeStream(stream())->color, height);
        return format;
    }

    // The frame's own tags, else the stream's, matrix and range made definite.
    ColorTags frameColor(const AVFrame& frame) const {
        const AVCodecParameters& par = *stream().codecpar;
        auto pick = [](auto own, auto stored, auto unspecified) { return own != unspecified ? own : stored; };
        return resolvedColor(colorTagsOf(pick(frame.color_primaries, par.color_primaries, AVCOL_PRI_UNSPECIFIED),
                                         pick(frame.color_trc, par.color_trc, AVCOL_TRC_UNSPECIFIED),
                                         pick(frame.colorspace, par.color_space, AVCOL_SPC_UNSPECIFIED),
                                         pick(frame.color_range, par.color_range, AVCOL_RANGE_UNSPECIFIED)),
                             frame.height);
    }

    // A pooled buffer of the frame's size, tagged with its matrix; a new size
    // brings a new pool and output description.
    PixelBufferRef pictureBuffer(const AVFrame& frame) {
        const int width = frame.width, height = frame.height;
        if (!pool_ || pool_->width() != width || pool_->height() != height) {
            pool_ = PixelBufferPool::create(width, height, pixelFormat_);
            if (!pool_)
                throw MediaError("Unusable picture size " + std::to_string(width) + "×" + std::to_string(height));
            outputFormat_ = describe(width, height);
        }
        PixelBufferRef buffer = pool_->get();
        if (!buffer) throw MediaError("Out of memory for a picture");
        buffer->setYCbCrMatrix(frameColor(frame).matrix);
        buffer->setFullRange(false);
        return buffer;
    }

    // Runs on a worker; touches only the frame, the buffer and the scaler,
    // which nothing else uses while a picture is pending.
    void convert(const AVFrame& frame, const PixelBufferRef& buffer) {
        // Both conversions below make YCbCr or grey without alpha opaque; saying so spares a scan per picture.
        // (Palettes may hold alpha, and packed RGB may come through with its padding byte as alpha.)
        const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
        buffer->setKnownOpaque(pixelFormat_ == PixelFormat::bgra8 && layout &&
                               !(layout->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_RGB)));
        const ColorTags color = frameColor(frame);
        std::optional<YCbCrPlanes> planes = planesOf(frame);
        if (planes && frame.chroma_location != AVCHROMA_LOC_CENTER && frame.chroma_location != AVCHROMA_LOC_TOP &&
            frame.chroma_location != AVCHROMA_LOC_BOTTOM) {
            planes->fullRange = color.range == ColorRange::full;
            if (pixelFormat_ == PixelFormat::bgra8) return convertToBgra(*planes, color.matrix, *buffer);
            YCbCrPlanes target = planesOf(*buffer);
            if (pixelFormat_ != PixelFormat::x420) {
                // Full-range values that fit the buffer's depth stay as they are:
                // the writer converts their range with the rest, rounding once.
                buffer->setFullRange(planes->fullRange && planes->bitDepth == target.bitDepth);
                target.fullRange = buffer->isFullRange();
            }
            convertPlanes(*planes, target);
            return;
        }
        convertThroughScaler(frame, buffer, color);
    }

    // Layouts the picture conversions do not take (RGB, grey, palettes, other sitings).
    void convertThroughScaler(const AVFrame& frame, const PixelBufferRef& buffer, const ColorTags& color) {
        const int width = frame.width, height = frame.height;
        const auto sourceFormat = static_cast<AVPixelFormat>(frame.format);
        if (!scaler_ || width != scalerWidth_ || height != scalerHeight_ || sourceFormat != scalerFormat_ ||
            color != scalerColor_ || frame.chroma_location != scalerChroma_) {
            // No full horizontal chroma interpolation: with exact rounding it leaves
            // the converter's fast paths and costs about five times the CPU at 1080p.
            scaler_ = makeConverter(width, height, sourceFormat, width, height, toAVPixelFormat(pixelFormat_),
                                    SWS_BICUBIC | SWS_ACCURATE_RND, static_cast<int>(color.matrix),
                                    color.range == ColorRange::full, frame.chroma_location);
            scalerWidth_ = width;
            scalerHeight_ = height;
            scalerFormat_ = sourceFormat;
            scalerColor_ = color;
            scalerChroma_ = frame.chroma_location;
        }
        FramePtr target = wrapPixelBuffer(buffer);
        check(sws_scale_frame(scaler_.get(), target.get(), &frame), "Picture conversion failed");
    }

    struct Pending {
        PixelBufferRef picture;
        MediaTime time;
        MediaTime duration;
        FormatDescriptionRef format;
    };

    PixelFormat pixelFormat_;
    MediaTime frameDuration_;
    MediaTime lastEnd_;
    // After a step back in time: where frames are taken again.
    MediaTime resumeAt_;
    // The frame nextFrameInRange found.
    MediaTime frameStart_;
    MediaTime decodedDuration_;
    std::shared_ptr<PixelBufferPool> pool_;
    SwsPtr scaler_;
    int scalerWidth_ = 0, scalerHeight_ = 0;
    AVPixelFormat scalerFormat_ = AV_PIX_FMT_NONE;
    ColorTags scalerColor_;
    AVChromaLocation scalerChroma_ = AVCHROMA_LOC_UNSPECIFIED;
    // The frame being converted, and what its sample will carry.
    FramePtr pendingFrame_;
    std::optional<Pending> pending_;
    // One arena for the conversion, so that whichever thread waits for it can
    // run it: on one core there is no worker, and an encode that failed ends
    // this output from another thread than the one that started it.
    tbb::task_arena arena_;
    tbb::task_group converting_;
    bool decodingEnded_ = false;
    std::exception_ptr deferredFailure_;
};

// Decoded sound converted to interleaved float at the chosen rate and layout,
// multiplied by the gain, then stored as float or saturated 16-bit.
class AudioOutput final : public DecodingOutput {
public:
    AudioOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track, float gain, AudioOutputSettings settings)
        : DecodingOutput(std::move(core), track),
          gain_(gain),
          settings_(settings),
          onStoredClock_(soundOnStoredClock(*core_->format, stream())),
          clock_(outputRateOf(stream(), settings)) {
        concealsDamage_ = true;
        const AVCodecParameters& par = *stream().codecpar;
        outputRate_ = outputRateOf(stream(), settings);
        if (outputRate_ <= 0) throw MediaError("The audio track has no sample rate");
        int channels =
            settings.channelCount && *settings.channelCount > 0 ? *settings.channelCount : par.ch_layout.nb_channels;
        if (channels <= 0) throw MediaError("The audio track has no channels");
        if (!settings.channelCount && par.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_copy(&outputLayout_, &par.ch_layout);
        else
            av_channel_layout_default(&outputLayout_, channels);
        auto format = std::make_shared<FormatDescription>();
        format->mediaType = MediaType::audio;
        format->mediaSubtype = subtype::linearPCM;
        format->codecName = settings.sampleFormat == AudioSampleFormat::float32 ? "pcm_f32le" : "pcm_s16le";
        format->sampleRate = outputRate_;
        format->channelCount = channels;
        format->sampleFormat = settings.sampleFormat;
        for (unsigned i = 0; i < static_cast<unsigned>(channels); ++i) {
            char name[32] = "";
            av_channel_name(name, sizeof name, av_channel_layout_channel_from_index(&outputLayout_, i));
            format->channelNames.emplace_back(name);
        }
        outputFormat_ = format;
    }
    ~AudioOutput() override { av_channel_layout_uninit(&outputLayout_); }

protected:
    // A packet the decoder refuses (a damaged stretch of the file) becomes
    // silence of its length, so that the sound after it keeps its time; those
    // refused before any sound has come out become silence from the first
    // one's time to the first decoded frame, so that the track still starts
    // where it did. A track of which nothing decodes at all fails. A pause
    // or drop-out in the sound is silence, however long or short, a second
    // at a time. Frames are decoded a few ahead, so that the sound's clock
    // can see where the stored times lead before it places one.
    SampleBufferRef produce() override {
        for (;;) {
            if (held_) return std::exchange(held_, nullptr);
            if (flushed_) return nullptr;
            if (pauseLeft_ > 0) {
                const std::int64_t length = std::min<std::int64_t>(pauseLeft_, inputRate_);
                pauseLeft_ -= length;
                if (SampleBufferRef quiet = silence(length, false)) return quiet;
                continue;
            }
            if (std::exchange(frameAfterPause_, false)) {
                if (SampleBufferRef sample = convertFrame()) return sample;
                if (done_) return nullptr;
                continue;
            }
            if (!decodeAhead()) {
                if (core_->shouldStop()) return nullptr;
                if (!resampler_) {
                    if (lastRejection() != 0)
                        throw MediaError(decodeFailure() + ": none of its packets could be decoded", lastRejection());
                    return nullptr;
                }
                flushed_ = true;
                return convert(nullptr, 0);
            }
            Ahead next = std::move(ahead_.front());
            ahead_.pop_front();
            SampleBufferRef sample;
            if (!next.frame) {
                if (resampler_)
                    sample = silence(std::min(next.refusedSamples, kMaxConcealedSeconds * inputRate_));
                else
                    refusedBeforeSound(next.refusedTime);
            } else {
                av_frame_unref(frame_.get());
                av_frame_move_ref(frame_.get(), next.frame.get());
                const std::optional<SoundClock::Place> place =
                    onStoredClock_ ? std::optional(clock_.place()) : std::nullopt;
                const bool first = !resampler_;
                if (first || inputChanged()) {
                    setUp();
                    stretching_ = false;
                }
                SampleBufferRef lead = first ? leadingSilence() : nullptr;
                if (!first && takeUpTime(next.jumped, place)) {
                    // frame_ waits, untouched, until the pause has gone out.
                    frameAfterPause_ = true;
                    continue;
                }
                sample = convertFrame();
                if (lead) held_ = std::exchange(sample, std::move(lead));
            }
            if (sample) return sample;
            if (done_) return nullptr;
        }
    }

private:
    // A decoded frame, with whether its time jumped; or a packet the decoder
    // refused (no frame), with its length at the decoder's rate and its time.
    struct Ahead {
        FramePtr frame;
        bool jumped = false;
        std::int64_t refusedSamples = 0;
        MediaTime refusedTime;
    };

    // Decodes until the first of ahead_ can go out: a refused packet at once,
    // a frame once the sound's clock can place it. False at the end.
    bool decodeAhead() {
        for (;;) {
            if (!ahead_.empty() && (!ahead_.front().frame || !onStoredClock_ || clock_.ready(decoded_ == Decoded::end)))
                return true;
            if (decoded_ == Decoded::end) return false;
            decoded_ = receiveFrame();
            if (decoded_ == Decoded::rejected) {
                const int rate = decoder_->sample_rate > 0 ? decoder_->sample_rate : stream().codecpar->sample_rate;
                ahead_.push_back({nullptr, false, rejectedSamples(rate), rejectedTime()});
            } else if (decoded_ == Decoded::frame) {
                Ahead next{makeFrame(), std::exchange(timeJumped_, false), 0, MediaTime::invalid()};
                av_frame_move_ref(next.frame.get(), frame_.get());
                if (onStoredClock_) {
                    // A frame whose stored time lay out of line follows on.
                    const MediaTime time =
                        std::exchange(outOfLine_, false) ? MediaTime::invalid() : assetTime(bestTime(*next.frame));
                    const int rate = next.frame->sample_rate > 0 ? next.frame->sample_rate : outputRate_;
                    clock_.add(time.isNumeric() ? std::optional(time.seconds() * outputRate_) : std::nullopt,
                               double(next.frame->nb_samples) * outputRate_ / rate, next.jumped);
                }
                ahead_.push_back(std::move(next));
            }
        }
    }

    static std::int64_t bestTime(const AVFrame& frame) {
        return frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
    }

    // Where frame_, not the first, takes up the time: where the sound's clock
    // finds a step (a join, a pause, a drop-out), or where the sound is
    // counted at a join or after a pause, the frame lies where its stored
    // time says; elsewhere the sound runs on, brought
    // back toward its clock by stretching it too little to hear. True when
    // there is a gap to fill first.
    bool takeUpTime(bool jumped, const std::optional<SoundClock::Place>& place) {
        if (!place) {
            const MediaTime time = frameTime();
            return jumped && time.isNumeric() && rejoin(time.convertScale(outputRate_).value(), true);
        }
        const auto at = static_cast<std::int64_t>(std::llround(place->at));
        const std::int64_t behind = at - position_ - converterDelay();
        if (place->step || std::abs(behind) > kLongestDrift * outputRate_ / AV_TIME_BASE) return rejoin(at, jumped);
        // Within kSteady of its clock the sound runs as it is; past that it is
        // stretched over the next second toward it, by at most kMostStretch,
        // so that a drift of a thousand parts per million stays within a few
        // milliseconds.
        const std::int64_t distance = outputRate_;
        const std::int64_t most = distance * kMostStretch / 1000000;
        const auto delta = static_cast<int>(
            std::abs(behind) <= kSteady * outputRate_ / AV_TIME_BASE ? 0 : std::clamp(behind, -most, most));
        // Sound at its own rate is resampled only from the first stretch on.
        if (delta != 0 || stretching_)
            check(swr_set_compensation(resampler_.get(), delta, delta == 0 ? 0 : static_cast<int>(distance)),
                  "Audio conversion failed");
        stretching_ = stretching_ || delta != 0;
        return false;
    }

    void refusedBeforeSound(MediaTime time) {
        ++refusedBeforeSound_;
        if (time.isNumeric() && (!leadFrom_.isNumeric() || time < leadFrom_)) leadFrom_ = time;
    }

    // Silence from the first packet refused before any sound came out up to
    // the first decoded frame, where the conversion has just been set up.
    SampleBufferRef leadingSilence() {
        if (!leadFrom_.isNumeric()) return nullptr;
        const std::int64_t from = leadFrom_.convertScale(outputRate_).value();
        if (from >= position_) return nullptr;
        const std::int64_t length = std::min(av_rescale(position_ - from, inputRate_, outputRate_),
                                             kMaxConcealedSeconds * inputRate_ * refusedBeforeSound_);
        position_ -= av_rescale(length, outputRate_, inputRate_);
        return silence(length);
    }

    // The sound takes up at `at` (output samples), as the pictures do: what
    // overlaps the sound already given out is dropped, and a gap before it is
    // silence. True when there is a gap. Sound dropped so is lost and counted
    // as left out, unless `atJoin`: a recording joined on that begins with
    // what the one before ended with.
    bool rejoin(std::int64_t at, bool atJoin) {
        const std::int64_t held = converterDelay();
        if (at > position_ + held) {
            pauseLeft_ = av_rescale(at - position_ - held, inputRate_, outputRate_);
            return pauseLeft_ > 0;
        }
        if (!atJoin)
            addDamagedSound(&ReaderCore::leftOutSoundSeconds,
                            std::min(position_ + held, endSample_) - std::max(at, startSample_));
        keepFrom_ = std::max(keepFrom_, position_);
        position_ = at - held;
        return false;
    }

    // Output samples the conversion holds, which come out before frame_'s.
    std::int64_t converterDelay() const {
        return std::max<std::int64_t>(swr_get_delay(resampler_.get(), outputRate_), 0);
    }

    SampleBufferRef convertFrame() {
        return convert(const_cast<const std::uint8_t**>(frame_->extended_data), frame_->nb_samples);
    }

    // `length` samples of silence in the decoder's layout, through the same
    // conversion as the sound around it; what of it lies in the range counts
    // as concealed, unless it only fills a gap at a join.
    SampleBufferRef silence(std::int64_t length, bool concealed = true) {
        if (length <= 0 || length > INT_MAX) return nullptr;
        const int count = static_cast<int>(length);
        FramePtr quiet = makeFrame();
        quiet->format = inputFormat_;
        quiet->nb_samples = count;
        av_channel_layout_default(&quiet->ch_layout, inputChannels_);
        check(av_frame_get_buffer(quiet.get(), 0), "Out of memory for sound");
        av_samples_set_silence(quiet->extended_data, 0, count, inputChannels_, inputFormat_);
        SampleBufferRef sample = convert(const_cast<const std::uint8_t**>(quiet->extended_data), count);
        if (sample && concealed) addDamagedSound(&ReaderCore::concealedSoundSeconds, sample->sampleCount());
        return sample;
    }

    // Adds `outputSamples` to one of the reader's tallies of damaged sound.
    void addDamagedSound(double ReaderCore::*tally, std::int64_t outputSamples) {
        if (outputSamples <= 0) return;
        std::lock_guard lock(core_->mutex);
        (*core_).*tally += static_cast<double>(outputSamples) / outputRate_;
    }

    // A frame in another layout than the conversion was set up for (the
    // stream changed, or damage decoded as something else) would be read
    // with the wrong number of channels.
    bool inputChanged() const {
        return frame_->format != inputFormat_ || frame_->sample_rate != inputRate_ || frameChannels() != inputChannels_;
    }

    int frameChannels() const {
        return frame_->ch_layout.nb_channels > 0 ? frame_->ch_layout.nb_channels : decoder_->ch_layout.nb_channels;
    }

    // The conversion for frame_'s layout. The first one also fixes where the
    // sound starts; a later one carries on from where the sound has got to.
    void setUp() {
        const bool first = !resampler_;
        AVChannelLayout inputLayout{};
        if (frame_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame_->ch_layout.nb_channels == 0)
            av_channel_layout_default(&inputLayout, frameChannels());
        else
            av_channel_layout_copy(&inputLayout, &frame_->ch_layout);
        SwrContext* raw = nullptr;
        int status = swr_alloc_set_opts2(&raw, &outputLayout_, AV_SAMPLE_FMT_FLT, outputRate_, &inputLayout,
                                         static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0, nullptr);
        resampler_.reset(raw);
        if (status >= 0) status = setChannelMixing(raw, inputLayout, outputLayout_);
        av_channel_layout_uninit(&inputLayout);
        check(status, "Could not set up audio conversion");
        av_opt_set_sample_fmt(raw, "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0);
        check(swr_init(raw), "Could not set up audio conversion");
        inputFormat_ = static_cast<AVSampleFormat>(frame_->format);
        inputRate_ = frame_->sample_rate;
        inputChannels_ = frameChannels();
        if (!first) return;
        MediaTime firstTime = frameTime();
        position_ = firstTime.isNumeric() ? firstTime.convertScale(outputRate_).value() : 0;
        MediaTime start = core_->range.start;
        startSample_ = start.isNumeric() ? start.convertScale(outputRate_).value() : 0;
        MediaTime end = core_->range.end();
        endSample_ = end.isNumeric() ? end.convertScale(outputRate_).value() : INT64_MAX;
    }

    SampleBufferRef convert(const std::uint8_t** input, int inputCount) {
        const int channels = outputLayout_.nb_channels;
        int capacity = swr_get_out_samples(resampler_.get(), inputCount);
        if (capacity <= 0) return nullptr;
        scratch_.resize(static_cast<std::size_t>(capacity) * channels);
        std::uint8_t* out = reinterpret_cast<std::uint8_t*>(scratch_.data());
        int produced =
            check(swr_convert(resampler_.get(), &out, capacity, input, inputCount), "Audio conversion failed");
        std::int64_t first = position_;
        position_ += produced;
        // Trim to [startSample_, endSample_), and what was given out before a join.
        std::int64_t from = std::max({first, startSample_, keepFrom_});
        std::int64_t to = std::min(position_, endSample_);
        if (position_ >= endSample_) {
            done_ = true;
            flushed_ = true;
            stopPackets();
        }
        if (to <= from) return nullptr;
        const std::size_t skip = static_cast<std::size_t>(from - first) * channels;
        const std::size_t count = static_cast<std::size_t>(to - from) * channels;
        const float* samples = scratch_.data() + skip;
        std::vector<std::uint8_t> bytes(count * bytesPerSample(settings_.sampleFormat));
        if (settings_.sampleFormat == AudioSampleFormat::float32) {
            float* target = reinterpret_cast<float*>(bytes.data());
            for (std::size_t i = 0; i < count; ++i) target[i] = samples[i] * gain_;
        } else {
            std::int16_t* target = reinterpret_cast<std::int16_t*>(bytes.data());
            for (std::size_t i = 0; i < count; ++i) {
                float v = samples[i] * gain_ * 32768.0f;
                v = v >= 32767.0f ? 32767.0f : (v <= -32768.0f ? -32768.0f : v);
                target[i] = static_cast<std::int16_t>(std::lrintf(v));
            }
        }
        const int frames = static_cast<int>(to - from);
        return SampleBuffer::makeData(std::move(bytes), MediaTime(from, outputRate_), MediaTime(frames, outputRate_),
                                      outputFormat_, frames);
    }

    // Longest silence one refused packet becomes, whatever its stored duration says.
    static constexpr std::int64_t kMaxConcealedSeconds = 10;
    // How far the sound may fall from its clock between steps before it
    // takes up the clock's time at once (AV_TIME_BASE): a drift faster than
    // stretching follows.
    static constexpr std::int64_t kLongestDrift = AV_TIME_BASE / 10;
    // The most the sound is stretched or squeezed to follow its clock, in
    // parts per million: a pitch change of a twentieth of a semitone.
    static constexpr std::int64_t kMostStretch = 3000;
    static constexpr std::int64_t kSteady = AV_TIME_BASE * 2 / 1000;

    float gain_;
    AudioOutputSettings settings_;
    // Whether the sound's stored times are its clock; elsewhere (AVI, LPCM in
    // MPEG-TS) it is timed by counting it.
    const bool onStoredClock_;
    int outputRate_ = 0;
    // What the conversion takes, as set up.
    AVSampleFormat inputFormat_ = AV_SAMPLE_FMT_NONE;
    int inputRate_ = 0;
    int inputChannels_ = 0;
    AVChannelLayout outputLayout_{};
    SwrPtr resampler_;
    std::vector<float> scratch_;
    std::int64_t position_ = 0;
    std::int64_t startSample_ = 0;
    std::int64_t endSample_ = INT64_MAX;
    // After a join that stepped back: the sound before this was given out already.
    std::int64_t keepFrom_ = INT64_MIN;
    // Packets refused before the first frame decoded, and the earliest time among them.
    std::int64_t refusedBeforeSound_ = 0;
    MediaTime leadFrom_;
    // A converted frame that waits while the silence before it goes out.
    SampleBufferRef held_;
    // Silence still to give out for a pause (at the input rate), and whether
    // the frame after it, in frame_, is still to be converted.
    std::int64_t pauseLeft_ = 0;
    bool frameAfterPause_ = false;
    bool flushed_ = false;
    bool done_ = false;
    // Frames decoded ahead, and what the decoder last said.
    std::deque<Ahead> ahead_;
    Decoded decoded_ = Decoded::frame;
    SoundClock clock_;
    // Whether the conversion has stretched the sound: it resamples from then on.
    bool stretching_ = false;
};

}  // namespace

std::shared_ptr<ReaderOutputBase> makeVideoOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track,
                                                  VideoOutputSettings settings) {
    return std::make_shared<VideoOutput>(std::move(core), track, settings);
}

std::shared_ptr<ReaderOutputBase> makeAudioOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track, float gain,
                                                  AudioOutputSettings settings) {
    return std::make_shared<AudioOutput>(std::move(core), track, gain, settings);
}

}  // namespace fw::media::detail

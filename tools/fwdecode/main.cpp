// fwdecode: decodes a media file with FFmpeg's full decoder set and hands
// plain pictures and sound to framewright over standard output.
//
//   fwdecode --probe FILE   prints "WIDTHxHEIGHT RATE DURATION 0 0" and exits 0
//   fwdecode FILE           writes the stream: a 40-byte header ("FWDC", width,
//                           height, rate, sample rate, channels), then 'A'
//                           messages (all the sound, 16-bit interleaved PCM),
//                           'V' messages (one BGRA picture each, straight
//                           alpha) and 'E'. Little-endian throughout.
//
// Pictures are placed on a constant-rate grid by their timestamps: a late
// picture is repeated to fill a gap and an early one dropped, so the sound
// stays in step with frame counting. Any failure prints one line starting
// "fwdecode: " on standard error and exits 1.
//
// Pictures are decoded on a thread of their own from the start, while the
// sound is sent, and handed a few at a time to the thread that converts and
// writes them, so that decoding never waits for the pipe.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <pthread.h>
#include <unistd.h>

#include "platform/media/ChannelMixing_internal.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string averror(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResamplerFreer {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;

FormatPtr openContainer(const char* path) {
    AVFormatContext* raw = nullptr;
    if (const int error = avformat_open_input(&raw, path, nullptr, nullptr); error < 0)
        throw Failure(std::string("could not open ") + path + ": " + averror(error));
    return FormatPtr(raw);
}

void findStreamInfo(AVFormatContext& format, const char* path) {
    if (const int error = avformat_find_stream_info(&format, nullptr); error < 0)
        throw Failure(std::string("could not read ") + path + ": " + averror(error));
}

FormatPtr openInput(const char* path) {
    FormatPtr format = openContainer(path);
    findStreamInfo(*format, path);
    return format;
}

int bestStream(AVFormatContext& format, AVMediaType type) {
    const int best = av_find_best_stream(&format, type, -1, -1, nullptr, 0);
    if (best >= 0 && !(format.streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC)) return best;
    for (unsigned i = 0; i < format.nb_streams; ++i)
        if (format.streams[i]->codecpar->codec_type == type &&
            !(format.streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    return -1;
}

// A decoder for a stream with `parameters` (those of `stream`, unless given).
CodecPtr openDecoder(const AVStream& stream, const AVCodecParameters* parameters = nullptr) {
    if (!parameters) parameters = stream.codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) throw Failure(std::string("no decoder for ") + avcodec_get_name(parameters->codec_id));
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), parameters) < 0)
        throw Failure("could not set up the decoder");
    context->thread_count = 0;
    context->pkt_timebase = stream.time_base;
    if (const int error = avcodec_open2(context.get(), codec, nullptr); error < 0)
        throw Failure(std::string("could not open the ") + codec->name + " decoder: " + averror(error));
    return context;
}

double frameRate(const AVStream& stream) {
    for (AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate})
        if (rate.num > 0 && rate.den > 0) return av_q2d(rate);
    return 25;
}

double durationSeconds(const AVFormatContext& format, const AVStream& stream) {
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) return stream.duration * av_q2d(stream.time_base);
    if (format.duration != AV_NOPTS_VALUE && format.duration > 0) return format.duration / double(AV_TIME_BASE);
    return 0;
}

std::string number(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// ------------------------------------------------------------------ output

void writeAll(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) throw Failure("the reader went away");
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put64(std::uint8_t* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void writeMessage(char type, const std::uint8_t* payload, std::size_t size) {
    std::uint8_t head[9];
    head[0] = static_cast<std::uint8_t>(type);
    put64(head + 1, size);
    writeAll(head, sizeof head);
    if (size > 0) writeAll(payload, size);
}

// ------------------------------------------------------------------- modes

int probe(const char* path) {
    FormatPtr format = openInput(path);
    const int index = bestStream(*format, AVMEDIA_TYPE_VIDEO);
    if (index < 0) throw Failure(std::string(path) + " has no pictures");
    const AVStream& stream = *format->streams[index];
    if (stream.codecpar->width < 1 || stream.codecpar->height < 1) throw Failure("unknown picture size");
    const std::string line = std::to_string(stream.codecpar->width) + "x" + std::to_string(stream.codecpar->height) +
                             " " + number(frameRate(stream)) + " " + number(durationSeconds(*format, stream)) +
                             " 0 0\n";
    writeAll(line.data(), line.size());
    return 0;
}

// Sends every packet of `streamIndex` through `context`, handing each decoded
// frame to `onFrame`, then drains the decoder.
template <class OnFrame>
void decodeStream(AVFormatContext& format, int streamIndex, AVCodecContext& context, OnFrame onFrame) {
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) throw Failure("out of memory");
    auto receive = [&] {
        for (;;) {
            const int error = avcodec_receive_frame(&context, frame.get());
            if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return;
            if (error < 0) throw Failure("decoding failed: " + averror(error));
            onFrame(*frame);
            av_frame_unref(frame.get());
        }
    };
    for (;;) {
        const int error = av_read_frame(&format, packet.get());
        if (error == AVERROR_EOF) break;
        if (error < 0) throw Failure("reading failed: " + averror(error));
        if (packet->stream_index == streamIndex) {
            const int sent = avcodec_send_packet(&context, packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA)
                throw Failure("decoding failed: " + averror(sent));
            receive();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(&context, nullptr);
    receive();
}

// Where a sound pass that opens the file anew finds the sound: the stream's
// index and parameters as the first opening found them.
struct SoundSource {
    int index = -1;
    unsigned streamCount = 0;
    std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> parameters{
        nullptr, [](AVCodecParameters* p) { avcodec_parameters_free(&p); }};
};

void sendSound(AVFormatContext& format, int index, const AVCodecParameters* parameters, int sampleRate, int channels);

// The sound pass from an opening of the file of its own. When the container
// names all its streams in its header, they are the first opening's, whose
// parameters are taken as found: searching them again would decode pictures.
void sendSoundFromOwnOpening(const char* path, const SoundSource& source, int sampleRate, int channels) {
    FormatPtr format = openContainer(path);
    int index = source.index;
    const AVCodecParameters* known = source.parameters.get();
    if ((format->ctx_flags & AVFMTCTX_NOHEADER) || format->nb_streams != source.streamCount ||
        format->streams[index]->codecpar->codec_id != known->codec_id) {
        findStreamInfo(*format, path);
        index = bestStream(*format, AVMEDIA_TYPE_AUDIO);
        if (index < 0) throw Failure(std::string(path) + " has no sound");
        known = nullptr;
    }
    sendSound(*format, index, known, sampleRate, channels);
}

// Sends the sound of stream `index` as 16-bit PCM at sampleRate with
// `channels`; `parameters`, when given, stand in for the stream's own.
void sendSound(AVFormatContext& format, int index, const AVCodecParameters* parameters, int sampleRate, int channels) {
    CodecPtr decoder = openDecoder(*format.streams[index], parameters);
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    std::unique_ptr<SwrContext, ResamplerFreer> resampler;
    std::vector<std::uint8_t> buffer;
    AVChannelLayout sourceLayout{};
    AVSampleFormat sourceFormat = AV_SAMPLE_FMT_NONE;
    int sourceRate = 0;
    decodeStream(format, index, *decoder, [&](const AVFrame& frame) {
        // A stream may change its layout midway; the converter follows.
        if (!resampler || sourceFormat != frame.format || sourceRate != frame.sample_rate ||
            av_channel_layout_compare(&sourceLayout, &frame.ch_layout) != 0) {
            SwrContext* raw = nullptr;
            if (swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_S16, sampleRate,
                                    const_cast<AVChannelLayout*>(&frame.ch_layout),
                                    static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr) < 0 ||
                fw::media::detail::setChannelMixing(raw, frame.ch_layout, layout) < 0 || swr_init(raw) < 0) {
                swr_free(&raw);
                throw Failure("could not convert the sound");
            }
            resampler.reset(raw);
            av_channel_layout_uninit(&sourceLayout);
            av_channel_layout_copy(&sourceLayout, &frame.ch_layout);
            sourceFormat = static_cast<AVSampleFormat>(frame.format);
            sourceRate = frame.sample_rate;
        }
        const int most = swr_get_out_samples(resampler.get(), frame.nb_samples);
        buffer.resize(static_cast<std::size_t>(std::max(most, 0)) * channels * 2);
        std::uint8_t* out = buffer.data();
        const int converted = swr_convert(resampler.get(), &out, most,
                                          const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
        if (converted < 0) throw Failure("could not convert the sound");
        if (converted > 0) writeMessage('A', buffer.data(), static_cast<std::size_t>(converted) * channels * 2);
    });
    av_channel_layout_uninit(&layout);
    av_channel_layout_uninit(&sourceLayout);
}

// Decoded pictures on their way from the decoding thread to the writing one,
// a few at a time, so that memory stays bounded.
class PictureQueue {
public:
    static constexpr std::size_t kDepth = 3;

    // Waits for room; false once the writer has given up.
    bool push(FramePtr picture) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return pictures_.size() < kDepth || abandoned_; });
        if (abandoned_) return false;
        pictures_.push_back(std::move(picture));
        changed_.notify_all();
        return true;
    }
    // The next picture; nullptr after the last one.
    FramePtr pop() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !pictures_.empty() || ended_; });
        if (pictures_.empty()) return nullptr;
        FramePtr picture = std::move(pictures_.front());
        pictures_.pop_front();
        changed_.notify_all();
        return picture;
    }
    // No more pictures will come.
    void end() {
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    // The writer takes no more: pushes return false from now on.
    void abandon() {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        pictures_.clear();
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FramePtr> pictures_;
    bool ended_ = false;
    bool abandoned_ = false;
};

// The writer gave up; the decoding thread ends quietly.
struct Abandoned {};

void decodePictures(AVFormatContext& format, int index, PictureQueue& queue) {
    CodecPtr decoder = openDecoder(*format.streams[index]);
    decodeStream(format, index, *decoder, [&](AVFrame& frame) {
        FramePtr held(av_frame_alloc());
        if (!held) throw Failure("out of memory");
        av_frame_move_ref(held.get(), &frame);
        if (!queue.push(std::move(held))) throw Abandoned{};
    });
}

// Decodes the pictures of stream `index` of `format` into a queue, from
// construction on, on a thread of its own. `format` must outlive it.
class PictureDecoding {
public:
    PictureDecoding(AVFormatContext& format, int index) : thread_([this, &format, index] { run(format, index); }) {}
    // Stops a decoding still going on, and waits for it.
    ~PictureDecoding() {
        queue_.abandon();
        if (thread_.joinable()) thread_.join();
    }
    PictureDecoding(const PictureDecoding&) = delete;
    PictureDecoding& operator=(const PictureDecoding&) = delete;

    PictureQueue& pictures() { return queue_; }
    // Once the last picture was taken: rethrows what decoding failed with.
    void finish() {
        thread_.join();
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    void run(AVFormatContext& format, int index) {
        pthread_setname_np(pthread_self(), "fwdecode.video");
        try {
            decodePictures(format, index, queue_);
        } catch (const Abandoned&) {
        } catch (...) {
            failure_ = std::current_exception();
        }
        queue_.end();
    }

    PictureQueue queue_;
    std::exception_ptr failure_;
    std::thread thread_;  // last, so that it starts once the rest is made
};

// The one stream of pictures (cover pictures aside) of a file opened without a
// search of its streams, when its container names them all in its header and
// the decoder is known; else -1.
int soleVideoStream(const AVFormatContext& format) {
    if (format.ctx_flags & AVFMTCTX_NOHEADER) return -1;
    int found = -1;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream& stream = *format.streams[i];
        if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (stream.disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (found >= 0 || stream.codecpar->codec_id == AV_CODEC_ID_NONE) return -1;
        found = static_cast<int>(i);
    }
    return found;
}

// Converts each decoded picture to BGRA at width × height and sends it, placed
// on the constant-rate grid by its timestamp in `timeBase`. False when no
// picture came.
bool sendPictures(PictureQueue& queue, AVRational timeBase, int width, int height, double rate) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    std::unique_ptr<SwsContext, ScalerFreer> scaler;
    AVPixelFormat scalerFormat = AV_PIX_FMT_NONE;
    int scalerWidth = 0, scalerHeight = 0;
    // The converted picture, reused; its rows may be padded, and are then
    // packed into `packed` to be sent.
    FramePtr converted(av_frame_alloc());
    if (!converted) throw Failure("out of memory");
    converted->format = AV_PIX_FMT_BGRA;
    converted->width = width;
    converted->height = height;
    if (av_frame_get_buffer(converted.get(), 0) < 0) throw Failure("out of memory");
    const bool padded = static_cast<std::size_t>(converted->linesize[0]) != rowBytes;
    std::vector<std::uint8_t> packed(padded ? rowBytes * height : 0);
    std::int64_t written = 0;
    std::int64_t firstTimestamp = AV_NOPTS_VALUE;
    bool havePicture = false;
    while (FramePtr picture = queue.pop()) {
        const AVFrame& frame = *picture;
        const auto frameFormat = static_cast<AVPixelFormat>(frame.format);
        if (!scaler || frameFormat != scalerFormat || frame.width != scalerWidth || frame.height != scalerHeight) {
            // On one thread, beside the decoding one: the threaded converter's slices write wrong rows where
            // they meet (at some sizes, differently from run to run).
            scaler.reset(sws_alloc_context());
            if (!scaler) throw Failure("out of memory");
            av_opt_set_int(scaler.get(), "srcw", frame.width, 0);
            av_opt_set_int(scaler.get(), "srch", frame.height, 0);
            av_opt_set_int(scaler.get(), "src_format", frameFormat, 0);
            av_opt_set_int(scaler.get(), "dstw", width, 0);
            av_opt_set_int(scaler.get(), "dsth", height, 0);
            av_opt_set_int(scaler.get(), "dst_format", AV_PIX_FMT_BGRA, 0);
            av_opt_set_int(scaler.get(), "sws_flags", SWS_BICUBIC, 0);
            av_opt_set_int(scaler.get(), "threads", 1, 0);
            if (sws_init_context(scaler.get(), nullptr, nullptr) < 0) throw Failure("could not convert the pictures");
            scalerFormat = frameFormat;
            scalerWidth = frame.width;
            scalerHeight = frame.height;
        }
        // The source's own matrix and range; above 576 lines untagged ones are BT.709.
        int space = frame.colorspace;
        if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RGB || space == AVCOL_SPC_RESERVED)
            space = frame.height > 576 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        const int full = frame.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(space), full, sws_getCoefficients(space), 1, 0,
                                 1 << 16, 1 << 16);
        if (sws_scale_frame(scaler.get(), converted.get(), &frame) < 0) throw Failure("could not convert the pictures");
        const std::uint8_t* bytes = converted->data[0];
        if (padded) {
            for (int row = 0; row < height; ++row)
                std::memcpy(packed.data() + row * rowBytes, converted->data[0] + row * converted->linesize[0],
                            rowBytes);
            bytes = packed.data();
        }
        havePicture = true;

        // Where the picture falls on the constant-rate grid.
        const std::int64_t timestamp = frame.best_effort_timestamp;
        std::int64_t slot = written;
        if (timestamp != AV_NOPTS_VALUE) {
            if (firstTimestamp == AV_NOPTS_VALUE) firstTimestamp = timestamp;
            slot = std::llround((timestamp - firstTimestamp) * av_q2d(timeBase) * rate);
        }
        if (slot < written) continue;  // early: its place is taken
        for (; written <= slot; ++written) writeMessage('V', bytes, rowBytes * height);
    }
    return havePicture;
}

int stream(const char* path) {
    FormatPtr format = openContainer(path);
    // The pictures start decoding from a second opening while the first one's
    // streams are searched (which decodes a picture on one thread) and its sound
    // is sent. The search must then find the stream the second opening guessed.
    FormatPtr early = openContainer(path);
    const int guess = soleVideoStream(*early);
    const unsigned earlyStreamCount = early->nb_streams;
    const AVCodecID earlyCodec = guess >= 0 ? early->streams[guess]->codecpar->codec_id : AV_CODEC_ID_NONE;
    const AVRational earlyTimeBase = guess >= 0 ? early->streams[guess]->time_base : AVRational{0, 1};
    std::optional<PictureDecoding> decoding;
    if (guess >= 0) decoding.emplace(*early, guess);

    findStreamInfo(*format, path);
    const int video = bestStream(*format, AVMEDIA_TYPE_VIDEO);
    if (video < 0) throw Failure(std::string(path) + " has no pictures");
    const AVStream& pictures = *format->streams[video];
    const int width = pictures.codecpar->width;
    const int height = pictures.codecpar->height;
    if (width < 1 || height < 1) throw Failure("unknown picture size");
    const double rate = frameRate(pictures);
    const AVRational timeBase = pictures.time_base;
    if (decoding && (video != guess || format->nb_streams != earlyStreamCount ||
                     pictures.codecpar->codec_id != earlyCodec || av_cmp_q(timeBase, earlyTimeBase) != 0))
        decoding.reset();
    if (!decoding) early.reset();
    const int soundIndex = bestStream(*format, AVMEDIA_TYPE_AUDIO);
    int sampleRate = 0;
    int channels = 0;
    if (soundIndex >= 0) {
        const AVCodecParameters& parameters = *format->streams[soundIndex]->codecpar;
        sampleRate = parameters.sample_rate;
        channels = std::min(std::max(parameters.ch_layout.nb_channels, 1), 8);
        if (sampleRate < 1) sampleRate = 0;
    }

    std::uint8_t header[40] = {'F', 'W', 'D', 'C'};
    put32(header + 8, static_cast<std::uint32_t>(width));
    put32(header + 12, static_cast<std::uint32_t>(height));
    put64(header + 16, std::bit_cast<std::uint64_t>(rate));
    put32(header + 32, static_cast<std::uint32_t>(sampleRate));
    put32(header + 36, static_cast<std::uint32_t>(sampleRate > 0 ? channels : 0));
    writeAll(header, sizeof header);

    // All the sound goes before the first picture.
    if (decoding) {
        if (sampleRate > 0) sendSound(*format, soundIndex, nullptr, sampleRate, channels);
    } else {
        // The pictures read the first opening; the sound gets one of its own.
        SoundSource sound;
        if (sampleRate > 0) {
            sound.index = soundIndex;
            sound.streamCount = format->nb_streams;
            // Copied before the pictures' thread reads the file, which may touch them.
            sound.parameters.reset(avcodec_parameters_alloc());
            if (!sound.parameters ||
                avcodec_parameters_copy(sound.parameters.get(), format->streams[soundIndex]->codecpar) < 0)
                throw Failure("out of memory");
        }
        decoding.emplace(*format, video);
        if (sampleRate > 0) sendSoundFromOwnOpening(path, sound, sampleRate, channels);
    }
    const bool sent = sendPictures(decoding->pictures(), timeBase, width, height, rate);
    // The pictures before a decoding failure have been sent; the failure ends the stream without its end.
    decoding->finish();
    if (!sent) throw Failure(std::string(path) + " gave no pictures");
    writeMessage('E', nullptr, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    av_log_set_level(AV_LOG_QUIET);
    try {
        if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) return probe(argv[2]);
        if (argc == 2 && argv[1][0] != '-') return stream(argv[1]);
        std::fputs("usage: fwdecode --probe FILE | fwdecode FILE\n", stderr);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fwdecode: %s\n", error.what());
        return 1;
    }
}

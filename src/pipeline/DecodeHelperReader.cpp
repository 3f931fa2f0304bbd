#include "pipeline/DecodeHelperReader.h"

#include "platform/core/ChildProcess.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

namespace fw {

namespace fs = std::filesystem;

struct DecodeHelperReader::State {
    State(const fs::path& helper, const fs::path& source, std::chrono::milliseconds limit, ChildProcess::Clock clock)
        : process(helper, {source.string()}, std::move(clock)),
          timeLimit(limit),
          stream([this](std::span<std::uint8_t> bytes) {
              try {
                  return process.read(bytes, timeLimit);
              } catch (const ChildProcess::Timeout&) {
                  throw DecodeHelperStreamError("the decoder did not answer within " +
                                                std::to_string(timeLimit.count()) + " ms");
              }
          }) {}

    // Records the first failure and wakes every waiting pull (mutex held).
    void failLocked(std::string message) {
        if (!failure) failure = std::move(message);
        changed.notify_all();
    }
    bool stoppedLocked() const { return failure || ended || process.killed(); }

    ChildProcess process;
    std::chrono::milliseconds timeLimit;
    DecodeHelperStream stream;  // read with the mutex held
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::string> failure;
    bool ended = false;           // the end message came
    bool audioPulling = false;    // an audio output exists and has not ended
    bool pictureWaiting = false;  // the audio output met the first picture
    std::int64_t audioFramesRead = 0;
    std::shared_ptr<media::PixelBufferPool> pool;
};

namespace {

media::AssetTrack helperTrack(media::MediaType type, const DecodeHelperHeader& header) {
    media::AssetTrack track;
    track.trackID = type == media::MediaType::video ? 0 : 1;
    track.mediaType = type;
    if (type == media::MediaType::video) {
        track.nominalFrameRate = header.frameRate;
        track.naturalSize = {static_cast<double>(header.width), static_cast<double>(header.height)};
    }
    return track;
}

class HelperOutput : public media::AssetReaderOutput {
public:
    HelperOutput(std::shared_ptr<DecodeHelperReader::State> state, media::AssetTrack track,
                 media::FormatDescriptionRef format)
        : state_(std::move(state)), track_(std::move(track)), format_(std::move(format)) {
        track_.formatDescriptions = {format_};
    }
    const media::AssetTrack& track() const override { return track_; }
    media::FormatDescriptionRef outputFormat() const override { return format_; }

protected:
    std::shared_ptr<DecodeHelperReader::State> state_;
    media::AssetTrack track_;
    media::FormatDescriptionRef format_;
};

class AudioOutput final : public HelperOutput {
public:
    using HelperOutput::HelperOutput;
    ~AudioOutput() override { stopPulling(); }

    media::SampleBufferRef copyNextSampleBuffer() override {
        DecodeHelperReader::State& state = *state_;
        std::lock_guard lock(state.mutex);
        if (!state.audioPulling || state.stoppedLocked()) return endLocked();
        try {
            switch (state.stream.next()) {
            case DecodeHelperStream::Part::audio: {
                const auto bytes = state.stream.audio();
                const auto frames = static_cast<std::int64_t>(bytes.size() / state.stream.header().audioFrameBytes());
                const int rate = state.stream.header().sampleRate;
                auto sample =
                    media::SampleBuffer::makeData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                                  media::MediaTime(state.audioFramesRead, rate),
                                                  media::MediaTime(frames, rate), format_, static_cast<int>(frames));
                state.audioFramesRead += frames;
                return sample;
            }
            case DecodeHelperStream::Part::picture: state.pictureWaiting = true; return endLocked();
            case DecodeHelperStream::Part::end: state.ended = true; return endLocked();
            }
        } catch (const std::exception& error) {
            if (!state.process.killed()) state.failLocked(error.what());
        }
        return endLocked();
    }

private:
    media::SampleBufferRef endLocked() {
        state_->audioPulling = false;
        state_->changed.notify_all();
        return nullptr;
    }
    void stopPulling() {
        std::lock_guard lock(state_->mutex);
        endLocked();
    }
};

class VideoOutput final : public HelperOutput {
public:
    using HelperOutput::HelperOutput;

    media::SampleBufferRef copyNextSampleBuffer() override {
        DecodeHelperReader::State& state = *state_;
        std::unique_lock lock(state.mutex);
        // Sound comes first; its pump reads it while this one waits.
        state.changed.wait(lock, [&] { return !state.audioPulling || state.stoppedLocked(); });
        try {
            while (!state.pictureWaiting) {
                if (state.stoppedLocked()) return nullptr;
                const auto part = state.stream.next();
                if (part == DecodeHelperStream::Part::end) {
                    state.ended = true;
                    state.changed.notify_all();
                    return nullptr;
                }
                if (part == DecodeHelperStream::Part::picture) state.pictureWaiting = true;
                // Sound nobody takes is dropped.
            }
            if (state.stoppedLocked()) return nullptr;
            media::PixelBufferRef picture = state.pool->get();
            if (!picture) {
                state.failLocked("no memory for a decoded picture");
                return nullptr;
            }
            const std::int64_t index = state.stream.picturesRead();
            state.stream.readPicture(picture->data(), picture->stride());
            state.pictureWaiting = false;
            const DecodeHelperHeader& header = state.stream.header();
            const std::int32_t timescale = header.timescale();
            const std::int64_t start = header.frameTime(index);
            return media::SampleBuffer::makeImage(std::move(picture), media::MediaTime(start, timescale),
                                                  media::MediaTime(header.frameTime(index + 1) - start, timescale),
                                                  format_);
        } catch (const std::exception& error) {
            if (!state.process.killed()) state.failLocked(error.what());
        }
        return nullptr;
    }
};

}  // namespace

DecodeHelperReader::DecodeHelperReader(const fs::path& helper, const fs::path& source,
                                       std::chrono::milliseconds readTimeLimit, ChildProcess::Clock clock)
    : state_(std::make_shared<State>(helper, source, readTimeLimit, std::move(clock))) {
    try {
        state_->stream.readHeader();
    } catch (const DecodeHelperStreamError& error) {
        state_->failure = error.what();
        finish();
        throw EncodingError::readerFailed(error.what());
    }
    const DecodeHelperHeader& header = state_->stream.header();
    state_->pool = media::PixelBufferPool::create(header.width, header.height, media::PixelFormat::bgra8);
    if (!state_->pool) throw EncodingError::readerFailed("no memory for the decoded pictures");
}

DecodeHelperReader::~DecodeHelperReader() { cancel(); }

const DecodeHelperHeader& DecodeHelperReader::header() const { return state_->stream.header(); }

std::shared_ptr<media::AssetReaderOutput> DecodeHelperReader::videoOutput() {
    const DecodeHelperHeader& header = state_->stream.header();
    auto format = std::make_shared<media::FormatDescription>();
    format->mediaType = media::MediaType::video;
    format->mediaSubtype = media::subtype::bgra;
    format->width = header.width;
    format->height = header.height;
    format->pixelFormat = media::PixelFormat::bgra8;
    // The helper names no colour tags: the pictures are plain RGB, written with
    // the matrix a source without tags gets (sourceColorTags).
    return std::make_shared<VideoOutput>(state_, helperTrack(media::MediaType::video, header), std::move(format));
}

std::shared_ptr<media::AssetReaderOutput> DecodeHelperReader::audioOutput() {
    const DecodeHelperHeader& header = state_->stream.header();
    if (header.sampleRate < 1) return nullptr;
    auto format = std::make_shared<media::FormatDescription>();
    format->mediaType = media::MediaType::audio;
    format->mediaSubtype = media::subtype::linearPCM;
    format->sampleRate = header.sampleRate;
    format->channelCount = header.channelCount;
    format->sampleFormat = media::AudioSampleFormat::int16;
    {
        std::lock_guard lock(state_->mutex);
        state_->audioPulling = true;
    }
    return std::make_shared<AudioOutput>(state_, helperTrack(media::MediaType::audio, header), std::move(format));
}

void DecodeHelperReader::cancel() {
    state_->process.kill();
    std::lock_guard lock(state_->mutex);
    state_->changed.notify_all();
}

void DecodeHelperReader::finish() {
    State& state = *state_;
    std::optional<std::string> failure;
    std::int64_t pictures = 0;
    {
        std::lock_guard lock(state.mutex);
        if (state.process.killed()) return;
        failure = state.failure;
        if (!failure && !state.ended) failure = "decoder stream ended early";
        pictures = state.stream.picturesRead();
    }
    // A helper that gave up says why on its standard error, and exits soon
    // after; one that is stuck is not waited for beyond the limit.
    const auto status =
        state.process.wait(failure ? std::min(state.timeLimit, std::chrono::milliseconds(2000)) : state.timeLimit);
    if (!status) state.process.kill();
    if (failure) {
        if (status && *status != 0) {
            const std::string line = state.process.lastErrorLine();
            throw EncodingError::readerFailed(
                !line.empty() ? line : "the decoder exited with status " + std::to_string(*status));
        }
        throw EncodingError::readerFailed(*failure);
    }
    // A stream that came whole with its end message is the helper's result,
    // however it exits afterwards.
    if (pictures == 0) throw EncodingError::readerFailed("the decoder produced no frames");
}

}  // namespace fw

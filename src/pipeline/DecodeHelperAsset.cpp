#include "pipeline/DecodeHelperAsset.h"

#include "platform/core/MediaUnits.h"
#include "platform/media/ComposedSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace fw {

namespace {

constexpr std::int32_t kVideoTrackID = 0;
constexpr std::int32_t kAudioTrackID = 1;

// The stream has one beginning: a reader that starts later, or stops early,
// would leave the helper's order behind.
void requireWholeRange(const media::TimeRange& range) {
    if ((range.start.isNumeric() && range.start > MediaTime::zero()) || range.end().isNumeric())
        throw std::runtime_error("the decode helper's stream is read whole");
}

class HelperSource;

class PictureReader final : public media::ComposedTrackReader {
public:
    PictureReader(const HelperSource& source, std::shared_ptr<media::AssetReaderOutput> output)
        : source_(source), output_(std::move(output)) {}
    media::SampleBufferRef next() override;

private:
    const HelperSource& source_;
    std::shared_ptr<media::AssetReaderOutput> output_;
    bool ended_ = false;
};

// The helper's int16 sound in the asked sample format, with the gain.
class SoundReader final : public media::ComposedTrackReader {
public:
    SoundReader(std::shared_ptr<media::AssetReaderOutput> output, float gain, media::FormatDescriptionRef format)
        : output_(std::move(output)), gain_(gain), format_(std::move(format)) {}

    media::SampleBufferRef next() override {
        const media::SampleBufferRef sample = output_->copyNextSampleBuffer();
        if (!sample) return nullptr;
        if (format_->sampleFormat == media::AudioSampleFormat::int16 && gain_ == 1.0f)
            return media::SampleBuffer::makeData({sample->data().begin(), sample->data().end()},
                                                 sample->presentationTime(), sample->duration(), format_,
                                                 static_cast<int>(sample->data().size() / format_->bytesPerFrame()));
        const std::size_t count = sample->data().size() / sizeof(std::int16_t);
        std::vector<std::int16_t> in(count);
        std::memcpy(in.data(), sample->data().data(), count * sizeof(std::int16_t));
        std::vector<std::uint8_t> out(count * media::bytesPerSample(format_->sampleFormat));
        if (format_->sampleFormat == media::AudioSampleFormat::float32) {
            std::vector<float> values(count);
            for (std::size_t i = 0; i < count; ++i) values[i] = in[i] * (gain_ / 32768.0f);
            std::memcpy(out.data(), values.data(), out.size());
        } else {
            for (std::size_t i = 0; i < count; ++i)
                in[i] = static_cast<std::int16_t>(std::lrint(std::clamp(in[i] * gain_, -32768.0f, 32767.0f)));
            std::memcpy(out.data(), in.data(), out.size());
        }
        const int frames = static_cast<int>(count / static_cast<std::size_t>(format_->channelCount));
        return media::SampleBuffer::makeData(std::move(out), sample->presentationTime(), sample->duration(), format_,
                                             frames);
    }

private:
    std::shared_ptr<media::AssetReaderOutput> output_;
    float gain_;
    media::FormatDescriptionRef format_;
};

class HelperSource final : public media::ComposedSource {
public:
    HelperSource(std::shared_ptr<DecodeHelperReader> reader, bool withSound)
        : reader_(std::move(reader)),
          pictures_(reader_->videoOutput()),
          sound_(withSound ? reader_->audioOutput() : nullptr) {}

    std::unique_ptr<media::ComposedTrackReader> openVideo(const media::AssetTrack&, const media::VideoOutputSettings&,
                                                          const media::TimeRange& range) const override {
        // Pictures are bgra8 whatever is asked: the resizer makes x420 of them.
        requireWholeRange(range);
        return std::make_unique<PictureReader>(*this, take(pictures_));
    }

    std::unique_ptr<media::ComposedTrackReader> openAudio(const media::AssetTrack& track, float gain,
                                                          const media::AudioOutputSettings& settings,
                                                          const media::TimeRange& range) const override {
        requireWholeRange(range);
        const media::FormatDescription& own = *track.formatDescriptions.front();
        if (settings.sampleRate && std::lround(*settings.sampleRate) != std::lround(own.sampleRate))
            throw std::runtime_error("the decode helper's sound is read at its own rate only");
        auto format = media::composedAudioFormat(track, settings);
        if (format->channelCount != own.channelCount && !(own.channelCount > 2 && format->channelCount == 2))
            throw std::runtime_error("the decode helper's sound is read at its own channel count or as stereo");
        if (format->channelCount != own.channelCount) {
            auto wide = std::make_shared<media::FormatDescription>(*format);
            wide->channelCount = own.channelCount;
            wide->channelNames.clear();
            format = std::move(wide);
        }
        return std::make_unique<SoundReader>(take(sound_), gain, std::move(format));
    }

    void cancelReading() const override { reader_->cancel(); }
    // The pictures wait for the sound that comes before them in the stream.
    bool readsTracksSideBySide() const override { return false; }

    // At the pictures' end; once.
    void finish() const {
        try {
            reader_->finish();
        } catch (const EncodingError& error) {
            std::lock_guard lock(mutex_);
            failure_ = error;
            throw;
        }
    }

    std::optional<EncodingError> failure() const {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    std::shared_ptr<media::AssetReaderOutput> take(std::shared_ptr<media::AssetReaderOutput>& slot) const {
        std::lock_guard lock(mutex_);
        if (!slot) throw std::runtime_error("the decode helper's stream is read once");
        return std::exchange(slot, nullptr);
    }

    std::shared_ptr<DecodeHelperReader> reader_;
    mutable std::mutex mutex_;
    mutable std::shared_ptr<media::AssetReaderOutput> pictures_;
    mutable std::shared_ptr<media::AssetReaderOutput> sound_;
    mutable std::optional<EncodingError> failure_;
};

media::SampleBufferRef PictureReader::next() {
    if (ended_) return nullptr;
    if (auto sample = output_->copyNextSampleBuffer()) return sample;
    ended_ = true;
    source_.finish();
    return nullptr;
}

}  // namespace

media::AssetRef decodeHelperAsset(std::shared_ptr<DecodeHelperReader> reader, const std::filesystem::path& source,
                                  double durationSeconds, bool withSound) {
    const DecodeHelperHeader header = reader->header();
    const MediaTime duration = durationSeconds > 0 && std::isfinite(durationSeconds)
                                   ? MediaTime::fromSeconds(durationSeconds)
                                   : MediaTime::zero();
    auto composed = std::make_shared<HelperSource>(std::move(reader), withSound && header.sampleRate > 0);

    std::vector<media::AssetTrack> tracks;
    media::AssetTrack video;
    video.trackID = kVideoTrackID;
    video.mediaType = media::MediaType::video;
    video.timeRange = {MediaTime::zero(), duration};
    video.nominalFrameRate = header.frameRate;
    video.naturalSize = {static_cast<double>(header.width), static_cast<double>(header.height)};
    // The helper names no colour tags: the pictures are plain RGB, written with
    // the matrix a source without tags gets.
    auto pictures = std::make_shared<media::FormatDescription>();
    pictures->mediaType = media::MediaType::video;
    pictures->mediaSubtype = media::subtype::bgra;
    pictures->codecName = "rawvideo";
    pictures->width = header.width;
    pictures->height = header.height;
    pictures->pixelFormat = media::PixelFormat::bgra8;
    video.formatDescriptions.push_back(std::move(pictures));
    tracks.push_back(std::move(video));
    if (withSound && header.sampleRate > 0) {
        media::AssetTrack audio;
        audio.trackID = kAudioTrackID;
        audio.mediaType = media::MediaType::audio;
        audio.timeRange = {MediaTime::zero(), duration};
        auto sound = std::make_shared<media::FormatDescription>();
        sound->mediaType = media::MediaType::audio;
        sound->mediaSubtype = media::subtype::linearPCM;
        sound->codecName = "pcm_s16le";
        sound->sampleRate = header.sampleRate;
        sound->channelCount = header.channelCount;
        sound->sampleFormat = media::AudioSampleFormat::int16;
        audio.formatDescriptions.push_back(std::move(sound));
        tracks.push_back(std::move(audio));
    }
    return media::Asset::compose(source, duration, std::move(tracks), std::move(composed));
}

std::optional<EncodingError> decodeHelperFailure(const media::Asset& asset) {
    const auto* source = dynamic_cast<const HelperSource*>(asset.composedSource().get());
    return source ? source->failure() : std::nullopt;
}

}  // namespace fw

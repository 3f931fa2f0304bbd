#include "pipeline/AudioReaderOutput.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fw {

namespace {

using media::AudioSampleFormat;

// Maps the float PCM of an inner output to another channel count (stereo to
// mono as (L + R) / 2, mono to stereo by copying) and stores it in the asked
// sample format. The inner output already carries the gain.
class ChannelMappingOutput final : public media::AssetReaderOutput {
public:
    ChannelMappingOutput(std::shared_ptr<media::AssetReaderOutput> inner, int channels, AudioSampleFormat format)
        : inner_(std::move(inner)), channels_(channels) {
        auto description = std::make_shared<media::FormatDescription>(*inner_->outputFormat());
        description->channelCount = channels;
        description->channelNames =
            channels == 1 ? std::vector<std::string>{"FC"} : std::vector<std::string>{"FL", "FR"};
        description->sampleFormat = format;
        format_ = std::move(description);
    }

    void setWaitObserver(std::function<void(bool waiting)> observer) override {
        inner_->setWaitObserver(std::move(observer));
    }

    media::SampleBufferRef copyNextSampleBuffer() override {
        auto sample = inner_->copyNextSampleBuffer();
        if (!sample) return nullptr;
        const auto bytes = sample->data();
        const int innerChannels = inner_->outputFormat()->channelCount;
        const std::size_t frames = bytes.size() / (sizeof(float) * static_cast<std::size_t>(innerChannels));
        std::vector<float> in(frames * static_cast<std::size_t>(innerChannels));
        std::memcpy(in.data(), bytes.data(), in.size() * sizeof(float));

        const std::size_t outCount = frames * static_cast<std::size_t>(channels_);
        std::vector<float> mapped(outCount);
        if (channels_ == 1) {
            for (std::size_t i = 0; i < frames; ++i) mapped[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
        } else {
            for (std::size_t i = 0; i < frames; ++i) mapped[2 * i] = mapped[2 * i + 1] = in[i];
        }

        std::vector<std::uint8_t> out;
        if (format_->sampleFormat == AudioSampleFormat::float32) {
            out.resize(outCount * sizeof(float));
            std::memcpy(out.data(), mapped.data(), out.size());
        } else {
            std::vector<std::int16_t> words(outCount);
            for (std::size_t i = 0; i < outCount; ++i) {
                const float v = std::clamp(mapped[i] * 32768.0f, -32768.0f, 32767.0f);
                words[i] = static_cast<std::int16_t>(std::lrint(v));
            }
            out.resize(outCount * sizeof(std::int16_t));
            std::memcpy(out.data(), words.data(), out.size());
        }
        return media::SampleBuffer::makeData(std::move(out), sample->presentationTime(), sample->duration(), format_,
                                             static_cast<int>(frames));
    }

    const media::AssetTrack& track() const override { return inner_->track(); }
    media::FormatDescriptionRef outputFormat() const override { return format_; }

private:
    std::shared_ptr<media::AssetReaderOutput> inner_;
    int channels_;
    media::FormatDescriptionRef format_;
};

std::shared_ptr<media::AssetReaderOutput> addOutput(media::AssetReader& reader, const media::AssetTrack& track,
                                                    float gain, const media::AudioOutputSettings& settings) {
    if (gain == 1.0f) return reader.addAudioOutput(track, settings);
    return reader.addAudioMixOutput(track, gain, settings);
}

media::MediaTime toMediaTime(const MediaTime& time) {
    if (time.isPositiveInfinity()) return media::MediaTime::positiveInfinity();
    if (!time.isNumeric()) return media::MediaTime::invalid();
    return media::MediaTime(time.value(), time.timescale());
}

}  // namespace

std::shared_ptr<media::AssetReaderOutput> AudioReaderOutput::make(media::AssetReader& reader,
                                                                  const media::AssetTrack& track, float gain,
                                                                  media::AudioOutputSettings settings) {
    int sourceChannels = 0;
    if (!track.formatDescriptions.empty() && track.formatDescriptions.front())
        sourceChannels = track.formatDescriptions.front()->channelCount;
    const bool toMono = settings.channelCount == 1 && sourceChannels != 1;
    const bool monoToStereo = settings.channelCount == 2 && sourceChannels == 1;
    if (!toMono && !monoToStereo) return addOutput(reader, track, gain, settings);

    // The resampler's own matrix would scale both ways by 1/sqrt(2); read in
    // float at the channel count the mapping starts from instead.
    media::AudioOutputSettings inner = settings;
    inner.channelCount = toMono ? 2 : 1;
    inner.sampleFormat = AudioSampleFormat::float32;
    auto output = addOutput(reader, track, gain, inner);
    if (!output) return nullptr;
    return std::make_shared<ChannelMappingOutput>(std::move(output), *settings.channelCount, settings.sampleFormat);
}

media::TimeRange readerTimeRange(const TrimRange& trim) {
    const auto range = trim.timeRange();
    return {toMediaTime(range.start), toMediaTime(range.duration)};
}

}  // namespace fw

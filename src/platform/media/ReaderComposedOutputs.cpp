// The reader outputs of composed assets: each pulls its samples from a track
// reader of the asset's ComposedSource, opened on the first pull.

#include "platform/media/AssetReader_internal.h"
#include "platform/media/ComposedSource.h"

#include <functional>

namespace fw::media {

FormatDescriptionRef composedVideoFormat(const AssetTrack& track, const VideoOutputSettings& settings) {
    auto format = std::make_shared<FormatDescription>();
    format->mediaType = MediaType::video;
    format->mediaSubtype = settings.pixelFormat == PixelFormat::x420 ? subtype::x420 : subtype::bgra;
    format->width = static_cast<int>(track.naturalSize.width);
    format->height = static_cast<int>(track.naturalSize.height);
    format->pixelFormat = settings.pixelFormat;
    if (!track.formatDescriptions.empty() && track.formatDescriptions.front())
        format->color = track.formatDescriptions.front()->color;
    return format;
}

FormatDescriptionRef composedAudioFormat(const AssetTrack& track, const AudioOutputSettings& settings) {
    auto format = std::make_shared<FormatDescription>();
    const FormatDescription* stored =
        track.formatDescriptions.empty() ? nullptr : track.formatDescriptions.front().get();
    format->mediaType = MediaType::audio;
    format->mediaSubtype = subtype::linearPCM;
    format->codecName = "pcm";
    format->sampleRate = settings.sampleRate.value_or(stored ? stored->sampleRate : 0);
    format->channelCount = settings.channelCount.value_or(stored ? stored->channelCount : 0);
    format->sampleFormat = settings.sampleFormat;
    if (format->channelCount == 1)
        format->channelNames = {"FC"};
    else if (format->channelCount == 2)
        format->channelNames = {"FL", "FR"};
    else if (stored)
        format->channelNames = stored->channelNames;
    return format;
}

namespace detail {

namespace {

class ComposedOutput final : public ReaderOutputBase {
public:
    using Open = std::function<std::unique_ptr<ComposedTrackReader>(const TimeRange& range)>;

    ComposedOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track, FormatDescriptionRef format, Open open)
        : ReaderOutputBase(std::move(core), track), open_(std::move(open)) {
        outputFormat_ = std::move(format);
        // Nothing is demuxed for it: only its end counts towards completion.
        wantsPackets = true;
    }

protected:
    SampleBufferRef produce() override {
        if (!reader_) {
            TimeRange range;
            {
                std::lock_guard lock(core_->mutex);
                range = core_->range;
            }
            reader_ = open_(range);
            if (!reader_) return nullptr;
        }
        return reader_->next();
    }

private:
    Open open_;
    std::unique_ptr<ComposedTrackReader> reader_;
};

}  // namespace

std::shared_ptr<ReaderOutputBase> makeComposedVideoOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track,
                                                          VideoOutputSettings settings) {
    std::shared_ptr<const ComposedSource> source = core->asset->composedSource();
    return std::make_shared<ComposedOutput>(
        std::move(core), track, composedVideoFormat(track, settings),
        [source, track, settings](const TimeRange& range) { return source->openVideo(track, settings, range); });
}

std::shared_ptr<ReaderOutputBase> makeComposedAudioOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track,
                                                          float gain, AudioOutputSettings settings) {
    std::shared_ptr<const ComposedSource> source = core->asset->composedSource();
    return std::make_shared<ComposedOutput>(std::move(core), track, composedAudioFormat(track, settings),
                                            [source, track, gain, settings](const TimeRange& range) {
                                                return source->openAudio(track, gain, settings, range);
                                            });
}

}  // namespace detail

}  // namespace fw::media

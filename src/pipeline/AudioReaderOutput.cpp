#include "pipeline/AudioReaderOutput.h"

namespace fw {

namespace {

media::MediaTime toMediaTime(const MediaTime& time) {
    if (time.isPositiveInfinity()) return media::MediaTime::positiveInfinity();
    if (!time.isNumeric()) return media::MediaTime::invalid();
    return media::MediaTime(time.value(), time.timescale());
}

}  // namespace

std::shared_ptr<media::AssetReaderOutput> AudioReaderOutput::make(media::AssetReader& reader,
                                                                  const media::AssetTrack& track, float gain,
                                                                  media::AudioOutputSettings settings) {
    if (gain == 1.0f) return reader.addAudioOutput(track, settings);
    return reader.addAudioMixOutput(track, gain, settings);
}

media::TimeRange readerTimeRange(const TrimRange& trim) {
    const auto range = trim.timeRange();
    return {toMediaTime(range.start), toMediaTime(range.duration)};
}

}  // namespace fw

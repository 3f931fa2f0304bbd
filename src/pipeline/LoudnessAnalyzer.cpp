#include "pipeline/LoudnessAnalyzer.h"

#include "model/EncodingError.h"
#include "pipeline/AudioReaderOutput.h"
#include "platform/media/Asset.h"
#include "platform/media/AssetReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace fw {

LoudnessAnalyzer::Measurement LoudnessAnalyzer::measure(const std::filesystem::path& file,
                                                        const std::optional<TrimRange>& trim,
                                                        LoudnessMeter::Measurements what,
                                                        std::optional<int> outputChannels, std::stop_token stop) {
    auto asset = media::Asset::open(file);
    auto tracks = asset->tracks(media::MediaType::audio);
    if (tracks.empty()) return {};
    media::AssetReader reader(asset);
    if (trim) reader.setTimeRange(readerTimeRange(*trim));
    // At unity gain: the gain scales the level, never the mapping.
    media::AudioOutputSettings settings;
    settings.channelCount = outputChannels;
    auto output = AudioReaderOutput::make(reader, tracks.front(), 1.0f, settings);
    if (!output || !reader.startReading()) return {};
    std::stop_callback onStop(stop, [&reader] { reader.cancelReading(); });

    const auto format = output->outputFormat();
    const int channels = std::max(format->channelCount, 1);
    // Weighted by what each channel carries: the same count comes in several
    // layouts (3.0 has a centre where 2.1 has LFE).
    auto weights = static_cast<int>(format->channelNames.size()) == channels
                       ? LoudnessMeter::channelWeights(format->channelNames)
                       : LoudnessMeter::defaultChannelWeights(channels);
    LoudnessMeter meter(std::move(weights), format->sampleRate, what);
    std::vector<float> aligned;
    while (auto sample = output->copyNextSampleBuffer()) {
        const auto bytes = sample->data();
        const std::size_t count = bytes.size() / sizeof(float);
        if (reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(float) == 0) {
            meter.add(reinterpret_cast<const float*>(bytes.data()), count);
        } else {
            aligned.resize(count);
            std::memcpy(aligned.data(), bytes.data(), count * sizeof(float));
            meter.add(aligned.data(), count);
        }
    }
    if (stop.stop_requested()) throw EncodingError::cancelled();
    return {meter.integratedLUFS(), meter.truePeakDb()};
}

std::optional<double> LoudnessAnalyzer::integratedLUFS(const std::filesystem::path& file,
                                                       const std::optional<TrimRange>& trim,
                                                       std::optional<int> outputChannels, std::stop_token stop) {
    return measure(file, trim, LoudnessMeter::Measurements::loudness, outputChannels, std::move(stop)).integratedLUFS;
}

std::optional<double> LoudnessAnalyzer::truePeakDb(const std::filesystem::path& file,
                                                   const std::optional<TrimRange>& trim,
                                                   std::optional<int> outputChannels, std::stop_token stop) {
    return measure(file, trim, LoudnessMeter::Measurements::truePeak, outputChannels, std::move(stop)).truePeakDb;
}

float LoudnessAnalyzer::gain(double fromLUFS, double targetLUFS, double maxGainDB) {
    const double change = targetLUFS - fromLUFS;
    if (!std::isfinite(change)) return 1.0f;
    const double limit = std::isnan(maxGainDB) ? 0.0 : std::fabs(maxGainDB);
    return static_cast<float>(std::pow(10.0, std::clamp(change, -limit, limit) / 20.0));
}

}  // namespace fw

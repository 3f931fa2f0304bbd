#pragma once
// File-level loudness measurements of a source's first audio track, and the
// gain that brings a measured loudness to a target.
//
// The samples are read at the track's own rate (the meter designs its filters
// for any rate). Measured for an output of a given channel count, they are
// read through the encoders' own channel mapping (AudioReaderOutput: mono
// copied to stereo, stereo mixed to mono, 5.1 folded to stereo), so the gain
// fits the signal that will be written; otherwise at the track's own channel
// count. Channels are weighted by the speaker each one feeds
// (LoudnessMeter::channelWeights).
// With a trim, only the trimmed part of the source is measured, so that the
// gain fits what the output will hold.
//
// Failures: opening the file throws media::MediaError unchanged. No audio
// track, an output the reader cannot add or a reader that does not start give
// nullopt; a read failure part-way is not reported (what was read counts).
// A stop request throws EncodingError cancelled.
// Thread-safety: stateless; calls may run concurrently. Each call blocks
// while it decodes.

#include "model/ExportConfiguration.h"
#include "pipeline/LoudnessMeter.h"

#include <filesystem>
#include <optional>
#include <stop_token>

namespace fw {

class LoudnessAnalyzer {
public:
    struct Measurement {
        std::optional<double> integratedLUFS;
        std::optional<double> truePeakDb;
    };

    // outputChannels: the channel count of the output the measurement is for
    // (the encoders write 1 or 2); nullopt measures the track's own channels.

    // Integrated loudness in LUFS; nullopt also for silence or less than 400 ms.
    static std::optional<double> integratedLUFS(const std::filesystem::path& file,
                                                const std::optional<TrimRange>& trim = std::nullopt,
                                                std::optional<int> outputChannels = std::nullopt,
                                                std::stop_token stop = {});
    // True peak in dBTP; nullopt also when every sample is zero.
    static std::optional<double> truePeakDb(const std::filesystem::path& file,
                                            const std::optional<TrimRange>& trim = std::nullopt,
                                            std::optional<int> outputChannels = std::nullopt,
                                            std::stop_token stop = {});
    // Both in one pass over the file (or only what `what` asks for).
    static Measurement measure(const std::filesystem::path& file, const std::optional<TrimRange>& trim,
                               LoudnessMeter::Measurements what, std::optional<int> outputChannels = std::nullopt,
                               std::stop_token stop = {});

    // 10^(d / 20) for d = target − measured limited to ±maxGainDB; 1.0 when
    // the measured value is not finite.
    static float gain(double fromLUFS, double targetLUFS, double maxGainDB);
};

}  // namespace fw

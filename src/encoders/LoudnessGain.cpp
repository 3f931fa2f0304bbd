#include "encoders/LoudnessGain.h"

#include "model/EncodingError.h"
#include "pipeline/LoudnessAnalyzer.h"

#include <cmath>

namespace fw {

float loudnessGain(const std::filesystem::path& source, const std::optional<TrimRange>& trim,
                   const AudioSettings& audio, std::stop_token stop) {
    if (!audio.normalizeLoudness && !audio.limitTruePeak) return 1.0f;
    using What = LoudnessMeter::Measurements;
    const What what = audio.normalizeLoudness && audio.limitTruePeak ? What::loudnessAndTruePeak
                      : audio.normalizeLoudness                      ? What::loudness
                                                                     : What::truePeak;
    LoudnessAnalyzer::Measurement measured;
    try {
        measured = LoudnessAnalyzer::measure(source, trim, what, audio.downmixMono ? 1 : 2, stop);
    } catch (const EncodingError& error) {
        if (error.kind() == EncodingError::Kind::cancelled) throw;
    } catch (const std::exception&) {
        // Unmeasurable sound is left as it is.
    }
    float gain = 1.0f;
    if (audio.normalizeLoudness && measured.integratedLUFS)
        gain = LoudnessAnalyzer::gain(*measured.integratedLUFS, audio.targetLUFS, kLargestLoudnessChangeDb);
    if (audio.limitTruePeak && measured.truePeakDb && std::isfinite(*measured.truePeakDb)) {
        const auto ceiling = static_cast<float>(std::pow(10.0, (audio.truePeakCeilingDb - *measured.truePeakDb) / 20));
        if (gain > ceiling) gain = ceiling;
    }
    return gain;
}

}  // namespace fw

#pragma once
// The gain an output's sound is scaled by: toward the loudness target when
// normalising, and held under the true-peak ceiling when limiting. Measured
// on the source, within the trim, as the encoders will write it (one channel
// when mixing down to mono, else two: a mono source copied to both channels
// is measured as the stereo it becomes, so it is not left 3 LU hot).
// Thread-safety: stateless; blocks while it decodes.

#include "model/ExportConfiguration.h"
#include "pipeline/AudioSettings.h"

#include <filesystem>
#include <optional>
#include <stop_token>

namespace fw {

// The largest change normalising makes, either way.
inline constexpr double kLargestLoudnessChangeDb = 24;

// 1.0 unless audio.normalizeLoudness or audio.limitTruePeak. A source that
// cannot be measured (no sound, silence, a file the media layer refuses)
// keeps 1.0, or whatever the other measurement gives; the ceiling only ever
// lowers the gain. Throws EncodingError::cancelled after a stop request.
float loudnessGain(const std::filesystem::path& source, const std::optional<TrimRange>& trim,
                   const AudioSettings& audio, std::stop_token stop = {});

}  // namespace fw

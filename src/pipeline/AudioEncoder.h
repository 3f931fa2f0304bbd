#pragma once
// Re-encodes the first audio track of a source into an M4A file with AAC,
// honouring a trim, the output sample rate, a mono downmix and a linear gain.
//
// The output is written under a temporary name in the destination's folder
// and renamed over the destination only when everything succeeded; after a
// failure or a cancellation nothing new is left behind and an existing
// destination file is untouched.
//
// Thread-safety: a plain value; encode() may run on several threads at once
// for different destinations. Callbacks may be called from any thread.

#include "model/EncodeResult.h"
#include "model/ExportConfiguration.h"
#include "platform/core/MediaUnits.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>

namespace fw {

struct AudioEncoder {
    // Linear gain applied while decoding; 1.0 leaves the level unchanged.
    float audioGain = 1.0f;
    // Write one channel ((L + R) / 2) instead of two.
    bool downmixMono = false;
    // Output sample rate in Hz; 0 or less means 48000. Snapped to the nearest
    // rate the AAC encoder supports.
    double sampleRate = kDefaultSampleRate;
    // In and out points in seconds; nullopt encodes the whole file.
    std::optional<TrimRange> trim;

    static constexpr std::int64_t kStereoBitRate = 256000;
    static constexpr std::int64_t kMonoBitRate = 160000;

    // Called with the fraction done (0…1): from the pump thread ("audio.pump")
    // while samples move, and once with 1.0 on the calling thread after success.
    using Progress = std::function<void(double fraction)>;

    // Blocks until the output is complete. Throws:
    //   media::MediaError         the source cannot be opened or read at all;
    //   EncodingError noAudioTrack, cannotStartReading, readerFailed,
    //                 writerFailed (with the reader's or writer's detail, or
    //                 "could not append audio sample"; destinationIsSource
    //                 when the destination is the source itself), cancelled
    //                 (stop requested).
    // The result says how much of the sound stands in as silence for damage
    // in the source.
    EncodeResult encode(const std::filesystem::path& source, const std::filesystem::path& destination,
                        const Progress& progress = {}, std::stop_token stop = {}) const;

    // The AAC rate used for `requested`: 48000 for 0 or less, else the
    // nearest supported rate (the higher one on a tie).
    static int aacSampleRate(double requested);
};

}  // namespace fw

#pragma once
// The one way an encoder reads a source's audio: decoded, interleaved linear
// PCM with a linear gain, at the rate, channel count and sample format it
// asks for.
//
// Level rules: the gain multiplies every sample in float (no clipping in
// float; 16-bit output saturates). Channels are mixed as the media layer
// mixes them everywhere (AssetReader.h): fewer with headroom, so sound below
// full scale in every channel stays below it (stereo to mono is (L + R) / 2),
// and one channel read as two is copied to both at the same level.

#include "model/ExportConfiguration.h"
#include "platform/media/AssetReader.h"

#include <memory>

namespace fw {

class AudioReaderOutput {
public:
    // Adds an output for `track` to `reader` and returns it. A gain of exactly
    // 1.0 reads the track plainly; any other gain reads through the reader's
    // gain mix. Unset settings keep the track's own rate or channel count.
    // nullptr when the reader cannot add it (reading started, not an audio
    // track of the reader's asset, no decoder).
    // REQUIRES: reader not started.
    static std::shared_ptr<media::AssetReaderOutput> make(media::AssetReader& reader, const media::AssetTrack& track,
                                                          float gain, media::AudioOutputSettings settings = {});
};

// The reader range of a trim (start at the seconds timescale, open-ended when
// the trim has no end after its start), in the media layer's time type.
media::TimeRange readerTimeRange(const TrimRange& trim);

}  // namespace fw

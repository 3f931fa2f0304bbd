#pragma once
// Assets whose samples come from our own code rather than from a file: a
// camera-RAW clip decoded by a plug-in, several files played one after
// another. Such an asset (Asset::compose) is read through the same
// AssetReader and outputs as a file, so whoever reads it needs no code of its
// own for it.
//
// A reader asks the source for one ComposedTrackReader per output, on the
// output's first pull, with the reader's time range; the track reader then
// runs on that output's pulling thread only. What a track reader throws
// (std::exception) fails the reader with its message, after which the output
// ends as after a file's read failure. Passthrough outputs are not offered:
// composed tracks have no stored samples.
//
// Thread-safety: a ComposedSource is shared by every reader of its asset and
// must allow open calls from several threads at once; each track reader is
// used by one thread at a time.

#include "platform/media/AssetReader.h"
#include "platform/media/MediaTime.h"
#include "platform/media/SampleBuffer.h"

#include <memory>

namespace fw::media {

// What a composed track's outputs produce: 'BGRA' or 'x420' pictures at the
// track's natural size; 'lpcm' at the rate and channel count asked for, else
// the track's own (its first format description). Sources stamp their samples
// with the same description.
FormatDescriptionRef composedVideoFormat(const AssetTrack& track, const VideoOutputSettings& settings);
FormatDescriptionRef composedAudioFormat(const AssetTrack& track, const AudioOutputSettings& settings);

class ComposedTrackReader {
public:
    virtual ~ComposedTrackReader() = default;
    // The next sample in presentation order within the range, or nullptr at
    // its end. Throws std::exception when the source cannot go on.
    virtual SampleBufferRef next() = 0;
};

class ComposedSource {
public:
    virtual ~ComposedSource() = default;
    // Decoded pictures of `track` (one of the asset's) in settings.pixelFormat
    // (bgra8 sources may hand out bgra8 pictures for an x420 request: every
    // picture consumer takes both). Throws std::exception when the track
    // cannot be read.
    virtual std::unique_ptr<ComposedTrackReader> openVideo(const AssetTrack& track, const VideoOutputSettings& settings,
                                                           const TimeRange& range) const = 0;
    // Linear PCM of `track`, interleaved, with `gain` applied, at the rate,
    // channel count and sample format asked for (unset: the track's own).
    virtual std::unique_ptr<ComposedTrackReader> openAudio(const AssetTrack& track, float gain,
                                                           const AudioOutputSettings& settings,
                                                           const TimeRange& range) const = 0;
    // Called by AssetReader::cancelReading (and a reader's destruction) of any
    // reader of the asset, from any thread: a source whose reads can block
    // (on another process, say) stops them here. Nothing by default.
    virtual void cancelReading() const {}
    // Whether each track's samples come whatever is pulled from the others.
    // False for a stream that hands out one track only once another is read
    // whole: its reader must not hold that other back until the first
    // delivers (AssetWriterInput::expectFirstSample).
    virtual bool readsTracksSideBySide() const { return true; }
};

}  // namespace fw::media

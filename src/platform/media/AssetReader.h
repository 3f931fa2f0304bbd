#pragma once
// Reads the samples of an Asset's tracks within a time range, through outputs
// that may be pulled concurrently, one thread per output.
//
// Use: make the reader, optionally set the time range, add outputs, call
// startReading(), then pull each output with copyNextSampleBuffer() until it
// returns nullptr. After that the reader's status tells why: completed (end of
// range), failed (errorDescription() says what) or cancelled.
//
// Threads: every call may come from any thread. One output must not be pulled
// from two threads at once (a second puller waits for the first). Demuxing is
// shared: whichever puller finds its queue empty reads the file and files each
// packet with the output it belongs to. Memory stays bounded by a few seconds
// of source: once an output has been pulled, a pull of another one waits
// rather than read on while the first holds more than a few seconds (and
// megabytes) queued, as where one track ends or pauses and the other runs on;
// the pull's wait observer is told meanwhile. (In an MP4, QuickTime, Matroska
// or WebM file it reads its own track's next packet ahead instead, from a
// second reading of the file.) So an output once pulled must be
// pulled on until it ends (or the reader is cancelled, or the output goes),
// and a pump that also waits on the others elsewhere (a writer pacing the
// tracks) must let them go while its pull waits. Packets of an output not yet
// pulled accumulate in its queue (compressed data only), as for a track
// pumped after another.
// Decoding happens on the pulling thread, with the decoder's own threads.
// cancelReading() may come from any thread at any time: every pending and
// later pull returns nullptr at once.

#include "platform/media/Asset.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/SampleBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace fw::media {

namespace detail {
struct ReaderCore;
}

struct VideoOutputSettings {
    // bgra8, x420, i420 or x422 (rgbaHalf is not a decode target). Composed
    // assets hand out bgra8 for an i420 or x422 request. i420 and x422
    // pictures of a full-range source at their own depth stay full range.
    PixelFormat pixelFormat = PixelFormat::bgra8;
    // The decoder's threads; 0: as many as the machine has cores. Encodes
    // running side by side each take their share instead of all of them.
    int threads = 0;
};

struct AudioOutputSettings {
    // Unset: the track's own rate / channel count. Another channel count is
    // mixed: down with headroom, so that sound below full scale in every
    // channel stays below it (stereo to mono as (L + R) / 2), and one channel
    // up is copied to each at its own level (ChannelMixing_internal.h).
    std::optional<double> sampleRate;
    std::optional<int> channelCount;
    AudioSampleFormat sampleFormat = AudioSampleFormat::float32;
};

class AssetReaderOutput {
public:
    virtual ~AssetReaderOutput() = default;
    // The next sample in presentation order (decode order for passthrough),
    // or nullptr at the end of the range, after a failure and after
    // cancelReading(). Blocks while another thread demuxes for it.
    virtual SampleBufferRef copyNextSampleBuffer() = 0;
    virtual const AssetTrack& track() const = 0;
    // What the produced samples carry ('BGRA', 'x420', 'lpcm', or the stored
    // description for passthrough).
    virtual FormatDescriptionRef outputFormat() const = 0;
    // Told when a pull starts to wait for the reader's other outputs to take
    // what is queued for them (true), and once a packet has come for it or
    // the pull returns (false): meanwhile this output's next sample lies
    // beyond what the others have been handed. A pump passes it on to its
    // writer input (AssetWriterInput::setSourceWaiting). Called with the
    // reader's lock held, from whichever thread reads: it must not call into
    // the reader. Set before the first pull; an empty one stops it. Outputs
    // that never wait so ignore it.
    virtual void setWaitObserver(std::function<void(bool waiting)> observer) { (void)observer; }
};

// A failed read that is the source file's as a whole, which no damaged tail
// excuses: the file ended (cleanly or not) short of the length it states for
// the tracks being read by more than sourceTailToleranceSeconds, an MP4 in
// fragments was cut inside one, or the file was written, shortened or grown in
// place while it was read. Tracks not read (a chapter track, a caption) do not
// count. Sources whose length is known only by reading
// them (MPEG-TS, raw streams, a WAV whose sizes were never filled in) never
// end early by this measure.
struct SourceFault {
    enum class Kind { endedEarly, changed };
    Kind kind = Kind::endedEarly;
    // endedEarly: how far the file's samples reached and how far they should
    // have, in seconds from the range start.
    double reachedSeconds = 0;
    double expectedSeconds = 0;
};

// Thrown by a composed track reader (ComposedSource.h) when a file it plays
// failed so: the composed asset's reader then reports the same fault.
class SourceFaultError : public std::runtime_error {
public:
    SourceFaultError(const std::string& message, SourceFault fault) : std::runtime_error(message), fault_(fault) {}
    const SourceFault& fault() const noexcept { return fault_; }

private:
    SourceFault fault_;
};

class AssetReader {
public:
    enum class Status { unknown, reading, completed, failed, cancelled };

    // Opens the asset's file for reading. Throws MediaError when it cannot.
    explicit AssetReader(AssetRef asset);
    ~AssetReader();
    AssetReader(const AssetReader&) = delete;
    AssetReader& operator=(const AssetReader&) = delete;

    const AssetRef& asset() const;

    // Before startReading only. Samples overlapping [start, end) are read:
    // pictures whose display interval reaches into the range, sound trimmed to
    // the range; passthrough packets of intra-only codecs that reach into the
    // range, of other codecs from the key frame before the start.
    void setTimeRange(const TimeRange& range);
    TimeRange timeRange() const;

    // Outputs; nullptr when it cannot be added: reading has started, the track
    // is not the asset's or of the wrong media type, or no decoder exists.
    // Decoded pictures in the given pixel format.
    std::shared_ptr<AssetReaderOutput> addVideoOutput(const AssetTrack& track, VideoOutputSettings settings = {});
    // Decoded linear PCM, interleaved.
    std::shared_ptr<AssetReaderOutput> addAudioOutput(const AssetTrack& track, AudioOutputSettings settings = {});
    // Decoded linear PCM with a linear gain applied to every sample (no
    // clipping in float; int16 output saturates).
    std::shared_ptr<AssetReaderOutput> addAudioMixOutput(const AssetTrack& track, float gain,
                                                         AudioOutputSettings settings = {});
    // The stored samples as they are, without decoding.
    std::shared_ptr<AssetReaderOutput> addPassthroughOutput(const AssetTrack& track);

    // Seeks to the range start and lets outputs be pulled. False (status
    // failed, errorDescription set) when it cannot start; no outputs is an error.
    bool startReading();
    void cancelReading();
    Status status() const;
    // Set when status is failed.
    std::optional<std::string> errorDescription() const;
    // When status is failed: the track whose samples could not be read (its
    // decoder gave up), or none when the file itself could be read no
    // further (damaged or truncated there). Either way every output ends.
    std::optional<int> failedTrackID() const;
    // Seconds of decoded sound, over every audio output so far, that stand in
    // as silence for packets the decoder refused (damage in the file).
    double concealedSoundSeconds() const;
    // Seconds of decoded sound, over every audio output so far, dropped where
    // the stored times stepped back over sound already given out (damage in
    // the file; not where a recording joined on begins with what the one
    // before ended with).
    double leftOutSoundSeconds() const;
    // Over every video output so far: the pictures given out, and those left
    // out for damage in the file: packets the decoder refused or, where each
    // holds a picture, let go without a word by the end of the track, and
    // pictures whose stored times fell back behind (or, but for a key frame,
    // on) a picture given out before them. Pictures a demuxer skips with a
    // damaged stretch of the file are not seen, and not counted.
    struct PictureTally {
        std::int64_t delivered = 0;
        std::int64_t damaged = 0;
    };
    PictureTally pictureTally() const;
    // When status is failed because of the source file as a whole (see
    // SourceFault); errorDescription() then says which file and what.
    std::optional<SourceFault> sourceFault() const;
    // The most bytes of stored packets queued for the outputs at once so far.
    std::size_t mostQueuedBytes() const;

private:
    std::shared_ptr<detail::ReaderCore> core_;
};

}  // namespace fw::media

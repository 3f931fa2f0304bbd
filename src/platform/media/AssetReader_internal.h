#pragma once
// Internal to fw_media: the shared demuxer behind AssetReader and the base of
// its outputs.

#include "platform/media/AssetReader.h"
#include "platform/media/FFmpeg_internal.h"
#include "platform/media/TrackTimeline.h"

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace fw::media::detail {

class ReaderOutputBase;

// Whether the container, joining no recordings, states each packet's time
// (MP4, QuickTime, Matroska, WebM, FLV): a pause in a track then lies between
// the times of the packets around it. Elsewhere (AVI) sound packets may be
// timed by counting them.
bool statesExactTimes(const AVInputFormat& format);

enum class PacketResult { packet, endOfStream, stop };

struct ReaderCore {
    ReaderCore() = default;
    ~ReaderCore();
    ReaderCore(const ReaderCore&) = delete;
    ReaderCore& operator=(const ReaderCore&) = delete;

    AssetRef asset;
    // Null for a composed asset, which has no file to demux.
    FormatInputPtr format;
    TimeRange range = TimeRange::everything();
    // Where the asset's zero lies on the stored timeline (AV_TIME_BASE units).
    std::int64_t startTime = 0;

    mutable std::mutex mutex;
    std::condition_variable changed;
    AssetReader::Status status = AssetReader::Status::unknown;
    std::optional<std::string> error;
    // The track whose samples failed, when the failure was not the file's.
    std::optional<int> failedTrackID;
    // AssetReader::concealedSoundSeconds.
    double concealedSoundSeconds = 0;
    std::optional<SourceFault> sourceFault;
    // Furthest end of any packet demuxed for a track an output reads, on the
    // asset's timeline (AV_TIME_BASE); AV_NOPTS_VALUE before the first.
    std::int64_t reachedMicros = AV_NOPTS_VALUE;
    // The file as it was opened for reading (a descriptor of our own on it,
    // -1 for a composed asset): its size and modification time at the end of
    // the read tell whether it was changed in place meanwhile. A file put in
    // its place by a rename is not this one and changes nothing.
    int sourceDescriptor = -1;
    struct stat sourceOpened {};
    bool demuxing = false;
    bool endOfFile = false;
    std::atomic<bool> cancelled{false};
    // What each stored time means; made when reading starts.
    std::unique_ptr<Timelines> timelines;
    // Registered by each output while it exists (the caller owns the outputs).
    std::vector<ReaderOutputBase*> outputs;

    // Waits for the next packet of the output's stream (demuxing when nobody
    // else is). stop: cancelled. After a failure the packets already read
    // still come out, then endOfStream, so decoders drain what they hold.
    PacketResult nextPacket(ReaderOutputBase& output, PacketPtr& packet);
    // Takes a packet just read (mutex held).
    void fileLocked(PacketPtr packet);
    // Sets up the timelines for the outputs added (mutex held, when reading starts).
    void startTimelinesLocked();
    // Hands a packet, at its place in time, to the outputs of its stream (mutex held).
    void deliverLocked(PacketPtr packet);
    // Positions the demuxer for the range start (mutex held, before anyone pulls).
    void seekToRangeStartLocked();
    // Records the first failure, and the track it came from when it was that
    // track's alone; wakes every puller.
    void failReading(const std::string& message, std::optional<int> trackID = std::nullopt,
                     std::optional<SourceFault> fault = std::nullopt);
    // A failure of the file itself (mutex held): a source fault too when the
    // read got no further than the tail tolerance allows.
    void failFileLocked(std::string message);
    // The demuxer met the end of the file (mutex held). A file that ends short
    // of the length its header gives fails the read.
    void endOfFileLocked();
    // The read is over (mutex held): a file changed in place meanwhile fails it.
    void checkUnchangedLocked();
    // The output has returned its last sample.
    void outputFinished(ReaderOutputBase& output, bool normalEnd);
    bool shouldStop() const;
};

class ReaderOutputBase : public AssetReaderOutput {
public:
    ReaderOutputBase(std::shared_ptr<ReaderCore> core, AssetTrack track)
        : core_(std::move(core)),
          track_(std::move(track)),
          startOffset_(core_->format ? timelineStart(*core_->format, *core_->format->streams[track_.trackID]) : 0) {}
    ~ReaderOutputBase() override;
    ReaderOutputBase(const ReaderOutputBase&) = delete;
    ReaderOutputBase& operator=(const ReaderOutputBase&) = delete;

    SampleBufferRef copyNextSampleBuffer() final;
    const AssetTrack& track() const final { return track_; }
    FormatDescriptionRef outputFormat() const override { return outputFormat_; }

    // Guarded by the core's mutex.
    std::deque<PacketPtr> queue;
    bool wantsPackets = true;

protected:
    // The next sample, or nullptr at the end (or when the core stops).
    virtual SampleBufferRef produce() = 0;
    // No more packets are wanted (the range end was passed).
    void stopPackets();
    const AVStream& stream() const { return *core_->format->streams[track_.trackID]; }
    // A stored timestamp of the track on the asset's timeline; invalid for AV_NOPTS_VALUE.
    MediaTime assetTime(std::int64_t timestamp) const {
        if (timestamp == AV_NOPTS_VALUE) return MediaTime::invalid();
        return toMediaTime(timestamp - startOffset_, stream().time_base);
    }

    std::shared_ptr<ReaderCore> core_;
    AssetTrack track_;
    // The asset's zero in the stream's time base.
    std::int64_t startOffset_;
    FormatDescriptionRef outputFormat_;

private:
    std::mutex pullMutex_;
    bool finished_ = false;
};

std::shared_ptr<ReaderOutputBase> makeVideoOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track,
                                                  VideoOutputSettings settings);
std::shared_ptr<ReaderOutputBase> makeAudioOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track, float gain,
                                                  AudioOutputSettings settings);
// Outputs of a composed asset (core->format is null): samples from its ComposedSource.
std::shared_ptr<ReaderOutputBase> makeComposedVideoOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track,
                                                          VideoOutputSettings settings);
std::shared_ptr<ReaderOutputBase> makeComposedAudioOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track,
                                                          float gain, AudioOutputSettings settings);
std::shared_ptr<ReaderOutputBase> makePassthroughOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track);

}  // namespace fw::media::detail

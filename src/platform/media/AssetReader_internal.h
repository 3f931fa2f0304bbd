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
#include <functional>
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

// How much the reader queues for an output that is being pulled before the
// pulls of the others wait for it: more than both of these. The seconds leave
// room for what an encoder and the writer's lead keep apart; the bytes let a
// small track (sound) queue for as long as the pictures pause.
inline constexpr std::int64_t kQueuedMicros = 4 * AV_TIME_BASE;
inline constexpr std::size_t kQueuedBytes = 4 << 20;

// The packets read for one output and not yet pulled.
class PacketQueue {
public:
    bool empty() const { return entries_.empty(); }
    std::size_t bytes() const { return bytes_; }
    // `micros`: the packet's time (any clock, AV_NOPTS_VALUE when it has none).
    void push(PacketPtr packet, std::int64_t micros);
    PacketPtr pop();
    void clear();
    // Whether it holds more than kQueuedBytes spanning more than kQueuedMicros
    // (or of times unknown).
    bool full() const;

private:
    struct Entry {
        PacketPtr packet;
        std::int64_t micros;
    };
    std::deque<Entry> entries_;
    std::size_t bytes_ = 0;
};

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
    // AssetReader::concealedSoundSeconds and leftOutSoundSeconds.
    double concealedSoundSeconds = 0;
    double leftOutSoundSeconds = 0;
    // AssetReader::pictureTally, counted by the video outputs as they go.
    std::atomic<std::int64_t> picturesDelivered{0};
    std::atomic<std::int64_t> picturesDamaged{0};
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
    // An MP4 in fragments, and per stream the furthest decode time read in
    // the file's order (see keepSampleBehind).
    bool inFragments = false;
    std::vector<std::int64_t> furthestRead;
    std::atomic<bool> cancelled{false};
    // What each stored time means; made when reading starts.
    std::unique_ptr<Timelines> timelines;
    // Registered by each output while it exists (the caller owns the outputs).
    std::vector<ReaderOutputBase*> outputs;
    // What the outputs' queues hold together, and the most they held.
    std::size_t queuedBytes = 0;
    std::size_t mostQueuedBytes = 0;
    // Pulls waiting for another output's queue to go down.
    int waitingForRoom = 0;
    // Where in the file another track's picture or sound lies, and its time
    // (AV_TIME_BASE, the asset's timeline).
    struct PlacedSample {
        std::int64_t pos;
        std::int64_t at;
    };
    // Per stream of an MP4, QuickTime, Matroska or WebM file, whose packets
    // state their own times: a second reading of the file for the stream alone, which
    // hands a pull its track's next packet where reading on in the file's
    // order would pile up the others' (the file's own reading then passes
    // over it), or tells that the track has ended.
    struct StreamAhead {
        FormatInputPtr format;                    // opened on first use
        bool failed = false;                      // it could not be read: pulls wait instead
        bool ended = false;                       // no packet of the stream follows queuedDts
        std::int64_t aheadDts = AV_NOPTS_VALUE;   // decode time the timeline gave the last packet it handed out
        std::int64_t queuedDts = AV_NOPTS_VALUE;  // ... of the last queued for the stream, either way
        // Where the last packet queued for the stream lies in the file, and
        // where it ends (AV_TIME_BASE, the asset's timeline).
        std::int64_t queuedPos = -1;
        std::int64_t queuedEnd = AV_NOPTS_VALUE;
        // The other tracks' samples the second reading came across (where it
        // reads them), in the file's order: from the last before queuedPos,
        // and of those between two of the stream's packets the first and last.
        std::deque<PlacedSample> othersSeen;
        std::int64_t readPos = -1;  // the stream's packet it read last
        // Its next packets, read but not yet handed out: the track's timeline
        // judges each packet seeing those after it. How their reading ended
        // (0: it did not).
        std::deque<PacketPtr> peeked;
        int peekEnd = 0;
        std::int64_t furthestRead = AV_NOPTS_VALUE;
        // The stored decode time and place of packets handed out whose time
        // the timeline changed: their stored time alone does not tell the
        // file's own reading that they went out.
        std::deque<std::pair<std::int64_t, std::int64_t>> moved;
    };
    std::vector<StreamAhead> readAheads;
    bool lookingAhead = false;  // a pull reads ahead, without the lock

    // Waits for the next packet of the output's stream (demuxing when nobody
    // else is, and no other output being pulled has a full queue). stop:
    // cancelled. After a failure the packets already read still come out,
    // then endOfStream, so decoders drain what they hold.
    PacketResult nextPacket(ReaderOutputBase& output, PacketPtr& packet);
    // Whether another output that is being pulled holds a full queue: one
    // more packet read for it would pile up (mutex held).
    bool othersFullLocked(const ReaderOutputBase& output) const;
    // The output's queue, kept in the totals (mutex held).
    void queueLocked(ReaderOutputBase& output, PacketPtr packet);
    PacketPtr dequeueLocked(ReaderOutputBase& output);
    void clearQueueLocked(ReaderOutputBase& output);
    // Whether the output's track may be read ahead (mutex held).
    bool mayLookAheadLocked(const ReaderOutputBase& output) const;
    // Whether reading ahead found that the output's track has no more packets.
    bool trackEndedLocked(const ReaderOutputBase& output) const;
    // Whether a packet just read in the file's order was handed out ahead.
    bool readAheadAlreadyLocked(const AVPacket& packet);
    // Where the other tracks would have the stream's packet stored at byte
    // `pos` lie, by their samples stored around it (those the second reading
    // came across, or its index): as far from them as the stream's last packet
    // queued lay from those around it (writers interleave by time, and a real
    // pause moves a track and its place in the file alike). Unknown where
    // neither tells (mutex held, by the one reading ahead).
    OthersBeside othersBesideAheadLocked(std::size_t index, std::int64_t pos) const;
    // Reads the output's track's next packet ahead, without the lock, and
    // queues it (REQUIRES: no one else reads ahead).
    void lookAheadLocked(std::unique_lock<std::mutex>& lock, const ReaderOutputBase& output);
    // The stream's next packet after decode time `after` (none: its first in
    // the range) in the second reading; a negative AVERROR at its end or failure.
    int readAhead(std::size_t index, std::int64_t after, PacketPtr& packet);
    // Takes a packet just read (mutex held).
    void fileLocked(PacketPtr packet);
    // In an MP4 in fragments, the demuxer marks a sample whose decode time
    // lies behind one read before it in its track (`furthest`, moved on) to
    // be dropped once decoded: as a fragment stored with a time out of line
    // leaves the intact ones after it. The timelines judge such times, and
    // the sample is kept.
    void keepSampleBehind(AVPacket& packet, std::int64_t& furthest) const;
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

    void setWaitObserver(std::function<void(bool waiting)> observer) final;
    // Tells the wait observer, once for each change (mutex held). Under the
    // lock, so that what it is told comes in order: the observer must not
    // call into the reader.
    void tellWaitingLocked(bool waiting);

    // Guarded by the core's mutex.
    PacketQueue queue;
    bool wantsPackets = true;
    bool pulled = false;  // pulled at least once

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
    // Guarded by the core's mutex.
    std::function<void(bool waiting)> waitObserver_;
    bool toldWaiting_ = false;
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

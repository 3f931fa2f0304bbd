#pragma once
// Internal to fw_media: the shared demuxer behind AssetReader and the base of
// its outputs.

#include "platform/media/AssetReader.h"
#include "platform/media/FFmpeg_internal.h"

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace fw::media::detail {

class ReaderOutputBase;

// A packet whose time steps back from the one before it in its stream, or
// jumps past its end, as where two recordings were joined, the signal was
// lost or the track paused: its opaque field points here.
inline constexpr char kTimeJumped = 0;
inline bool timeJumped(const AVPacket& packet) { return packet.opaque == &kTimeJumped; }

// Timestamps are exact to a few milliseconds where a container states them; a
// jump past the end of what came before by more than this is a gap.
inline constexpr std::int64_t kLargestSeamlessJump = AV_TIME_BASE / 10;

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
    std::atomic<bool> cancelled{false};
    // Per stream: the last stored decode time filed and which recording it
    // belongs to. Per recording: how far its times are moved (AV_TIME_BASE).
    struct StreamClock {
        std::int64_t lastStamp = AV_NOPTS_VALUE;
        std::int64_t lastEnd = AV_NOPTS_VALUE;  // lastStamp plus that packet's duration
        std::size_t recording = 0;
        // The last jump far ahead (stored times, AV_TIME_BASE), and while it
        // is in doubt, the track's packets from it on, not yet delivered.
        std::int64_t jumpFrom = 0;
        std::int64_t jumpTo = 0;
        std::int64_t reachedAtJump = AV_NOPTS_VALUE;  // recordingsReachedMicros then
        std::vector<PacketPtr> held;
        // Where the track's recording before its last jump ahead ended (stored
        // time) and which it was: a picture decoded after the first one past
        // the jump but shown before it belongs there; which of `held` those are.
        std::int64_t leftEnd = AV_NOPTS_VALUE;
        std::size_t leftRecording = 0;
        std::vector<std::size_t> heldLeftBehind;
        // What is held are the track's first packets, behind the others.
        bool startedBehind = false;
        // A picture's packet, until the next one tells whether its times are its own.
        PacketPtr keptBack;
        // The last pictures stored without a time of their own (the library
        // counts one frame on from the picture before), until the next timed
        // picture tells whether they fit before it; and the decode time of the
        // picture passed on before them.
        std::deque<PacketPtr> untimed;
        std::int64_t passedOn = AV_NOPTS_VALUE;
    };
    std::vector<StreamClock> clocks;
    std::vector<std::int64_t> recordingShifts{0};
    // As reachedMicros, of the pictures and sound alone: where the next
    // recording begins.
    std::int64_t recordingsReachedMicros = AV_NOPTS_VALUE;
    // Registered by each output while it exists (the caller owns the outputs).
    std::vector<ReaderOutputBase*> outputs;

    // Waits for the next packet of the output's stream (demuxing when nobody
    // else is). stop: cancelled. After a failure the packets already read
    // still come out, then endOfStream, so decoders drain what they hold.
    PacketResult nextPacket(ReaderOutputBase& output, PacketPtr& packet);
    // Takes a packet just read (mutex held).
    void fileLocked(PacketPtr packet);
    // Takes a picture's packet once it is known whether its times are its
    // own: pictures without a time of their own wait for the next that has
    // one (mutex held).
    void fileTimedLocked(PacketPtr packet);
    // Passes the stream's pictures without a time of their own on (mutex held).
    void passUntimedLocked(std::size_t index);
    // Hands a packet, at its place in time, to the outputs of its stream (mutex held).
    void deliverLocked(PacketPtr packet);
    // Where recordings were joined end to end (MPEG-TS, MPEG-PS), the clock
    // starts again with each: the packet's times continue where the previous
    // recording ended, and a jump either way is marked. False when the packet
    // was taken to wait until the other tracks tell whether its track paused
    // or a recording began; it is delivered then (mutex held).
    bool continueAcrossJoinsLocked(PacketPtr& packet);
    // Whether the other tracks of the stream's recording ran on through its
    // last jump, stayed behind it, or there are none that could.
    enum class OtherTracks { none, behind, ranOn };
    OtherTracks otherTracksLocked(std::size_t index) const;
    // A track's first packet, at `at` (stored time, AV_TIME_BASE), belongs to
    // the latest recording the other tracks have got to. True when it lies
    // behind where they have got to in it (mutex held).
    bool joinLatestRecordingLocked(std::size_t index, std::int64_t at);
    // Where the stream's clock has got to (stored time, AV_TIME_BASE).
    std::int64_t reachedLocked(std::size_t index) const;
    // The stream's next recording begins with `first`, read when the
    // pictures and sound had reached `reached` (mutex held).
    void startRecordingLocked(std::size_t index, const AVPacket& first, std::int64_t reached);
    // The stream's clock wrapped: what follows runs on from what came before (mutex held).
    void wrapClockLocked(std::size_t index);
    // Moves the packet's times by its recording's shift, or that of the one
    // given (mutex held).
    void moveToRecordingLocked(AVPacket& packet) const;
    void moveToRecordingLocked(AVPacket& packet, std::size_t recording) const;
    // Delivers the packets held after a jump in doubt, as a new recording or
    // as a pause. At the end of reading every track still in doubt jumped
    // alone, and so began a recording; one that started behind the others
    // keeps its time. The pictures kept back go first (mutex held).
    void releaseHeldLocked(std::size_t index, bool newRecording);
    void releaseAllHeldLocked();
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

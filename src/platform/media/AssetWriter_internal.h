#pragma once
// Internal to fw_media: the writer's shared state, its muxing and pacing,
// and the base of its inputs.

#include "platform/media/AssetWriter.h"
#include "platform/media/FFmpeg_internal.h"
#include "platform/media/InterleavePacer_internal.h"

#include <mutex>
#include <vector>

namespace fw::media::detail {

struct OutputFormatDeleter {
    void operator()(AVFormatContext* c) const noexcept;
};
using FormatOutputPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;

// Timescale of a video stream: kSecondsTimescale (or a multiple) for whole frame
// rates, 24000, 30000, 60000 ... for the 1000/1001 rates, 90000 otherwise.
std::int32_t timescaleForFrameRate(double framesPerSecond);
// Passthrough streams, whose rate nobody states.
inline constexpr std::int32_t kPassthroughTimescale = 90000;
// How far apart the muxer lets the streams' packets get before it writes the
// earliest anyway (µs).
inline constexpr std::int64_t kInterleaveDelta = 4 * static_cast<std::int64_t>(AV_TIME_BASE);

struct WriterCore {
    WriterCore() = default;
    // The inputs of a cancelled writer are abandoned (WriterInputBase::abandon).
    ~WriterCore();
    WriterCore(const WriterCore&) = delete;
    WriterCore& operator=(const WriterCore&) = delete;

    std::filesystem::path path;
    std::filesystem::path shownPath;  // named in messages
    FileType fileType = FileType::quickTimeMovie;
    std::vector<MetadataItem> metadata;
    std::optional<std::pair<std::int64_t, int>> timecode;
    FormatOutputPtr format;
    std::vector<std::unique_ptr<WriterInputBase>> inputs;

    mutable std::mutex mutex;  // status, session, muxing
    // Its own lock, never taken around this one's.
    InterleavePacer pacer{AssetWriter::kMaxLead};
    AssetWriter::Status status = AssetWriter::Status::unknown;
    std::optional<std::string> error;
    MediaTime sessionStart = MediaTime::zero();
    bool fileOpen = false;
    bool fileCreated = false;
    // The muxer cannot be told that a stream has ended: it would hold the
    // other streams' packets back for its whole interleaving delay, seconds of
    // large frames. So once one input alone still writes, each of its packets
    // releases what lies before it (the ended inputs' last packets included).
    // So too while the others' sources wait for it (setSourceWaiting): their
    // next samples lie beyond what it can append meanwhile.
    std::vector<std::int64_t> queuedUntil;     // per stream: the last packet's dts given to the muxer, µs
    int loneStream = -1;                       // the one stream still written to
    std::int64_t endedUntil = AV_NOPTS_VALUE;  // the ended streams' last dts, µs

    // Records the first failure and wakes every waiting append. Takes the lock.
    void failWriting(const std::string& message);
    // After the status left `writing`: wakes every append and flush that
    // waits. REQUIRES: the lock is not held.
    void wakeInputs();
    bool isWriting() const;
    // Blocks while the input is too far ahead of the running others (see
    // InterleavePacer); false when writing stopped.
    bool pace(WriterInputBase& input, double seconds);
    // The input has written its last packet.
    void inputFinished(WriterInputBase& input);
    // AssetWriterInput::setSourceWaiting.
    void sourceWaiting(WriterInputBase& input, bool waiting);
    // Sets loneStream and endedUntil from which inputs still write (lock held).
    void findLoneStreamLocked();
    // Writes one encoded packet (timestamps in the stream's encoder time base).
    bool writePacket(AVPacket* packet, AVRational timeBase);
};

class WriterInputBase : public AssetWriterInput {
public:
    explicit WriterInputBase(WriterCore& core) : core_(core) {}
    WriterInputBase(const WriterInputBase&) = delete;
    WriterInputBase& operator=(const WriterInputBase&) = delete;

    // At startWriting: create the stream (and open the encoder).
    virtual void open(AVFormatContext& format) = 0;
    // The stream, once open.
    AVStream* stream() const { return stream_; }
    // The track timescale asked for, to be kept as it is; 0: the muxer's choice.
    virtual std::int32_t trackTimescale() const { return 0; }

    bool appendPixelBuffer(const PixelBufferRef&, MediaTime) override { return unsupported("pictures"); }
    bool appendSampleBuffer(const SampleBuffer&) override { return unsupported("samples"); }
    void expectFirstSample(MediaTime sourceTime) final;
    void setSourceWaiting(bool waiting) final;
    void markAsFinished() final;
    // The writer stopped writing; an input that waits on its own (the video
    // codec's thread) stops waiting.
    virtual void writerStopped() {}
    // The writer was cancelled and goes with its inputs: an input leaves work
    // in flight behind instead of waiting for it.
    virtual void abandon() {}

    // Its track in the core's pacer.
    std::size_t pacedTrack = 0;
    // Guarded by the core's mutex.
    bool finished = false;
    bool sourceWaiting = false;

protected:
    // Flushes the encoder; called once by markAsFinished while writing.
    virtual void flush() {}
    bool unsupported(const char* what);
    // The session-relative time of a source time.
    MediaTime relative(MediaTime sourceTime) const;

    WriterCore& core_;
    AVStream* stream_ = nullptr;
    std::mutex inputMutex_;  // one append at a time per input

private:
    bool finishedOnce_ = false;
};

std::unique_ptr<WriterInputBase> makeVideoEncoderInput(WriterCore& core, const VideoEncoderSettings& settings,
                                                       const AffineTransform& transform);
std::unique_ptr<WriterInputBase> makeAudioEncoderInput(WriterCore& core, const AudioEncoderSettings& settings);
void setDisplayMatrix(AVStream& stream, const AffineTransform& transform);

}  // namespace fw::media::detail

#pragma once
// Writes a movie or audio file from samples appended to inputs.
//
// Use: make the writer, set metadata / timecode, add inputs, startWriting(),
// startSession(t), then append from one thread per input and markAsFinished()
// each input, and finishWriting(). Times appended are on the source's clock:
// the file's timeline starts at the session start time, and what lies before
// it is cut (pictures wholly before it dropped, one straddling it moved to it,
// sound trimmed). Pictures go in increasing time order: one that lands on the
// same tick of its track as the one before (closer to it than the timescale
// tells apart, or at the same time) is dropped, and one earlier fails.
//
// Threads: each input may be driven by its own thread; the writer's own calls
// may come from any thread. An append blocks while its time is more than
// kMaxLead past where another unfinished input got to: the time that input
// last appended or waits to append, or, before its first append, the time its
// first sample is expected at when the caller said so
// (AssetWriterInput::expectFirstSample); an input that has neither appended
// nor been expected holds nobody back. Where an encoding video input got to is
// the earliest picture its encoder still holds, so that what reaches the file
// stays within the lead; an input that waits holds back only inputs that got
// further, so the appends that push those pictures out never wait for the
// inputs that wait for them. So an input that waits never holds
// the others further back than its own waiting sample, one whose next sample
// lies far ahead (a late start, a pause) lets the others run up to it, and the
// sound does not run ahead while the first pictures are still being made. An
// input whose source waits for the others to take what was read for them
// (setSourceWaiting) holds nobody back meanwhile, unless it waits in an append
// too, and the muxer then holds none of the others' packets for it either.
// Appends from different inputs are interleaved in the file by
// time. Pictures are converted on the appending thread and encoded on a
// thread of their input's own (plus the encoder's threads); sound is encoded
// on the appending thread. cancelWriting() from any thread releases blocked
// appends and flushes (they return at once, appends false), closes the file
// and removes it; the video encoders are then abandoned, not drained: they
// finish the call they are in and close on their own threads, so that a
// cancelled writer goes at once even with seconds of frames in flight.
//
// Failures: adding an input that the file type cannot hold returns nullptr.
// startWriting(), appends and finishWriting() return false on failure; the
// status is then failed and errorDescription() says why. After a failure the
// partial file stays where it is (cancelWriting() removes it).

#include "platform/media/Asset.h"
#include "platform/media/ColorTags.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fw::media {

namespace detail {
struct WriterCore;
class WriterInputBase;
}  // namespace detail

enum class FileType {
    quickTimeMovie,  // .mov
    mpeg4,           // .mp4
    appleM4A,        // .m4a, sound only
};

enum class VideoCodec { proRes, h264, hevc };
enum class ProResProfile { proxy, lt, standard, hq, fourByFour };
// automatic: the encoder's choice. main10 is HEVC only.
enum class VideoProfile { automatic, baseline, main, high, main10 };

// Refuses, with a MediaError naming the size and the largest one the encoder
// takes, a frame size that `codec`'s encoder would not open: beyond the
// highest level of H.264 and HEVC, beyond 16254×16254 or so for ProRes.
void checkFrameSize(VideoCodec codec, int width, int height);

struct VideoEncoderSettings {
    VideoCodec codec = VideoCodec::proRes;
    // REQUIRES: > 0; even for H.264 and HEVC. A frame size checkFrameSize
    // refuses fails startWriting, naming the limit.
    int width = 0;
    int height = 0;
    ProResProfile proResProfile = ProResProfile::hq;
    // 4444 only: keep the pictures' alpha (yuva444p10le).
    bool proResAlpha = true;
    // H.264 / HEVC.
    VideoProfile profile = VideoProfile::automatic;
    std::string level;                // "4.1"; empty: automatic
    std::int64_t averageBitRate = 0;  // bits per second; 0: the encoder's default quality
    int maxKeyFrameInterval = 0;      // frames; 0: the encoder's default
    // Tags on the stream and on every frame (ProRes also carries them in its
    // frame header); bgra8 pictures are converted with its matrix, and x420
    // pictures of another matrix (PixelBuffer::yCbCrMatrix) into it. Pictures
    // are always written in video range and tagged so. Without tags, and for a
    // matrix pictures cannot be converted with, the matrix is the default for
    // the height (see defaultMatrix) and is tagged with the range alone.
    std::optional<ColorTags> color;
    // Frames per second the caller expects: paces rate control and picks the
    // track's timescale (pass the source's rate so its times stay exact). 0: 30.
    double expectedFrameRate = 0;
    // Ticks per second of the track; 0: chosen from the expected frame rate.
    std::int32_t timescale = 0;
    // The encoder's threads; 0: its own choice for the whole machine.
    // (H.264 and HEVC streams differ slightly with the thread count.)
    int threads = 0;
};

enum class AudioCodec { aac, pcm16 };

struct AudioEncoderSettings {
    AudioCodec codec = AudioCodec::aac;
    // 0 or less: kDefaultSampleRate.
    double sampleRate = kDefaultSampleRate;
    int channelCount = 2;
    std::int64_t bitRate = 0;  // AAC only; 0: 128 kbit/s per channel pair
};

// Samples appended as they are (no decoding or encoding): each sample's data
// is one stored frame of the given codec type.
struct PassthroughVideoSettings {
    FourCharCode codecType = 0;  // 'Hap1', 'DXD3', ...
    int width = 0;
    int height = 0;
    // Ticks per second of the track; 0: 90000.
    std::int32_t timescale = 0;
};

enum class MetadataKey { title, artist, comment, copyright, description };

struct MetadataItem {
    MetadataKey key;
    std::string value;
};

class AssetWriterInput {
public:
    virtual ~AssetWriterInput() = default;
    virtual MediaType mediaType() const = 0;
    // Encoding video inputs: one picture at a presentation time. The picture
    // is converted to the encoder's format (and scaled if its size differs).
    // bgra8, x420, i420 and x422 pictures are accepted (i420 and x422 full
    // range too; the output is video range). Blocks for pacing. A picture the
    // codec takes as it is (i420 to a 4:2:0 encoder, x422 to a 10-bit 4:2:2
    // one) is read in place while it is encoded: change no picture once it is appended.
    virtual bool appendPixelBuffer(const PixelBufferRef& picture, MediaTime presentationTime) = 0;
    // Video inputs: the sample's picture (encoding inputs) or its data
    // (passthrough inputs). Audio inputs: linear PCM data, float32 or int16,
    // any rate and channel count, converted to the output format; values
    // beyond full scale saturate. Blocks for pacing.
    virtual bool appendSampleBuffer(const SampleBuffer& sample) = 0;
    // After startSession, before the first append: the input's first sample
    // lies at `sourceTime` (or, starting late, after it). Until it is appended
    // or the input finishes, the other inputs are held within kMaxLead of it,
    // as if it waited there. Only for an input whose first sample comes
    // whatever the others do: not one pumped after another ends, nor one whose
    // source hands its samples out only once another track is read.
    virtual void expectFirstSample(MediaTime sourceTime) = 0;
    // While set, the input's source cannot hand its next sample before the
    // other inputs take theirs (an AssetReaderOutput's wait observer says so):
    // the next one lies beyond anything they can append meanwhile, so the
    // input holds nobody back, unless it waits in an append itself.
    virtual void setSourceWaiting(bool waiting) = 0;
    // No more samples; flushes the encoder. Idempotent.
    virtual void markAsFinished() = 0;
};

using AssetWriterInputRef = std::shared_ptr<AssetWriterInput>;

class AssetWriter {
public:
    enum class Status { unknown, writing, completed, failed, cancelled };
    // How far (seconds of media time) one input may run ahead of the others.
    static constexpr double kMaxLead = 1.0;

    // Nothing touches the disk before startWriting(). Messages name `shownPath`
    // when given: the file the user asked for while `path` is a staging name.
    AssetWriter(std::filesystem::path path, FileType fileType, std::filesystem::path shownPath = {});
    ~AssetWriter();
    AssetWriter(const AssetWriter&) = delete;
    AssetWriter& operator=(const AssetWriter&) = delete;

    const std::filesystem::path& path() const;
    FileType fileType() const;

    // Before startWriting. Items with empty values are left out. MPEG-4
    // files carry them as iTunes tags (©nam, ©ART, desc, cprt, ©cmt);
    // QuickTime movies under the QuickTime metadata keys
    // (com.apple.quicktime.title, .artist, .description, .copyright, .comment).
    void setMetadata(std::vector<MetadataItem> items);
    // A QuickTime timecode track ('tmcd') for the first video input: the
    // first frame is frame number startFrame, counted at frameQuanta frames
    // a second. REQUIRES: startFrame >= 0, frameQuanta >= 1. Movies only.
    void setTimecode(std::int64_t startFrame, int frameQuanta);

    // Inputs, before startWriting; nullptr when the file type cannot hold it
    // (no video in M4A, ProRes and passthrough only in QuickTime movies, PCM
    // only in QuickTime movies) or writing has started.
    AssetWriterInputRef addVideoInput(const VideoEncoderSettings& settings,
                                      const AffineTransform& transform = AffineTransform::identity());
    AssetWriterInputRef addAudioInput(const AudioEncoderSettings& settings);
    AssetWriterInputRef addPassthroughVideoInput(const PassthroughVideoSettings& settings,
                                                 const AffineTransform& transform = AffineTransform::identity());

    // Opens the encoders, creates the file (replacing one that is there) and
    // writes its header. False on failure (status failed).
    bool startWriting();
    // Source time that becomes time zero of the file. Before the first append; zero by default.
    void startSession(MediaTime sourceTime);
    // Marks every input finished, flushes and completes the file. Blocks.
    // True when the file is complete.
    bool finishWriting();
    // Stops writing and removes the file. Safe at any time, from any thread.
    void cancelWriting();

    Status status() const;
    std::optional<std::string> errorDescription() const;

private:
    std::shared_ptr<detail::WriterCore> core_;
};

}  // namespace fw::media

#pragma once
// The sample pumps of the movie encoder. Each pump moves one track's samples
// from a reader output to a writer input with blocking calls, on a thread of
// its own (PumpThread): the writer's appends block while their input runs
// ahead, so the writer paces the reader and nothing is buffered beyond the
// grid's pending frames.
//
// A pump ends normally when its output yields no more samples: at the end of
// the range, after a read failure and after cancelReading(). It makes no
// cancellation test of its own; the encoder cancels through the reader and
// the writer (an abandoned writer fails the append in progress). Every
// ending, failures included, marks the writer input finished first, so the
// other inputs are never held back by it.
//
// Failures are thrown as EncodingError::writerFailed with a lower-case
// detail: "could not append <label> sample", "could not resize frame",
// "could not append resized frame".

#include "model/EncodingError.h"
#include "pipeline/PreviewCallback.h"
#include "pipeline/PreviewRenderer.h"
#include "platform/core/MediaUnits.h"
#include "platform/media/AssetReader.h"
#include "platform/media/AssetWriter.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace fw {

class FrameResizer;

// Progress handed to an encoder (previews go to a PreviewCallback). May be
// called from any thread.
using ProgressCallback = std::function<void(double fraction)>;

// Decodes one stored sample of a texture-compressed track (Hap, DXV) into a
// picture of the track's size; nullptr when the sample yields none (the pumps
// drop it). Throws EncodingError when the sample cannot be read at the
// track's size, which fails the encode.
using FrameUnpacker = std::function<media::PixelBufferRef(const media::SampleBuffer& sample)>;

// The unpacker for a track whose stored samples the encoder decodes itself,
// chosen by the track's format description: Hap ('Hap1', 'Hap5', 'HapY') and
// DXV ('DXD3', 'DXDI') tracks, read with TextureSource::FrameUnpacker. Such a
// track is read through the reader's passthrough output and each sample handed
// to the unpacker. Returns nothing for every other track, which the media
// layer decodes. Each call makes a new unpacker with its own buffer pool: one
// per track and encode; it may be called from any thread.
std::optional<FrameUnpacker> frameUnpacker(const media::FormatDescription& format);

// How far the video pump got, and what it tells the caller on the way. One per
// encode; the video pump's thread calls it, the encode reads it afterwards.
class VideoPumpReporter {
public:
    // durationSeconds: expected length of the range read, 0 or less when
    // unknown (then no progress is reported). startSeconds: source time where
    // the range starts. progress and preview may be empty; reached and
    // throttle must outlive the reporter.
    VideoPumpReporter(double durationSeconds, double startSeconds, ProgressCallback progress, PreviewCallback preview,
                      PreviewThrottle& throttle, ReachedSeconds& reached)
        : durationSeconds_(durationSeconds),
          startSeconds_(startSeconds),
          progress_(std::move(progress)),
          preview_(std::move(preview)),
          throttle_(throttle),
          reached_(reached) {}

    // A source sample about to be appended untouched: records its end, reports
    // its time, and offers its picture as a preview.
    void sampleRead(const media::SampleBuffer& sample);
    // A transformed frame appended at `seconds`: records the time (without a
    // duration), offers the frame as a preview and reports the time.
    void frameAppended(const media::PixelBuffer& frame, double seconds);
    // Counts a video frame that reached the writer.
    void countFrame() { framesWritten_.fetch_add(1, std::memory_order_relaxed); }
    std::int64_t framesWritten() const { return framesWritten_.load(std::memory_order_relaxed); }

    // min(max(t − start, 0) / duration, 1); nothing when the duration is not
    // above 0 or t is not finite.
    void reportProgress(double seconds) const;

private:
    void offerPreview(const media::PixelBuffer& frame) const;

    double durationSeconds_;
    double startSeconds_;
    ProgressCallback progress_;
    PreviewCallback preview_;
    PreviewThrottle& throttle_;
    ReachedSeconds& reached_;
    std::atomic<std::int64_t> framesWritten_{0};
};

// Appends every sample of `output` to `input` until the output has no more,
// calling onSample (when given) with each sample first. Throws
// writerFailed("could not append " + label + " sample") when an append fails.
void pumpSamples(media::AssetReaderOutput& output, media::AssetWriterInput& input, std::string_view label,
                 const std::function<void(const media::SampleBuffer&)>& onSample = {});

// A failed append only says that it failed; the writer knows why (a full
// disk, a file grown past its limit). Returns a writerFailed with the writer's
// own reason when `failure` is a writerFailed and the writer has recorded one,
// else `failure` unchanged.
std::exception_ptr withWriterReason(std::exception_ptr failure, const media::AssetWriter& writer);

// The failure of `reader` (status failed) as the user reads it: for a source
// that ended short of its length, the tail rule's words with how far it
// reached; else the reader's own description.
EncodingError readerFailure(const media::AssetReader& reader);
// That failure when the source file failed as a whole (it ended short of its
// length or changed while it was read), which no damaged tail excuses; none
// when the reader did not fail so.
std::optional<EncodingError> sourceFileFailure(const media::AssetReader& reader);
// The pictures `reader` left out for damage in its source (AssetReader::pictureTally), once it has been read.
// Throws EncodingError::damagedPicturesFailure when they are too many for the output to stand for the source.
std::int64_t damagedPictures(const media::AssetReader& reader);

// The plain video pump: samples pass untouched; each is reported and counted.
void pumpVideo(media::AssetReaderOutput& output, media::AssetWriterInput& input, VideoPumpReporter& reporter);

// The resizing video pump: every source frame goes through `resizer` once
// (which also turns it upright), with its own source time, and is appended
// at that time or, with a target frame rate above 0, on the
// constant-frame-rate grid starting at startSeconds. Source pictures come from
// the unpacker when one is given, else from the samples' pictures; a sample
// without one is dropped, while a picture that cannot be resized fails the
// pump. At the end of the source the held grid frame is appended once (a
// failure of that last append is not reported). Frames are placed at the
// nearest tick of `timescale` (ticks per second).
void pumpResizedVideo(media::AssetReaderOutput& output, media::AssetWriterInput& input, FrameResizer& resizer,
                      double startSeconds, std::optional<double> targetFrameRate, const FrameUnpacker* unpacker,
                      VideoPumpReporter& reporter, std::int32_t timescale = kSecondsTimescale);

// Pulls a video output's samples on a thread of its own ("encode.reader"),
// keeping at most `depth` decoded samples ready, so that decoding and picture
// conversion overlap the encoding of earlier frames. next() blocks until a
// sample is ready and returns nullptr once the output has no more. The
// destructor stops pulling and waits for a pull in progress to return.
// With an unpacker (which must outlive the ReadAhead), stored samples are
// unpacked on that thread too, as the media layer decodes there: next()
// returns picture samples with the stored samples' times, skips samples that
// yield no picture, and after the pictures before it rethrows what the
// unpacker threw (reading stops there).
class ReadAhead {
public:
    explicit ReadAhead(media::AssetReaderOutput& output, std::size_t depth = 3,
                       const FrameUnpacker* unpacker = nullptr);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    media::SampleBufferRef next();

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

// The pictures of a video output as the frame resizer makes them: read ahead
// (ReadAhead, unpacked when an unpacker is given), each turned, scaled and
// filtered once at its own source time. The one source of transformed frames
// for the resizing pump and for the encoders that write pictures to files.
// A sample without a picture or without a finite time is dropped; a picture
// the resizer refuses throws writerFailed("could not resize frame"). Not for
// concurrent use: one thread calls next().
class ResizedFrames {
public:
    struct Frame {
        media::PixelBufferRef picture;
        double seconds = 0;  // the source sample's presentation time
    };
    // Chooses before any transform whether a sample is taken; it sees every
    // sample with a picture and a finite time, in order.
    using Selector = std::function<bool(const media::SampleBuffer& sample)>;

    // output, resizer and unpacker (when given) must outlive this. Without a
    // selector every frame is taken.
    ResizedFrames(media::AssetReaderOutput& output, FrameResizer& resizer, const FrameUnpacker* unpacker,
                  std::size_t depth = 3, Selector selector = {})
        : samples_(output, depth, unpacker), resizer_(resizer), selector_(std::move(selector)) {}

    // The next frame; nothing once the output has no more. Rethrows what the
    // unpacker threw, after the frames before it.
    std::optional<Frame> next();

private:
    ReadAhead samples_;
    FrameResizer& resizer_;
    Selector selector_;
};

// A pump's thread: runs `body` on a new thread named `name` (cut to the 15
// characters a thread name holds) and keeps what it throws for join().
class PumpThread {
public:
    PumpThread(std::string name, std::function<void()> body);
    // Joins when join() was not called; nothing it threw is seen then.
    ~PumpThread();
    PumpThread(const PumpThread&) = delete;
    PumpThread& operator=(const PumpThread&) = delete;

    // Waits for the body to end and rethrows what it threw. Call once.
    void join();

private:
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace fw

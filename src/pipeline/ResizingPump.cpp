// The resizing pumps: transform every source frame taken once, and hand it on;
// the movie pump appends it at its own time or on the constant-frame-rate grid.

#include "pipeline/ConstantFrameRateGrid.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/TrackPumps.h"
#include "pipeline/TrackPumps_internal.h"
#include "platform/core/MediaUnits.h"

#include <cmath>

namespace fw {

using detail::FinishOnExit;

void pumpResizedFrames(media::AssetReaderOutput& output, FrameResizer& resizer, const FrameUnpacker* unpacker,
                       const SampleSelector& selector, const ResizedFrameSink& sink) {
    ReadAhead samples(output, 3, unpacker);
    while (auto sample = samples.next()) {
        const media::PixelBufferRef& source = sample->imageBuffer();
        if (!source) continue;
        const double t = sample->presentationTime().seconds();
        // A frame without a usable time cannot be placed; it is not worth transforming.
        if (!std::isfinite(t)) continue;
        if (selector && !selector(*sample)) continue;
        media::PixelBufferRef transformed = resizer.resized(*source, t);
        if (!transformed) throw EncodingError::writerFailed("could not resize frame");
        sink(std::move(transformed), t);
    }
}

void pumpResizedVideo(media::AssetReaderOutput& output, media::AssetWriterInput& input, FrameResizer& resizer,
                      double startSeconds, std::optional<double> targetFrameRate, const FrameUnpacker* unpacker,
                      VideoPumpReporter& reporter) {
    FinishOnExit finish(input);
    ConstantFrameRateGrid<media::PixelBufferRef> grid(startSeconds, targetFrameRate);

    auto emit = [&](const media::PixelBufferRef& buffer, double seconds) {
        if (!input.appendPixelBuffer(buffer, media::MediaTime::fromSeconds(seconds, kSecondsTimescale))) return false;
        reporter.countFrame();
        reporter.frameAppended(*buffer, seconds);
        return true;
    };

    pumpResizedFrames(output, resizer, unpacker, {}, [&](media::PixelBufferRef transformed, double t) {
        grid.add(std::move(transformed), t);
        // Due frames go out one append at a time; each append waits its turn with the writer.
        while (auto due = grid.nextPending())
            if (!emit(due->buffer, due->time)) throw EncodingError::writerFailed("could not append resized frame");
    });
    if (auto last = grid.finish()) emit(last->buffer, last->time);
}

}  // namespace fw

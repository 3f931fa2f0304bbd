// The resizing video pump: transform every source frame once and append it
// at its own time or on the constant-frame-rate grid; and the transformed
// frames on their own, for encoders that write pictures.

#include "pipeline/ConstantFrameRateGrid.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/TrackPumps.h"
#include "pipeline/TrackPumps_internal.h"
#include "platform/core/MediaUnits.h"

#include <cmath>

namespace fw {

using detail::FinishOnExit;

std::optional<ResizedFrames::Frame> ResizedFrames::next() {
    while (auto sample = samples_.next()) {
        const media::PixelBufferRef& source = sample->imageBuffer();
        if (!source) continue;
        const double t = sample->presentationTime().seconds();
        // A frame without a usable time cannot be placed; it is not worth transforming.
        if (!std::isfinite(t)) continue;
        if (selector_ && !selector_(*sample)) continue;
        media::PixelBufferRef transformed = resizer_.resized(*source, t);
        if (!transformed) throw EncodingError::writerFailed("could not resize frame");
        return Frame{std::move(transformed), t};
    }
    return std::nullopt;
}

void pumpResizedVideo(media::AssetReaderOutput& output, media::AssetWriterInput& input, FrameResizer& resizer,
                      double startSeconds, std::optional<double> targetFrameRate, const FrameUnpacker* unpacker,
                      VideoPumpReporter& reporter, std::int32_t timescale) {
    FinishOnExit finish(input);
    detail::PassSourceWaits waits(output, input);
    ConstantFrameRateGrid<media::PixelBufferRef> grid(startSeconds, targetFrameRate);

    auto emit = [&](const media::PixelBufferRef& buffer, double seconds) {
        if (!input.appendPixelBuffer(buffer, media::MediaTime::fromSeconds(seconds, timescale))) return false;
        reporter.countFrame();
        reporter.frameAppended(*buffer, seconds);
        return true;
    };

    ResizedFrames frames(output, resizer, unpacker);
    while (auto frame = frames.next()) {
        grid.add(std::move(frame->picture), frame->seconds);
        // Due frames go out one append at a time; each append waits its turn with the writer.
        while (auto due = grid.nextPending())
            if (!emit(due->buffer, due->time)) throw EncodingError::writerFailed("could not append resized frame");
    }
    if (auto last = grid.finish()) emit(last->buffer, last->time);
}

}  // namespace fw

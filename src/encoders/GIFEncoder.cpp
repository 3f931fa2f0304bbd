#include "encoders/GIFEncoder.h"

#include "encoders/GIFFrameClock.h"
#include "encoders/GIFQuantizer.h"
#include "encoders/GIFWriter.h"
#include "encoders/SourceEncode.h"
#include "model/EncodingError.h"
#include "model/OutputSizing.h"
#include "model/ProgressEstimate.h"
#include "pipeline/DisplayedSize.h"
#include "pipeline/FrameOrientation.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/TrackPumps.h"
#include "platform/core/StagedFile.h"
#include "platform/media/AssetReader.h"
#include "platform/media/ImageDecoder.h"
#include "platform/media/MediaError.h"

#include <tbb/task_arena.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <future>
#include <limits>
#include <string>

namespace fw {

namespace fs = std::filesystem;

namespace {

// The rate the burned-in timecode counts at when the source gives none.
constexpr double kDefaultTimecodeRate = 30;
// Frames held between the resizer and the file, in bytes of picture, at most.
constexpr std::size_t kHeldFrameBytes = std::size_t{256} << 20;

std::string sizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "\u00d7" + std::to_string(height);
}

void checkSettings(double frameRate, std::int64_t maxDimension) {
    if (!(frameRate > 0 && frameRate <= GIFEncoder::kMaxFrameRate))
        throw EncodingError::writerFailed("the GIF frame rate must be above 0 and at most " +
                                          std::to_string(static_cast<int>(GIFEncoder::kMaxFrameRate)) +
                                          " frames a second");
    if (maxDimension < 2 || maxDimension > GIFEncoder::kMaxSide)
        throw EncodingError::writerFailed("the GIF size limit " + std::to_string(maxDimension) + " is outside 2\u2013" +
                                          std::to_string(GIFEncoder::kMaxSide) + " pixels");
}

IntSize checkedSize(IntSize size) {
    const auto inRange = [](std::int64_t side) { return side >= 1 && side <= GIFEncoder::kMaxSide; };
    if (!inRange(size.width) || !inRange(size.height))
        throw EncodingError::writerFailed("the GIF size " + sizeText(size.width, size.height) + " is outside 1\u2013" +
                                          std::to_string(GIFEncoder::kMaxSide) + " pixels a side");
    if (size.width * size.height > GIFEncoder::kMaxPixels)
        throw EncodingError::writerFailed("the GIF size " + sizeText(size.width, size.height) + " is over " +
                                          std::to_string(GIFEncoder::kMaxPixels / 1000000) + " million pixels");
    return size;
}

FrameResizer makeResizer(IntSize size, const GIFRequest& request, double timecodeRate,
                         const std::optional<FrameOrientation>& orientation) {
    return FrameResizer(size.width, size.height, request.target.mode, request.target.filters.get(), timecodeRate,
                        std::nullopt, /*tenBit=*/false, /*preservesAlpha=*/false, orientation);
}

// Moves the finished file into place.
void commit(StagedFile& staged) {
    if (auto error = staged.commit())
        throw EncodingError::outputNotMoved(staged.destination().filename().string(), error.message());
}

// Frames quantized side by side and written in order. A frame's delay is
// known once the next frame's time is, so the oldest frame is written when a
// newer one exists, and the last at the end with the source's end.
// Quantizing is enqueued on an arena of its own rather than spawned: the
// writing thread waits for one frame at a time without taking part, and
// enqueued work is run by a worker even where the machine has one core.
class OrderedFrameWriter {
public:
    OrderedFrameWriter(GIFWriter& writer, const GIFFrameClock& clock, std::size_t window)
        : writer_(writer), clock_(clock), window_(std::max<std::size_t>(window, 2)) {}
    // Waits for the frames still being quantized; nothing they throw is seen then.
    ~OrderedFrameWriter() {
        for (Held& held : held_) held.picture.wait();
    }
    OrderedFrameWriter(const OrderedFrameWriter&) = delete;
    OrderedFrameWriter& operator=(const OrderedFrameWriter&) = delete;

    std::int64_t framesTaken() const { return framesTaken_; }

    // Starts quantizing `frame`, shown from `seconds`; writes older frames while
    // more than the window are held. Rethrows a quantizer's failure.
    void add(media::PixelBufferRef frame, double seconds) {
        auto done = std::make_shared<std::promise<IndexedPicture>>();
        held_.push_back({done->get_future(), seconds});
        arena_.enqueue([done, frame = std::move(frame)] {
            try {
                done->set_value(GIFQuantizer::quantized(*frame));
            } catch (...) {
                done->set_exception(std::current_exception());
            }
        });
        ++framesTaken_;
        while (held_.size() > window_) writeOldest(held_[1].seconds);
    }

    // Writes every held frame, the last one shown until endSeconds (or for
    // one frame interval when the end is not after it).
    void finish(double endSeconds) {
        while (held_.size() > 1) writeOldest(held_[1].seconds);
        if (held_.empty()) return;
        const double last = held_.front().seconds;
        const double end = endSeconds > last ? endSeconds : last + clock_.interval();
        writeOldest(end);
    }

private:
    struct Held {
        std::future<IndexedPicture> picture;
        double seconds;
    };

    void writeOldest(double nextSeconds) {
        Held oldest = std::move(held_.front());
        held_.pop_front();
        writer_.addFrame(oldest.picture.get(), clock_.delayHundredths(oldest.seconds, nextSeconds));
    }

    GIFWriter& writer_;
    const GIFFrameClock& clock_;
    std::size_t window_;
    std::deque<Held> held_;
    std::int64_t framesTaken_ = 0;
    tbb::task_arena arena_;
};

// The still path's one frame, with neither loop nor delay, committed to its destination.
void writeStill(const GIFEncoder& encoder, const media::PixelBuffer& image, StagedFile& staged) {
    const IntSize size = encoder.outputSize(image.width(), image.height());
    FrameResizer resizer = makeResizer(size, encoder.request, kDefaultTimecodeRate, std::nullopt);
    const media::PixelBufferRef frame = resizer.resized(image, 0);
    if (!frame) throw EncodingError::imageDecodeFailed();
    const IndexedPicture picture = GIFQuantizer::quantized(*frame);
    GIFWriter writer(staged.path(), static_cast<int>(size.width), static_cast<int>(size.height),
                     GIFWriter::Looping::once, staged.destination());
    writer.addFrame(picture, std::nullopt);
    writer.finish();
    commit(staged);
}

}  // namespace

IntSize GIFEncoder::outputSize(std::int64_t sourceWidth, std::int64_t sourceHeight) const {
    checkSettings(frameRate, maxDimension);
    if (const auto& box = request.target.size) {
        // Sized as a movie is, so aspect keeps the picture's shape: the resizer then stretches nothing.
        ResizeSettings settings;
        settings.isEnabled = true;
        settings.width = box->width;
        settings.height = box->height;
        settings.mode = request.target.mode;
        return checkedSize(OutputSizing::outputSize(IntSize{sourceWidth, sourceHeight}, settings));
    }
    double width = static_cast<double>(std::max<std::int64_t>(sourceWidth, 2));
    double height = static_cast<double>(std::max<std::int64_t>(sourceHeight, 2));
    const double longest = std::max(width, height);
    if (longest > static_cast<double>(maxDimension)) {
        const double scale = static_cast<double>(maxDimension) / longest;
        width = std::floor(width * scale);
        height = std::floor(height * scale);
    }
    // A side cut to 0 or 1 by an extreme shape still makes a picture.
    const auto side = [](double value) {
        return OutputSizing::even(std::max(static_cast<std::int64_t>(value), std::int64_t{2}));
    };
    return checkedSize({side(width), side(height)});
}

EncodeResult GIFEncoder::encode(const fs::path& source, const fs::path& destination, const ProgressCallback& progress,
                                std::stop_token stop) const {
    checkSettings(frameRate, maxDimension);
    // Files the media layer cannot open may still be images it does not read (HEIC).
    media::AssetRef asset;
    std::optional<media::MediaError> openFailure;
    try {
        asset = media::Asset::open(source);
    } catch (const media::MediaError& error) {
        openFailure = error;
    }
    if (asset && !asset->isStillImage()) {
        if (asset->tracks(media::MediaType::video).empty()) throw EncodingError::noVideoTrack();
        return encodeVideo(asset, destination, progress, stop);
    }

    StagedFile staged(destination);
    if (staged.replaces(source)) throw EncodingError::destinationIsSource();
    media::PixelBufferRef image;
    try {
        image = media::ImageDecoder::pixelBuffer(source);
    } catch (const media::MediaError& error) {
        // A file neither named nor made as an image was most likely meant as a movie.
        if (openFailure && !isStillImageSource(source)) throw *openFailure;
        throw EncodingError::imageDecodeFailed(error.what());
    }
    writeStill(*this, *image, staged);
    if (progress) progress(1.0);
    return {};
}

EncodeResult GIFEncoder::encodeVideo(const media::AssetRef& asset, const fs::path& destination,
                                     const ProgressCallback& progress, std::stop_token stop) const {
    const auto tracks = asset->tracks(media::MediaType::video);
    if (tracks.empty()) throw EncodingError::noVideoTrack();
    const media::AssetTrack& track = tracks.front();
    const IntSize shown = displayedPixelSize(track);
    const IntSize size = outputSize(shown.width, shown.height);
    double durationSeconds = asset->duration().seconds();
    if (!std::isfinite(durationSeconds)) durationSeconds = 0;

    StagedFile staged(destination);
    if (staged.replaces(asset->path())) throw EncodingError::destinationIsSource();

    // Hap and DXV samples are read stored and unpacked; other tracks decoded.
    std::optional<FrameUnpacker> unpacker;
    if (!track.formatDescriptions.empty() && track.formatDescriptions.front())
        unpacker = frameUnpacker(*track.formatDescriptions.front());
    media::AssetReader reader(asset);
    // 4:2:0 pictures are read as they are stored (x420, about a copy) and
    // converted by the resizer, so a sample that is not taken costs no conversion.
    const bool stored420 = !track.formatDescriptions.empty() && track.formatDescriptions.front() &&
                           track.formatDescriptions.front()->chroma420;
    const auto output =
        unpacker ? reader.addPassthroughOutput(track)
                 : reader.addVideoOutput(track, {stored420 ? media::PixelFormat::x420 : media::PixelFormat::bgra8});
    if (!output) throw EncodingError::cannotStartReading();
    if (!reader.startReading()) throw EncodingError::readerFailed(detailOr(reader.errorDescription()));

    FrameResizer resizer =
        makeResizer(size, request, track.nominalFrameRate.value_or(kDefaultTimecodeRate), FrameOrientation::of(track));
    GIFWriter writer(staged.path(), static_cast<int>(size.width), static_cast<int>(size.height),
                     GIFWriter::Looping::forever, staged.destination());
    GIFFrameClock clock(frameRate);
    const std::size_t frameBytes = static_cast<std::size_t>(size.width * size.height) * 4;
    const std::size_t window =
        std::min(static_cast<std::size_t>(2 * tbb::this_task_arena::max_concurrency()), kHeldFrameBytes / frameBytes);
    OrderedFrameWriter frames(writer, clock, window);
    ReachedSeconds reached;
    {
        // Cancelling only stops the reader; the pump then ends as at the end of the source.
        std::stop_callback cancelReading(stop, [&reader] { reader.cancelReading(); });
        ResizedFrames taken(
            *output, resizer, unpacker ? &*unpacker : nullptr, 3, [&](const media::SampleBuffer& sample) {
                const double t = sample.presentationTime().seconds();
                reached.record(t, sample.duration().seconds());
                if (!clock.takes(t)) return false;
                if (const auto fraction = ProgressEstimate::reached(t, 0, durationSeconds); progress && fraction)
                    progress(*fraction);
                return true;
            });
        while (auto frame = taken.next()) frames.add(std::move(frame->picture), frame->seconds);
    }
    if (stop.stop_requested()) throw EncodingError::cancelled();
    if (auto error = sourceFileFailure(reader)) throw *error;
    if (reader.status() == media::AssetReader::Status::failed) {
        // With no frame taken nothing is worth keeping, however near the end the failure lay.
        const double reachedSeconds =
            frames.framesTaken() > 0 ? reached.seconds() : std::numeric_limits<double>::quiet_NaN();
        if (auto error = EncodingError::readerTailFailure(reader.errorDescription(), reachedSeconds, durationSeconds))
            throw *error;
    }
    if (frames.framesTaken() == 0) throw EncodingError::readerFailed("the source has no video frames to encode");
    const std::int64_t leftOut = damagedPictures(reader);
    frames.finish(reached.seconds());
    writer.finish();
    commit(staged);
    if (progress) progress(1.0);
    return {0, leftOut};
}

void GIFEncoder::encodeStill(const media::PixelBuffer& image, const fs::path& destination) const {
    StagedFile staged(destination);
    writeStill(*this, image, staged);
}

}  // namespace fw

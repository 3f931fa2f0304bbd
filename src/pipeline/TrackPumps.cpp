#include "pipeline/TrackPumps.h"

#include "model/ProgressEstimate.h"
#include "pipeline/TextureSource.h"
#include "pipeline/TrackPumps_internal.h"
#include "platform/core/ThreadName.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace fw {

std::optional<FrameUnpacker> frameUnpacker(const media::FormatDescription& format) {
    auto unpacker = TextureSource::FrameUnpacker::make(format);
    if (!unpacker) return std::nullopt;
    return FrameUnpacker(
        [unpacker = std::move(*unpacker)](const media::SampleBuffer& sample) { return unpacker.pixelBuffer(sample); });
}

// -------------------------------------------------------------- VideoPumpReporter

void VideoPumpReporter::reportProgress(double seconds) const {
    const auto fraction = ProgressEstimate::reached(seconds, startSeconds_, durationSeconds_);
    if (progress_ && fraction) progress_(*fraction);
}

void VideoPumpReporter::offerPreview(const media::PixelBuffer& frame) const {
    if (!preview_ || !throttle_.shouldEmit()) return;
    preview_.offer(
        [&] { return PreviewFrame{PreviewRenderer::downscaledImage(frame, PreviewRenderer::kMaxDimension)}; });
}

void VideoPumpReporter::sampleRead(const media::SampleBuffer& sample) {
    reached_.record(sample.presentationTime().seconds(), sample.duration().seconds());
    reportProgress(sample.presentationTime().seconds());
    if (sample.imageBuffer()) offerPreview(*sample.imageBuffer());
}

void VideoPumpReporter::frameAppended(const media::PixelBuffer& frame, double seconds) {
    reached_.update(seconds);
    offerPreview(frame);
    reportProgress(seconds);
}

// ----------------------------------------------------------------------- pumps

using detail::FinishOnExit;
using detail::PassSourceWaits;

void pumpSamples(media::AssetReaderOutput& output, media::AssetWriterInput& input, std::string_view label,
                 const std::function<void(const media::SampleBuffer&)>& onSample) {
    FinishOnExit finish(input);
    PassSourceWaits waits(output, input);
    while (auto sample = output.copyNextSampleBuffer()) {
        if (onSample) onSample(*sample);
        if (!input.appendSampleBuffer(*sample))
            throw EncodingError::writerFailed("could not append " + std::string(label) + " sample");
    }
}

std::exception_ptr withWriterReason(std::exception_ptr failure, const media::AssetWriter& writer) {
    try {
        std::rethrow_exception(failure);
    } catch (const EncodingError& error) {
        const auto reason = writer.errorDescription();
        if (error.kind() == EncodingError::Kind::writerFailed && reason && !reason->empty())
            return std::make_exception_ptr(EncodingError::writerFailed(*reason));
    } catch (...) {}
    return failure;
}

EncodingError readerFailure(const media::AssetReader& reader) {
    const auto fault = reader.sourceFault();
    if (fault && fault->kind == media::SourceFault::Kind::endedEarly)
        return EncodingError::readerStopped(reader.errorDescription(), fault->reachedSeconds, fault->expectedSeconds);
    return EncodingError::readerFailed(detailOr(reader.errorDescription()));
}

std::optional<EncodingError> sourceFileFailure(const media::AssetReader& reader) {
    if (!reader.sourceFault()) return std::nullopt;
    return readerFailure(reader);
}

std::int64_t damagedPictures(const media::AssetReader& reader) {
    const media::AssetReader::PictureTally tally = reader.pictureTally();
    if (auto error = EncodingError::damagedPicturesFailure(reader.asset()->path().filename().string(), tally.damaged,
                                                           tally.delivered))
        throw *error;
    return tally.damaged;
}

void pumpVideo(media::AssetReaderOutput& output, media::AssetWriterInput& input, VideoPumpReporter& reporter) {
    FinishOnExit finish(input);
    PassSourceWaits waits(output, input);
    ReadAhead samples(output);
    while (auto sample = samples.next()) {
        reporter.sampleRead(*sample);
        if (!input.appendSampleBuffer(*sample)) throw EncodingError::writerFailed("could not append video sample");
        reporter.countFrame();
    }
}

// ------------------------------------------------------------------- ReadAhead

struct ReadAhead::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<media::SampleBufferRef> ready;
    std::size_t depth = 1;
    bool ended = false;     // the output has no more samples, or unpacking failed
    bool stopping = false;  // the consumer is gone
    std::exception_ptr failure;
};

namespace {

// The picture sample of a stored one, or nullptr when it yields no picture.
media::SampleBufferRef unpacked(const media::SampleBuffer& sample, const FrameUnpacker& unpacker) {
    media::PixelBufferRef picture = unpacker(sample);
    if (!picture) return nullptr;
    return media::SampleBuffer::makeImage(std::move(picture), sample.presentationTime(), sample.duration(),
                                          sample.formatDescription());
}

}  // namespace

ReadAhead::ReadAhead(media::AssetReaderOutput& output, std::size_t depth, const FrameUnpacker* unpacker)
    : state_(std::make_shared<State>()) {
    state_->depth = std::max<std::size_t>(depth, 1);
    thread_ = std::thread([&output, unpacker, state = state_] {
        nameThisThread("encode.reader");
        for (;;) {
            {
                std::unique_lock lock(state->mutex);
                state->changed.wait(lock, [&] { return state->stopping || state->ready.size() < state->depth; });
                if (state->stopping) break;
            }
            media::SampleBufferRef sample;
            std::exception_ptr failure;
            try {
                sample = output.copyNextSampleBuffer();
                // A sample without a picture is skipped; the stop is checked before the next pull.
                if (sample && unpacker && !(sample = unpacked(*sample, *unpacker))) continue;
            } catch (...) {
                failure = std::current_exception();
                sample = nullptr;
            }
            std::lock_guard lock(state->mutex);
            state->failure = failure;
            if (!sample)
                state->ended = true;
            else
                state->ready.push_back(std::move(sample));
            state->changed.notify_all();
            if (state->ended) break;
        }
    });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    thread_.join();
}

media::SampleBufferRef ReadAhead::next() {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return !state_->ready.empty() || state_->ended; });
    if (state_->ready.empty()) {
        if (state_->failure) std::rethrow_exception(state_->failure);
        return nullptr;
    }
    media::SampleBufferRef sample = std::move(state_->ready.front());
    state_->ready.pop_front();
    state_->changed.notify_all();
    return sample;
}

// ------------------------------------------------------------------ PumpThread

PumpThread::PumpThread(std::string name, std::function<void()> body) {
    thread_ = std::thread([this, name = std::move(name), body = std::move(body)] {
        nameThisThread(name);
        try {
            body();
        } catch (...) {
            failure_ = std::current_exception();
        }
    });
}

PumpThread::~PumpThread() {
    if (thread_.joinable()) thread_.join();
}

void PumpThread::join() {
    if (thread_.joinable()) thread_.join();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace fw

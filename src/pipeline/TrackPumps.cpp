#include "pipeline/TrackPumps.h"

#include "pipeline/TrackPumps_internal.h"

#include <algorithm>
#include <cmath>
#include <pthread.h>
#include <utility>

namespace fw {

std::optional<FrameUnpacker> frameUnpacker(const media::FormatDescription&) { return std::nullopt; }

// -------------------------------------------------------------- VideoPumpReporter

void VideoPumpReporter::reportProgress(double seconds) const {
    if (!progress_ || !(durationSeconds_ > 0) || !std::isfinite(seconds)) return;
    progress_(std::min(std::max(seconds - startSeconds_, 0.0) / durationSeconds_, 1.0));
}

void VideoPumpReporter::offerPreview(const media::PixelBuffer& frame) const {
    if (!preview_ || !throttle_.shouldEmit()) return;
    if (auto image = PreviewRenderer::downscaledImage(frame, PreviewRenderer::kMaxDimension))
        preview_(PreviewFrame{std::move(image)});
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

void pumpSamples(media::AssetReaderOutput& output, media::AssetWriterInput& input, std::string_view label,
                 const std::function<void(const media::SampleBuffer&)>& onSample) {
    FinishOnExit finish(input);
    while (auto sample = output.copyNextSampleBuffer()) {
        if (onSample) onSample(*sample);
        if (!input.appendSampleBuffer(*sample))
            throw EncodingError::writerFailed("could not append " + std::string(label) + " sample");
    }
}

void pumpVideo(media::AssetReaderOutput& output, media::AssetWriterInput& input, VideoPumpReporter& reporter) {
    FinishOnExit finish(input);
    while (auto sample = output.copyNextSampleBuffer()) {
        reporter.sampleRead(*sample);
        if (!input.appendSampleBuffer(*sample)) throw EncodingError::writerFailed("could not append video sample");
        reporter.countFrame();
    }
}

// ------------------------------------------------------------------ PumpThread

PumpThread::PumpThread(std::string name, std::function<void()> body) {
    thread_ = std::thread([this, name = std::move(name), body = std::move(body)] {
        // Thread names hold 15 characters and the terminator.
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
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

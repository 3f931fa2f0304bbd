#include "encoders/FFmpegClipEncoder.h"

#include "pipeline/DecodeHelperReader.h"
#include "pipeline/FFmpegSource.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/WriterSettings.h"
#include "platform/core/StagedFile.h"

#include <algorithm>
#include <memory>

namespace fw {

namespace fs = std::filesystem;

namespace {

std::string orUnknown(const std::optional<std::string>& text) {
    return text && !text->empty() ? *text : std::string("unknown error");
}

// Joins a pump, keeping the first failure.
void joinKeepingFirst(PumpThread& pump, std::exception_ptr& failure) {
    try {
        pump.join();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
}

}  // namespace

FFmpegClipRequest ffmpegClipRequest(const MovieEncoder& route) {
    FFmpegClipRequest request;
    request.videoSettings = route.videoSettings;
    request.fileType = route.fileType;
    request.scaling = route.scaling;
    request.stripAudio = route.stripAudio;
    return request;
}

void FFmpegClipEncoder::encode(const fs::path& source, const fs::path& destination, const ProgressCallback& progress,
                               const PreviewCallback& preview, std::stop_token stop) const {
    const auto helper = FFmpegSource::helperPath();
    if (!helper) throw EncodingError::readerFailed("the FFmpeg decode helper is not installed");
    const auto probe = FFmpegSource::probe(source, request_.timeLimit);
    if (!probe) throw EncodingError::readerFailed("the file could not be decoded");
    if (stop.stop_requested()) throw EncodingError::cancelled();

    // Declared before the writer: it goes after the writer has closed the file.
    StagedFile staged(destination);
    if (staged.replaces(source)) throw EncodingError::destinationIsSource();
    DecodeHelperReader reader(*helper, source, request_.timeLimit);
    std::stop_callback cancelReading(stop, [&reader] { reader.cancel(); });
    const DecodeHelperHeader& header = reader.header();

    auto writer = std::make_shared<media::AssetWriter>(staged.path(), mediaFileType(request_.fileType), destination);
    VideoWriterSettings settings = request_.videoSettings;
    if (!request_.scaling) {
        // 4:2:0 codecs store even sides; the writer converts the pictures to them.
        const bool evenSides = settings.family != VideoCodecFamily::proRes;
        settings.width = evenSides ? std::max(header.width & ~1, 2) : header.width;
        settings.height = evenSides ? std::max(header.height & ~1, 2) : header.height;
    }
    const bool tenBit = request_.scaling && request_.scaling->tenBit;
    const bool keepsAlpha = request_.scaling ? request_.scaling->preservesAlpha : true;
    const double frameRate =
        request_.scaling && request_.scaling->targetFrameRate && *request_.scaling->targetFrameRate > 0
            ? *request_.scaling->targetFrameRate
            : header.frameRate;
    const auto videoOutput = reader.videoOutput();
    media::VideoEncoderSettings videoSettings =
        videoEncoderSettings(settings, sourceColorTags(videoOutput->track()), frameRate, tenBit, keepsAlpha);
    if (!request_.scaling || !request_.scaling->targetFrameRate) videoSettings.timescale = header.timescale();
    const auto videoInput = writer->addVideoInput(videoSettings);
    if (!videoInput) throw EncodingError::writerFailed("could not add the video track to the output");

    std::shared_ptr<media::AssetReaderOutput> audioOutput;
    media::AssetWriterInputRef audioInput;
    if (!request_.stripAudio && header.sampleRate > 0) {
        const media::AudioEncoderSettings sound =
            movieAudioSettings(request_.fileType, header.sampleRate, header.channelCount == 1);
        if ((audioInput = writer->addAudioInput(sound))) audioOutput = reader.audioOutput();
    }

    if (!writer->startWriting()) throw EncodingError::writerFailed(orUnknown(writer->errorDescription()));
    writer->startSession(media::MediaTime::zero());
    // A stop abandons the writer too: its encoder is not drained.
    std::stop_callback abandonWriting(stop, [&writer] { writer->cancelWriting(); });

    PreviewThrottle throttle(0.1);
    ReachedSeconds reached;
    VideoPumpReporter reporter(probe->duration, 0, progress, preview, throttle, reached);
    std::unique_ptr<FrameResizer> resizer;
    if (const auto& scaling = request_.scaling)
        resizer =
            std::make_unique<FrameResizer>(scaling->width, scaling->height, scaling->mode, scaling->filters.get(),
                                           frameRate, scaling->geometry, scaling->tenBit, scaling->preservesAlpha);

    // A failing pump stops the helper, so that the other pump ends too.
    auto cancellingOnFailure = [&reader](std::function<void()> body) {
        return [&reader, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                reader.cancel();
                throw;
            }
        };
    };
    std::exception_ptr failure;
    {
        PumpThread video(resizer ? "helper.resize" : "helper.video", cancellingOnFailure([&] {
                             if (resizer)
                                 pumpResizedVideo(*videoOutput, *videoInput, *resizer, 0,
                                                  request_.scaling->targetFrameRate, nullptr, reporter);
                             else
                                 pumpVideo(*videoOutput, *videoInput, reporter);
                         }));
        std::optional<PumpThread> audio;
        if (audioOutput)
            audio.emplace("helper.audio",
                          cancellingOnFailure([&] { pumpSamples(*audioOutput, *audioInput, "audio"); }));
        joinKeepingFirst(video, failure);
        if (audio) joinKeepingFirst(*audio, failure);
    }
    if (stop.stop_requested()) throw EncodingError::cancelled();
    if (failure) std::rethrow_exception(withWriterReason(failure, *writer));
    reader.finish();
    if (!writer->finishWriting() || writer->status() == media::AssetWriter::Status::failed) {
        // A stop while the file was being finished abandoned the writer.
        if (stop.stop_requested()) throw EncodingError::cancelled();
        throw EncodingError::writerFailed(orUnknown(writer->errorDescription()));
    }
    if (reporter.framesWritten() == 0) throw EncodingError::readerFailed("the decoder produced no frames");
    if (auto error = staged.commit())
        throw EncodingError::writerFailed("could not move the output to \u201c" + destination.filename().string() +
                                          "\u201d: " + error.message());
    if (progress) progress(1.0);
}

}  // namespace fw

#include "encoders/TextureMovie.h"

#include "pipeline/DisplayedSize.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/PreviewRenderer.h"
#include "platform/core/MediaUnits.h"
#include "platform/core/StagedFile.h"
#include "platform/media/AssetWriter.h"
#include "platform/media/ImageDecoder.h"
#include "platform/media/MediaError.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace fw {

namespace fs = std::filesystem;

MovieEncoder textureMovieEncoder(const media::Asset& source, const std::optional<FrameScaling>& scaling,
                                 const MovieSound& sound, FramePacking packing, int threads) {
    const IntSize size = scaling ? IntSize{scaling->width, scaling->height} : displayedPixelSize(source);
    MovieEncoder encoder;
    encoder.videoSettings.width = size.width;
    encoder.videoSettings.height = size.height;
    encoder.fileType = ContainerFileType::quickTimeMovie;
    encoder.scaling = scaling;
    // Texture frames hold 8 bits a channel.
    if (encoder.scaling) encoder.scaling->tenBit = false;
    encoder.audioGain = sound.gain;
    encoder.stripAudio = sound.strip;
    encoder.downmixMono = sound.downmixMono;
    encoder.sampleRate = kDefaultSampleRate;
    encoder.preserveAllAudioTracks = false;
    encoder.trim = sound.trim;
    encoder.packing = std::move(packing);
    encoder.threads = threads;
    return encoder;
}

void writeStillClip(const fs::path& source, const fs::path& destination, const StillClip& clip,
                    const FramePacking& packing, const std::function<void(std::int64_t, std::int64_t)>& checkSize,
                    const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop) {
    const std::int64_t frameCount = stillFrameCount(clip);

    media::PixelBufferRef image;
    try {
        image = media::ImageDecoder::pixelBuffer(source);
    } catch (const media::MediaError& error) {
        throw EncodingError::imageDecodeFailed(error.what());
    }
    const StillFrame still = stillFrame(clip.target, {image->width(), image->height()});
    if (checkSize) checkSize(still.size.width, still.size.height);
    // The resizer refuses sides beyond its range by making no picture.
    const int width = static_cast<int>(std::clamp<std::int64_t>(still.size.width, 1, 1 << 20));
    const int height = static_cast<int>(std::clamp<std::int64_t>(still.size.height, 1, 1 << 20));

    // Shown at time 0 (a burned-in timecode reads 0); the image is already upright.
    FrameResizer resizer(width, height, still.placement, clip.target.filters.get(), kStillClipFrameRate, std::nullopt,
                         /*tenBit=*/false, /*preservesAlpha=*/false);
    const media::PixelBufferRef picture = resizer.resized(*image, 0);
    if (!picture) throw EncodingError::writerFailed("could not render still frame");
    image.reset();
    auto packed = std::make_shared<std::vector<std::uint8_t>>();
    packing.packFrame(*picture, *packed);
    const std::shared_ptr<const std::vector<std::uint8_t>> frame = std::move(packed);
    preview.offer(
        [&] { return PreviewFrame{PreviewRenderer::downscaledImage(*picture, PreviewRenderer::kMaxDimension)}; });

    // The writer closes (and on failure removes) its file before the staging is discarded.
    StagedFile staged(destination);
    if (staged.replaces(source)) throw EncodingError::destinationIsSource();
    const auto writer =
        std::make_shared<media::AssetWriter>(staged.path(), media::FileType::quickTimeMovie, destination);
    media::PassthroughVideoSettings stored;
    stored.codecType = packing.codecType;
    stored.width = width;
    stored.height = height;
    stored.timescale = clip.frameRate;
    const media::AssetWriterInputRef input = writer->addPassthroughVideoInput(stored);
    if (!input) throw EncodingError::writerFailed("could not add the video track to the output");
    if (!writer->startWriting()) throw EncodingError::writerFailed(detailOr(writer->errorDescription()));
    writer->startSession(media::MediaTime::zero());

    const media::MediaTime frameDuration(1, clip.frameRate);
    for (std::int64_t index = 0; index < frameCount; ++index) {
        if (stop.stop_requested()) throw EncodingError::cancelled();
        // Every sample shares the one packed frame.
        const auto sample = media::SampleBuffer::makeShared(*frame, frame, media::MediaTime(index, clip.frameRate),
                                                            frameDuration, /*format=*/nullptr);
        // The writer's own reason (a full disk, say) comes before our generic one.
        if (!input->appendSampleBuffer(*sample))
            throw EncodingError::writerFailed(
                detailOr(writer->errorDescription(), "could not append " + packing.frameName + " frame"));
        if (progress) progress(static_cast<double>(index + 1) / static_cast<double>(frameCount));
    }
    input->markAsFinished();
    if (stop.stop_requested()) throw EncodingError::cancelled();
    if (!writer->finishWriting() || writer->status() == media::AssetWriter::Status::failed)
        throw EncodingError::writerFailed(detailOr(writer->errorDescription()));
    if (auto error = staged.commit())
        throw EncodingError::outputNotMoved(destination.filename().string(), error.message());
    if (progress) progress(1.0);
}

}  // namespace fw

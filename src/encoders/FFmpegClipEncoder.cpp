#include "encoders/FFmpegClipEncoder.h"

#include "encoders/EncodeRoute.h"
#include "pipeline/DecodeHelperAsset.h"
#include "pipeline/DecodeHelperReader.h"

#include <memory>

namespace fw {

namespace fs = std::filesystem;

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
    if (!FFmpegSource::helperPath()) throw EncodingError::readerFailed("the FFmpeg decode helper is not installed");
    const auto probe = FFmpegSource::probe(source, request_.timeLimit, request_.clock);
    if (!probe) throw EncodingError::readerFailed("the file could not be decoded");
    encode(source, *probe, destination, progress, preview, stop);
}

void FFmpegClipEncoder::encode(const fs::path& source, const FFmpegSource::ProbeInfo& probe,
                               const fs::path& destination, const ProgressCallback& progress,
                               const PreviewCallback& preview, std::stop_token stop) const {
    const auto helper = FFmpegSource::helperPath();
    if (!helper) throw EncodingError::readerFailed("the FFmpeg decode helper is not installed");
    if (stop.stop_requested()) throw EncodingError::cancelled();

    auto reader = std::make_shared<DecodeHelperReader>(*helper, source, request_.timeLimit, request_.clock);
    // Also stops a read the movie encoder's own stop cannot reach before it starts.
    std::stop_callback cancelReading(stop, [&reader] { reader->cancel(); });
    const DecodeHelperHeader& header = reader->header();
    const bool withSound = !request_.stripAudio && header.sampleRate > 0;
    const media::AssetRef asset = decodeHelperAsset(reader, source, probe.duration, withSound);

    MovieEncoder movie;
    movie.videoSettings = request_.videoSettings;
    if (!request_.scaling) {
        // The stream's own size, which may differ from the probe's.
        const IntSize stored = writerFrameSize(movie.videoSettings.family, {header.width, header.height});
        movie.videoSettings.width = stored.width;
        movie.videoSettings.height = stored.height;
    }
    movie.fileType = request_.fileType;
    movie.scaling = request_.scaling;
    movie.stripAudio = !withSound;
    movie.sampleRate = header.sampleRate;
    movie.downmixMono = header.channelCount == 1;
    // The helper names every picture it has: a stream that fails fails the encode.
    movie.forgivesDamagedTail = false;
    try {
        movie.encode(asset, destination, progress, preview, stop);
    } catch (const EncodingError& error) {
        if (error.kind() == EncodingError::Kind::readerFailed)
            if (auto failure = decodeHelperFailure(*asset)) throw *failure;
        throw;
    }
}

}  // namespace fw

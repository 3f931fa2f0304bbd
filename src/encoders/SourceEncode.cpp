#include "encoders/SourceEncode.h"

#include "encoders/DXVEncoder.h"
#include "encoders/FFmpegClipEncoder.h"
#include "encoders/HapEncoder.h"
#include "encoders/ImageExportEncoder.h"
#include "model/SupportedMediaType.h"
#include "pipeline/AudioEncoder.h"
#include "pipeline/DisplayedSize.h"
#include "pipeline/FFmpegSource.h"
#include "platform/media/Asset.h"
#include "platform/media/MediaError.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace fw {

namespace {

namespace fs = std::filesystem;

// Encoders not part of this build yet fail the output with a plain message.
[[noreturn]] void notAvailable(OutputCodec codec) {
    throw std::runtime_error(std::string(rawValue(codec)) + " output is not available in this build yet.");
}

// A source the media layer refuses, or finds no pictures in, that the decode
// helper reads: the platform movie codecs only, sized by the helper's probe.
void encodeThroughHelper(const fs::path& source, const fs::path& destination, const ExportConfiguration& configuration,
                         const SourceEncodeOptions& options, const FFmpegSource::ProbeInfo& probe,
                         const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop) {
    if (usesHapEncoder(configuration.codec) || usesDXVEncoder(configuration.codec))
        throw std::runtime_error(std::string(rawValue(configuration.codec)) +
                                 " output cannot be made from a source that only the decode helper reads.");
    const EncodeRoute route = encodeRoute(configuration, IntSize{probe.width, probe.height}, options.batch);
    const auto& movie = std::get<MovieEncoder>(route.encoder);
    FFmpegClipEncoder(ffmpegClipRequest(movie)).encode(source, destination, progress, preview, stop);
}

}  // namespace

void encodeSource(const fs::path& source, const fs::path& destination, const ExportConfiguration& configuration,
                  const SourceEncodeOptions& options, const ProgressCallback& progress, const PreviewCallback& preview,
                  std::stop_token stop) {
    // Movie routes size the picture from the source as it is displayed; the
    // still routes leave the source to their encoder. A still image on a Hap
    // or DXV route becomes a clip: known by its name, or else by its content
    // once opened (WebP, say).
    media::AssetRef asset;
    std::optional<IntSize> sourceSize;
    bool stillClip = false;
    if (needsSourceSize(configuration)) {
        stillClip = makesStillClip(configuration.codec) && SupportedMediaType::isStillImage(source);
        if (!stillClip) {
            std::exception_ptr refused;
            try {
                asset = media::Asset::open(source);
            } catch (const media::MediaError&) {
                refused = std::current_exception();
            }
            if (asset) stillClip = makesStillClip(configuration.codec) && asset->isStillImage();
            // What the media layer cannot read as a movie may still decode through the helper.
            if (refused || (!asset->isStillImage() && asset->tracks(media::MediaType::video).empty())) {
                if (const auto probe = FFmpegSource::probe(source))
                    return encodeThroughHelper(source, destination, configuration, options, *probe, progress, preview,
                                               stop);
                if (refused) std::rethrow_exception(refused);
                if (options.withoutPictures == SourceEncodeOptions::WithoutPictures::soundOnly) {
                    const AudioSettings& audio = options.batch.audio;
                    const AudioEncoder sound{options.batch.loudnessGain, audio.downmixMono, audio.effectiveSampleRate(),
                                             configuration.trim};
                    return sound.encode(source, destination, progress, stop);
                }
            }
        }
        if (!stillClip) sourceSize = displayedPixelSize(*asset);
    }
    const EncodeRoute route = stillClip ? stillClipRoute(configuration, options.batch, options.stillClipSeconds)
                                        : encodeRoute(configuration, sourceSize, options.batch);
    if (const auto* movie = std::get_if<MovieEncoder>(&route.encoder))
        return movie->encode(asset, destination, progress, preview, stop);
    if (const auto* hap = std::get_if<HapRequest>(&route.encoder))
        return HapEncoder(*hap).encode(asset, destination, progress, preview, stop);
    if (const auto* dxv = std::get_if<DXVRequest>(&route.encoder))
        return DXVEncoder(*dxv).encode(asset, destination, progress, preview, stop);
    if (const auto* hapStill = std::get_if<HapStillRequest>(&route.encoder))
        return HapEncoder::encodeStillImage(*hapStill, source, destination, progress, preview, stop);
    if (const auto* dxvStill = std::get_if<DXVStillRequest>(&route.encoder))
        return DXVEncoder::encodeStillImage(*dxvStill, source, destination, progress, preview, stop);
    // A movie's poster frame or every frame, or the still image itself.
    if (const auto* image = std::get_if<ImageRequest>(&route.encoder)) {
        const bool sequence = options.images == SourceEncodeOptions::Images::sequence;
        return ImageExportEncoder{*image, sequence}.encode(source, destination, progress, preview, stop);
    }
    notAvailable(configuration.codec);
}

}  // namespace fw

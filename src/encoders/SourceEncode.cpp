#include "encoders/SourceEncode.h"

#include "encoders/DXVEncoder.h"
#include "encoders/FFmpegClipEncoder.h"
#include "encoders/GIFEncoder.h"
#include "encoders/HapEncoder.h"
#include "encoders/ImageExportEncoder.h"
#include "encoders/RawClipEncoder.h"
#include "encoders/RawDecoderRegistry.h"
#include "encoders/StillImageEncoder.h"
#include "model/EncodingError.h"
#include "model/OutputSizing.h"
#include "model/SupportedMediaType.h"
#include "pipeline/AudioEncoder.h"
#include "pipeline/DisplayedSize.h"
#include "pipeline/FFmpegSource.h"
#include "pipeline/StitchComposition.h"
#include "platform/media/Asset.h"
#include "platform/media/MediaError.h"

#include <cctype>
#include <cmath>
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

std::string lowerCasedExtension(const fs::path& source) {
    std::string extension = source.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::shared_ptr<RawClip> openCameraRaw(const fs::path& source) {
    const auto decoder = RawDecoderRegistry::shared().decoder(source);
    if (!decoder) throw EncodingError::rawDecoderUnavailable(lowerCasedExtension(source));
    return decoder->open(source);
}

void encodeCameraRaw(const fs::path& source, const fs::path& destination, const ExportConfiguration& configuration,
                     const SourceEncodeOptions& options, const ProgressCallback& progress,
                     const PreviewCallback& preview, std::stop_token stop) {
    const OutputCodec codec = configuration.codec;
    // The plug-in check comes first: a clip nothing can open says so whatever the codec.
    const auto decoder = RawDecoderRegistry::shared().decoder(source);
    if (!decoder) throw EncodingError::rawDecoderUnavailable(lowerCasedExtension(source));
    if (codec != OutputCodec::proRes && !hasBitrateControls(codec))
        throw std::runtime_error(std::string(rawValue(codec)) + " from RAW \u2014 choose ProRes, H.264, or HEVC");
    const auto clip = decoder->open(source);
    // RAW clips keep their own timing and carry no sound or metadata.
    ExportConfiguration pictures = configuration;
    pictures.trim.reset();
    if (pictures.geometry && pictures.geometry->isActive())
        pictures.geometry->frameRateEnabled = false;
    else
        pictures.geometry.reset();
    BatchInputs batch;
    batch.filters = options.batch.filters;
    batch.colorProperties = options.batch.colorProperties;
    const IntSize size{static_cast<int>(clip->width()), static_cast<int>(clip->height())};
    const EncodeRoute route = encodeRoute(pictures, size, batch);
    const auto& movie = std::get<MovieEncoder>(route.encoder);
    RawClipEncoder encoder{clip, movie.videoSettings, movie.fileType, {}};
    if (movie.scaling) {
        encoder.scaling = *movie.scaling;
    } else {
        encoder.scaling.width = OutputSizing::even(route.nameSize.width);
        encoder.scaling.height = OutputSizing::even(route.nameSize.height);
    }
    encoder.scaling.preservesAlpha = false;
    encoder.encode(destination, progress, preview, stop);
}

}  // namespace

IntSize cameraRawPictureSize(const fs::path& source) {
    const auto clip = openCameraRaw(source);
    return {static_cast<int>(clip->width()), static_cast<int>(clip->height())};
}

std::optional<double> timelineSeconds(const fs::path& source) {
    const auto positive = [](double seconds) {
        return std::isfinite(seconds) && seconds > 0 ? std::optional(seconds) : std::nullopt;
    };
    try {
        if (SupportedMediaType::isCameraRaw(source)) {
            const auto clip = openCameraRaw(source);
            const double rate = clip->frameRate();
            return rate > 0 ? positive(static_cast<double>(clip->frameCount()) / rate) : std::nullopt;
        }
        const media::AssetRef asset = media::Asset::open(source);
        if (asset->isStillImage()) return std::nullopt;
        if (auto seconds = positive(asset->duration().seconds())) return seconds;
    } catch (const std::exception&) {
        // Not ours to read; the decode helper may know it.
    }
    if (const auto probe = FFmpegSource::probe(source)) return positive(probe->duration);
    return std::nullopt;
}

fs::path encodeStitch(const std::vector<fs::path>& clips, const ExportConfiguration& configuration,
                      const SourceEncodeOptions& options, const std::function<fs::path(IntSize)>& destination,
                      const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop) {
    const media::AssetRef joined = StitchComposition::build(clips);
    ExportConfiguration whole = configuration;
    whole.trim.reset();
    whole.geometry.reset();
    BatchInputs batch;
    batch.colorProperties = options.batch.colorProperties;
    batch.metadata = options.batch.metadata;
    batch.threads = options.batch.threads;
    const EncodeRoute route = encodeRoute(whole, displayedPixelSize(*joined), batch);
    const auto* movie = std::get_if<MovieEncoder>(&route.encoder);
    if (movie == nullptr) throw EncodingError::unsupportedCodec(std::string(rawValue(configuration.codec)));
    const fs::path file = destination(route.nameSize);
    movie->encode(joined, file, progress, preview, stop);
    return file;
}

void encodeSource(const fs::path& source, const fs::path& destination, const ExportConfiguration& configuration,
                  const SourceEncodeOptions& options, const ProgressCallback& progress, const PreviewCallback& preview,
                  std::stop_token stop) {
    if (SupportedMediaType::isCameraRaw(source))
        return encodeCameraRaw(source, destination, configuration, options, progress, preview, stop);
    // Movie routes size the picture from the source as it is displayed; the
    // still routes leave the source to their encoder. A still image on a movie
    // route becomes a clip: known by its name, or else by its content once
    // opened (WebP, say).
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
    if (const auto* stillMovie = std::get_if<StillMovieRequest>(&route.encoder))
        return StillImageEncoder(*stillMovie).encode(source, destination, progress, preview, stop);
    if (const auto* gif = std::get_if<GIFRequest>(&route.encoder))
        return GIFEncoder{*gif}.encode(source, destination, progress, stop);
    // A movie's poster frame or every frame, or the still image itself.
    if (const auto* image = std::get_if<ImageRequest>(&route.encoder)) {
        const bool sequence = options.images == SourceEncodeOptions::Images::sequence;
        return ImageExportEncoder{*image, sequence}.encode(source, destination, progress, preview, stop);
    }
    notAvailable(configuration.codec);
}

}  // namespace fw

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
#include "platform/media/ImageDecoder.h"
#include "platform/media/MediaError.h"

#include <cctype>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>
#include <variant>

namespace fw {

namespace {

namespace fs = std::filesystem;

// One lambda for each route: a route without its encoder does not compile.
template <class... Encoders>
struct EveryRoute : Encoders... {
    using Encoders::operator()...;
};

// A source the media layer refuses, or finds no pictures in, that the decode
// helper reads: the platform movie codecs only, sized by the helper's probe.
void encodeThroughHelper(const fs::path& source, const fs::path& destination, const ExportConfiguration& configuration,
                         const SourceEncodeOptions& options, const FFmpegSource::ProbeInfo& probe,
                         const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop) {
    if (usesHapEncoder(configuration.codec) || usesDXVEncoder(configuration.codec))
        throw std::runtime_error(std::string(rawValue(configuration.codec)) +
                                 " output from this source isn't supported yet \u2014 convert to ProRes first");
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

bool isStillImageSource(const fs::path& source) {
    return SupportedMediaType::isStillImage(source) || media::ImageDecoder::isImage(source);
}

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
    const IntSize frame = displayedPixelSize(*joined);
    if (!whole.resize.isEnabled && (frame.width % 2 != 0 || frame.height % 2 != 0)) {
        // Every clip is fitted into one frame anyway: make it the even size
        // above, which every codec stores (ProRes would keep an odd one).
        whole.resize.isEnabled = true;
        whole.resize.width = OutputSizing::even(frame.width);
        whole.resize.height = OutputSizing::even(frame.height);
        whole.resize.mode = ResizeMode::aspect;
    }
    BatchInputs batch;
    batch.colorProperties = options.batch.colorProperties;
    batch.metadata = options.batch.metadata;
    batch.threads = options.batch.threads;
    const EncodeRoute route = encodeRoute(whole, frame, batch);
    const auto* movie = std::get_if<MovieEncoder>(&route.encoder);
    if (movie == nullptr) throw EncodingError::unsupportedCodec(std::string(rawValue(configuration.codec)));
    const fs::path file = destination(route.nameSize);
    movie->encode(joined, file, progress, preview, stop);
    return file;
}

void encodeSource(const fs::path& source, const fs::path& destination, const ExportConfiguration& configuration,
                  const SourceEncodeOptions& options, const ProgressCallback& progress, const PreviewCallback& preview,
                  std::stop_token stop) {
    std::error_code error;
    if (fs::is_directory(source, error))
        throw EncodingError::readerFailed("\u201c" + source.filename().string() + "\u201d is a folder, not a file");
    if (SupportedMediaType::isCameraRaw(source))
        return encodeCameraRaw(source, destination, configuration, options, progress, preview, stop);
    // Movie routes size the picture from the source as it is displayed; the
    // still routes leave the source to their encoder. A still image on a movie
    // route becomes a clip, known by its name or its content; only other files
    // are opened as movies (or handed to the decode helper).
    media::AssetRef asset;
    std::optional<IntSize> sourceSize;
    bool stillClip = false;
    if (needsSourceSize(configuration)) {
        stillClip = makesStillClip(configuration.codec) && isStillImageSource(source);
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
    std::visit(EveryRoute{
                   [&](const MovieEncoder& movie) { movie.encode(asset, destination, progress, preview, stop); },
                   [&](const HapRequest& hap) { HapEncoder(hap).encode(asset, destination, progress, preview, stop); },
                   [&](const DXVRequest& dxv) { DXVEncoder(dxv).encode(asset, destination, progress, preview, stop); },
                   [&](const HapStillRequest& hapStill) {
                       HapEncoder::encodeStillImage(hapStill, source, destination, progress, preview, stop);
                   },
                   [&](const DXVStillRequest& dxvStill) {
                       DXVEncoder::encodeStillImage(dxvStill, source, destination, progress, preview, stop);
                   },
                   [&](const StillMovieRequest& stillMovie) {
                       StillImageEncoder(stillMovie).encode(source, destination, progress, preview, stop);
                   },
                   [&](const GIFRequest& gif) { GIFEncoder{gif}.encode(source, destination, progress, stop); },
                   // A movie's poster frame or every frame, or the still image itself.
                   [&](const ImageRequest& image) {
                       const bool sequence = options.images == SourceEncodeOptions::Images::sequence;
                       ImageExportEncoder{image, sequence}.encode(source, destination, progress, preview, stop);
                   },
               },
               route.encoder);
}

}  // namespace fw

#include "encoders/EncodeRoute.h"

#include "model/EncodingError.h"
#include "platform/core/NumberText.h"
#include "platform/media/AssetWriter.h"
#include "platform/media/MediaError.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace fw {

namespace {

// Resized 10-bit frames carry 4:2:0 chroma, and H.264 and HEVC store it, so
// the frames the routes ask for have even sides.
IntSize evenSize(IntSize size) { return {OutputSizing::even(size.width), OutputSizing::even(size.height)}; }

std::shared_ptr<const PreparedFilters> activeFilters(const BatchInputs& batch) {
    return batch.filters && batch.filters->isActive() ? batch.filters : nullptr;
}

std::optional<GeometrySettings> activeGeometry(const ExportConfiguration& configuration) {
    if (configuration.geometry && configuration.geometry->isActive()) return configuration.geometry;
    return std::nullopt;
}

StillTarget stillTarget(const ExportConfiguration& configuration, const BatchInputs& batch) {
    StillTarget target;
    if (configuration.resize.isEnabled) target.size = IntSize{configuration.resize.width, configuration.resize.height};
    target.mode = configuration.resize.mode;
    target.filters = activeFilters(batch);
    return target;
}

// The picture side of the movie routes.
struct MoviePicture {
    IntSize outputSize;
    bool tenBit = false;
    // Only when it is needed; otherwise frames pass through untouched.
    std::optional<FrameScaling> scaling;
};

MoviePicture moviePicture(const ExportConfiguration& configuration, IntSize sourceSize, const BatchInputs& batch) {
    const std::optional<GeometrySettings> geometry = activeGeometry(configuration);
    FloatSize source(sourceSize);
    if (geometry) source = FloatSize(geometry->outputSize(source));

    MoviePicture picture;
    picture.outputSize = OutputSizing::outputSize(source, configuration.resize);
    picture.tenBit = configuration.tenBit && supportsTenBit(configuration.codec);

    const auto filters = activeFilters(batch);
    const bool convertsRate = configuration.geometry && configuration.geometry->convertsFrameRate();
    const bool needed = configuration.resize.isEnabled || filters || geometry || convertsRate || picture.tenBit;
    if (!needed) return picture;

    const IntSize frame = evenSize(picture.outputSize);
    FrameScaling scaling;
    scaling.width = frame.width;
    scaling.height = frame.height;
    scaling.mode = configuration.resize.isEnabled ? configuration.resize.mode : ResizeMode::aspect;
    scaling.filters = filters;
    scaling.geometry = geometry;
    if (convertsRate) scaling.targetFrameRate = configuration.geometry->frameRate;
    scaling.tenBit = picture.tenBit;
    scaling.preservesAlpha = configuration.alpha || configuration.codec == OutputCodec::hevcAlpha;
    picture.scaling = scaling;
    return picture;
}

MovieSound movieSound(const ExportConfiguration& configuration, const BatchInputs& batch) {
    return {batch.loudnessGain, batch.audio.stripAudio, batch.audio.downmixMono, configuration.trim};
}

HapKind hapKind(const ExportConfiguration& configuration) {
    if (configuration.codec == OutputCodec::hapQ) return HapKind::hapQ;
    return configuration.alpha ? HapKind::hapAlpha : HapKind::hap;
}

DXVKind dxvKind(const ExportConfiguration& configuration) {
    return configuration.codec == OutputCodec::dxv3 ? DXVKind::dxv3 : DXVKind::dxv2;
}

HapRequest hapRequest(const ExportConfiguration& configuration, const MoviePicture& picture, const BatchInputs& batch) {
    HapRequest request;
    request.kind = hapKind(configuration);
    request.scaling = picture.scaling;
    request.sound = movieSound(configuration, batch);
    request.threads = batch.threads;
    return request;
}

DXVRequest dxvRequest(const ExportConfiguration& configuration, const MoviePicture& picture, const BatchInputs& batch) {
    DXVRequest request;
    request.kind = dxvKind(configuration);
    request.alpha = configuration.alpha;
    request.highQuality = request.kind == DXVKind::dxv3 && configuration.dxvHighQuality;
    request.scaling = picture.scaling;
    request.sound = movieSound(configuration, batch);
    request.threads = batch.threads;
    return request;
}

// What the platform encoders are asked for, for frames of `frame` pixels;
// without h264 settings H.264 and HEVC take the encoder's own.
VideoWriterSettings platformVideoSettings(OutputCodec codec, IntSize frame, ProResVariant proResVariant,
                                          const std::optional<H264Settings>& h264,
                                          const std::optional<ColorProperties>& colorProperties) {
    auto settings = videoSettings(codec, frame.width, frame.height, proResVariant, h264, colorProperties);
    if (!settings) throw EncodingError::unsupportedCodec(std::string(rawValue(codec)));
    // The rate was figured from the size as it is.
    const IntSize stored = writerFrameSize(settings->family, {settings->width, settings->height});
    settings->width = stored.width;
    settings->height = stored.height;
    return *settings;
}

// The platform encoders' smallest pictures: x265 refuses any side under 16
// pixels ("Image size is too small"). The others take any even size.
constexpr std::int64_t kSmallestHEVCSide = 16;

// Refuses a frame size the codec's encoder would refuse once the file is
// open, so that nothing is written for it.
void requireEncodableSize(const VideoWriterSettings& settings) {
    const auto size = [](std::int64_t width, std::int64_t height) {
        return std::to_string(width) + "\u00d7" + std::to_string(height);
    };
    if (settings.family == VideoCodecFamily::hevc &&
        (settings.width < kSmallestHEVCSide || settings.height < kSmallestHEVCSide))
        throw EncodingError::writerFailed("HEVC needs pictures of at least " +
                                          size(kSmallestHEVCSide, kSmallestHEVCSide) + " pixels; this one would be " +
                                          size(settings.width, settings.height));
    const media::VideoCodec codec = settings.family == VideoCodecFamily::proRes ? media::VideoCodec::proRes
                                    : settings.family == VideoCodecFamily::h264 ? media::VideoCodec::h264
                                                                                : media::VideoCodec::hevc;
    const auto side = [](std::int64_t pixels) {
        return static_cast<int>(std::min<std::int64_t>(pixels, std::numeric_limits<int>::max()));
    };
    try {
        media::checkFrameSize(codec, side(settings.width), side(settings.height));
    } catch (const media::MediaError& error) {
        throw EncodingError::writerFailed(error.what());
    }
}

MovieEncoder platformEncoder(const ExportConfiguration& configuration, const MoviePicture& picture,
                             const BatchInputs& batch) {
    const OutputCodec codec = configuration.codec;
    // The writer is asked for the size the frames arrive at.
    const IntSize frame =
        picture.scaling ? IntSize{picture.scaling->width, picture.scaling->height} : picture.outputSize;
    std::optional<H264Settings> h264;
    if (hasBitrateControls(codec)) {
        h264 = configuration.h264;
        if (picture.tenBit) h264->profile = VideoProfile::main10;
    }
    MovieEncoder encoder;
    encoder.videoSettings =
        platformVideoSettings(codec, frame, configuration.proResVariant, h264, batch.colorProperties);
    requireEncodableSize(encoder.videoSettings);
    encoder.fileType = fileType(codec);
    encoder.scaling = picture.scaling;
    encoder.audioGain = batch.loudnessGain;
    encoder.stripAudio = batch.audio.stripAudio;
    encoder.downmixMono = batch.audio.downmixMono;
    encoder.sampleRate = batch.audio.sampleRate;
    encoder.preserveAllAudioTracks = batch.audio.preserveAllTracks;
    encoder.trim = configuration.trim;
    encoder.metadata = batch.metadata;
    encoder.threads = batch.threads;
    return encoder;
}

}  // namespace

IntSize writerFrameSize(VideoCodecFamily family, IntSize picture) {
    // The one exception to even sides: ProRes stores 4:2:2 and 4:4:4, any width and height.
    if (family == VideoCodecFamily::proRes) return picture;
    return evenSize(picture);
}

bool needsSourceSize(const ExportConfiguration& configuration) {
    return !usesGIFEncoder(configuration.codec) && !usesImageEncoder(configuration.codec);
}

EncodeRoute encodeRoute(const ExportConfiguration& configuration, std::optional<IntSize> sourceDisplayedSize,
                        const BatchInputs& batch) {
    const OutputCodec codec = configuration.codec;
    if (!isProducible(codec)) throw EncodingError::unsupportedCodec(std::string(rawValue(codec)));

    EncodeRoute route;
    if (!needsSourceSize(configuration)) {
        const StillTarget target = stillTarget(configuration, batch);
        route.nameSize = target.size.value_or(IntSize{0, 0});
        if (usesGIFEncoder(codec))
            route.encoder = GIFRequest{target};
        else
            route.encoder = ImageRequest{codec, target};
        return route;
    }

    if (!sourceDisplayedSize) throw std::invalid_argument("a movie route needs the source's displayed size");
    const MoviePicture picture = moviePicture(configuration, *sourceDisplayedSize, batch);
    // Names carry the frame size the file will hold: the even frame request
    // when there is one, the writer's even size for H.264 and HEVC.
    route.nameSize = picture.scaling ? IntSize{picture.scaling->width, picture.scaling->height} : picture.outputSize;
    if (usesHapEncoder(codec)) {
        route.encoder = hapRequest(configuration, picture, batch);
    } else if (usesDXVEncoder(codec)) {
        route.encoder = dxvRequest(configuration, picture, batch);
    } else {
        MovieEncoder encoder = platformEncoder(configuration, picture, batch);
        route.nameSize = {encoder.videoSettings.width, encoder.videoSettings.height};
        route.encoder = std::move(encoder);
    }
    return route;
}

bool makesStillClip(OutputCodec codec) {
    return isProducible(codec) && !usesGIFEncoder(codec) && !usesImageEncoder(codec);
}

std::int64_t stillFrameCount(const StillClip& clip) {
    // The rate is every frame time's timescale, so 0 or less is refused rather than divided by.
    if (clip.frameRate <= 0)
        throw EncodingError::writerFailed("a still image clip needs a frame rate above 0, not " +
                                          std::to_string(clip.frameRate));
    const double frames = std::trunc(clip.durationSeconds * clip.frameRate);
    constexpr double kMostFrames = 2147483648.0;
    if (!std::isfinite(frames) || frames >= kMostFrames)
        throw EncodingError::writerFailed("a still image clip of " + formatFixed(clip.durationSeconds, 2) +
                                          " s cannot be written");
    return frames < 1 ? 1 : static_cast<std::int64_t>(frames);
}

EncodeRoute stillClipRoute(const ExportConfiguration& configuration, const BatchInputs& batch, double durationSeconds) {
    const OutputCodec codec = configuration.codec;
    if (!isProducible(codec)) throw EncodingError::unsupportedCodec(std::string(rawValue(codec)));
    if (!makesStillClip(codec))
        throw std::invalid_argument(std::string(rawValue(codec)) + " output has no still clip route");

    StillClip clip;
    clip.target = stillTarget(configuration, batch);
    clip.durationSeconds = durationSeconds;
    clip.frameRate = kStillClipFrameRate;
    EncodeRoute route;
    route.nameSize = clip.target.size.value_or(IntSize{0, 0});
    if (usesHapEncoder(codec)) {
        route.encoder = HapStillRequest{hapKind(configuration), clip};
    } else if (!usesDXVEncoder(codec)) {
        StillMovieRequest request;
        request.codec = codec;
        request.proResVariant = configuration.proResVariant;
        if (codec == OutputCodec::h264) request.h264 = configuration.h264;
        request.colorProperties = batch.colorProperties;
        request.clip = clip;
        // Refused here as the movie route refuses it, before the image is read.
        platformVideoSettings(codec, {2, 2}, request.proResVariant, request.h264, request.colorProperties);
        route.encoder = std::move(request);
    } else {
        const DXVKind kind = dxvKind(configuration);
        route.encoder =
            DXVStillRequest{kind, configuration.alpha, kind == DXVKind::dxv3 && configuration.dxvHighQuality, clip};
    }
    return route;
}

StillFrame stillFrame(const StillTarget& target, IntSize picture, FrameSides sides) {
    StillFrame frame{picture, target.mode};
    if (target.size) {
        frame.size = {std::max<std::int64_t>(target.size->width, 1), std::max<std::int64_t>(target.size->height, 1)};
        // The box is kept whatever the picture's shape, so aspect may not stretch the picture over it.
        if (target.mode == ResizeMode::aspect) frame.placement = ResizeMode::fit;
    }
    if (sides == FrameSides::even) frame.size = evenSize(frame.size);
    return frame;
}

MovieEncoder stillMovieEncoder(const StillMovieRequest& request, IntSize picture) {
    // ProRes stores any size, so a box is kept as asked; a picture's own size is made even whatever the codec.
    const bool even = request.codec != OutputCodec::proRes || !request.clip.target.size;
    const StillFrame frame = stillFrame(request.clip.target, picture, even ? FrameSides::even : FrameSides::any);
    FrameScaling scaling;
    scaling.width = frame.size.width;
    scaling.height = frame.size.height;
    scaling.mode = frame.placement;
    scaling.filters = request.clip.target.filters;
    scaling.tenBit = false;
    // Composited on black, as every still clip is.
    scaling.preservesAlpha = false;

    MovieEncoder encoder;
    encoder.videoSettings =
        platformVideoSettings(request.codec, frame.size, request.proResVariant, request.h264, request.colorProperties);
    requireEncodableSize(encoder.videoSettings);
    encoder.fileType = fileType(request.codec);
    encoder.scaling = scaling;
    encoder.stripAudio = true;
    // The still names every frame it has: any read failure is a failure.
    encoder.forgivesDamagedTail = false;
    return encoder;
}

}  // namespace fw

#include "jobs/OutputPlan.h"

#include "encoders/RawDecoderRegistry.h"
#include "jobs/OutputNaming.h"
#include "jobs/SettingsBounds.h"
#include "model/EncodingError.h"
#include "model/OutputSizing.h"
#include "model/SupportedMediaType.h"
#include "pipeline/DisplayedSize.h"
#include "platform/core/SourceFileKind.h"
#include "platform/media/MediaError.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>

namespace fw::jobs {

namespace fs = std::filesystem;

namespace {

// A camera-RAW clip keeps its own timing and carries no sound or metadata:
// what of the configuration and the batch reaches its route.
ExportConfiguration cameraRawPictures(ExportConfiguration configuration) {
    configuration.trim.reset();
    if (configuration.geometry && configuration.geometry->isActive())
        configuration.geometry->frameRateEnabled = false;
    else
        configuration.geometry.reset();
    return configuration;
}

BatchInputs cameraRawBatch(const BatchInputs& batch) {
    BatchInputs pictures;
    pictures.filters = batch.filters;
    pictures.colorProperties = batch.colorProperties;
    return pictures;
}

bool isMovieRoute(const EncodeRoute& route) {
    return std::holds_alternative<MovieEncoder>(route.encoder) || std::holds_alternative<HapRequest>(route.encoder) ||
           std::holds_alternative<DXVRequest>(route.encoder);
}

}  // namespace

SourceProbe SourceProbe::sized(fs::path source, IntSize size) {
    SourceProbe probe;
    probe.source = std::move(source);
    probe.kind = Kind::media;
    probe.pictureSize = size;
    return probe;
}

SourceProbe probeSource(const fs::path& source, const ExportConfiguration& configuration) {
    // Before anything opens it: a pipe or a device would be read without end.
    if (const auto what = notARegularFile(source))
        throw EncodingError::readerFailed("\u201c" + source.filename().string() + "\u201d is " + *what +
                                          ", not a file");
    SourceProbe probe;
    probe.source = source;
    const OutputCodec codec = configuration.codec;
    if (SupportedMediaType::isCameraRaw(source)) {
        // The plug-in check comes first: a clip nothing can open says so whatever the codec.
        const auto decoder = cameraRawDecoder(source);
        if (codec != OutputCodec::proRes && !hasBitrateControls(codec))
            throw std::runtime_error(std::string(rawValue(codec)) + " from RAW \u2014 choose ProRes, H.264, or HEVC");
        auto clip = decoder->open(source);
        probe.kind = SourceProbe::Kind::cameraRaw;
        probe.pictureSize = IntSize{static_cast<int>(clip->width()), static_cast<int>(clip->height())};
        probe.raw = std::move(clip);
        return probe;
    }
    probe.still = isStillImageSource(source);
    // The still and image routes read the file themselves.
    if (!needsSourceSize(configuration) || (probe.still && makesStillClip(codec))) return probe;

    std::exception_ptr refused;
    try {
        probe.asset = media::Asset::open(source);
    } catch (const media::MediaError&) {
        refused = std::current_exception();
    }
    if (probe.asset && probe.asset->isStillImage()) {
        probe.still = true;
        probe.kind = SourceProbe::Kind::media;
        if (!makesStillClip(codec)) probe.pictureSize = displayedPixelSize(*probe.asset);
        return probe;
    }
    if (probe.asset && !probe.asset->tracks(media::MediaType::video).empty()) {
        probe.kind = SourceProbe::Kind::media;
        probe.pictureSize = displayedPixelSize(*probe.asset);
        return probe;
    }
    // What the media layer cannot read as a movie may still decode through the helper.
    if (auto helper = FFmpegSource::probe(source)) {
        probe.asset.reset();
        probe.kind = SourceProbe::Kind::helper;
        probe.pictureSize = IntSize{static_cast<int>(helper->width), static_cast<int>(helper->height)};
        probe.helper = helper;
        return probe;
    }
    if (refused) std::rethrow_exception(refused);
    probe.kind = SourceProbe::Kind::soundOnly;
    return probe;
}

IntSize naturalPixelSize(const SourceProbe& probe) {
    if (!probe.pictureSize || probe.kind == SourceProbe::Kind::soundOnly) throw EncodingError::noVideoTrack();
    return *probe.pictureSize;
}

namespace {

// The source size a route of `configuration` is sized from: none for the
// routes that read their source themselves.
std::optional<IntSize> routeSourceSize(const SourceProbe& probe, const ExportConfiguration& configuration) {
    if (!needsSourceSize(configuration)) return std::nullopt;
    return naturalPixelSize(probe);
}

OutputPlan plan(SourceProbe probe, const ExportConfiguration& settings, SourceEncodeOptions options,
                const std::function<fs::path(const OutputPlan&)>& name) {
    OutputPlan plan;
    plan.configuration = SettingsBounds::bounded(settings).resolvingAlpha();
    const ExportConfiguration& configuration = plan.configuration;
    const OutputCodec codec = configuration.codec;
    switch (probe.kind) {
    case SourceProbe::Kind::soundOnly:
        if (options.withoutPictures == SourceEncodeOptions::WithoutPictures::fail) throw EncodingError::noVideoTrack();
        plan.soundOnly = true;
        break;
    case SourceProbe::Kind::cameraRaw:
        plan.route =
            encodeRoute(cameraRawPictures(configuration), naturalPixelSize(probe), cameraRawBatch(options.batch));
        // The clip encoder always fits frames to a size, the even one whatever the codec.
        if (!std::get<MovieEncoder>(plan.route.encoder).scaling)
            plan.route.nameSize = {static_cast<int>(OutputSizing::even(plan.route.nameSize.width)),
                                   static_cast<int>(OutputSizing::even(plan.route.nameSize.height))};
        break;
    case SourceProbe::Kind::helper:
        if (usesHapEncoder(codec) || usesDXVEncoder(codec))
            throw std::runtime_error(std::string(rawValue(codec)) +
                                     " output from this source isn't supported yet \u2014 convert to ProRes first");
        plan.route = encodeRoute(configuration, naturalPixelSize(probe), options.batch);
        break;
    case SourceProbe::Kind::unopened:
    case SourceProbe::Kind::media:
        plan.route = probe.still && makesStillClip(codec)
                         ? stillClipRoute(configuration, options.batch, options.stillClipSeconds)
                         : encodeRoute(configuration, routeSourceSize(probe, configuration), options.batch);
        break;
    }
    // Every frame of a movie goes into a folder of pictures; a still stays one picture.
    plan.sequence = !plan.soundOnly && std::holds_alternative<ImageRequest>(plan.route.encoder) && !probe.still &&
                    options.images == SourceEncodeOptions::Images::sequence;
    if (!plan.sequence) options.images = SourceEncodeOptions::Images::single;
    plan.options = std::move(options);
    plan.sidecar = !plan.soundOnly && isMovieRoute(plan.route);
    plan.probe = std::move(probe);
    plan.destination = name(plan);
    return plan;
}

}  // namespace

OutputPlan planOutput(SourceProbe probe, const ExportConfiguration& settings, SourceEncodeOptions options,
                      const OutputPlace& place, const ReserveName& reserve) {
    return plan(std::move(probe), settings, std::move(options), [&](const OutputPlan& output) {
        const fs::path& source = output.source();
        const fs::path named =
            output.soundOnly
                ? OutputNaming::audioDestination(source, output.configuration, place.outputDirectory, place.date)
            : output.sequence
                ? OutputNaming::imageSequenceFolder(source, output.configuration.codec, place.outputDirectory)
                : OutputNaming::destination(source, output.configuration, output.writtenSize(), place.outputDirectory,
                                            place.date);
        if (!reserve) return named;
        return reserve(source, named,
                       output.sequence ? OutputReservations::Kind::folder : OutputReservations::Kind::file);
    });
}

OutputPlan planOutputAt(SourceProbe probe, const ExportConfiguration& settings, SourceEncodeOptions options,
                        const fs::path& destination) {
    return plan(std::move(probe), settings, std::move(options), [&](const OutputPlan&) { return destination; });
}

double jobProgress(std::size_t index, std::size_t count, double fraction) {
    if (count == 0) return 0;
    const double part = std::isnan(fraction) ? 0 : std::clamp(fraction, 0.0, 1.0);
    return std::clamp((static_cast<double>(index) + part) / static_cast<double>(count), 0.0, 1.0);
}

}  // namespace fw::jobs

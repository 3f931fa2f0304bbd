#include "jobs/PlanExecutor.h"

#include "encoders/DXVEncoder.h"
#include "encoders/FFmpegClipEncoder.h"
#include "encoders/GIFEncoder.h"
#include "encoders/HapEncoder.h"
#include "encoders/ImageExportEncoder.h"
#include "encoders/RawClipEncoder.h"
#include "encoders/StillImageEncoder.h"
#include "pipeline/AudioEncoder.h"

#include <variant>

namespace fw {

namespace jobs {

namespace {

namespace fs = std::filesystem;

// One lambda for each route: a route without its encoder does not compile.
template <class... Encoders>
struct EveryRoute : Encoders... {
    using Encoders::operator()...;
};

EncodeResult encodeSound(const OutputPlan& plan, const ProgressCallback& progress, std::stop_token stop) {
    const BatchInputs& batch = plan.options.batch;
    const AudioEncoder sound{batch.loudnessGain, batch.audio.downmixMono, batch.audio.effectiveSampleRate(),
                             plan.configuration.trim};
    return sound.encode(plan.source(), plan.destination, progress, stop);
}

void encodeCameraRaw(const OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback& preview,
                     std::stop_token stop) {
    const auto& movie = std::get<MovieEncoder>(plan.route.encoder);
    RawClipEncoder encoder{plan.probe.raw, movie.videoSettings, movie.fileType, {}};
    if (movie.scaling) {
        encoder.scaling = *movie.scaling;
    } else {
        encoder.scaling.width = plan.writtenSize().width;
        encoder.scaling.height = plan.writtenSize().height;
    }
    encoder.scaling.preservesAlpha = false;
    encoder.encode(plan.destination, progress, preview, stop);
}

void encodeThroughHelper(const OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback& preview,
                         std::stop_token stop) {
    FFmpegClipEncoder(ffmpegClipRequest(std::get<MovieEncoder>(plan.route.encoder)))
        .encode(plan.source(), *plan.probe.helper, plan.destination, progress, preview, stop);
}

}  // namespace

EncodeResult encodePlan(const OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback& preview,
                        std::stop_token stop) {
    if (plan.soundOnly) return encodeSound(plan, progress, stop);
    if (plan.probe.kind == SourceProbe::Kind::cameraRaw) {
        encodeCameraRaw(plan, progress, preview, stop);
        return {};
    }
    if (plan.probe.kind == SourceProbe::Kind::helper) {
        encodeThroughHelper(plan, progress, preview, stop);
        return {};
    }
    const fs::path& source = plan.source();
    const fs::path& destination = plan.destination;
    const media::AssetRef& asset = plan.probe.asset;
    EncodeResult result;
    std::visit(
        EveryRoute{
            [&](const MovieEncoder& movie) { result = movie.encode(asset, destination, progress, preview, stop); },
            [&](const HapRequest& hap) {
                result = HapEncoder(hap).encode(asset, destination, progress, preview, stop);
            },
            [&](const DXVRequest& dxv) {
                result = DXVEncoder(dxv).encode(asset, destination, progress, preview, stop);
            },
            [&](const HapStillRequest& hapStill) {
                HapEncoder::encodeStillImage(hapStill, source, destination, progress, preview, stop);
            },
            [&](const DXVStillRequest& dxvStill) {
                DXVEncoder::encodeStillImage(dxvStill, source, destination, progress, preview, stop);
            },
            [&](const StillMovieRequest& stillMovie) {
                StillImageEncoder(stillMovie).encode(source, destination, progress, preview, stop);
            },
            [&](const GIFRequest& gif) { result = GIFEncoder{gif}.encode(source, destination, progress, stop); },
            // A movie's poster frame or every frame, or the still image itself.
            [&](const ImageRequest& image) {
                result = ImageExportEncoder{image, plan.sequence}.encode(source, destination, progress, preview, stop);
            },
        },
        plan.route.encoder);
    return result;
}

}  // namespace jobs

void encodeSource(const std::filesystem::path& source, const std::filesystem::path& destination,
                  const ExportConfiguration& configuration, const SourceEncodeOptions& options,
                  const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop) {
    jobs::SourceProbe probe = jobs::probeSource(source, configuration);
    const jobs::OutputPlan plan = jobs::planOutputAt(std::move(probe), configuration, options, destination);
    jobs::encodePlan(plan, progress, preview, std::move(stop));
}

}  // namespace fw

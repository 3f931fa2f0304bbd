#include "encoders/SourceEncode.h"

#include "encoders/RawDecoderRegistry.h"
#include "model/EncodingError.h"
#include "model/OutputSizing.h"
#include "model/SupportedMediaType.h"
#include "pipeline/DisplayedSize.h"
#include "pipeline/FFmpegSource.h"
#include "pipeline/StitchComposition.h"
#include "platform/media/Asset.h"
#include "platform/media/ImageDecoder.h"

#include <cctype>
#include <cmath>
#include <string>

namespace fw {

namespace {

namespace fs = std::filesystem;

std::string lowerCasedExtension(const fs::path& source) {
    std::string extension = source.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

}  // namespace

std::shared_ptr<const RawDecoder> cameraRawDecoder(const fs::path& source) {
    auto decoder = RawDecoderRegistry::shared().decoder(source);
    if (!decoder) throw EncodingError::rawDecoderUnavailable(lowerCasedExtension(source));
    return decoder;
}

bool isStillImageSource(const fs::path& source) {
    return SupportedMediaType::isStillImage(source) || media::ImageDecoder::isImage(source);
}

std::optional<double> timelineSeconds(const fs::path& source) {
    const auto positive = [](double seconds) {
        return std::isfinite(seconds) && seconds > 0 ? std::optional(seconds) : std::nullopt;
    };
    try {
        if (SupportedMediaType::isCameraRaw(source)) {
            const auto clip = cameraRawDecoder(source)->open(source);
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

std::optional<ProgressEstimate::SourceMeasure> sourceMeasure(const fs::path& source) {
    using Kind = ProgressEstimate::SourceMeasure::Kind;
    ProgressEstimate::SourceMeasure measure;
    if (isStillImageSource(source)) {
        measure.kind = Kind::still;
        return measure;
    }
    const std::optional<double> seconds = timelineSeconds(source);
    if (!seconds) return std::nullopt;
    measure.seconds = *seconds;
    if (SupportedMediaType::isCameraRaw(source)) return measure;
    try {
        const media::AssetRef asset = media::Asset::open(source);
        const auto pictures = asset->tracks(media::MediaType::video);
        if (pictures.empty()) {
            measure.kind = Kind::sound;
            return measure;
        }
        measure.pixels = pictures.front().naturalSize.width * pictures.front().naturalSize.height;
        measure.frameRate = pictures.front().nominalFrameRate.value_or(0);
        return measure;
    } catch (const std::exception&) {
        // The decode helper reads it (timelineSeconds asked it).
    }
    if (const auto probe = FFmpegSource::probe(source)) {
        measure.pixels = static_cast<double>(probe->width) * static_cast<double>(probe->height);
        measure.frameRate = probe->fps;
    }
    return measure;
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

}  // namespace fw

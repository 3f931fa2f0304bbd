#include "platform/media/Asset.h"

#include "platform/core/NumberText.h"
#include "platform/core/SourceFileKind.h"
#include "platform/media/FFmpeg_internal.h"
#include "platform/media/ImageDecoder.h"
#include "platform/media/MediaError.h"
#include "platform/media/PictureProbe_internal.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace fw::media {

using namespace detail;

namespace {

// The probed file of the asset opened last, for its first reader: one file at
// most stays open for this, and never beyond its asset's life.
struct ProbedInput {
    std::mutex mutex;
    const Asset* owner = nullptr;
    FormatInputPtr context;
};

ProbedInput& probedInput() {
    static ProbedInput* kept = new ProbedInput();  // never destroyed: assets may outlive static destruction
    return *kept;
}

// The previous asset's file is closed outside the lock.
void keepProbedInput(const Asset& owner, FormatInputPtr context) {
    ProbedInput& kept = probedInput();
    std::lock_guard lock(kept.mutex);
    kept.owner = &owner;
    std::swap(kept.context, context);
}

FormatInputPtr dropProbedInput(const Asset& owner) {
    ProbedInput& kept = probedInput();
    std::lock_guard lock(kept.mutex);
    if (kept.owner != &owner) return nullptr;
    kept.owner = nullptr;
    return std::move(kept.context);
}

// The picture size a YUV4MPEG2 header declares, when it is too large to
// decode: that demuxer refuses such a stream with an unrelated error code
// ("Device or resource busy"), which would say nothing of the cause.
std::optional<std::pair<std::int64_t, std::int64_t>> undecodableDeclaredSize(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string header(256, '\0');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(in.gcount()));
    header = header.substr(0, header.find('\n'));
    if (header.rfind("YUV4MPEG2 ", 0) != 0) return std::nullopt;
    std::optional<std::int64_t> width, height;
    for (std::size_t at = 0; at < header.size();) {
        const std::size_t end = std::min(header.find(' ', at), header.size());
        const std::string_view token = std::string_view(header).substr(at, end - at);
        if (!token.empty() && token.front() == 'W') width = parseInteger(token.substr(1));
        if (!token.empty() && token.front() == 'H') height = parseInteger(token.substr(1));
        at = end + 1;
    }
    if (!width || !height || *width < 1 || *height < 1) return std::nullopt;
    const bool fits =
        *width <= INT_MAX && *height <= INT_MAX &&
        av_image_check_size(static_cast<unsigned>(*width), static_cast<unsigned>(*height), 0, nullptr) == 0;
    if (fits) return std::nullopt;
    return std::pair{*width, *height};
}

}  // namespace

FormatInputPtr detail::takeProbedInput(const Asset& asset) { return dropProbedInput(asset); }

Asset::~Asset() { dropProbedInput(*this); }

AffineTransform AffineTransform::rotation(int degreesClockwise, double width, double height) {
    switch (((degreesClockwise % 360) + 360) % 360) {
    case 90: return {0, 1, -1, 0, height, 0};
    case 180: return {-1, 0, 0, -1, width, height};
    case 270: return {0, -1, 1, 0, 0, width};
    default: return {};
    }
}

int AffineTransform::rotationDegrees() const {
    // Take out the mirror (as a horizontal flip applied first) so that the rest is a pure rotation.
    double ra = a, rb = b;
    if (isMirrored()) {
        ra = -a;
        rb = -b;
    }
    double degrees = std::atan2(rb, ra) * 180.0 / M_PI;
    int quarter = static_cast<int>(std::lround(degrees / 90.0));
    return ((quarter % 4) + 4) % 4 * 90;
}

Size AssetTrack::displayedSize() const {
    const AffineTransform& t = preferredTransform;
    return {std::abs(t.a * naturalSize.width + t.c * naturalSize.height),
            std::abs(t.b * naturalSize.width + t.d * naturalSize.height)};
}

std::vector<AssetTrack> Asset::tracks(MediaType type) const {
    std::vector<AssetTrack> result;
    for (const auto& track : tracks_)
        if (track.mediaType == type) result.push_back(track);
    return result;
}

namespace {

bool isStillImageFormat(const AVInputFormat* format) {
    std::string name = format->name;
    if (name == "image2" || name == "apng" || name == "webp") return true;
    return name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0;
}

}  // namespace

std::shared_ptr<const Asset> Asset::compose(std::filesystem::path path, MediaTime duration,
                                            std::vector<AssetTrack> tracks,
                                            std::shared_ptr<const ComposedSource> source) {
    std::shared_ptr<Asset> asset(new Asset());
    asset->path_ = std::move(path);
    asset->duration_ = duration;
    asset->tracks_ = std::move(tracks);
    asset->formatName_ = "composed";
    asset->composed_ = std::move(source);
    return asset;
}

namespace {

std::mutex openWatchMutex;
std::shared_ptr<const std::function<void(const std::filesystem::path&)>> openWatch;

}  // namespace

void Asset::watchOpens(std::function<void(const std::filesystem::path&)> observer) {
    const std::lock_guard lock(openWatchMutex);
    openWatch = observer
                    ? std::make_shared<const std::function<void(const std::filesystem::path&)>>(std::move(observer))
                    : nullptr;
}

std::shared_ptr<const Asset> Asset::open(const std::filesystem::path& path) {
    std::shared_ptr<const std::function<void(const std::filesystem::path&)>> watch;
    {
        const std::lock_guard lock(openWatchMutex);
        watch = openWatch;
    }
    if (watch) (*watch)(path);
    quietLibraryLogs();
    std::shared_ptr<Asset> asset(new Asset());
    asset->path_ = path;
    if (const auto what = notARegularFile(path))
        throw MediaError("Could not open " + quotedName(path) + ": it is " + *what + ", not a file");
    // FFmpeg's probe decodes a picture to learn about it, at whatever size its
    // header claims; pictures are told here and left to the image decoder.
    if (ImageDecoder::isImage(path)) {
        ImageDecoder::checkHeader(path);
        asset->formatName_ = "image";
        asset->stillImage_ = true;
        return asset;
    }
    // What the image decoder leaves to FFmpeg (a GIF, a HEIF sequence) is
    // refused by its declared size first: FFmpeg's probe decodes a frame at it.
    ImageDecoder::checkHeader(path);
    AVFormatContext* raw = nullptr;
    int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        if (const auto size = undecodableDeclaredSize(path))
            throw MediaError("Could not open " + quotedName(path) + ": the picture is too large to decode (" +
                                 std::to_string(size->first) + " \u00d7 " + std::to_string(size->second) + " pixels)",
                             status);
        fail("Could not open " + quotedName(path), status);
    }
    FormatInputPtr context(raw);
    status = avformat_find_stream_info(context.get(), nullptr);
    if (status < 0) fail("Could not read the media in " + quotedName(path), status);
    context = probeFurtherForPictureSizes(std::move(context), path);

    asset->formatName_ = context->iformat->name;
    asset->stillImage_ = isStillImageFormat(context->iformat);
    asset->duration_ = timelineDuration(*context);
    if (asset->stillImage_) return asset;

    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        const AVCodecParameters& par = *stream->codecpar;
        AssetTrack track;
        track.trackID = static_cast<int>(i);
        track.mediaType = mediaTypeOf(par);
        track.timeRange.start = MediaTime::zero();
        if (stream->start_time != AV_NOPTS_VALUE) {
            const std::int64_t start = stream->start_time - timelineStart(*context, *stream);
            if (start > 0) track.timeRange.start = toMediaTime(start, stream->time_base);
        }
        if (!track.timeRange.start.isValid()) track.timeRange.start = MediaTime::zero();
        track.timeRange.duration = toMediaTime(stream->duration, stream->time_base);
        if (!track.timeRange.duration.isValid() && asset->duration_.isValid())
            track.timeRange.duration =
                asset->duration_ > track.timeRange.start ? asset->duration_ - track.timeRange.start : MediaTime::zero();
        track.formatDescriptions.push_back(describeStream(*stream));
        if (const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0))
            track.languageCode = language->value;
        if (track.mediaType == MediaType::video) {
            std::size_t size = 0;
            const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
            if (matrix && size >= 9 * sizeof(std::int32_t)) {
                std::int32_t values[9];
                std::memcpy(values, matrix, sizeof values);
                track.preferredTransform = transformFromDisplayMatrix(values);
            }
            AVRational rate = stream->avg_frame_rate;
            if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
            if (rate.num > 0 && rate.den > 0) track.nominalFrameRate = av_q2d(rate);
            double width = par.width;
            AVRational aspect =
                stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio : par.sample_aspect_ratio;
            if (aspect.num > 0 && aspect.den > 0) width = std::round(width * av_q2d(aspect));
            track.naturalSize = {width, static_cast<double>(par.height)};
        }
        asset->tracks_.push_back(std::move(track));
    }
    keepProbedInput(*asset, std::move(context));
    return asset;
}

}  // namespace fw::media

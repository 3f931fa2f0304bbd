#include "encoders/RawClipEncoder.h"

#include "model/EncodingError.h"
#include "platform/core/MediaUnits.h"
#include "platform/core/NumberText.h"
#include "platform/media/ComposedSource.h"

#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

namespace fw {

namespace {

// A plug-in answer past this many seconds is taken as nonsense (about 317 years).
constexpr double kMaxClipSeconds = 1e10;
constexpr double kMaxFrameRate = 1'000'000;
// The largest side a picture holds (PixelBuffer::create).
constexpr std::int64_t kMaxSide = 32768;

// The clip's properties, asked once and bounded.
struct RawClipShape {
    std::int64_t frameCount = 0;
    double frameRate = 24;
    std::int32_t timescale = kSecondsTimescale;
    std::int64_t width = 0;
    std::int64_t height = 0;

    // Frame i's time, rounded to the nearest tick. REQUIRES: 0 <= i <= frameCount.
    MediaTime frameTime(std::int64_t index) const {
        return MediaTime(std::llround(static_cast<long double>(index) * timescale / frameRate), timescale);
    }
};

RawClipShape shapeOf(const RawClip& clip) {
    RawClipShape shape;
    shape.frameCount = clip.frameCount();
    if (shape.frameCount < 1) throw EncodingError::rawDecodeFailed("clip has no frames");
    const double rate = clip.frameRate();
    if (rate > 0) shape.frameRate = rate;  // not a number: not above 0
    if (!(shape.frameRate <= kMaxFrameRate))
        throw EncodingError::rawDecodeFailed("clip frame rate " + formatNumber(shape.frameRate) + " is not usable");
    shape.timescale = frameTimescale(shape.frameRate);
    if (!(static_cast<double>(shape.frameCount) / shape.frameRate <= kMaxClipSeconds))
        throw EncodingError::rawDecodeFailed("clip is too long");
    shape.width = clip.width();
    shape.height = clip.height();
    if (shape.width < 1 || shape.height < 1 || shape.width > kMaxSide || shape.height > kMaxSide)
        throw EncodingError::rawDecodeFailed("clip size " + std::to_string(shape.width) + "×" +
                                             std::to_string(shape.height) + " is not usable");
    return shape;
}

class RawFrameReader final : public media::ComposedTrackReader {
public:
    RawFrameReader(std::shared_ptr<RawClip> clip, RawClipShape shape, media::FormatDescriptionRef format,
                   const media::TimeRange& range, std::function<void(std::string)> failed)
        : clip_(std::move(clip)), shape_(shape), format_(std::move(format)), failed_(std::move(failed)) {
        // The first frame whose display reaches into the range.
        if (range.start.isNumeric() && range.start > MediaTime::zero())
            while (next_ < shape_.frameCount && shape_.frameTime(next_ + 1) <= range.start) ++next_;
        end_ = range.end();
    }

    media::SampleBufferRef next() override {
        if (next_ >= shape_.frameCount) return nullptr;
        const MediaTime time = shape_.frameTime(next_);
        if (end_.isNumeric() && time >= end_) return nullptr;
        media::PixelBufferRef picture = clip_->copyFrame(next_);
        if (!picture) {
            const std::string detail = "frame " + std::to_string(next_);
            failed_(detail);
            throw EncodingError::rawDecodeFailed(detail);
        }
        const MediaTime duration = shape_.frameTime(next_ + 1) - time;
        ++next_;
        return media::SampleBuffer::makeImage(std::move(picture), time, duration, format_);
    }

private:
    std::shared_ptr<RawClip> clip_;
    RawClipShape shape_;
    media::FormatDescriptionRef format_;
    std::function<void(std::string)> failed_;
    std::int64_t next_ = 0;
    MediaTime end_ = MediaTime::positiveInfinity();
};

// The clip behind its asset. Remembers the first frame the plug-in failed
// on, so that the encoder can name it.
class RawClipSource final : public media::ComposedSource {
public:
    RawClipSource(std::shared_ptr<RawClip> clip, RawClipShape shape) : clip_(std::move(clip)), shape_(shape) {}

    std::unique_ptr<media::ComposedTrackReader> openVideo(const media::AssetTrack& track,
                                                          const media::VideoOutputSettings&,
                                                          const media::TimeRange& range) const override {
        // Pictures are bgra8 whatever is asked: the resizer makes x420 of them.
        return std::make_unique<RawFrameReader>(clip_, shape_, media::composedVideoFormat(track, {}), range,
                                                [this](std::string detail) {
                                                    std::lock_guard lock(mutex_);
                                                    if (!failure_) failure_ = std::move(detail);
                                                });
    }

    std::unique_ptr<media::ComposedTrackReader> openAudio(const media::AssetTrack&, float,
                                                          const media::AudioOutputSettings&,
                                                          const media::TimeRange&) const override {
        throw EncodingError::noAudioTrack();
    }

    std::optional<std::string> failure() const {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    std::shared_ptr<RawClip> clip_;
    RawClipShape shape_;
    mutable std::mutex mutex_;
    mutable std::optional<std::string> failure_;
};

}  // namespace

media::AssetRef rawClipAsset(std::shared_ptr<RawClip> clip) {
    const RawClipShape shape = shapeOf(*clip);
    media::AssetTrack track;
    track.trackID = 0;
    track.mediaType = media::MediaType::video;
    track.timeRange = {MediaTime::zero(), shape.frameTime(shape.frameCount)};
    track.nominalFrameRate = shape.frameRate;
    track.naturalSize = {static_cast<double>(shape.width), static_cast<double>(shape.height)};
    auto stored = std::make_shared<media::FormatDescription>();
    stored->mediaType = media::MediaType::video;
    stored->mediaSubtype = media::subtype::bgra;
    stored->codecName = "raw";
    stored->width = static_cast<int>(shape.width);
    stored->height = static_cast<int>(shape.height);
    track.formatDescriptions.push_back(std::move(stored));
    const std::filesystem::path path = clip->path();
    return media::Asset::compose(path, track.timeRange.duration, {track},
                                 std::make_shared<RawClipSource>(std::move(clip), shape));
}

void RawClipEncoder::encode(const std::filesystem::path& destination, const ProgressCallback& progress,
                            const PreviewCallback& preview, std::stop_token stop) const {
    const media::AssetRef asset = rawClipAsset(clip);
    MovieEncoder movie;
    movie.videoSettings = videoSettings;
    movie.fileType = fileType;
    movie.scaling = scaling;
    movie.stripAudio = true;
    movie.forgivesDamagedTail = false;
    try {
        movie.encode(asset, destination, progress, preview, stop);
    } catch (const EncodingError& error) {
        const auto& source = static_cast<const RawClipSource&>(*asset->composedSource());
        if (error.kind() == EncodingError::Kind::readerFailed)
            if (auto failure = source.failure()) throw EncodingError::rawDecodeFailed(*failure);
        throw;
    }
}

}  // namespace fw

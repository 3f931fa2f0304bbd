#include "encoders/StillImageEncoder.h"

#include "model/EncodingError.h"
#include "platform/media/ComposedSource.h"
#include "platform/media/ImageDecoder.h"
#include "platform/media/MediaError.h"

namespace fw {

namespace {

// Hands out the one picture for every frame of the range; the resizer only
// reads it.
class StillFrameReader final : public media::ComposedTrackReader {
public:
    StillFrameReader(media::PixelBufferRef picture, std::int64_t frameCount, std::int32_t frameRate,
                     media::FormatDescriptionRef format, const media::TimeRange& range)
        : picture_(std::move(picture)), frameCount_(frameCount), frameRate_(frameRate), format_(std::move(format)) {
        // The first frame whose display reaches into the range.
        if (range.start.isNumeric() && range.start > media::MediaTime::zero())
            while (next_ < frameCount_ && media::MediaTime(next_ + 1, frameRate_) <= range.start) ++next_;
        end_ = range.end();
    }

    media::SampleBufferRef next() override {
        if (next_ >= frameCount_) return nullptr;
        const media::MediaTime time(next_, frameRate_);
        if (end_.isNumeric() && time >= end_) return nullptr;
        ++next_;
        return media::SampleBuffer::makeImage(picture_, time, media::MediaTime(1, frameRate_), format_);
    }

private:
    media::PixelBufferRef picture_;
    std::int64_t frameCount_;
    std::int32_t frameRate_;
    media::FormatDescriptionRef format_;
    std::int64_t next_ = 0;
    media::MediaTime end_ = media::MediaTime::positiveInfinity();
};

class StillImageSource final : public media::ComposedSource {
public:
    StillImageSource(media::PixelBufferRef picture, std::int64_t frameCount, std::int32_t frameRate)
        : picture_(std::move(picture)), frameCount_(frameCount), frameRate_(frameRate) {}

    std::unique_ptr<media::ComposedTrackReader> openVideo(const media::AssetTrack& track,
                                                          const media::VideoOutputSettings&,
                                                          const media::TimeRange& range) const override {
        // bgra8 whatever is asked: the resizer makes x420 of it.
        return std::make_unique<StillFrameReader>(picture_, frameCount_, frameRate_,
                                                  media::composedVideoFormat(track, {}), range);
    }

    std::unique_ptr<media::ComposedTrackReader> openAudio(const media::AssetTrack&, float,
                                                          const media::AudioOutputSettings&,
                                                          const media::TimeRange&) const override {
        throw EncodingError::noAudioTrack();
    }

private:
    media::PixelBufferRef picture_;
    std::int64_t frameCount_;
    std::int32_t frameRate_;
};

}  // namespace

media::AssetRef stillImageAsset(const std::filesystem::path& path, media::PixelBufferRef picture,
                                const StillClip& clip) {
    const std::int64_t frameCount = stillFrameCount(clip);
    media::AssetTrack track;
    track.trackID = 0;
    track.mediaType = media::MediaType::video;
    track.timeRange = {media::MediaTime::zero(), media::MediaTime(frameCount, clip.frameRate)};
    track.nominalFrameRate = clip.frameRate;
    track.naturalSize = {static_cast<double>(picture->width()), static_cast<double>(picture->height())};
    auto stored = std::make_shared<media::FormatDescription>();
    stored->mediaType = media::MediaType::video;
    stored->mediaSubtype = media::subtype::bgra;
    stored->codecName = "still";
    stored->width = picture->width();
    stored->height = picture->height();
    // Untagged, as an RGB movie is. The 10-bit resizer converts with the
    // picture's matrix, which must be the one the writer tags the output with.
    picture->setYCbCrMatrix(media::resolvedColor(stored->color, stored->height).matrix);
    track.formatDescriptions.push_back(std::move(stored));
    return media::Asset::compose(path, track.timeRange.duration, {track},
                                 std::make_shared<StillImageSource>(std::move(picture), frameCount, clip.frameRate));
}

void StillImageEncoder::encode(const std::filesystem::path& source, const std::filesystem::path& destination,
                               const ProgressCallback& progress, const PreviewCallback& preview,
                               std::stop_token stop) const {
    stillFrameCount(request_.clip);
    media::PixelBufferRef picture;
    try {
        picture = media::ImageDecoder::pixelBuffer(source);
    } catch (const media::MediaError& error) {
        throw EncodingError::imageDecodeFailed(error.what());
    }
    const MovieEncoder movie = stillMovieEncoder(request_, {picture->width(), picture->height()});
    movie.encode(stillImageAsset(source, std::move(picture), request_.clip), destination, progress, preview, stop);
}

}  // namespace fw

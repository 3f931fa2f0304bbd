#include "pipeline/StitchComposition.h"

#include "model/EncodingError.h"
#include "pipeline/AudioReaderOutput.h"
#include "pipeline/DisplayedSize.h"
#include "pipeline/FrameOrientation.h"
#include "pipeline/FrameResizer.h"
#include "platform/media/AssetReader.h"
#include "platform/media/ComposedSource.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace fw {

namespace {

constexpr int kVideoTrackID = 0;
constexpr int kAudioTrackID = 1;
// Silence goes out in pieces of at most this many frames.
constexpr std::int64_t kSilenceFrames = 4800;

struct Segment {
    media::AssetRef asset;
    MediaTime start;  // on the composition's timeline
    MediaTime end;
    std::optional<media::AssetTrack> video;
    std::optional<media::AssetTrack> audio;
};

using Segments = std::vector<Segment>;

// Frames of `rate` before `time`, rounded to the nearest.
std::int64_t framesAt(const MediaTime& time, int rate) { return std::llround(time.seconds() * rate); }

// The part of [start, end) that `range` covers; duration 0 when none.
media::TimeRange overlap(const MediaTime& start, const MediaTime& end, const media::TimeRange& range) {
    const MediaTime from = std::max(start, range.start);
    const MediaTime to = range.end().isNumeric() ? std::min(end, range.end()) : end;
    if (!(from < to)) return {from, MediaTime::zero()};
    return {from, to - from};
}

[[noreturn]] void failReading(const media::AssetReader& reader) {
    std::string message = reader.errorDescription().value_or("Could not read " + reader.asset()->path().string());
    // A part that ended early or changed fails the whole, however near its end.
    if (const auto fault = reader.sourceFault()) throw media::SourceFaultError(message, *fault);
    throw std::runtime_error(message);
}

// Every segment's pictures fitted upright to the track's size.
class StitchVideoReader final : public media::ComposedTrackReader {
public:
    StitchVideoReader(std::shared_ptr<const Segments> segments, const media::AssetTrack& track,
                      media::PixelFormat pixelFormat, const media::TimeRange& range)
        : segments_(std::move(segments)),
          width_(static_cast<std::int64_t>(track.naturalSize.width)),
          height_(static_cast<std::int64_t>(track.naturalSize.height)),
          frameRate_(track.nominalFrameRate.value_or(30)),
          pixelFormat_(pixelFormat),
          range_(range),
          format_(media::composedVideoFormat(track, {pixelFormat})) {}

    media::SampleBufferRef next() override {
        for (;;) {
            if (!output_ && !openNextSegment()) return nullptr;
            media::SampleBufferRef sample = output_->copyNextSampleBuffer();
            if (!sample) {
                if (reader_->status() == media::AssetReader::Status::failed) failReading(*reader_);
                // The joined movie has no word for pictures a part left out for damage: it does not stand.
                if (const auto tally = reader_->pictureTally(); tally.damaged > 0)
                    throw std::runtime_error(EncodingError::damagedPictures(segment().asset->path().filename().string(),
                                                                            tally.damaged, tally.delivered)
                                                 .payload());
                output_.reset();
                continue;
            }
            if (!sample->imageBuffer()) continue;
            const Segment& segment = this->segment();
            const MediaTime time = segment.start + sample->presentationTime();
            // A video track longer than its file is cut where the next file begins.
            if (!time.isNumeric() || time >= segment.end) continue;
            media::PixelBufferRef fitted = resizer_->resized(*sample->imageBuffer(), time.seconds());
            if (!fitted) throw std::runtime_error("Could not fit a frame of " + segment.asset->path().string());
            MediaTime duration = sample->duration();
            if (duration.isNumeric() && time + duration > segment.end) duration = segment.end - time;
            return media::SampleBuffer::makeImage(std::move(fitted), time, duration, format_);
        }
    }

private:
    // The segment being read.
    const Segment& segment() const { return (*segments_)[index_ - 1]; }

    bool openNextSegment() {
        while (index_ < segments_->size()) {
            const Segment& segment = (*segments_)[index_++];
            if (!segment.video) continue;
            const media::TimeRange part = overlap(segment.start, segment.end, range_);
            if (!(part.duration > MediaTime::zero())) continue;
            reader_ = std::make_shared<media::AssetReader>(segment.asset);
            reader_->setTimeRange({part.start - segment.start, part.duration});
            output_ = reader_->addVideoOutput(*segment.video, {pixelFormat_});
            if (!output_) throw std::runtime_error("Could not read the pictures of " + segment.asset->path().string());
            if (!reader_->startReading()) failReading(*reader_);
            resizer_ = std::make_unique<FrameResizer>(width_, height_, ResizeMode::fit, nullptr, frameRate_,
                                                      std::nullopt, pixelFormat_ == media::PixelFormat::x420,
                                                      /*preservesAlpha=*/false, FrameOrientation::of(*segment.video));
            return true;
        }
        return false;
    }

    std::shared_ptr<const Segments> segments_;
    std::int64_t width_, height_;
    double frameRate_;
    media::PixelFormat pixelFormat_;
    media::TimeRange range_;
    media::FormatDescriptionRef format_;
    std::size_t index_ = 0;  // of the next segment to open
    std::shared_ptr<media::AssetReader> reader_;
    std::shared_ptr<media::AssetReaderOutput> output_;
    std::unique_ptr<FrameResizer> resizer_;
};

// Every segment's sound, or silence, laid out sample-exact over its segment.
class StitchAudioReader final : public media::ComposedTrackReader {
public:
    StitchAudioReader(std::shared_ptr<const Segments> segments, const media::AssetTrack& track, float gain,
                      const media::AudioOutputSettings& settings, const media::TimeRange& range)
        : segments_(std::move(segments)), gain_(gain), format_(media::composedAudioFormat(track, settings)) {
        rate_ = static_cast<int>(std::lround(format_->sampleRate));
        if (rate_ <= 0 || format_->channelCount <= 0) throw std::runtime_error("Unusable sound settings");
        position_ = std::max<std::int64_t>(0, framesAt(range.start, rate_));
        end_ = range.end().isNumeric() ? framesAt(range.end(), rate_) : INT64_MAX;
    }

    media::SampleBufferRef next() override {
        for (;;) {
            if (position_ >= end_) return nullptr;
            if (!inSegment_ && !enterNextSegment()) return nullptr;
            if (position_ >= segmentEnd_) {
                inSegment_ = false;
                output_.reset();
                reader_.reset();
                continue;
            }
            if (output_ && !held_) {
                held_ = output_->copyNextSampleBuffer();
                if (!held_) {
                    if (reader_->status() == media::AssetReader::Status::failed) failReading(*reader_);
                    output_.reset();
                }
            }
            if (held_) {
                // Sound that starts late in its file is preceded by silence.
                const std::int64_t due = segmentStart_ + framesAt(held_->presentationTime(), rate_);
                if (due > position_ + 1) return silence(std::min(due, segmentEnd_) - position_);
                if (auto sample = take(std::exchange(held_, nullptr))) return sample;
                continue;
            }
            return silence(segmentEnd_ - position_);
        }
    }

private:
    bool enterNextSegment() {
        while (index_ < segments_->size()) {
            const Segment& segment = (*segments_)[index_++];
            segmentStart_ = framesAt(segment.start, rate_);
            segmentEnd_ = std::min(framesAt(segment.end, rate_), end_);
            if (segmentEnd_ <= position_) continue;
            inSegment_ = true;
            if (segment.audio) {
                reader_ = std::make_shared<media::AssetReader>(segment.asset);
                const std::int64_t from = std::max<std::int64_t>(position_ - segmentStart_, 0);
                reader_->setTimeRange({MediaTime(from, rate_), MediaTime::positiveInfinity()});
                media::AudioOutputSettings settings;
                settings.sampleRate = rate_;
                settings.channelCount = format_->channelCount;
                settings.sampleFormat = format_->sampleFormat;
                output_ = AudioReaderOutput::make(*reader_, *segment.audio, gain_, settings);
                if (!output_) throw std::runtime_error("Could not read the sound of " + segment.asset->path().string());
                if (!reader_->startReading()) failReading(*reader_);
            }
            return true;
        }
        return false;
    }

    // The held sample's frames that fit the segment, at the current position;
    // nullptr for a sample without frames.
    media::SampleBufferRef take(media::SampleBufferRef sample) {
        const std::size_t frameBytes = static_cast<std::size_t>(format_->bytesPerFrame());
        const std::int64_t available = static_cast<std::int64_t>(sample->data().size() / frameBytes);
        const std::int64_t count = std::min(available, segmentEnd_ - position_);
        if (count <= 0) return nullptr;
        std::vector<std::uint8_t> bytes(sample->data().begin(),
                                        sample->data().begin() + static_cast<std::ptrdiff_t>(count) * frameBytes);
        return emit(std::move(bytes), count);
    }

    media::SampleBufferRef silence(std::int64_t frames) {
        const std::int64_t count = std::clamp<std::int64_t>(frames, 1, kSilenceFrames);
        return emit(std::vector<std::uint8_t>(static_cast<std::size_t>(count) * format_->bytesPerFrame(), 0), count);
    }

    media::SampleBufferRef emit(std::vector<std::uint8_t> bytes, std::int64_t count) {
        auto sample = media::SampleBuffer::makeData(std::move(bytes), MediaTime(position_, rate_),
                                                    MediaTime(count, rate_), format_, static_cast<int>(count));
        position_ += count;
        return sample;
    }

    std::shared_ptr<const Segments> segments_;
    float gain_;
    media::FormatDescriptionRef format_;
    int rate_ = 0;
    std::int64_t position_ = 0;  // the next frame on the composition's timeline
    std::int64_t end_ = INT64_MAX;
    std::size_t index_ = 0;  // of the next segment to enter
    bool inSegment_ = false;
    std::int64_t segmentStart_ = 0, segmentEnd_ = 0;
    std::shared_ptr<media::AssetReader> reader_;
    std::shared_ptr<media::AssetReaderOutput> output_;
    media::SampleBufferRef held_;
};

class StitchSource final : public media::ComposedSource {
public:
    explicit StitchSource(std::shared_ptr<const Segments> segments) : segments_(std::move(segments)) {}

    std::unique_ptr<media::ComposedTrackReader> openVideo(const media::AssetTrack& track,
                                                          const media::VideoOutputSettings& settings,
                                                          const media::TimeRange& range) const override {
        return std::make_unique<StitchVideoReader>(segments_, track, settings.pixelFormat, range);
    }

    std::unique_ptr<media::ComposedTrackReader> openAudio(const media::AssetTrack& track, float gain,
                                                          const media::AudioOutputSettings& settings,
                                                          const media::TimeRange& range) const override {
        return std::make_unique<StitchAudioReader>(segments_, track, gain, settings, range);
    }

private:
    std::shared_ptr<const Segments> segments_;
};

}  // namespace

media::AssetRef StitchComposition::build(const std::vector<std::filesystem::path>& files) {
    auto segments = std::make_shared<Segments>();
    MediaTime at = MediaTime::zero();
    for (const auto& file : files) {
        Segment segment;
        segment.asset = media::Asset::open(file);
        const MediaTime duration = segment.asset->duration();
        if (!duration.isNumeric() || !(duration > MediaTime::zero())) continue;
        segment.start = at;
        segment.end = at + duration;
        if (!segment.end.isNumeric()) continue;
        const auto videoTracks = segment.asset->tracks(media::MediaType::video);
        if (!videoTracks.empty()) segment.video = videoTracks.front();
        const auto audioTracks = segment.asset->tracks(media::MediaType::audio);
        if (!audioTracks.empty()) segment.audio = audioTracks.front();
        at = segment.end;
        segments->push_back(std::move(segment));
    }
    const auto firstVideo = std::find_if(segments->begin(), segments->end(), [](const Segment& s) { return s.video; });
    if (firstVideo == segments->end()) throw EncodingError::noVideoTrack();

    std::vector<media::AssetTrack> tracks;
    media::AssetTrack video;
    video.trackID = kVideoTrackID;
    video.mediaType = media::MediaType::video;
    video.timeRange = {MediaTime::zero(), at};
    const IntSize size = displayedPixelSize(*firstVideo->video);
    video.naturalSize = {static_cast<double>(size.width), static_cast<double>(size.height)};
    video.nominalFrameRate = firstVideo->video->nominalFrameRate;
    auto pictures = std::make_shared<media::FormatDescription>();
    pictures->mediaType = media::MediaType::video;
    pictures->mediaSubtype = media::subtype::bgra;
    pictures->codecName = "stitch";
    pictures->width = static_cast<int>(size.width);
    pictures->height = static_cast<int>(size.height);
    video.formatDescriptions.push_back(std::move(pictures));
    tracks.push_back(std::move(video));

    const auto firstAudio = std::find_if(segments->begin(), segments->end(), [](const Segment& s) { return s.audio; });
    if (firstAudio != segments->end()) {
        media::AssetTrack audio;
        audio.trackID = kAudioTrackID;
        audio.mediaType = media::MediaType::audio;
        audio.timeRange = {MediaTime::zero(), at};
        auto sound = std::make_shared<media::FormatDescription>();
        sound->mediaType = media::MediaType::audio;
        sound->mediaSubtype = media::subtype::linearPCM;
        sound->codecName = "stitch";
        const auto& stored = firstAudio->audio->formatDescriptions;
        sound->sampleRate = !stored.empty() && stored.front() && stored.front()->sampleRate > 0
                                ? stored.front()->sampleRate
                                : kDefaultSampleRate;
        // Stereo when any file's sound is, so that no file is mixed down on the way.
        sound->channelCount = 1;
        for (const Segment& segment : *segments)
            if (segment.audio && !segment.audio->formatDescriptions.empty() &&
                segment.audio->formatDescriptions.front() &&
                segment.audio->formatDescriptions.front()->channelCount != 1)
                sound->channelCount = 2;
        audio.formatDescriptions.push_back(std::move(sound));
        tracks.push_back(std::move(audio));
    }
    return media::Asset::compose(files.front(), at, std::move(tracks), std::make_shared<StitchSource>(segments));
}

}  // namespace fw

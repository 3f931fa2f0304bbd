#include "pipeline/MovieEncoder.h"

#include "pipeline/AudioReaderOutput.h"
#include "pipeline/DisplayedSize.h"
#include "pipeline/FrameOrientation.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/Timecode.h"
#include "pipeline/WriterSettings.h"
#include "platform/core/StagedFile.h"
#include "platform/media/AssetReader.h"
#include "platform/media/ComposedSource.h"

#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace fw {

namespace fs = std::filesystem;

namespace {

// How the video track is read and written, decided before anything is added.
struct VideoPlan {
    // Stored samples this encoder decodes itself (texture codecs).
    std::optional<FrameUnpacker> unpacker;
    // The track's display transform, when it turns or mirrors the picture.
    std::optional<FrameOrientation> orientation;
    // The frame request in force; none writes the frames as decoded.
    std::optional<FrameScaling> scaling;
    VideoWriterSettings writerSettings;
    media::AffineTransform writerTransform = media::AffineTransform::identity();
    double frameRate = 0;  // the rate the frames reach the writer at
    bool keepsAlpha = true;

    bool tenBit() const { return scaling && scaling->tenBit; }
};

// True when the track's pictures decode at another size than it is shown at
// before any turn (a non-square pixel aspect, or a side below the 2 pixels
// every output has), so that packing them as they are would store the wrong
// shape or size.
bool decodesAtAnotherSize(const media::AssetTrack& track, const std::optional<FrameOrientation>& orientation) {
    if (track.formatDescriptions.empty() || !track.formatDescriptions.front()) return false;
    const media::FormatDescription& stored = *track.formatDescriptions.front();
    IntSize shown = displayedPixelSize(track);
    if (orientation && orientation->swapsSides()) std::swap(shown.width, shown.height);
    return stored.width != shown.width || stored.height != shown.height;
}

VideoPlan planVideo(const media::AssetTrack& track, const std::optional<FrameScaling>& scaling,
                    const VideoWriterSettings& videoSettings, bool packs) {
    VideoPlan plan;
    if (!track.formatDescriptions.empty() && track.formatDescriptions.front())
        plan.unpacker = frameUnpacker(*track.formatDescriptions.front());

    // Sizes are asked for as the picture is displayed. Transformed frames are
    // turned upright by the resizer and need no display transform in the output;
    // untouched frames keep their stored orientation and the track's transform.
    plan.orientation = FrameOrientation::of(track);
    plan.scaling = scaling;
    if (!plan.scaling && (plan.unpacker || (packs && decodesAtAnotherSize(track, plan.orientation)))) {
        // Unpacked pictures go through the resizer at the displayed size,
        // keeping their alpha as decoded pictures do.
        const IntSize shown = displayedPixelSize(track);
        FrameScaling natural;
        natural.width = shown.width;
        natural.height = shown.height;
        natural.mode = ResizeMode::aspect;
        natural.preservesAlpha = true;
        plan.scaling = natural;
    }
    plan.writerSettings = videoSettings;
    if (!plan.scaling) {
        plan.writerTransform = track.preferredTransform;
        if (plan.orientation && plan.orientation->swapsSides())
            std::swap(plan.writerSettings.width, plan.writerSettings.height);
    }
    const double sourceFrameRate = track.nominalFrameRate.value_or(30.0);
    plan.frameRate = plan.scaling && plan.scaling->targetFrameRate && *plan.scaling->targetFrameRate > 0
                         ? *plan.scaling->targetFrameRate
                         : sourceFrameRate;
    // Without a frame request the frames pass as decoded, alpha included.
    plan.keepsAlpha = plan.scaling ? plan.scaling->preservesAlpha : true;
    return plan;
}

struct AudioPair {
    std::shared_ptr<media::AssetReaderOutput> output;
    media::AssetWriterInputRef input;
    media::MediaTime trackStart;  // on the source's clock
};

// One run of MovieEncoder::encode, phase by phase. Members go in reverse
// order of declaration: the writer closes its file before the staged file is
// removed, and the inputs and outputs before the writer and the reader.
class MovieEncode {
public:
    MovieEncode(const MovieEncoder& encoder, const media::AssetRef& asset, const fs::path& destination)
        : encoder_(encoder), asset_(asset), destination_(destination), staged_(destination) {
        // Length of what is read, and where on the source's clock it starts.
        double sourceSeconds = asset->duration().seconds();
        if (!std::isfinite(sourceSeconds)) sourceSeconds = 0;
        startSeconds_ = encoder.trim ? encoder.trim->effectiveStart() : 0.0;
        durationSeconds_ = encoder.trim ? encoder.trim->resolvedDuration(sourceSeconds) : sourceSeconds;
    }

    // Checks the source and the destination, then opens the reader and the
    // writer (with its container metadata).
    void open() {
        const auto videoTracks = asset_->tracks(media::MediaType::video);
        if (videoTracks.empty()) throw EncodingError::noVideoTrack();
        videoTrack_ = videoTracks.front();
        if (staged_.replaces(asset_->path())) throw EncodingError::destinationIsSource();

        reader_ = std::make_shared<media::AssetReader>(asset_);
        if (encoder_.trim) reader_->setTimeRange(readerTimeRange(*encoder_.trim));
        writer_ = std::make_shared<media::AssetWriter>(staged_.path(), mediaFileType(encoder_.fileType), destination_);
        if (encoder_.metadata && encoder_.metadata->hasContainerMetadata())
            writer_->setMetadata(metadataItems(*encoder_.metadata));
    }

    // Video: stored samples for the unpacker, else decoded pictures.
    void addVideo() {
        plan_ = planVideo(videoTrack_, encoder_.scaling, encoder_.videoSettings, encoder_.packing.has_value());
        if (plan_.scaling)
            resizer_ =
                std::make_unique<FrameResizer>(plan_.scaling->width, plan_.scaling->height, plan_.scaling->mode,
                                               plan_.scaling->filters.get(), plan_.frameRate, plan_.scaling->geometry,
                                               plan_.scaling->tenBit, plan_.scaling->preservesAlpha, plan_.orientation);
        const media::PixelFormat readerPixelFormat = passesYCbCr422()      ? media::PixelFormat::x422
                                                     : plan_.tenBit()      ? media::PixelFormat::x420
                                                     : passesYCbCrPlanes() ? media::PixelFormat::i420
                                                                           : media::PixelFormat::bgra8;
        videoOutput_ = plan_.unpacker ? reader_->addPassthroughOutput(videoTrack_)
                                      : reader_->addVideoOutput(videoTrack_, {readerPixelFormat, encoder_.threads});
        if (!videoOutput_) throw EncodingError::cannotStartReading();
        if (encoder_.packing)
            addPackingInput(*encoder_.packing);
        else
            addEncodingInput();
        if (!videoInput_) throw EncodingError::writerFailed("could not add the video track to the output");
    }

    // An 8-bit 4:2:0 picture that nothing changes reaches the (YCbCr) encoder
    // as its planes, without a trip through RGB that would clip what lies
    // outside it; the writer converts only what its layout needs.
    bool passesYCbCrPlanes() const {
        const media::FormatDescription* stored = untouchedPictures();
        return stored && stored->chroma420 && stored->bitDepth == 8;
    }

    // So does a 4:2:2 one of 8 or 10 bits, in 10 bits (8-bit values shifted),
    // keeping the chroma rows that the 10-bit path's 4:2:0 would halve on the
    // way to a 4:2:2 writer. ProRes 4444 keeps the decoders' path. An 8-bit
    // 4:2:0 one bound for ProRes 422 is widened to 4:2:2 as it is decoded, off
    // the thread that feeds the encoder, and its planes go to the codec as they are.
    bool passesYCbCr422() const {
        const VideoWriterSettings& writer = plan_.writerSettings;
        if (writer.family == VideoCodecFamily::proRes &&
            writer.proResVariant.value_or(ProResVariant::hq) == ProResVariant::fourByFour)
            return false;
        const media::FormatDescription* stored = untouchedPictures();
        if (!stored) return false;
        if (stored->chroma422) return stored->bitDepth == 8 || stored->bitDepth == 10;
        return writer.family == VideoCodecFamily::proRes && stored->chroma420 && stored->bitDepth == 8;
    }

    // The stored description when the track's pictures are decoded and left
    // as they are on the way, with chroma sited as the writers site it.
    const media::FormatDescription* untouchedPictures() const {
        if (plan_.unpacker || encoder_.packing || asset_->composedSource()) return nullptr;
        if (videoTrack_.formatDescriptions.empty() || !videoTrack_.formatDescriptions.front()) return nullptr;
        const media::FormatDescription& stored = *videoTrack_.formatDescriptions.front();
        if (!stored.chromaSitedLeft) return nullptr;
        if (plan_.writerSettings.width != stored.width || plan_.writerSettings.height != stored.height) return nullptr;
        if (resizer_ && !resizer_->keepsPicture(stored.width, stored.height)) return nullptr;
        return &stored;
    }

    void addEncodingInput() {
        media::VideoEncoderSettings settings = videoEncoderSettings(plan_.writerSettings, sourceColorTags(videoTrack_),
                                                                    plan_.frameRate, plan_.tenBit(), plan_.keepsAlpha);
        settings.threads = encoder_.threads;
        videoInput_ = writer_->addVideoInput(settings, plan_.writerTransform);
    }

    // The passthrough track of a texture codec, behind the input that packs its frames.
    void addPackingInput(const FramePacking& packing) {
        const media::VideoEncoderSettings size = videoEncoderSettings(plan_.writerSettings, {}, 0, false, false);
        media::PassthroughVideoSettings stored;
        stored.codecType = packing.codecType;
        stored.width = size.width;
        stored.height = size.height;
        auto storedInput = writer_->addPassthroughVideoInput(stored, plan_.writerTransform);
        if (!storedInput) return;
        packingInput_ =
            std::make_shared<PackingVideoInput>(std::move(storedInput), packing, size.width, size.height,
                                                PackingVideoInput::defaultFramesInFlight(size.width, size.height));
        videoInput_ = packingInput_;
    }

    // Audio: a track is carried only when both its output and its input exist;
    // an output left unread would keep its packets queued for nothing.
    void addAudio() {
        if (encoder_.stripAudio) return;
        std::vector<media::AssetTrack> audioTracks = asset_->tracks(media::MediaType::audio);
        if (!encoder_.preserveAllAudioTracks && audioTracks.size() > 1) audioTracks.resize(1);
        const media::AudioEncoderSettings audioSettings =
            movieAudioSettings(encoder_.fileType, encoder_.sampleRate, encoder_.downmixMono);
        for (const auto& track : audioTracks) {
            media::AudioOutputSettings readAs;
            readAs.sampleRate = audioSettings.sampleRate;
            readAs.channelCount = audioSettings.channelCount;
            auto output = AudioReaderOutput::make(*reader_, track, encoder_.audioGain, readAs);
            if (!output) continue;
            auto input = writer_->addAudioInput(audioSettings);
            if (!input) continue;  // dropping the output detaches it from the reader
            audioPairs_.push_back({std::move(output), std::move(input), track.timeRange.start});
        }
    }

    // Timecode track: only for a start timecode that reads as a frame count
    // and fits the track's 32-bit sample.
    void addTimecode() {
        const auto& metadata = encoder_.metadata;
        if (!metadata || !metadata->startTimecode) return;
        const auto startFrames = Timecode::frames(*metadata->startTimecode, metadata->timecodeFrameRate);
        const auto format = TimecodeTrack::formatDescription(metadata->timecodeFrameRate);
        if (startFrames && format &&
            TimecodeTrack::sampleBuffer(*startFrames, MediaTime::fromSeconds(std::max(durationSeconds_, 0.001)),
                                        *format))
            writer_->setTimecode(*startFrames, static_cast<int>(format->frameQuanta));
    }

    void startSession() {
        if (!reader_->startReading()) throw EncodingError::readerFailed(detailOr(reader_->errorDescription()));
        if (!writer_->startWriting()) throw EncodingError::writerFailed(detailOr(writer_->errorDescription()));
        writer_->startSession(encoder_.trim ? media::MediaTime::fromSeconds(startSeconds_, kSecondsTimescale)
                                            : media::MediaTime::zero());
    }

    // The tracks pumped from the start hold each other back from their first
    // sample on, not only from their first append: the first pictures take a
    // while to decode and compress, and the sound would run seconds ahead
    // meanwhile (the reader holding the pictures' packets). Not the sound
    // tracks pumped after the first one, which would hold it back for ever,
    // nor a source whose pictures wait for its sound.
    void expectFirstSamples() {
        const auto& composed = asset_->composedSource();
        if (composed && !composed->readsTracksSideBySide()) return;
        const auto firstAt = [this](media::MediaTime trackStart) {
            const media::MediaTime start = media::MediaTime::fromSeconds(startSeconds_, kSecondsTimescale);
            return trackStart.isNumeric() && trackStart > start ? trackStart : start;
        };
        videoInput_->expectFirstSample(firstAt(videoTrack_.timeRange.start));
        if (!audioPairs_.empty()) audioPairs_.front().input->expectFirstSample(firstAt(audioPairs_.front().trackStart));
    }

    // Runs the video pump and the audio pumps to their end; rethrows the first
    // failure after both have ended.
    void runPumps(const ProgressCallback& progress, const PreviewCallback& preview, std::stop_token stop) {
        reporter_.emplace(durationSeconds_, startSeconds_, progress, preview, throttle_, reached_);
        expectFirstSamples();
        FrameResizer* resizer = resizer_.get();

        // A stop abandons the writer (no encoder is drained, appends return at
        // once, the staged file goes) and stops the reader; the pumps then end.
        auto& reader = reader_;
        std::stop_callback abandon(stop, [&reader, &writer = writer_] {
            writer->cancelWriting();
            reader->cancelReading();
        });
        // A failing pump stops the reader too, so that the other pump ends.
        auto cancellingOnFailure = [&reader](std::function<void()> body) {
            return [&reader, body = std::move(body)] {
                try {
                    body();
                } catch (...) {
                    reader->cancelReading();
                    throw;
                }
            };
        };
        PumpThread video(resizer ? "encode.resize" : "encode.video", cancellingOnFailure([&] {
                             if (resizer)
                                 pumpResizedVideo(*videoOutput_, *videoInput_, *resizer, startSeconds_,
                                                  plan_.scaling->targetFrameRate,
                                                  plan_.unpacker ? &*plan_.unpacker : nullptr, *reporter_,
                                                  frameTimescale(plan_.frameRate));
                             else
                                 pumpVideo(*videoOutput_, *videoInput_, *reporter_);
                         }));
        // Audio tracks one after another, each on its own thread.
        PumpThread audio("encode.audio", cancellingOnFailure([&] {
                             for (std::size_t i = 0; i < audioPairs_.size(); ++i) {
                                 const std::string label = "audio" + std::to_string(i);
                                 PumpThread pump("encode." + label, [&] {
                                     pumpSamples(*audioPairs_[i].output, *audioPairs_[i].input, label);
                                 });
                                 pump.join();
                             }
                         }));
        std::exception_ptr failure;
        try {
            video.join();
        } catch (...) {
            failure = std::current_exception();
        }
        try {
            audio.join();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        // Packing failures are found a few frames late, and the last ones only once the pump has ended.
        if (packingInput_ && packingInput_->failure()) failure = packingInput_->failure();
        // An abandoned writer fails the appends that were in progress.
        if (stop.stop_requested()) throw EncodingError::cancelled();
        if (failure) std::rethrow_exception(withWriterReason(failure, *writer_));
    }

    // Closes the file, applies the source-tail rule and moves the output into
    // place. A cancelled output is removed unfinished.
    EncodeResult finish(const ProgressCallback& progress, std::stop_token stop) {
        if (stop.stop_requested()) throw EncodingError::cancelled();
        const bool finished = writer_->finishWriting();
        const std::int64_t framesWritten = reporter_->framesWritten();
        if (reader_->status() == media::AssetReader::Status::failed && !encoder_.forgivesDamagedTail)
            throw readerFailure(*reader_);
        if (auto error = sourceFileFailure(*reader_)) throw *error;
        if (reader_->status() == media::AssetReader::Status::failed) {
            // With no frame written nothing is worth keeping, however near the end
            // the failure lay: an unknown reached time is never forgiven.
            const double reachedSeconds =
                framesWritten > 0 ? reached_.seconds() - startSeconds_ : std::numeric_limits<double>::quiet_NaN();
            // The rule forgives a file that ends early. A sound track that could
            // not be decoded stopped the picture with it, though the file went on.
            const auto failedTrack = reader_->failedTrackID();
            if (failedTrack && *failedTrack != videoTrack_.trackID)
                throw EncodingError::readerStopped(reader_->errorDescription(), reachedSeconds, durationSeconds_);
            if (auto error =
                    EncodingError::readerTailFailure(reader_->errorDescription(), reachedSeconds, durationSeconds_))
                throw *error;
        }
        if (!finished || writer_->status() == media::AssetWriter::Status::failed) {
            // A stop while the file was being finished abandoned the writer.
            if (stop.stop_requested()) throw EncodingError::cancelled();
            throw EncodingError::writerFailed(detailOr(writer_->errorDescription()));
        }
        if (framesWritten == 0)
            throw EncodingError::readerFailed("the source has no video frames in the range to encode");
        const std::int64_t leftOut = damagedPictures(*reader_);
        if (auto error = staged_.commit())
            throw EncodingError::outputNotMoved(destination_.filename().string(), error.message());
        if (progress) progress(1.0);
        return {reader_->concealedSoundSeconds(), leftOut, reader_->leftOutSoundSeconds()};
    }

private:
    const MovieEncoder& encoder_;
    const media::AssetRef& asset_;
    const fs::path& destination_;
    double startSeconds_ = 0;
    double durationSeconds_ = 0;
    media::AssetTrack videoTrack_;
    std::shared_ptr<media::AssetReader> reader_;
    StagedFile staged_;
    std::shared_ptr<media::AssetWriter> writer_;
    VideoPlan plan_;
    std::unique_ptr<FrameResizer> resizer_;  // when the plan has a frame request
    std::shared_ptr<media::AssetReaderOutput> videoOutput_;
    media::AssetWriterInputRef videoInput_;
    std::shared_ptr<PackingVideoInput> packingInput_;  // the video input, when it packs
    std::vector<AudioPair> audioPairs_;
    PreviewThrottle throttle_{0.1};
    ReachedSeconds reached_;
    std::optional<VideoPumpReporter> reporter_;
};

}  // namespace

EncodeResult MovieEncoder::encode(const media::AssetRef& asset, const fs::path& destination,
                                  const ProgressCallback& progress, const PreviewCallback& preview,
                                  std::stop_token stop) const {
    MovieEncode run(*this, asset, destination);
    run.open();
    run.addVideo();
    run.addAudio();
    run.addTimecode();
    run.startSession();
    run.runPumps(progress, preview, stop);
    return run.finish(progress, stop);
}

}  // namespace fw

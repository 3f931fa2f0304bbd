#include "pipeline/MovieEncoder.h"

#include "pipeline/AudioReaderOutput.h"
#include "pipeline/Filters.h"
#include "pipeline/FrameOrientation.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/Timecode.h"
#include "platform/core/StagedFile.h"
#include "platform/media/AssetReader.h"

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace fw {

namespace fs = std::filesystem;

// ------------------------------------------------------------ writer settings

namespace {

media::ColorTags colorTags(const ColorProperties& properties) {
    media::ColorTags tags;
    tags.primaries = properties.primaries == ColorPrimaries::itu2020 ? media::ColorPrimaries::bt2020
                                                                     : media::ColorPrimaries::bt709;
    switch (properties.transferFunction) {
    case TransferFunction::itu709: tags.transfer = media::TransferFunction::bt709; break;
    case TransferFunction::smpteST2084PQ: tags.transfer = media::TransferFunction::smpteST2084; break;
    case TransferFunction::itu2100HLG: tags.transfer = media::TransferFunction::aribSTDB67; break;
    }
    tags.matrix = properties.yCbCrMatrix == YCbCrMatrix::itu2020 ? media::YCbCrMatrix::bt2020
                                                                 : media::YCbCrMatrix::bt709;
    return tags;
}

media::ProResProfile proResProfile(ProResVariant variant) {
    switch (variant) {
    case ProResVariant::proxy: return media::ProResProfile::proxy;
    case ProResVariant::lt: return media::ProResProfile::lt;
    case ProResVariant::standard: return media::ProResProfile::standard;
    case ProResVariant::hq: return media::ProResProfile::hq;
    case ProResVariant::fourByFour: return media::ProResProfile::fourByFour;
    }
    return media::ProResProfile::hq;
}

int clampedSide(std::int64_t side) {
    return static_cast<int>(std::clamp<std::int64_t>(side, 0, std::numeric_limits<int>::max() - 1));
}

}  // namespace

media::VideoEncoderSettings videoEncoderSettings(const VideoWriterSettings& settings, double frameRate, bool tenBit,
                                                 bool preservesAlpha) {
    media::VideoEncoderSettings out;
    out.width = clampedSide(settings.width);
    out.height = clampedSide(settings.height);
    out.expectedFrameRate = frameRate > 0 && std::isfinite(frameRate) ? frameRate : 0;
    if (settings.colorProperties) out.color = colorTags(*settings.colorProperties);
    switch (settings.family()) {
    case VideoCodecFamily::proRes:
        out.codec = media::VideoCodec::proRes;
        out.proResProfile = proResProfile(settings.proResVariant().value_or(ProResVariant::hq));
        out.proResAlpha = preservesAlpha;
        return out;
    case VideoCodecFamily::h264:
    case VideoCodecFamily::hevc: break;
    }
    // 4:2:0 needs even sides; the frame request is made even the same way.
    out.width = clampedSide(OutputSizing::even(settings.width));
    out.height = clampedSide(OutputSizing::even(settings.height));
    const auto& compression = settings.compression;
    if (compression) {
        out.averageBitRate = compression->averageBitRate;
        out.maxKeyFrameInterval =
            static_cast<int>(std::clamp<std::int64_t>(compression->maxKeyFrameInterval, 1, 1 << 20));
    }
    const bool hasLevel = compression && compression->profileLevel.has_value();
    const ProfileLevel level = hasLevel ? *compression->profileLevel : ProfileLevel::h264HighAutoLevel;
    if (settings.family() == VideoCodecFamily::h264) {
        out.codec = media::VideoCodec::h264;
        if (hasLevel) {
            switch (level) {
            case ProfileLevel::h264BaselineAutoLevel: out.profile = media::VideoProfile::baseline; break;
            case ProfileLevel::h264MainAutoLevel: out.profile = media::VideoProfile::main; break;
            default: out.profile = media::VideoProfile::high; break;
            }
        }
        return out;
    }
    out.codec = media::VideoCodec::hevc;
    if (settings.isMain10() || tenBit) out.profile = media::VideoProfile::main10;
    else if (hasLevel && level == ProfileLevel::hevcMainAutoLevel) out.profile = media::VideoProfile::main;
    return out;
}

// ----------------------------------------------------------------------- encode

namespace {

media::FileType mediaFileType(ContainerFileType type) {
    return type == ContainerFileType::mpeg4 ? media::FileType::mpeg4 : media::FileType::quickTimeMovie;
}

media::MetadataKey metadataKey(MovieMetadata::Key key) {
    switch (key) {
    case MovieMetadata::Key::title: return media::MetadataKey::title;
    case MovieMetadata::Key::artist: return media::MetadataKey::artist;
    case MovieMetadata::Key::description: return media::MetadataKey::description;
    case MovieMetadata::Key::copyrights: return media::MetadataKey::copyright;
    case MovieMetadata::Key::comment: return media::MetadataKey::comment;
    }
    return media::MetadataKey::comment;
}

bool isSameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    const fs::path left = fs::weakly_canonical(a, ec);
    if (ec) return false;
    const fs::path right = fs::weakly_canonical(b, ec);
    return !ec && left == right;
}

struct AudioPair {
    std::shared_ptr<media::AssetReaderOutput> output;
    media::AssetWriterInputRef input;
};

std::string orUnknown(const std::optional<std::string>& text) {
    return text && !text->empty() ? *text : std::string("unknown error");
}

}  // namespace

void MovieEncoder::encode(const media::AssetRef& asset, const fs::path& destination, const ProgressCallback& progress,
                          const PreviewCallback& preview, std::stop_token stop) const {
    // Length of what is read, and where on the source's clock it starts.
    double sourceSeconds = asset->duration().seconds();
    if (!std::isfinite(sourceSeconds)) sourceSeconds = 0;
    const double startSeconds = trim ? trim->effectiveStart() : 0.0;
    const double durationSeconds = trim ? trim->resolvedDuration(sourceSeconds) : sourceSeconds;

    const auto videoTracks = asset->tracks(media::MediaType::video);
    if (videoTracks.empty()) throw EncodingError::noVideoTrack();
    const media::AssetTrack& videoTrack = videoTracks.front();
    if (isSameFile(destination, asset->path()))
        throw EncodingError::writerFailed("the destination is the source file itself");
    const double sourceFrameRate = videoTrack.nominalFrameRate.value_or(30.0);

    auto reader = std::make_shared<media::AssetReader>(asset);
    if (trim) reader->setTimeRange(readerTimeRange(*trim));

    // Declared before the writer, so the writer closes its file before the
    // staged file is removed.
    StagedFile staged(destination);
    auto writer = std::make_shared<media::AssetWriter>(staged.path(), mediaFileType(fileType), destination);
    if (metadata && metadata->hasContainerMetadata()) {
        std::vector<media::MetadataItem> items;
        for (const auto& item : metadata->metadataItems()) items.push_back({metadataKey(item.key), item.value});
        writer->setMetadata(std::move(items));
    }

    // Video: stored samples for the unpacker, else decoded pictures.
    const media::PixelFormat readerPixelFormat =
        scaling && scaling->tenBit ? media::PixelFormat::x420 : media::PixelFormat::bgra8;
    std::optional<FrameUnpacker> unpacker;
    if (!videoTrack.formatDescriptions.empty() && videoTrack.formatDescriptions.front())
        unpacker = frameUnpacker(*videoTrack.formatDescriptions.front());
    auto videoOutput = unpacker ? reader->addPassthroughOutput(videoTrack)
                                : reader->addVideoOutput(videoTrack, {readerPixelFormat});
    if (!videoOutput) throw EncodingError::cannotStartReading();

    // Sizes are asked for as the picture is displayed. Transformed frames are
    // turned upright by the resizer and need no display transform in the output;
    // untouched frames keep their stored orientation and the track's transform.
    std::optional<FrameOrientation> orientation = FrameOrientation::make(videoTrack.preferredTransform);
    std::optional<FrameScaling> effectiveScaling = scaling;
    if (!effectiveScaling && unpacker) {
        const auto side = [](double v) { return std::max<std::int64_t>(static_cast<std::int64_t>(std::fabs(v)), 2); };
        FrameScaling natural;
        natural.width = side(videoTrack.naturalSize.width);
        natural.height = side(videoTrack.naturalSize.height);
        if (orientation && orientation->swapsSides()) std::swap(natural.width, natural.height);
        natural.mode = ResizeMode::aspect;
        effectiveScaling = natural;
    }
    VideoWriterSettings writerSettings = videoSettings;
    media::AffineTransform writerTransform = media::AffineTransform::identity();
    if (!effectiveScaling) {
        writerTransform = videoTrack.preferredTransform;
        if (orientation && orientation->swapsSides()) std::swap(writerSettings.width, writerSettings.height);
    }
    const double writerFrameRate = effectiveScaling && effectiveScaling->targetFrameRate &&
                                           *effectiveScaling->targetFrameRate > 0
                                       ? *effectiveScaling->targetFrameRate
                                       : sourceFrameRate;
    // Without a frame request the frames pass as decoded, alpha included.
    const bool keepsAlpha = effectiveScaling ? effectiveScaling->preservesAlpha : true;
    auto videoInput = writer->addVideoInput(
        videoEncoderSettings(writerSettings, writerFrameRate, effectiveScaling && effectiveScaling->tenBit, keepsAlpha),
        writerTransform);
    if (!videoInput) throw EncodingError::writerFailed("could not add the video track to the output");

    // Audio: a track is carried only when both its output and its input exist;
    // an output left unread would keep its packets queued for nothing.
    std::vector<AudioPair> audioPairs;
    if (!stripAudio) {
        std::vector<media::AssetTrack> audioTracks = asset->tracks(media::MediaType::audio);
        if (!preserveAllAudioTracks && audioTracks.size() > 1) audioTracks.resize(1);
        const int channels = downmixMono ? 1 : 2;
        // 0 or less means 48 kHz; so does a rate no converter could take.
        const double rate = sampleRate > 0 && sampleRate <= 768000 ? sampleRate : 48000.0;
        media::AudioEncoderSettings audioSettings;
        audioSettings.sampleRate = rate;
        audioSettings.channelCount = channels;
        if (fileType == ContainerFileType::mpeg4) {
            audioSettings.codec = media::AudioCodec::aac;
            audioSettings.bitRate = channels == 1 ? 160000 : 256000;
        } else {
            audioSettings.codec = media::AudioCodec::pcm16;
        }
        for (const auto& track : audioTracks) {
            media::AudioOutputSettings readAs;
            readAs.sampleRate = rate;
            readAs.channelCount = channels;
            auto output = AudioReaderOutput::make(*reader, track, audioGain, readAs);
            if (!output) continue;
            auto input = writer->addAudioInput(audioSettings);
            if (!input) continue;  // dropping the output detaches it from the reader
            audioPairs.push_back({std::move(output), std::move(input)});
        }
    }

    // Timecode track: only for a start timecode that reads as a frame count
    // and fits the track's 32-bit sample.
    if (metadata && metadata->startTimecode) {
        const auto startFrames = Timecode::frames(*metadata->startTimecode, metadata->timecodeFrameRate);
        const auto format = TimecodeTrack::formatDescription(metadata->timecodeFrameRate);
        if (startFrames && format &&
            TimecodeTrack::sampleBuffer(*startFrames, MediaTime::fromSeconds(std::max(durationSeconds, 0.001)),
                                        *format))
            writer->setTimecode(*startFrames, static_cast<int>(format->frameQuanta));
    }

    if (!reader->startReading()) throw EncodingError::readerFailed(orUnknown(reader->errorDescription()));
    if (!writer->startWriting()) throw EncodingError::writerFailed(orUnknown(writer->errorDescription()));
    writer->startSession(trim ? media::MediaTime::fromSeconds(startSeconds, 600) : media::MediaTime::zero());

    PreviewThrottle throttle(0.1);
    ReachedSeconds reached;
    VideoPumpReporter reporter(durationSeconds, startSeconds, progress, preview, throttle, reached);
    std::unique_ptr<FrameResizer> resizer;
    if (effectiveScaling)
        resizer = std::make_unique<FrameResizer>(
            effectiveScaling->width, effectiveScaling->height, effectiveScaling->mode, effectiveScaling->filters.get(),
            writerFrameRate, effectiveScaling->geometry, effectiveScaling->tenBit, effectiveScaling->preservesAlpha,
            orientation);

    {
        // Cancelling only stops the reader; the pumps then end as at the end of the source.
        std::stop_callback cancelReading(stop, [&reader] { reader->cancelReading(); });
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
        PumpThread video(resizer ? "encode.resize" : "encode.video",
                         cancellingOnFailure([&] {
                             if (resizer)
                                 pumpResizedVideo(*videoOutput, *videoInput, *resizer, startSeconds,
                                                  effectiveScaling->targetFrameRate, unpacker ? &*unpacker : nullptr,
                                                  reporter);
                             else
                                 pumpVideo(*videoOutput, *videoInput, reporter);
                         }));
        // Audio tracks one after another, each on its own thread.
        PumpThread audio("encode.audio", cancellingOnFailure([&] {
                             for (std::size_t i = 0; i < audioPairs.size(); ++i) {
                                 const std::string label = "audio" + std::to_string(i);
                                 PumpThread pump("encode." + label, [&] {
                                     pumpSamples(*audioPairs[i].output, *audioPairs[i].input, label);
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
        if (failure) std::rethrow_exception(failure);
    }

    // A cancelled output is removed unfinished.
    if (stop.stop_requested()) throw EncodingError::cancelled();
    const bool finished = writer->finishWriting();
    if (reader->status() == media::AssetReader::Status::failed) {
        // With no frame written nothing is worth keeping, however near the end
        // the failure lay: an unknown reached time is never forgiven.
        const double reachedSeconds = reporter.framesWritten() > 0 ? reached.seconds() - startSeconds
                                                                  : std::numeric_limits<double>::quiet_NaN();
        if (auto error = EncodingError::readerTailFailure(reader->errorDescription(), reachedSeconds, durationSeconds))
            throw *error;
    }
    if (!finished || writer->status() == media::AssetWriter::Status::failed)
        throw EncodingError::writerFailed(orUnknown(writer->errorDescription()));
    if (reporter.framesWritten() == 0)
        throw EncodingError::readerFailed("the source has no video frames in the range to encode");
    if (auto error = staged.commit())
        throw EncodingError::writerFailed("could not move the output to \u201c" + destination.filename().string() +
                                          "\u201d: " + error.message());
    if (progress) progress(1.0);
}

}  // namespace fw

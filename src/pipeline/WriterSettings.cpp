#include "pipeline/WriterSettings.h"

#include "platform/core/MediaUnits.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fw {

namespace {

media::ColorTags colorTags(const ColorProperties& properties) {
    media::ColorTags tags;
    tags.primaries =
        properties.primaries == ColorPrimaries::itu2020 ? media::ColorPrimaries::bt2020 : media::ColorPrimaries::bt709;
    switch (properties.transferFunction) {
    case TransferFunction::itu709: tags.transfer = media::TransferFunction::bt709; break;
    case TransferFunction::smpteST2084PQ: tags.transfer = media::TransferFunction::smpteST2084; break;
    case TransferFunction::itu2100HLG: tags.transfer = media::TransferFunction::aribSTDB67; break;
    }
    tags.matrix =
        properties.yCbCrMatrix == YCbCrMatrix::itu2020 ? media::YCbCrMatrix::bt2020 : media::YCbCrMatrix::bt709;
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

media::VideoProfile h264Profile(ProfileLevel level) {
    switch (level) {
    case ProfileLevel::h264BaselineAutoLevel: return media::VideoProfile::baseline;
    case ProfileLevel::h264MainAutoLevel: return media::VideoProfile::main;
    default: return media::VideoProfile::high;
    }
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

int clampedSide(std::int64_t side) {
    return static_cast<int>(std::clamp<std::int64_t>(side, 0, std::numeric_limits<int>::max() - 1));
}

}  // namespace

media::VideoEncoderSettings videoEncoderSettings(const VideoWriterSettings& settings,
                                                 const media::ColorTags& sourceColor, double frameRate, bool tenBit,
                                                 bool preservesAlpha) {
    media::VideoEncoderSettings out;
    out.width = clampedSide(settings.width);
    out.height = clampedSide(settings.height);
    out.expectedFrameRate = frameRate > 0 && std::isfinite(frameRate) ? frameRate : 0;
    out.color = settings.colorProperties ? colorTags(*settings.colorProperties) : sourceColor;
    if (settings.family == VideoCodecFamily::proRes) {
        out.codec = media::VideoCodec::proRes;
        out.proResProfile = proResProfile(settings.proResVariant.value_or(ProResVariant::hq));
        out.proResAlpha = preservesAlpha;
        return out;
    }
    const auto& compression = settings.compression;
    if (compression) {
        out.averageBitRate = compression->averageBitRate;
        out.maxKeyFrameInterval =
            static_cast<int>(std::clamp<std::int64_t>(compression->maxKeyFrameInterval, 1, 1 << 20));
    }
    // Without a profile the encoder chooses its own.
    const bool hasLevel = compression && compression->profileLevel.has_value();
    const ProfileLevel level = hasLevel ? *compression->profileLevel : ProfileLevel::h264HighAutoLevel;
    if (settings.family == VideoCodecFamily::h264) {
        out.codec = media::VideoCodec::h264;
        if (hasLevel) out.profile = h264Profile(level);
        return out;
    }
    out.codec = media::VideoCodec::hevc;
    if (settings.isMain10() || tenBit)
        out.profile = media::VideoProfile::main10;
    else if (hasLevel && level == ProfileLevel::hevcMainAutoLevel)
        out.profile = media::VideoProfile::main;
    return out;
}

media::ColorTags sourceColorTags(const media::AssetTrack& track) {
    media::ColorTags stored{media::ColorPrimaries::unspecified, media::TransferFunction::unspecified,
                            media::YCbCrMatrix::unspecified, media::ColorRange::unspecified};
    int height = 0;
    if (!track.formatDescriptions.empty() && track.formatDescriptions.front()) {
        stored = track.formatDescriptions.front()->color;
        height = track.formatDescriptions.front()->height;
    }
    media::ColorTags tags = media::resolvedColor(stored, height);
    tags.range = media::ColorRange::video;
    return tags;
}

media::FileType mediaFileType(ContainerFileType type) {
    return type == ContainerFileType::mpeg4 ? media::FileType::mpeg4 : media::FileType::quickTimeMovie;
}

std::vector<media::MetadataItem> metadataItems(const MovieMetadata& metadata) {
    std::vector<media::MetadataItem> items;
    for (const auto& item : metadata.metadataItems()) items.push_back({metadataKey(item.key), item.value});
    return items;
}

media::AudioEncoderSettings movieAudioSettings(ContainerFileType type, double sampleRate, bool downmixMono) {
    constexpr double kHighestRate = 768000;
    media::AudioEncoderSettings settings;
    settings.sampleRate = sampleRate > 0 && sampleRate <= kHighestRate ? sampleRate : kDefaultSampleRate;
    settings.channelCount = downmixMono ? 1 : 2;
    if (type == ContainerFileType::mpeg4) {
        settings.codec = media::AudioCodec::aac;
        settings.bitRate = downmixMono ? 160000 : 256000;
    } else {
        settings.codec = media::AudioCodec::pcm16;
    }
    return settings;
}

}  // namespace fw

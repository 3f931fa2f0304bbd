#pragma once
// The output codec table: the fifteen formats the system knows, each format's
// fixed properties (stored name, extension, file-name token, encoder family,
// adjustable options), and the video writer settings for the four formats the
// platform encoders produce (ProRes, H.264, HEVC, HEVC + Alpha).
//
// VideoWriterSettings is our own typed description of what a movie writer is
// asked for; the media layer maps it to FFmpeg encoders (prores_ks, libx264,
// libx265). Nothing here depends on FFmpeg.
// Thread-safety: plain values and pure functions, safe from any thread.

#include "model/ColorTagging.h"
#include "model/RawValue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace fw {

// ---------------------------------------------------------------- OutputCodec

enum class OutputCodec {
    proRes,
    h264,
    hevc,
    hevcAlpha,
    gif,
    png,
    jpeg,
    heic,
    dpx,
    exr,
    hap,
    hapQ,
    dxv2,
    dxv3,
    notchLC,
};

template <>
struct EnumCases<OutputCodec> {
    static constexpr std::array values{
        OutputCodec::proRes, OutputCodec::h264, OutputCodec::hevc, OutputCodec::hevcAlpha, OutputCodec::gif,
        OutputCodec::png,    OutputCodec::jpeg, OutputCodec::heic, OutputCodec::dpx,       OutputCodec::exr,
        OutputCodec::hap,    OutputCodec::hapQ, OutputCodec::dxv2, OutputCodec::dxv3,      OutputCodec::notchLC,
    };
};

enum class ContainerFileType { quickTimeMovie, mpeg4 };
enum class ImageUTType { png, jpeg, heic };

// Display name, also the stored name and the identifier ("ProRes", "HEVC + Alpha").
std::string_view rawValue(OutputCodec codec);
// Exact, case-sensitive match on the current names only (no older names).
// For stored JSON use json::decode<OutputCodec>, which also reads older names.
inline std::optional<OutputCodec> outputCodecFromRawValue(std::string_view name) {
    return fromRawValue<OutputCodec>(name);
}

// The codec picker's list: every case but hevcAlpha, which is reached through
// hevc with the alpha toggle.
std::span<const OutputCodec> listedCases();

// False for notchLC and hevcAlpha: the HEVC encoder here cannot carry an
// alpha layer, so HEVC + Alpha is refused like NotchLC (it keeps its name,
// suffix and stored form so older presets and queues still read, and hevc
// keeps its alpha switch so such an output shows its flag and can be switched back).
bool isProducible(OutputCodec codec);
bool usesGIFEncoder(OutputCodec codec);       // gif
bool usesImageEncoder(OutputCodec codec);     // png, jpeg, heic, dpx, exr
bool usesRawImageWriter(OutputCodec codec);   // dpx, exr: our own file writers
bool usesHapEncoder(OutputCodec codec);       // hap, hapQ
bool usesDXVEncoder(OutputCodec codec);       // dxv2, dxv3
bool supportsTenBit(OutputCodec codec);       // proRes, hevc, hevcAlpha
bool supportsAlphaToggle(OutputCodec codec);  // proRes, hevc, hap, dxv2, dxv3
bool hasBitrateControls(OutputCodec codec);   // h264, hevc, hevcAlpha

// "mov", "mp4", "gif", "png", "jpg", "heic", "dpx", "exr"; without the dot.
std::string_view fileExtension(OutputCodec codec);
// The "{codec}" token of output names ("ProRes", "HEVC-Alpha").
std::string_view fileNameSuffix(OutputCodec codec);
// MPEG-4 for h264 and hevc, QuickTime movie for every other case.
ContainerFileType fileType(OutputCodec codec);
std::optional<ImageUTType> imageUTType(OutputCodec codec);
// The caution shown for the DXV formats; nullopt for every other case.
std::optional<std::string_view> experimentalNote(OutputCodec codec);

// -------------------------------------------------------------- ProResVariant

enum class ProResVariant { proxy, lt, standard, hq, fourByFour };

template <>
struct EnumCases<ProResVariant> {
    static constexpr std::array values{ProResVariant::proxy, ProResVariant::lt, ProResVariant::standard,
                                       ProResVariant::hq, ProResVariant::fourByFour};
};

std::string_view rawValue(ProResVariant variant);  // "422 Proxy" … "4444"

// --------------------------------------------------------------- VideoProfile

enum class VideoProfile { automatic, baseline, main, high, main10 };

template <>
struct EnumCases<VideoProfile> {
    static constexpr std::array values{VideoProfile::automatic, VideoProfile::baseline, VideoProfile::main,
                                       VideoProfile::high, VideoProfile::main10};
};

std::string_view rawValue(VideoProfile profile);  // "Auto", "Baseline", "Main", "High", "Main 10"

// Profile with the level left to the encoder.
enum class ProfileLevel {
    h264BaselineAutoLevel,
    h264MainAutoLevel,
    h264HighAutoLevel,
    hevcMainAutoLevel,
    hevcMain10AutoLevel,
};

// The profiles the codec picker offers, in order: h264 Auto, Baseline, Main,
// High; hevc and hevcAlpha Auto, Main, Main 10; every other codec none.
std::span<const VideoProfile> availableProfiles(OutputCodec codec);

// h264: baseline/main as asked, everything else High. hevc/hevcAlpha: main and
// main10 as asked, otherwise nullopt (the encoder's own choice). Other codecs:
// nullopt.
std::optional<ProfileLevel> profileLevel(OutputCodec codec, VideoProfile profile);

// --------------------------------------------------------------- H264Settings

// Rate and key-frame settings for H.264, HEVC and HEVC + Alpha alike.
struct H264Settings {
    enum class QualityTier { veryLow, low, medium, high, veryHigh };

    double crush = 0.6;               // quality slider 0…1 (clamped by the bit-rate model)
    bool useExplicitBitrate = false;  // use bitrateMbps instead of the crush model
    double bitrateMbps = 12;          // 10^6 bit/s
    bool keyFrameAuto = true;         // true: a key frame every 60 frames
    std::int64_t maxKeyFrameInterval = 60;
    VideoProfile profile = VideoProfile::automatic;

    // Bits per second, never below 100,000. The crush model assumes 30 frames
    // per second whatever the real rate. Absurd values (non-finite, beyond
    // 2^63 bit/s) are clamped into [100,000, INT64_MAX].
    std::int64_t averageBitRate(std::int64_t width, std::int64_t height) const;
    // Bits per pixel per frame the settings amount to (at 1080p, 30 fps, when explicit).
    double effectiveBitsPerPixel() const;
    // Average bit rate for 1920 × 1080 in Mbit/s.
    double referenceBitrateMbps() const;
    QualityTier qualityTier() const;

    bool operator==(const H264Settings&) const = default;

private:
    static double crushBitsPerPixel(double crush);
};

// "Very Low", "Low", "Medium", "High", "Very High".
std::string_view label(H264Settings::QualityTier tier);

// -------------------------------------------------------- VideoWriterSettings

struct VideoCompressionProperties {
    std::int64_t averageBitRate = 0;           // bit/s
    std::int64_t maxKeyFrameInterval = 60;     // frames, at least 1
    std::optional<ProfileLevel> profileLevel;  // nullopt: the encoder chooses
    bool operator==(const VideoCompressionProperties&) const = default;
};

enum class VideoCodecFamily { proRes, h264, hevc };

// What the movie writer is asked to produce.
struct VideoWriterSettings {
    VideoCodecFamily family = VideoCodecFamily::proRes;
    // ProRes only: its flavour; 4444 is the one with an alpha channel.
    std::optional<ProResVariant> proResVariant;
    std::int64_t width = 0;
    std::int64_t height = 0;
    // Only for H.264/HEVC, and only when rate settings were given.
    std::optional<VideoCompressionProperties> compression;
    std::optional<ColorProperties> colorProperties;

    // HEVC asked for Main 10.
    bool isMain10() const;

    bool operator==(const VideoWriterSettings&) const = default;
};

// The writer settings for proRes, h264 and hevc; nullopt for every other codec,
// hevcAlpha included (the caller reports it as not producible).
// `h264` is used by H.264/HEVC only and ignored for ProRes; without it no
// compression properties are set. `colorProperties` is passed through.
std::optional<VideoWriterSettings> videoSettings(OutputCodec codec, std::int64_t width, std::int64_t height,
                                                 ProResVariant proResVariant, const std::optional<H264Settings>& h264,
                                                 const std::optional<ColorProperties>& colorProperties);

// ----------------------------------------------------------------------- JSON
// Enumerations are stored as their raw value. OutputCodec also reads the older
// names "DXV" (→ dxv2) and "DXV3 + Alpha" (→ dxv3; the configuration reader
// restores its alpha flag); anything else fails with "Unknown codec ‘…’".
// H264Settings reads every key as optional with the defaults above and writes
// all six.

Json toJson(OutputCodec codec);
Json toJson(ProResVariant variant);
Json toJson(VideoProfile profile);
Json toJson(const H264Settings& settings);

namespace json {
template <>
OutputCodec decode<OutputCodec>(const Json& value, std::string_view key);
template <>
ProResVariant decode<ProResVariant>(const Json& value, std::string_view key);
template <>
VideoProfile decode<VideoProfile>(const Json& value, std::string_view key);
template <>
H264Settings decode<H264Settings>(const Json& value, std::string_view key);
}  // namespace json

}  // namespace fw

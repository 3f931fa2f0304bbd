#include "model/OutputFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fw {

namespace {

enum class Family { platform, gif, image, hap, dxv, none };

struct CodecRow {
    std::string_view rawValue;
    std::string_view fileNameSuffix;
    Family family;
    bool producible;
    bool tenBit;
    bool alphaToggle;
    bool bitrateControls;
};

// Indexed by OutputCodec, in declaration order.
constexpr std::array<CodecRow, 15> kCodecTable{
    {{"ProRes", "ProRes", Family::platform, true, true, true, false},
     {"H.264", "H264", Family::platform, true, false, false, true},
     {"HEVC", "HEVC", Family::platform, true, true, true, true},
     {"HEVC + Alpha", "HEVC-Alpha", Family::platform, false, true, false, true},
     {"GIF (animated)", "GIF", Family::gif, true, false, false, false},
     {"PNG (still)", "PNG", Family::image, true, false, false, false},
     {"JPEG (still)", "JPEG", Family::image, true, false, false, false},
     {"HEIC (still)", "HEIC", Family::image, true, false, false, false},
     {"DPX (still)", "DPX", Family::image, true, false, false, false},
     {"OpenEXR (still)", "EXR", Family::image, true, false, false, false},
     {"Hap", "Hap", Family::hap, true, false, true, false},
     {"Hap-Q", "HapQ", Family::hap, true, false, false, false},
     {"DXV2", "DXV2", Family::dxv, true, false, true, false},
     {"DXV3", "DXV3", Family::dxv, true, false, true, false},
     {"NotchLC", "NotchLC", Family::none, false, false, false, false}}};
static_assert(kCodecTable.size() == EnumCases<OutputCodec>::values.size());

constexpr std::array kListedCases{
    OutputCodec::proRes, OutputCodec::h264, OutputCodec::hevc, OutputCodec::gif,     OutputCodec::png,
    OutputCodec::jpeg,   OutputCodec::heic, OutputCodec::dpx,  OutputCodec::exr,     OutputCodec::hap,
    OutputCodec::hapQ,   OutputCodec::dxv2, OutputCodec::dxv3, OutputCodec::notchLC,
};

constexpr std::string_view kDXVNote =
    "DXV has no official spec \u2014 output is an independent interop implementation of the "
    "community-documented format, verified against FFmpeg's decoder. Spot-check in Resolume before a show.";

const CodecRow& row(OutputCodec codec) { return kCodecTable[static_cast<std::size_t>(codec)]; }

constexpr double kMinimumBitRate = 100'000;
// Largest double below 2^63, so the conversion to int64 is defined.
constexpr double kMaximumBitRate = 9'223'372'036'854'774'784.0;

std::int64_t clampBitRate(double bitsPerSecond) {
    if (std::isnan(bitsPerSecond) || bitsPerSecond < kMinimumBitRate) return static_cast<std::int64_t>(kMinimumBitRate);
    if (bitsPerSecond >= kMaximumBitRate) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(bitsPerSecond);  // truncates towards zero
}

}  // namespace

// ---------------------------------------------------------------- OutputCodec

std::string_view rawValue(OutputCodec codec) { return row(codec).rawValue; }

std::span<const OutputCodec> listedCases() { return kListedCases; }

bool isProducible(OutputCodec codec) { return row(codec).producible; }
bool usesGIFEncoder(OutputCodec codec) { return row(codec).family == Family::gif; }
bool usesImageEncoder(OutputCodec codec) { return row(codec).family == Family::image; }
bool usesRawImageWriter(OutputCodec codec) { return codec == OutputCodec::dpx || codec == OutputCodec::exr; }
bool usesHapEncoder(OutputCodec codec) { return row(codec).family == Family::hap; }
bool usesDXVEncoder(OutputCodec codec) { return row(codec).family == Family::dxv; }
bool supportsTenBit(OutputCodec codec) { return row(codec).tenBit; }
bool supportsAlphaToggle(OutputCodec codec) { return row(codec).alphaToggle; }
bool hasBitrateControls(OutputCodec codec) { return row(codec).bitrateControls; }
std::string_view fileNameSuffix(OutputCodec codec) { return row(codec).fileNameSuffix; }

ContainerFileType fileType(OutputCodec codec) {
    return codec == OutputCodec::h264 || codec == OutputCodec::hevc ? ContainerFileType::mpeg4
                                                                    : ContainerFileType::quickTimeMovie;
}

std::string_view fileExtension(OutputCodec codec) {
    switch (codec) {
    case OutputCodec::gif: return "gif";
    case OutputCodec::png: return "png";
    case OutputCodec::jpeg: return "jpg";
    case OutputCodec::heic: return "heic";
    case OutputCodec::dpx: return "dpx";
    case OutputCodec::exr: return "exr";
    default: return fileType(codec) == ContainerFileType::mpeg4 ? "mp4" : "mov";
    }
}

std::optional<ImageUTType> imageUTType(OutputCodec codec) {
    switch (codec) {
    case OutputCodec::png: return ImageUTType::png;
    case OutputCodec::jpeg: return ImageUTType::jpeg;
    case OutputCodec::heic: return ImageUTType::heic;
    default: return std::nullopt;
    }
}

std::optional<std::string_view> experimentalNote(OutputCodec codec) {
    if (usesDXVEncoder(codec)) return kDXVNote;
    return std::nullopt;
}

// ------------------------------------------------------ ProResVariant, profile

std::string_view rawValue(ProResVariant variant) {
    switch (variant) {
    case ProResVariant::proxy: return "422 Proxy";
    case ProResVariant::lt: return "422 LT";
    case ProResVariant::standard: return "422";
    case ProResVariant::hq: return "422 HQ";
    case ProResVariant::fourByFour: return "4444";
    }
    return "";
}

std::string_view rawValue(VideoProfile profile) {
    switch (profile) {
    case VideoProfile::automatic: return "Auto";
    case VideoProfile::baseline: return "Baseline";
    case VideoProfile::main: return "Main";
    case VideoProfile::high: return "High";
    case VideoProfile::main10: return "Main 10";
    }
    return "";
}

std::span<const VideoProfile> availableProfiles(OutputCodec codec) {
    static constexpr std::array kH264{VideoProfile::automatic, VideoProfile::baseline, VideoProfile::main,
                                      VideoProfile::high};
    static constexpr std::array kHEVC{VideoProfile::automatic, VideoProfile::main, VideoProfile::main10};
    switch (codec) {
    case OutputCodec::h264: return kH264;
    case OutputCodec::hevc:
    case OutputCodec::hevcAlpha: return kHEVC;
    default: return {};
    }
}

std::optional<ProfileLevel> profileLevel(OutputCodec codec, VideoProfile profile) {
    switch (codec) {
    case OutputCodec::h264:
        if (profile == VideoProfile::main) return ProfileLevel::h264MainAutoLevel;
        if (profile == VideoProfile::baseline) return ProfileLevel::h264BaselineAutoLevel;
        return ProfileLevel::h264HighAutoLevel;
    case OutputCodec::hevc:
    case OutputCodec::hevcAlpha:
        if (profile == VideoProfile::main10) return ProfileLevel::hevcMain10AutoLevel;
        if (profile == VideoProfile::main) return ProfileLevel::hevcMainAutoLevel;
        return std::nullopt;
    default: return std::nullopt;
    }
}

// --------------------------------------------------------------- H264Settings

double H264Settings::crushBitsPerPixel(double value) {
    // Linear from 0.02 to 0.20 bits per pixel per frame; NaN counts as the
    // bottom. Written as min + (max − min) × c so that c = 1 lands exactly on
    // the top (0.02 + 0.18 × 1 falls one ulp short of 0.2).
    constexpr double kBottom = 0.02;
    constexpr double kTop = 0.2;
    if (!(value > 0)) return kBottom;
    if (value > 1) return kTop;
    return kBottom + (kTop - kBottom) * value;
}

std::int64_t H264Settings::averageBitRate(std::int64_t width, std::int64_t height) const {
    if (useExplicitBitrate) return clampBitRate(bitrateMbps * 1'000'000.0);
    // Computed in floating point so an absurd frame size cannot overflow.
    double pixels = static_cast<double>(width) * static_cast<double>(height);
    return clampBitRate(pixels * 30.0 * crushBitsPerPixel(crush));
}

double H264Settings::effectiveBitsPerPixel() const {
    if (useExplicitBitrate) return static_cast<double>(averageBitRate(1920, 1080)) / 62'208'000.0;
    return crushBitsPerPixel(crush);
}

double H264Settings::referenceBitrateMbps() const {
    return static_cast<double>(averageBitRate(1920, 1080)) / 1'000'000.0;
}

H264Settings::QualityTier H264Settings::qualityTier() const {
    double bitsPerPixel = effectiveBitsPerPixel();
    if (bitsPerPixel < 0.035) return QualityTier::veryLow;
    if (bitsPerPixel < 0.06) return QualityTier::low;
    if (bitsPerPixel < 0.1) return QualityTier::medium;
    if (bitsPerPixel < 0.15) return QualityTier::high;
    return QualityTier::veryHigh;
}

std::string_view label(H264Settings::QualityTier tier) {
    switch (tier) {
    case H264Settings::QualityTier::veryLow: return "Very Low";
    case H264Settings::QualityTier::low: return "Low";
    case H264Settings::QualityTier::medium: return "Medium";
    case H264Settings::QualityTier::high: return "High";
    case H264Settings::QualityTier::veryHigh: return "Very High";
    }
    return "";
}

// -------------------------------------------------------- VideoWriterSettings

bool VideoWriterSettings::isMain10() const {
    return family == VideoCodecFamily::hevc && compression &&
           compression->profileLevel == ProfileLevel::hevcMain10AutoLevel;
}

std::optional<VideoWriterSettings> videoSettings(OutputCodec codec, std::int64_t width, std::int64_t height,
                                                 ProResVariant proResVariant, const std::optional<H264Settings>& h264,
                                                 const std::optional<ColorProperties>& colorProperties) {
    VideoWriterSettings settings;
    settings.width = width;
    settings.height = height;
    switch (codec) {
    case OutputCodec::proRes:
        settings.family = VideoCodecFamily::proRes;
        settings.proResVariant = proResVariant;
        break;
    case OutputCodec::h264:
    case OutputCodec::hevc:
        settings.family = codec == OutputCodec::h264 ? VideoCodecFamily::h264 : VideoCodecFamily::hevc;
        if (h264) {
            VideoCompressionProperties compression;
            compression.averageBitRate = h264->averageBitRate(width, height);
            compression.maxKeyFrameInterval =
                h264->keyFrameAuto ? 60 : std::max<std::int64_t>(h264->maxKeyFrameInterval, 1);
            compression.profileLevel = profileLevel(codec, h264->profile);
            settings.compression = compression;
        }
        break;
    default: return std::nullopt;
    }
    settings.colorProperties = colorProperties;
    return settings;
}

// ----------------------------------------------------------------------- JSON

Json toJson(OutputCodec codec) { return std::string(rawValue(codec)); }
Json toJson(ProResVariant variant) { return std::string(rawValue(variant)); }
Json toJson(VideoProfile profile) { return std::string(rawValue(profile)); }

Json toJson(const H264Settings& settings) {
    return Json{
        {"crush", json::finiteOr(settings.crush, H264Settings{}.crush)},
        {"useExplicitBitrate", settings.useExplicitBitrate},
        {"bitrateMbps", json::finiteOr(settings.bitrateMbps, H264Settings{}.bitrateMbps)},
        {"keyFrameAuto", settings.keyFrameAuto},
        {"maxKeyFrameInterval", settings.maxKeyFrameInterval},
        {"profile", toJson(settings.profile)},
    };
}

namespace json {

template <>
OutputCodec decode<OutputCodec>(const Json& value, std::string_view key) {
    auto name = decode<std::string>(value, key);
    if (auto codec = fromRawValue<OutputCodec>(std::string_view(name))) return *codec;
    if (name == "DXV") return OutputCodec::dxv2;
    if (name == "DXV3 + Alpha") return OutputCodec::dxv3;
    throw JsonDecodeError("Unknown codec \u2018" + name + "\u2019");
}

template <>
ProResVariant decode<ProResVariant>(const Json& value, std::string_view key) {
    return decodeRawValue<ProResVariant>(value, key);
}

template <>
VideoProfile decode<VideoProfile>(const Json& value, std::string_view key) {
    return decodeRawValue<VideoProfile>(value, key);
}

template <>
H264Settings decode<H264Settings>(const Json& value, std::string_view key) {
    expectObject(value, key);
    H264Settings defaults;
    H264Settings settings;
    settings.crush = valueOr<double>(value, "crush", defaults.crush);
    settings.useExplicitBitrate = valueOr<bool>(value, "useExplicitBitrate", defaults.useExplicitBitrate);
    settings.bitrateMbps = valueOr<double>(value, "bitrateMbps", defaults.bitrateMbps);
    settings.keyFrameAuto = valueOr<bool>(value, "keyFrameAuto", defaults.keyFrameAuto);
    settings.maxKeyFrameInterval = valueOr<std::int64_t>(value, "maxKeyFrameInterval", defaults.maxKeyFrameInterval);
    settings.profile = valueOr<VideoProfile>(value, "profile", defaults.profile);
    return settings;
}

}  // namespace json
}  // namespace fw

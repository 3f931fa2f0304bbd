#pragma once
// The complete settings of one output, stored inside user presets and the
// queue file (its JSON form is a file format), and its small companions:
// NamingSettings (output name template), TrimRange (in and out points) and
// ProxySettings (editing-proxy choice turned into a configuration).
//
// Coding: toJson writes the current form; json::decode<ExportConfiguration>
// also reads older forms ("DXV", "DXV3 + Alpha", "HEVC + Alpha" with the alpha
// flag carried in the codec name, the key "dxvAlpha"). Failures throw
// JsonDecodeError for the whole configuration.
// Thread-safety: plain values and pure functions.

#include "model/Geometry.h"
#include "model/OutputFormat.h"
#include "model/OutputSizing.h"
#include "platform/core/MediaTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

// ------------------------------------------------------------- NamingSettings

struct NamingSettings {
    // Stored under the key "template". Placeholders "{name}", "{codec}",
    // "{width}", "{height}" and "{date}"; other text passes through.
    std::string templateText = "{name}_{codec}";

    // The output file name without extension: each placeholder replaced by
    // its value as it stands (a source name holding "{codec}", ":" or blanks
    // keeps them: it is a file's name already), the template's own "/" and
    // ":" turned into "-" and its blanks at either end trimmed. When nothing
    // is left: `sourceName` as passed, or "clip" when that is empty too.
    // Callers append "." and the codec's fileExtension.
    std::string stem(std::string_view sourceName, std::string_view codecSuffix, std::int64_t width, std::int64_t height,
                     std::string_view dateString) const;

    bool operator==(const NamingSettings&) const = default;
};

// ------------------------------------------------------------------ TrimRange

// In and out points in seconds from the start of the source. An end that is
// not after the start means "to the end of the source", and a negative (or
// NaN) start counts as 0, everywhere a trim is read: decoding normalises the
// stored values, and the conversions below use effectiveStart/effectiveEnd.
struct TrimRange {
    double start = 0;
    std::optional<double> end;

    // max(start, 0); NaN gives 0.
    double effectiveStart() const;
    // `end` when it lies after effectiveStart(), else nullopt.
    std::optional<double> effectiveEnd() const;

    // The reader range: start at kSecondsTimescale, duration end − start at
    // that timescale, or positive infinity when there is no effective end.
    TimeRange timeRange() const;
    // The output's length in seconds for a source of `assetDuration` seconds;
    // never below 0.01.
    double resolvedDuration(double assetDuration) const;

    bool operator==(const TrimRange&) const = default;
};

// -------------------------------------------------------- ExportConfiguration

struct ExportConfiguration {
    // codec through naming are always given by whoever builds a configuration.
    OutputCodec codec = OutputCodec::proRes;
    ProResVariant proResVariant = ProResVariant::hq;
    H264Settings h264;
    ResizeSettings resize;
    NamingSettings naming;
    std::optional<TrimRange> trim;
    std::optional<GeometrySettings> geometry;
    bool tenBit = false;
    bool alpha = false;
    bool dxvHighQuality = false;

    // A copy with the alpha choice normalised, first rule that applies:
    // hevcAlpha sets alpha; alpha off changes nothing; ProRes + alpha selects
    // the 4444 variant; HEVC + alpha becomes hevcAlpha; other codecs keep
    // alpha for their own encoders to read.
    ExportConfiguration resolvingAlpha() const;

    bool operator==(const ExportConfiguration&) const = default;
};

// -------------------------------------------------------------- ProxySettings

struct ProxySettings {
    enum class Codec { proResProxy, h264 };

    Codec codec = Codec::proResProxy;
    ResolutionPreset resolution = ResolutionPreset::hd720;

    // ProRes 422 Proxy, or H.264 at crush 0.35; resized into the preset's box
    // keeping the aspect ratio; named "{name}_proxy".
    ExportConfiguration configuration() const;

    bool operator==(const ProxySettings&) const = default;
};

template <>
struct EnumCases<ProxySettings::Codec> {
    static constexpr std::array values{ProxySettings::Codec::proResProxy, ProxySettings::Codec::h264};
};

std::string_view rawValue(ProxySettings::Codec codec);  // "ProRes 422 Proxy", "H.264 (small)"

// ----------------------------------------------------------------------- JSON

Json toJson(const NamingSettings& naming);
// "start" always, "end" only when present.
Json toJson(const TrimRange& trim);
// "codec", "proResVariant", "h264", "resize", "naming", "tenBit", "alpha",
// "dxvHighQuality" always; "trim" and "geometry" only when present.
Json toJson(const ExportConfiguration& configuration);

namespace json {
template <>
NamingSettings decode<NamingSettings>(const Json& value, std::string_view key);
template <>
TrimRange decode<TrimRange>(const Json& value, std::string_view key);
template <>
ExportConfiguration decode<ExportConfiguration>(const Json& value, std::string_view key);
}  // namespace json

}  // namespace fw

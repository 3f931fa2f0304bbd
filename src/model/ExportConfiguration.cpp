#include "model/ExportConfiguration.h"

#include "platform/core/UnicodeSpace.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace fw {

namespace {

struct Placeholder {
    std::string_view key;
    std::string_view value;
};

// The placeholder that begins at `text[index]`, or none.
const Placeholder* placeholderAt(std::string_view text, std::size_t index, const std::array<Placeholder, 5>& all) {
    for (const Placeholder& placeholder : all)
        if (text.compare(index, placeholder.key.size(), placeholder.key) == 0) return &placeholder;
    return nullptr;
}

// Where `text` ends once the horizontal space after `from` is dropped.
std::size_t endWithoutTrailingSpace(std::string_view text, std::size_t from) {
    const std::string_view tail = text.substr(from);
    const std::string_view kept = text::trimHorizontalSpace(tail);
    if (kept.empty()) return from;
    return from + static_cast<std::size_t>(kept.data() - tail.data()) + kept.size();
}

}  // namespace

// ------------------------------------------------------------- NamingSettings

std::string NamingSettings::stem(std::string_view sourceName, std::string_view codecSuffix, std::int64_t width,
                                 std::int64_t height, std::string_view dateString) const {
    const std::string widthText = std::to_string(width), heightText = std::to_string(height);
    const std::array<Placeholder, 5> placeholders{{{"{name}", sourceName},
                                                   {"{codec}", codecSuffix},
                                                   {"{width}", widthText},
                                                   {"{height}", heightText},
                                                   {"{date}", dateString}}};
    // One pass over the template: its own text has "/" and ":" made "-"; the
    // values go in as they are, so a source's name is never read as template.
    std::string result;
    result.reserve(templateText.size() + sourceName.size());
    std::size_t firstValue = std::string::npos, lastValueEnd = 0;
    for (std::size_t index = 0; index < templateText.size();) {
        if (const Placeholder* placeholder = placeholderAt(templateText, index, placeholders)) {
            index += placeholder->key.size();
            if (placeholder->value.empty()) continue;
            if (firstValue == std::string::npos) firstValue = result.size();
            result += placeholder->value;
            lastValueEnd = result.size();
            continue;
        }
        const char c = templateText[index++];
        result += c == '/' || c == ':' ? '-' : c;
    }
    // Blanks of the template at either end go; a value's own blanks stay.
    const std::size_t leading = firstValue == std::string::npos ? result.size() : firstValue;
    std::size_t begin = 0;
    while (begin < leading) {
        const std::size_t blank = text::horizontalSpaceAt(result, begin);
        if (blank == 0 || begin + blank > leading) break;
        begin += blank;
    }
    const std::size_t end =
        endWithoutTrailingSpace(result, firstValue == std::string::npos ? begin : std::max(lastValueEnd, begin));
    if (end > begin) return result.substr(begin, end - begin);
    // A blank template keeps each source's own name, so outputs of different
    // sources do not collide; "clip" only when there is no name at all.
    if (!sourceName.empty()) return std::string(sourceName);
    return "clip";
}

// ------------------------------------------------------------------ TrimRange

double TrimRange::effectiveStart() const {
    return start > 0 ? start : 0.0;  // negative or NaN gives 0
}

std::optional<double> TrimRange::effectiveEnd() const {
    if (end && *end > effectiveStart()) return end;
    return std::nullopt;
}

TimeRange TrimRange::timeRange() const {
    double from = effectiveStart();
    TimeRange range;
    range.start = MediaTime::fromSeconds(from);
    auto to = effectiveEnd();
    range.duration = to ? MediaTime::fromSeconds(*to - from) : MediaTime::positiveInfinity();
    return range;
}

double TrimRange::resolvedDuration(double assetDuration) const {
    double to = effectiveEnd().value_or(assetDuration);
    double duration = to - effectiveStart();
    return duration >= 0.01 ? duration : 0.01;  // NaN gives the floor too
}

// -------------------------------------------------------- ExportConfiguration

ExportConfiguration ExportConfiguration::resolvingAlpha() const {
    ExportConfiguration copy = *this;
    if (copy.codec == OutputCodec::hevcAlpha) {
        copy.alpha = true;
    } else if (!copy.alpha) {
        // nothing to resolve
    } else if (copy.codec == OutputCodec::proRes) {
        copy.proResVariant = ProResVariant::fourByFour;
    } else if (copy.codec == OutputCodec::hevc) {
        copy.codec = OutputCodec::hevcAlpha;
    }
    return copy;
}

// -------------------------------------------------------------- ProxySettings

std::string_view rawValue(ProxySettings::Codec codec) {
    switch (codec) {
    case ProxySettings::Codec::proResProxy: return "ProRes 422 Proxy";
    case ProxySettings::Codec::h264: return "H.264 (small)";
    }
    return "";
}

ExportConfiguration ProxySettings::configuration() const {
    ExportConfiguration configuration;
    if (codec == Codec::proResProxy) {
        configuration.codec = OutputCodec::proRes;
        configuration.proResVariant = ProResVariant::proxy;
    } else {
        configuration.codec = OutputCodec::h264;
        configuration.proResVariant = ProResVariant::hq;
        configuration.h264.crush = 0.35;
    }
    IntSize box = size(resolution);
    configuration.resize = ResizeSettings{true, box.width, box.height, ResizeMode::aspect};
    configuration.naming.templateText = "{name}_proxy";
    return configuration;
}

// ----------------------------------------------------------------------- JSON

Json toJson(const NamingSettings& naming) { return Json{{"template", naming.templateText}}; }

Json toJson(const TrimRange& trim) {
    // A non-finite end means no end point, as the trim itself treats it.
    Json object{{"start", json::finiteOr(trim.effectiveStart(), 0)}};
    if (trim.end && std::isfinite(*trim.end)) object["end"] = *trim.end;
    return object;
}

Json toJson(const ExportConfiguration& configuration) {
    Json object{
        {"codec", toJson(configuration.codec)},   {"proResVariant", toJson(configuration.proResVariant)},
        {"h264", toJson(configuration.h264)},     {"resize", toJson(configuration.resize)},
        {"naming", toJson(configuration.naming)}, {"tenBit", configuration.tenBit},
        {"alpha", configuration.alpha},           {"dxvHighQuality", configuration.dxvHighQuality},
    };
    if (configuration.trim) object["trim"] = toJson(*configuration.trim);
    if (configuration.geometry) object["geometry"] = toJson(*configuration.geometry);
    return object;
}

namespace json {

template <>
NamingSettings decode<NamingSettings>(const Json& value, std::string_view key) {
    expectObject(value, key);
    return NamingSettings{required<std::string>(value, "template")};
}

template <>
TrimRange decode<TrimRange>(const Json& value, std::string_view key) {
    expectObject(value, key);
    TrimRange trim;
    trim.start = required<double>(value, "start");
    trim.end = optional<double>(value, "end");
    // Stored forms are normalised so every reader of the trim agrees.
    trim.start = trim.effectiveStart();
    trim.end = trim.effectiveEnd();
    return trim;
}

template <>
ExportConfiguration decode<ExportConfiguration>(const Json& value, std::string_view key) {
    expectObject(value, key);
    ExportConfiguration configuration;
    // Older forms carried the alpha flag in the codec name; then "alpha" is not read.
    auto codecName = required<std::string>(value, "codec");
    if (codecName == "DXV3 + Alpha") {
        configuration.codec = OutputCodec::dxv3;
        configuration.alpha = true;
    } else if (codecName == "HEVC + Alpha") {
        // Also hevcAlpha's current name; resolvingAlpha turns it back before encoding.
        configuration.codec = OutputCodec::hevc;
        configuration.alpha = true;
    } else {
        configuration.codec = required<OutputCodec>(value, "codec");
        if (auto alpha = optional<bool>(value, "alpha")) {
            configuration.alpha = *alpha;
        } else {
            configuration.alpha = valueOr<bool>(value, "dxvAlpha", false);
        }
    }
    configuration.proResVariant = required<ProResVariant>(value, "proResVariant");
    configuration.h264 = required<H264Settings>(value, "h264");
    configuration.resize = required<ResizeSettings>(value, "resize");
    configuration.naming = required<NamingSettings>(value, "naming");
    configuration.trim = optional<TrimRange>(value, "trim");
    configuration.geometry = optional<GeometrySettings>(value, "geometry");
    configuration.tenBit = valueOr<bool>(value, "tenBit", false);
    configuration.dxvHighQuality = valueOr<bool>(value, "dxvHighQuality", false);
    return configuration;
}

}  // namespace json
}  // namespace fw

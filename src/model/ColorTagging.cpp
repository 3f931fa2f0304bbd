#include "model/ColorTagging.h"

namespace fw {

std::string_view rawValue(ColorTag tag) {
    switch (tag) {
    case ColorTag::rec709: return "Rec. 709 (SDR)";
    case ColorTag::rec2020: return "Rec. 2020 (SDR)";
    case ColorTag::pq: return "Rec. 2020 PQ (HDR10)";
    case ColorTag::hlg: return "Rec. 2020 HLG";
    }
    return "";
}

ColorProperties properties(ColorTag tag) {
    switch (tag) {
    case ColorTag::rec709: return {ColorPrimaries::itu709, TransferFunction::itu709, YCbCrMatrix::itu709};
    case ColorTag::rec2020: return {ColorPrimaries::itu2020, TransferFunction::itu709, YCbCrMatrix::itu2020};
    case ColorTag::pq: return {ColorPrimaries::itu2020, TransferFunction::smpteST2084PQ, YCbCrMatrix::itu2020};
    case ColorTag::hlg: return {ColorPrimaries::itu2020, TransferFunction::itu2100HLG, YCbCrMatrix::itu2020};
    }
    return {};
}

std::optional<ColorProperties> ColorSettings::properties() const {
    if (!enabled) return std::nullopt;
    return fw::properties(tag);
}

Json toJson(const ColorSettings& settings) {
    return Json{{"enabled", settings.enabled}, {"tag", std::string(rawValue(settings.tag))}};
}

namespace json {

template <>
ColorTag decode<ColorTag>(const Json& value, std::string_view key) {
    return decodeRawValue<ColorTag>(value, key);
}

template <>
ColorSettings decode<ColorSettings>(const Json& value, std::string_view key) {
    expectObject(value, key);
    ColorSettings settings;
    settings.enabled = required<bool>(value, "enabled");
    settings.tag = required<ColorTag>(value, "tag");
    return settings;
}

}  // namespace json
}  // namespace fw

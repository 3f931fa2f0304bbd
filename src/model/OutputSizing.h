#pragma once
// The resize vocabulary and the calculation from a source frame size and the
// user's resize request to the output frame size.
// Thread-safety: plain values and pure functions.

#include "model/RawValue.h"
#include "model/Size.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace fw {

enum class ResizeMode { fit, fill, aspect, pixelPerfect };

template <>
struct EnumCases<ResizeMode> {
    static constexpr std::array values{ResizeMode::fit, ResizeMode::fill, ResizeMode::aspect, ResizeMode::pixelPerfect};
};

std::string_view rawValue(ResizeMode mode);  // "Fit", "Fill", "Aspect Ratio", "Pixel Perfect"
// The one-line explanation shown under the mode picker.
std::string_view help(ResizeMode mode);

struct ResizeSettings {
    bool isEnabled = false;
    std::int64_t width = 1920;
    std::int64_t height = 1080;
    ResizeMode mode = ResizeMode::aspect;
    bool operator==(const ResizeSettings&) const = default;
};

enum class ResolutionPreset { uhd4K, fhd1080, hd720, sd480 };

template <>
struct EnumCases<ResolutionPreset> {
    static constexpr std::array values{ResolutionPreset::uhd4K, ResolutionPreset::fhd1080, ResolutionPreset::hd720,
                                       ResolutionPreset::sd480};
};

std::string_view rawValue(ResolutionPreset preset);  // "4K", "1080p", "720p", "480p"
IntSize size(ResolutionPreset preset);               // 3840×2160, 1920×1080, 1280×720, 854×480

namespace OutputSizing {

// Output size for a source size and a resize request.
// Source sides are rounded (halves away from zero), taken as magnitudes and
// raised to at least 2. Resize off: those sides, not made even. Resize on:
// the target box is raised to at least 2; `aspect` scales the source by the
// smaller of the two ratios to the box (each side rounded, halves away from
// zero), other modes take the box; either way an odd side is then made even
// upwards (fit 1281×719 gives 1282×720, aspect 100×75 of 320×240 gives
// 100×76). Non-finite or huge sides are clamped to 2^31.
IntSize outputSize(FloatSize source, const ResizeSettings& settings);

// n when even, n + 1 when odd (n − 1 for INT64_MAX, which has no even successor).
std::int64_t even(std::int64_t n);

}  // namespace OutputSizing

// All four keys written and required when reading.
Json toJson(ResizeMode mode);
Json toJson(const ResizeSettings& settings);
namespace json {
template <>
ResizeMode decode<ResizeMode>(const Json& value, std::string_view key);
template <>
ResizeSettings decode<ResizeSettings>(const Json& value, std::string_view key);
}  // namespace json

}  // namespace fw

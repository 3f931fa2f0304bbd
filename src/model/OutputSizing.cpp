#include "model/OutputSizing.h"

#include "model/Sizing_internal.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace fw {

std::string_view rawValue(ResizeMode mode) {
    switch (mode) {
    case ResizeMode::fit: return "Fit";
    case ResizeMode::fill: return "Fill";
    case ResizeMode::aspect: return "Aspect Ratio";
    case ResizeMode::pixelPerfect: return "Pixel Perfect";
    }
    return "";
}

std::string_view help(ResizeMode mode) {
    switch (mode) {
    case ResizeMode::fit: return "Scale to fit inside the target size, padding with black.";
    case ResizeMode::fill: return "Scale to fill the target size, cropping the overflow.";
    case ResizeMode::aspect: return "Preserve aspect ratio; the output matches the scaled frame with no padding.";
    case ResizeMode::pixelPerfect: return "No scaling; centre at 1:1 and crop or pad to the target size.";
    }
    return "";
}

std::string_view rawValue(ResolutionPreset preset) {
    switch (preset) {
    case ResolutionPreset::uhd4K: return "4K";
    case ResolutionPreset::fhd1080: return "1080p";
    case ResolutionPreset::hd720: return "720p";
    case ResolutionPreset::sd480: return "480p";
    }
    return "";
}

IntSize size(ResolutionPreset preset) {
    switch (preset) {
    case ResolutionPreset::uhd4K: return {3840, 2160};
    case ResolutionPreset::fhd1080: return {1920, 1080};
    case ResolutionPreset::hd720: return {1280, 720};
    case ResolutionPreset::sd480: return {854, 480};
    }
    return {1920, 1080};
}

namespace OutputSizing {

std::int64_t even(std::int64_t n) {
    if (n % 2 == 0) return n;
    return n == std::numeric_limits<std::int64_t>::max() ? n - 1 : n + 1;
}

IntSize outputSize(FloatSize source, const ResizeSettings& settings) {
    std::int64_t sourceWidth = std::max<std::int64_t>(std::llabs(sizing::roundedPixels(source.width)), 2);
    std::int64_t sourceHeight = std::max<std::int64_t>(std::llabs(sizing::roundedPixels(source.height)), 2);
    if (!settings.isEnabled) return {sourceWidth, sourceHeight};

    // The box as asked (at least 2 a side); odd sides are made even upwards
    // only once the frame is known, so an odd box never loses a pixel.
    const auto clampedTarget = [](std::int64_t side) {
        return std::clamp<std::int64_t>(side, 2, static_cast<std::int64_t>(sizing::kMaximumSide));
    };
    const std::int64_t targetWidth = clampedTarget(settings.width);
    const std::int64_t targetHeight = clampedTarget(settings.height);
    if (settings.mode != ResizeMode::aspect) return {even(targetWidth), even(targetHeight)};

    const double scale = std::min(static_cast<double>(targetWidth) / static_cast<double>(sourceWidth),
                                  static_cast<double>(targetHeight) / static_cast<double>(sourceHeight));
    const auto fitted = [scale](std::int64_t sourceSide) {
        return even(std::max<std::int64_t>(sizing::roundedPixels(static_cast<double>(sourceSide) * scale), 2));
    };
    return {fitted(sourceWidth), fitted(sourceHeight)};
}

}  // namespace OutputSizing

Json toJson(ResizeMode mode) { return std::string(rawValue(mode)); }

Json toJson(const ResizeSettings& settings) {
    return Json{
        {"isEnabled", settings.isEnabled},
        {"width", settings.width},
        {"height", settings.height},
        {"mode", toJson(settings.mode)},
    };
}

namespace json {

template <>
ResizeMode decode<ResizeMode>(const Json& value, std::string_view key) {
    return decodeRawValue<ResizeMode>(value, key);
}

template <>
ResizeSettings decode<ResizeSettings>(const Json& value, std::string_view key) {
    expectObject(value, key);
    ResizeSettings settings;
    settings.isEnabled = required<bool>(value, "isEnabled");
    settings.width = required<std::int64_t>(value, "width");
    settings.height = required<std::int64_t>(value, "height");
    settings.mode = required<ResizeMode>(value, "mode");
    return settings;
}

}  // namespace json
}  // namespace fw

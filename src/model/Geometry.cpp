#include "model/Geometry.h"

#include "model/OutputSizing.h"
#include "model/Sizing_internal.h"

#include <algorithm>
#include <cmath>

namespace fw {

std::string_view label(Rotation rotation) {
    switch (rotation) {
    case Rotation::none: return "None";
    case Rotation::r90: return "90\u00B0";
    case Rotation::r180: return "180\u00B0";
    case Rotation::r270: return "270\u00B0";
    }
    return "";
}

bool GeometrySettings::isActive() const {
    return cropEnabled || rotation != Rotation::none || flipHorizontal || flipVertical;
}

bool GeometrySettings::convertsFrameRate() const { return frameRateEnabled && frameRate > 0; }

CropRect GeometrySettings::cropRect() const {
    auto clampOrigin = [](double value) {
        if (!(value > 0)) return 0.0;  // negative or NaN
        return std::min(value, 0.99);
    };
    auto atLeastMinimum = [](double value) { return value > 0.01 ? value : 0.01; };  // NaN gives 0.01
    CropRect rect;
    rect.x = clampOrigin(cropX);
    rect.y = clampOrigin(cropY);
    rect.width = std::min(1 - rect.x, atLeastMinimum(cropWidth));
    rect.height = std::min(1 - rect.y, atLeastMinimum(cropHeight));
    return rect;
}

IntSize GeometrySettings::outputSize(FloatSize source) const {
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (cropEnabled) {
        CropRect rect = cropRect();
        width = sizing::roundedPixels(source.width * rect.width);
        height = sizing::roundedPixels(source.height * rect.height);
    } else {
        width = sizing::truncatedPixels(source.width);
        height = sizing::truncatedPixels(source.height);
    }
    if (swapsDimensions(rotation)) std::swap(width, height);
    return {OutputSizing::even(std::max<std::int64_t>(width, 2)),
            OutputSizing::even(std::max<std::int64_t>(height, 2))};
}

Json toJson(const GeometrySettings& geometry) {
    return Json{
        {"cropEnabled", geometry.cropEnabled},
        {"cropX", json::finiteOr(geometry.cropX, 0.0)},
        {"cropY", json::finiteOr(geometry.cropY, 0.0)},
        {"cropWidth", json::finiteOr(geometry.cropWidth, 1.0)},
        {"cropHeight", json::finiteOr(geometry.cropHeight, 1.0)},
        {"rotation", rawValue(geometry.rotation)},
        {"flipHorizontal", geometry.flipHorizontal},
        {"flipVertical", geometry.flipVertical},
        {"frameRateEnabled", geometry.frameRateEnabled},
        {"frameRate", json::finiteOr(geometry.frameRate, 30.0)},
    };
}

namespace json {

template <>
Rotation decode<Rotation>(const Json& value, std::string_view key) {
    return decodeRawValue<Rotation>(value, key);
}

template <>
GeometrySettings decode<GeometrySettings>(const Json& value, std::string_view key) {
    expectObject(value, key);
    GeometrySettings geometry;
    geometry.cropEnabled = required<bool>(value, "cropEnabled");
    geometry.cropX = required<double>(value, "cropX");
    geometry.cropY = required<double>(value, "cropY");
    geometry.cropWidth = required<double>(value, "cropWidth");
    geometry.cropHeight = required<double>(value, "cropHeight");
    geometry.rotation = required<Rotation>(value, "rotation");
    geometry.flipHorizontal = required<bool>(value, "flipHorizontal");
    geometry.flipVertical = required<bool>(value, "flipVertical");
    geometry.frameRateEnabled = required<bool>(value, "frameRateEnabled");
    geometry.frameRate = required<double>(value, "frameRate");
    return geometry;
}

}  // namespace json
}  // namespace fw

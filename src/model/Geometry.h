#pragma once
// The user's geometric transform of the picture: a crop given as fractions of
// the source frame (measured from its top-left corner), a quarter-turn
// rotation, flips, and a request for a constant output frame rate.
// The stored values are never clamped; cropRect() gives the usable rectangle.
// Thread-safety: plain values and pure functions.

#include "model/RawValue.h"
#include "model/Size.h"

#include <array>
#include <string_view>

namespace fw {

// Raw values are the degrees, stored as a JSON integer.
enum class Rotation { none = 0, r90 = 90, r180 = 180, r270 = 270 };

template <>
struct EnumCases<Rotation> {
    static constexpr std::array values{Rotation::none, Rotation::r90, Rotation::r180, Rotation::r270};
};

constexpr int rawValue(Rotation rotation) { return static_cast<int>(rotation); }
// "None", "90°", "180°", "270°".
std::string_view label(Rotation rotation);
// r90 and r270 exchange width and height.
constexpr bool swapsDimensions(Rotation rotation) { return rotation == Rotation::r90 || rotation == Rotation::r270; }

// Fractions of the source frame, origin at its top-left corner.
struct CropRect {
    double x = 0;
    double y = 0;
    double width = 1;
    double height = 1;
    bool operator==(const CropRect&) const = default;
};

struct GeometrySettings {
    bool cropEnabled = false;
    double cropX = 0;
    double cropY = 0;
    double cropWidth = 1;
    double cropHeight = 1;
    Rotation rotation = Rotation::none;
    bool flipHorizontal = false;
    bool flipVertical = false;
    bool frameRateEnabled = false;
    double frameRate = 30;  // frames per second

    // Crop, rotation or a flip is on; the frame-rate fields do not count.
    bool isActive() const;
    // frameRateEnabled and frameRate > 0.
    bool convertsFrameRate() const;
    // The crop clamped into the unit square: x and y in [0, 0.99] (NaN gives 0),
    // width and height at least 0.01 and never past the right or bottom edge.
    // Computed whether or not cropEnabled is set.
    CropRect cropRect() const;
    // Picture size after crop and rotation: whole, even, at least 2 a side.
    // Flips never change the size.
    IntSize outputSize(FloatSize source) const;

    bool operator==(const GeometrySettings&) const = default;
};

// All ten keys written and required when reading; "rotation" must be 0, 90,
// 180 or 270.
Json toJson(const GeometrySettings& geometry);
namespace json {
template <>
Rotation decode<Rotation>(const Json& value, std::string_view key);
template <>
GeometrySettings decode<GeometrySettings>(const Json& value, std::string_view key);
}  // namespace json

}  // namespace fw

#pragma once
// Colour tags stamped on movie outputs: primaries, transfer function and
// YCbCr matrix. Tagging only; no pixel is converted.
//
// The enumerator values are the ITU-T H.273 code points, which FFmpeg's
// AVColorPrimaries / AVColorTransferCharacteristic / AVColorSpace share, so the
// media layer maps them with a plain cast.
// Thread-safety: plain values and pure functions.

#include "model/RawValue.h"

#include <array>
#include <optional>
#include <string_view>

namespace fw {

enum class ColorPrimaries { itu709 = 1, itu2020 = 9 };
enum class TransferFunction { itu709 = 1, smpteST2084PQ = 16, itu2100HLG = 18 };
enum class YCbCrMatrix { itu709 = 1, itu2020 = 9 };

// What the writer tags a video track with.
struct ColorProperties {
    ColorPrimaries primaries = ColorPrimaries::itu709;
    TransferFunction transferFunction = TransferFunction::itu709;
    YCbCrMatrix yCbCrMatrix = YCbCrMatrix::itu709;
    bool operator==(const ColorProperties&) const = default;
};

enum class ColorTag { rec709, rec2020, pq, hlg };

template <>
struct EnumCases<ColorTag> {
    static constexpr std::array values{ColorTag::rec709, ColorTag::rec2020, ColorTag::pq, ColorTag::hlg};
};

// The user-visible label, also the stored form ("Rec. 709 (SDR)").
std::string_view rawValue(ColorTag tag);
// rec2020 keeps the BT.709 transfer function; only primaries and matrix change.
ColorProperties properties(ColorTag tag);

// The colour card's state. Never stored in a file; starts from the defaults.
struct ColorSettings {
    bool enabled = false;
    ColorTag tag = ColorTag::rec709;

    // The tag's properties when enabled, nullopt otherwise.
    std::optional<ColorProperties> properties() const;
    bool operator==(const ColorSettings&) const = default;
};

// {"enabled": Boolean, "tag": raw value}; both keys required when reading.
Json toJson(const ColorSettings& settings);
namespace json {
template <>
ColorTag decode<ColorTag>(const Json& value, std::string_view key);
template <>
ColorSettings decode<ColorSettings>(const Json& value, std::string_view key);
}  // namespace json

}  // namespace fw

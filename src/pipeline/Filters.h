#pragma once
// The user's picture filters (colour LUT, watermark, burned-in timecode), the
// frozen copy a run hands to its encoders. The .cube LUT itself is
// raster/CubeLUT.h.
//
// Thread-safety: plain values and pure functions. A PreparedFilters value, its
// CubeLUT and its watermark image are only read once a run starts, so every
// encode of the run may use the same value from its own thread without locks.

#include "pipeline/raster/CubeLUT.h"
#include "platform/media/PixelBuffer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// Where the watermark and the burned-in timecode go.
enum class FilterCorner { topLeft, topRight, bottomLeft, bottomRight, center };

inline constexpr std::array<FilterCorner, 5> kAllFilterCorners = {FilterCorner::topLeft, FilterCorner::topRight,
                                                                  FilterCorner::bottomLeft, FilterCorner::bottomRight,
                                                                  FilterCorner::center};

// The label shown to the user, which is also the stored value ("Top Left" ...).
std::string_view rawValue(FilterCorner corner);
// The corner whose raw value is exactly `text` (case and spaces count), else nullopt.
std::optional<FilterCorner> filterCornerFromRawValue(std::string_view text);

// A decoded picture: a bgra8 buffer with straight alpha, never written after
// it is made, so that every encode of a run can read it at once.
using ImageRef = std::shared_ptr<const media::PixelBuffer>;

// Carries the watermark inside PreparedFilters.
struct ImageBox {
    ImageRef image;
};

// The enabled filters of one run, handed unchanged to every encoder.
struct PreparedFilters {
    std::optional<CubeLUT> cube;        // present only when the LUT is enabled and loaded
    std::optional<ImageBox> watermark;  // present only when enabled and loaded
    double watermarkOpacity = 1.0;      // 1.0 opaque, 0 invisible
    FilterCorner watermarkPosition = FilterCorner::bottomRight;
    bool timecode = false;  // burn the timecode into every frame
    FilterCorner timecodePosition = FilterCorner::bottomLeft;

    // A LUT, a watermark or the burned-in timecode is present.
    bool isActive() const { return cube.has_value() || watermark.has_value() || timecode; }
};

// The filters the user edits; not saved, every launch starts from the defaults.
struct FilterSettings {
    bool lutEnabled = false;
    std::optional<std::string> lutName;
    std::optional<CubeLUT> lut;
    bool watermarkEnabled = false;
    std::optional<std::string> watermarkName;
    ImageRef watermark;  // the decoded watermark, or null
    double watermarkOpacity = 1.0;
    FilterCorner watermarkPosition = FilterCorner::bottomRight;
    bool burnTimecode = false;
    FilterCorner timecodePosition = FilterCorner::bottomLeft;

    // The enabled filters, copied; the display names are not carried over.
    PreparedFilters prepared() const;
};

}  // namespace fw

#include "pipeline/Filters.h"

namespace fw {

std::string_view rawValue(FilterCorner corner) {
    switch (corner) {
    case FilterCorner::topLeft: return "Top Left";
    case FilterCorner::topRight: return "Top Right";
    case FilterCorner::bottomLeft: return "Bottom Left";
    case FilterCorner::bottomRight: return "Bottom Right";
    case FilterCorner::center: return "Center";
    }
    return "Bottom Right";
}

std::optional<FilterCorner> filterCornerFromRawValue(std::string_view text) {
    for (FilterCorner corner : kAllFilterCorners)
        if (rawValue(corner) == text) return corner;
    return std::nullopt;
}

PreparedFilters FilterSettings::prepared() const {
    PreparedFilters result;
    if (lutEnabled) result.cube = lut;
    if (watermarkEnabled && watermark) result.watermark = ImageBox{watermark};
    result.watermarkOpacity = watermarkOpacity;
    result.watermarkPosition = watermarkPosition;
    result.timecode = burnTimecode;
    result.timecodePosition = timecodePosition;
    return result;
}

}  // namespace fw

#pragma once
// The frame request handed to a movie encoder for one output: what the frame
// resizer makes of every decoded picture before it is written. An encoder
// given none passes the decoded pictures to its writer untouched.
// Thread-safety: a plain value; the filters it points to are only read.

#include "model/Geometry.h"
#include "model/OutputSizing.h"
#include "pipeline/Filters.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace fw {

struct FrameScaling {
    // The output size in pixels, as the picture is displayed; even (4:2:0 chroma).
    std::int64_t width = 0;
    std::int64_t height = 0;
    ResizeMode mode = ResizeMode::aspect;
    // Shared read-only by every encoder of a run; null means no filters.
    std::shared_ptr<const PreparedFilters> filters;
    std::optional<GeometrySettings> geometry;
    // Frames per second of a constant-frame-rate output; nullopt keeps the source timing.
    std::optional<double> targetFrameRate;
    bool tenBit = false;
    // Composite over clear instead of black, keeping transparency.
    bool preservesAlpha = false;
};

}  // namespace fw

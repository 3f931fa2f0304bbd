#pragma once
// The per-frame picture transform shared by every encoder that writes
// pictures: the source's display transform, colour LUT, crop, flips, rotation,
// scaling and placement by the resize mode, background, watermark and
// burned-in timecode, in that order,
// except that the LUT (a per-pixel map on the gamma-encoded values) runs after
// scaling when that touches fewer pixels; only the averaging across edges
// inside the picture can tell the two apart. The display transform and the
// geometry's flips and turns are one walk through the stored frame, made in
// the same pass as the scaling: no upright copy of the frame is made.
//
// Pictures: bgra8 sources (straight alpha) and 'x420' sources (video range in
// the buffer's own matrix, chroma sited on even columns and between rows) are
// accepted. Output buffers are bgra8 (straight alpha), or x420 in the source's
// matrix when tenBit is set; the 10-bit path works in 16 bits a channel from
// source to output, and passes a picture it leaves unchanged as planes.
// 'i420' sources (8-bit planar 4:2:0) and 'x422' sources (10-bit planar
// 4:2:2) are passed on as they are, range included, when the picture is left
// unchanged, and otherwise made bgra8 (x420 when tenBit is set) as a decoder
// would.
//
// Ownership: the resizer copies what it needs from the filters at
// construction (the LUT's tables, the watermark scaled once) and keeps no
// reference to them. Output buffers come from a pool the resizer owns; a
// buffer handed out stays valid after the resizer is gone.
//
// Thread-safety: not safe for concurrent use. One thread at a time calls
// resized(); its scratch rows and cached scaling plan change per call. Resizers
// share nothing with each other; the PreparedFilters they were built from are
// only read, during construction.

#include "model/Geometry.h"
#include "model/OutputSizing.h"
#include "pipeline/Filters.h"
#include "pipeline/FrameOrientation.h"
#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace fw {

class FrameResizer {
public:
    // width × height: the output size in pixels. mode: fit, fill and
    // pixelPerfect place the picture in the output at its own shape; aspect
    // stretches it over the whole output, which is expected to have the
    // picture's shape up to rounding. filters: null for none.
    // frameRate: the rate the burned-in timecode counts at. geometry: applied
    // only when it is active. preservesAlpha: composite over clear instead of
    // opaque black. display: how the source's frames are turned to be shown
    // upright (the track's display transform) and at what pixel aspect; crop
    // and geometry apply to the upright picture, and fit, fill and
    // pixelPerfect place it at its displayed shape and size. Never fails; an
    // output size outside 1...32768 makes every resized() call return null,
    // and a LUT over 256 points a side is skipped.
    FrameResizer(std::int64_t width, std::int64_t height, ResizeMode mode, const PreparedFilters* filters,
                 double frameRate, const std::optional<GeometrySettings>& geometry, bool tenBit, bool preservesAlpha,
                 const std::optional<FrameOrientation>& display = std::nullopt);
    ~FrameResizer();
    FrameResizer(FrameResizer&&) noexcept;
    FrameResizer& operator=(FrameResizer&&) noexcept;
    FrameResizer(const FrameResizer&) = delete;
    FrameResizer& operator=(const FrameResizer&) = delete;

    // A new buffer of the output size with everything applied, or null when the
    // source has a side below 1, is in rgbaHalf, or
    // no output buffer can be had. The source is only read, as stored. timeSeconds only
    // feeds the burned-in timecode.
    media::PixelBufferRef resized(const media::PixelBuffer& source, double timeSeconds);

    // True when a source of this stored size would come out as it is: same
    // size, nothing cropped, turned or mirrored, no LUT, watermark or timecode.
    bool keepsPicture(int sourceWidth, int sourceHeight);

    std::int64_t outputWidth() const;
    std::int64_t outputHeight() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fw

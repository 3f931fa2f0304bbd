#pragma once
// How a decoded frame is turned to be shown the way a player shows it: a
// track's display transform (quarter turns and mirroring) reduced to which
// stored axis each displayed axis follows and in which direction. The frame
// resizer takes it as the first of its flips and turns, so that crop,
// geometry, watermark and burned-in timecode all work on the upright picture
// the user sees, and the output then needs no display transform of its own.
//
// Transforms are taken to the nearest of the eight quarter-turn/mirror
// orientations; translations are ignored (the picture always lands at the
// origin).
//
// Thread-safety: a plain value.

#include "platform/media/Asset.h"

#include <optional>

namespace fw {

class FrameOrientation {
public:
    // nullopt when the transform leaves the picture as stored.
    static std::optional<FrameOrientation> make(const media::AffineTransform& transform);

    // True when the sides swap (a quarter turn either way): displayed x then
    // follows stored y and displayed y follows stored x.
    bool swapsSides() const { return swap_; }
    // Displayed x (y) counts down along the stored axis it follows.
    bool reversesX() const { return signX_ < 0; }
    bool reversesY() const { return signY_ < 0; }

private:
    FrameOrientation(bool swap, int signX, int signY) : swap_(swap), signX_(signX), signY_(signY) {}

    bool swap_;
    int signX_;
    int signY_;
};

}  // namespace fw

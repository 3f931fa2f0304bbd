#pragma once
// How a decoded frame is turned and stretched to be shown the way a player
// shows it: a track's display transform (quarter turns and mirroring) reduced
// to which stored axis each displayed axis follows and in which direction,
// and its pixel aspect (a stored pixel's displayed width over its height). The
// frame resizer takes it as the first of its flips and turns, so that crop,
// geometry, watermark and burned-in timecode all work on the upright picture
// the user sees, and places that picture at its displayed shape, so the output
// then needs no display transform or pixel aspect of its own.
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
    // nullopt when the transform leaves the picture as stored and its pixels
    // are square. pixelAspect: the displayed width of a stored pixel over its
    // height; anything but a finite value above 0 counts as 1.
    static std::optional<FrameOrientation> make(const media::AffineTransform& transform, double pixelAspect = 1.0);

    // How `track`'s decoded frames are shown: its display transform, and the
    // pixel aspect its natural size gives against the stored picture's size
    // (1 when the track does not say what it stores).
    static std::optional<FrameOrientation> of(const media::AssetTrack& track);

    // True when the sides swap (a quarter turn either way): displayed x then
    // follows stored y and displayed y follows stored x.
    bool swapsSides() const { return swap_; }
    // Displayed x (y) counts down along the stored axis it follows.
    bool reversesX() const { return signX_ < 0; }
    bool reversesY() const { return signY_ < 0; }
    // The displayed width of a stored pixel over its height, along the stored
    // axes (so, after a quarter turn, it stretches displayed y).
    double pixelAspect() const { return pixelAspect_; }

private:
    FrameOrientation(bool swap, int signX, int signY, double pixelAspect)
        : swap_(swap), signX_(signX), signY_(signY), pixelAspect_(pixelAspect) {}

    bool swap_;
    int signX_;
    int signY_;
    double pixelAspect_;
};

}  // namespace fw

#pragma once
// Turns decoded frames the way a player shows them: a track's display
// transform (quarter turns and mirroring) applied to the pixels themselves.
// The movie encoder uses it before transforming frames, so that resizing,
// geometry, watermark and burned-in timecode all work on the upright picture
// the user sees, and the output then needs no display transform of its own.
//
// Transforms are taken to the nearest of the eight quarter-turn/mirror
// orientations; translations are ignored (the picture always lands at the
// origin).
//
// Thread-safety: a FrameOrientation is used by one thread at a time (its pool
// is shared with the buffers it hands out, which stay valid after it is gone).

#include "platform/media/Asset.h"
#include "platform/media/PixelBuffer.h"

#include <memory>
#include <optional>
#include <utility>

namespace fw {

class FrameOrientation {
public:
    // nullopt when the transform leaves the picture as stored.
    static std::optional<FrameOrientation> make(const media::AffineTransform& transform);

    // True when the sides swap (a quarter turn either way).
    bool swapsSides() const { return swap_; }
    // The size a width × height picture is shown at.
    std::pair<int, int> displayedSize(int width, int height) const {
        return swap_ ? std::pair(height, width) : std::pair(width, height);
    }

    // A new buffer holding `frame` as displayed; nullptr for a format other
    // than bgra8 or x420, or when memory runs out.
    media::PixelBufferRef apply(const media::PixelBuffer& frame);

private:
    FrameOrientation(bool swap, int signX, int signY) : swap_(swap), signX_(signX), signY_(signY) {}

    // Displayed X is signX · (x, or y when swapped), Y is signY · (y, or x),
    // each moved back into the picture.
    bool swap_;
    int signX_;
    int signY_;
    std::shared_ptr<media::PixelBufferPool> pool_;
};

}  // namespace fw

#include "pipeline/FrameOrientation.h"

#include <cmath>

namespace fw {

namespace {

int sign(double v) { return v < 0 ? -1 : 1; }

}  // namespace

std::optional<FrameOrientation> FrameOrientation::make(const media::AffineTransform& t, double pixelAspect) {
    // x' = a·x + c·y, y' = b·x + d·y: displayed X follows x when |a| ≥ |c|.
    const bool swap = std::fabs(t.a) < std::fabs(t.c);
    const int signX = swap ? sign(t.c) : sign(t.a);
    const int signY = swap ? sign(t.b) : sign(t.d);
    if (!(std::isfinite(pixelAspect) && pixelAspect > 0)) pixelAspect = 1.0;
    if (!swap && signX > 0 && signY > 0 && pixelAspect == 1.0) return std::nullopt;
    return FrameOrientation(swap, signX, signY, pixelAspect);
}

std::optional<FrameOrientation> FrameOrientation::of(const media::AssetTrack& track) {
    // The natural size carries the pixel aspect on its width (the media layer
    // rounds it to whole pixels), the stored picture's size does not.
    double pixelAspect = 1.0;
    if (!track.formatDescriptions.empty() && track.formatDescriptions.front()) {
        const media::FormatDescription& stored = *track.formatDescriptions.front();
        if (stored.width > 0 && stored.height > 0 && track.naturalSize.height == stored.height)
            pixelAspect = track.naturalSize.width / stored.width;
    }
    return make(track.preferredTransform, pixelAspect);
}

}  // namespace fw

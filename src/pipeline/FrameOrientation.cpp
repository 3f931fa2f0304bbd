#include "pipeline/FrameOrientation.h"

#include <cmath>

namespace fw {

namespace {

int sign(double v) { return v < 0 ? -1 : 1; }

}  // namespace

std::optional<FrameOrientation> FrameOrientation::make(const media::AffineTransform& t) {
    // x' = a·x + c·y, y' = b·x + d·y: displayed X follows x when |a| ≥ |c|.
    const bool swap = std::fabs(t.a) < std::fabs(t.c);
    const int signX = swap ? sign(t.c) : sign(t.a);
    const int signY = swap ? sign(t.b) : sign(t.d);
    if (!swap && signX > 0 && signY > 0) return std::nullopt;
    return FrameOrientation(swap, signX, signY);
}

}  // namespace fw

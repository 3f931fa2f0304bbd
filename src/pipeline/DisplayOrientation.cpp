#include "pipeline/DisplayOrientation.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace fw {

namespace {

int sign(double v) { return v < 0 ? -1 : 1; }

// Gathers each destination element from its source element. The planes of a
// picture and of its turned copy have the same element size; a swap exchanges
// their sides (chroma planes included, whose sides are the halves rounded up).
template <class Element>
void turnPlane(const media::PixelBuffer& source, media::PixelBuffer& destination, int plane, bool swap, int signX,
               int signY) {
    const int sourceWidth = source.planeWidth(plane);
    const int sourceHeight = source.planeHeight(plane);
    const int width = destination.planeWidth(plane);
    const int height = destination.planeHeight(plane);
    for (int y = 0; y < height; ++y) {
        Element* out = destination.row<Element>(y, plane);
        // Undo the sign first, then the swap.
        const int along = signY > 0 ? y : height - 1 - y;
        if (!swap) {
            const Element* in = source.row<Element>(along, plane);
            if (signX > 0) std::memcpy(out, in, sizeof(Element) * static_cast<std::size_t>(width));
            else
                for (int x = 0; x < width; ++x) out[x] = in[sourceWidth - 1 - x];
        } else {
            // Destination row `along` is source column `along`.
            for (int x = 0; x < width; ++x) {
                const int sourceRow = signX > 0 ? x : sourceHeight - 1 - x;
                out[x] = source.row<Element>(sourceRow, plane)[along];
            }
        }
    }
}

}  // namespace

std::optional<FrameOrientation> FrameOrientation::make(const media::AffineTransform& t) {
    // x' = a·x + c·y, y' = b·x + d·y: displayed X follows x when |a| ≥ |c|.
    const bool swap = std::fabs(t.a) < std::fabs(t.c);
    const int signX = swap ? sign(t.c) : sign(t.a);
    const int signY = swap ? sign(t.b) : sign(t.d);
    if (!swap && signX > 0 && signY > 0) return std::nullopt;
    return FrameOrientation(swap, signX, signY);
}

media::PixelBufferRef FrameOrientation::apply(const media::PixelBuffer& frame) {
    if (frame.format() != media::PixelFormat::bgra8 && frame.format() != media::PixelFormat::x420) return nullptr;
    const auto [width, height] = displayedSize(frame.width(), frame.height());
    if (!pool_ || pool_->width() != width || pool_->height() != height || pool_->format() != frame.format())
        pool_ = media::PixelBufferPool::create(width, height, frame.format());
    if (!pool_) return nullptr;
    media::PixelBufferRef out = pool_->get();
    if (!out) return nullptr;
    if (frame.format() == media::PixelFormat::bgra8) {
        turnPlane<std::uint32_t>(frame, *out, 0, swap_, signX_, signY_);
    } else {
        turnPlane<std::uint16_t>(frame, *out, 0, swap_, signX_, signY_);
        turnPlane<std::uint32_t>(frame, *out, 1, swap_, signX_, signY_);
    }
    return out;
}

}  // namespace fw

#include "platform/media/image/OrientedCanvas.h"

#include <cstring>

namespace fw::media::image {

OrientedCanvas::OrientedCanvas(ImageCanvas canvas, int storedWidth, int storedHeight, int orientation)
    : canvas_(canvas),
      storedWidth_(storedWidth),
      storedHeight_(storedHeight),
      orientation_(orientation >= 1 && orientation <= 8 ? orientation : 1) {}

std::uint8_t* OrientedCanvas::directRow(int storedY) const {
    if (orientation_ == 1) return canvas_.pixels + static_cast<std::size_t>(storedY) * canvas_.stride;
    if (orientation_ == 4)
        return canvas_.pixels + static_cast<std::size_t>(storedHeight_ - 1 - storedY) * canvas_.stride;
    return nullptr;
}

void OrientedCanvas::writeRow(int storedY, const std::uint8_t* row) const {
    if (std::uint8_t* target = directRow(storedY)) {
        if (target != row) std::memcpy(target, row, static_cast<std::size_t>(storedWidth_) * 4);
        return;
    }
    const int lastX = storedWidth_ - 1, lastY = storedHeight_ - 1;
    // Upright position of stored pixel (x, storedY) = start + x * step, in bytes.
    std::ptrdiff_t start = 0, step = 0;
    const auto stride = static_cast<std::ptrdiff_t>(canvas_.stride);
    switch (orientation_) {
    case 2: start = stride * storedY + 4 * lastX, step = -4; break;
    case 3: start = stride * (lastY - storedY) + 4 * lastX, step = -4; break;
    case 5: start = 4 * storedY, step = stride; break;
    case 6: start = 4 * (lastY - storedY), step = stride; break;
    case 7: start = stride * lastX + 4 * (lastY - storedY), step = -stride; break;
    case 8: start = stride * lastX + 4 * storedY, step = -stride; break;
    default: return;
    }
    std::uint8_t* target = canvas_.pixels + start;
    for (int x = 0; x < storedWidth_; ++x, target += step) std::memcpy(target, row + 4 * x, 4);
}

}  // namespace fw::media::image

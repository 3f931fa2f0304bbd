#pragma once
// Writes the rows of a picture as stored into a canvas in upright order,
// following an EXIF orientation (TIFF tag 274):
//   1 upright          2 mirrored left-right   3 turned 180°   4 mirrored top-bottom
//   5 transposed       6 turned 90° clockwise  7 transversed   8 turned 90° anticlockwise
// (the turn is the one that shows the stored picture upright). For 5 to 8
// the upright picture is the stored one's height wide.
// Thread-safety: one writer per canvas.

#include "platform/media/image/ImageReaders.h"

namespace fw::media::image {

class OrientedCanvas {
public:
    // REQUIRES: orientation 1 ... 8 (others are taken as 1); the canvas holds
    // uprightWidth() × uprightHeight() pixels.
    OrientedCanvas(ImageCanvas canvas, int storedWidth, int storedHeight, int orientation);

    static bool swapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }
    int uprightWidth() const { return swapsSides(orientation_) ? storedHeight_ : storedWidth_; }
    int uprightHeight() const { return swapsSides(orientation_) ? storedWidth_ : storedHeight_; }

    // Where stored row y goes when it can be written in place, or null when the
    // orientation moves its pixels apart (write it with writeRow then).
    std::uint8_t* directRow(int storedY) const;
    // Places stored row y (storedWidth BGRA pixels).
    void writeRow(int storedY, const std::uint8_t* row) const;

private:
    ImageCanvas canvas_;
    int storedWidth_, storedHeight_, orientation_;
};

}  // namespace fw::media::image

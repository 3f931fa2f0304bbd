#include "platform/media/ColorTags.h"

#include <utility>

namespace fw::media {

bool isConvertible(YCbCrMatrix matrix) {
    switch (matrix) {
    case YCbCrMatrix::bt709:
    case YCbCrMatrix::fcc:
    case YCbCrMatrix::bt470bg:
    case YCbCrMatrix::smpte170m:
    case YCbCrMatrix::smpte240m:
    case YCbCrMatrix::bt2020: return true;
    default: return false;
    }
}

YCbCrMatrix defaultMatrix(int height) { return height > 576 ? YCbCrMatrix::bt709 : YCbCrMatrix::smpte170m; }

YCbCrWeights weightsOf(YCbCrMatrix matrix) {
    auto luma = [matrix]() -> std::pair<float, float> {  // red, blue
        switch (matrix) {
        case YCbCrMatrix::fcc: return {0.30f, 0.11f};
        case YCbCrMatrix::bt470bg:
        case YCbCrMatrix::smpte170m: return {0.299f, 0.114f};
        case YCbCrMatrix::smpte240m: return {0.212f, 0.087f};
        case YCbCrMatrix::bt2020: return {0.2627f, 0.0593f};
        default: return {0.2126f, 0.0722f};
        }
    };
    const auto [red, blue] = luma();
    const float green = 1.0f - red - blue;
    const float crToRed = 2.0f * (1.0f - red), cbToBlue = 2.0f * (1.0f - blue);
    return {red, green, blue, crToRed, cbToBlue, cbToBlue * blue / green, crToRed * red / green};
}

ColorTags resolvedColor(ColorTags stored, int height) {
    if (!isConvertible(stored.matrix)) stored.matrix = defaultMatrix(height);
    if (stored.range == ColorRange::unspecified) stored.range = ColorRange::video;
    return stored;
}

}  // namespace fw::media

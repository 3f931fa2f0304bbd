#pragma once
// The two ways convertToBgra works, exposed so that tests can hold the integer
// one to the float one. Thread-safety and requirements as convertToBgra.

#include "codecs/VectorUnit.h"
#include "platform/media/PictureConversion.h"

namespace fw::media::detail {

// True for 8-bit planar 4:2:0 and 4:2:2 without alpha, which the integer path takes.
bool takesFixedPointPath(const YCbCrPlanes& source);
// Within one code of convertToBgraInFloat on every channel, and the same bytes
// with every vector unit.
// REQUIRES: takesFixedPointPath(source); unit no wider than widestVectorUnit().
void convertToBgraInFixedPoint(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination,
                               VectorUnit unit = widestVectorUnit());
void convertToBgraInFloat(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination);

}  // namespace fw::media::detail

#pragma once
// The two ways convertToBgra works, and the two convertPlanes takes between
// layouts, exposed so that tests can hold the fast ones to the float ones.
// Thread-safety and requirements as convertToBgra and convertPlanes.

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

// True for 8-bit planar 4:2:0 into 10-bit planar 4:2:2 (low bits), video
// range, without alpha: untouched decoded pictures for ProRes 422.
bool takesWideningPath(const YCbCrPlanes& source, const YCbCrPlanes& destination);
// The same values as convertPlanesInFloat, with every vector unit.
// REQUIRES: takesWideningPath(source, destination); unit no wider than widestVectorUnit().
void widenTo422(const YCbCrPlanes& source, const YCbCrPlanes& destination, VectorUnit unit = widestVectorUnit());
// Any layout into any other.
void convertPlanesInFloat(const YCbCrPlanes& source, const YCbCrPlanes& destination);

}  // namespace fw::media::detail

#pragma once
// The ways convertToBgra, convertFromBgra and convertPlanes work, exposed so
// that tests can hold the fast ones to the float ones. Thread-safety and
// requirements as the public functions.

#include "codecs/VectorUnit.h"
#include "platform/media/PictureConversion.h"

namespace fw::media::detail {

// Values travel as 10-bit video-range codes in float: luma 64…940, chroma
// 512 ± 448, whatever the depth they came in or go out at.
constexpr float kLumaBlack = 64.0f;
constexpr float kLumaSpan = 876.0f;
constexpr float kChromaZero = 512.0f;
constexpr float kChromaSpan = 896.0f;

// True for 8-bit planar 4:2:0 and 4:2:2 without alpha, which the integer path takes.
bool takesFixedPointPath(const YCbCrPlanes& source);
// Within one code of convertToBgraInFloat on every channel, and the same bytes
// with every vector unit.
// REQUIRES: takesFixedPointPath(source); unit no wider than widestVectorUnit().
void convertToBgraInFixedPoint(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination,
                               VectorUnit unit = widestVectorUnit());
void convertToBgraInFloat(const YCbCrPlanes& source, YCbCrMatrix matrix, PixelBuffer& destination);

// True for planar 8…15-bit 4:2:0 and 4:2:2 without an alpha plane, which
// the vector path takes.
bool takesVectorPathFromBgra(const YCbCrPlanes& destination);
// The reference: four pixels at a time in float.
void convertFromBgraInFloat(const PixelBuffer& source, YCbCrMatrix matrix, const YCbCrPlanes& destination);
#if defined(FW_HAS_AVX2_KERNELS)
// The same bytes as convertFromBgraInFloat, eight pixels at a time.
// REQUIRES: takesVectorPathFromBgra(destination); widestVectorUnit() is avx2.
void convertFromBgraInAvx2(const PixelBuffer& source, YCbCrMatrix matrix, const YCbCrPlanes& destination);
#endif

// True for 8-bit planar 4:2:0 into 10-bit planar 4:2:2 (low bits), video
// range, without alpha: untouched decoded pictures for ProRes 422.
bool takesWideningPath(const YCbCrPlanes& source, const YCbCrPlanes& destination);
// The same values as convertPlanesInFloat, with every vector unit.
// REQUIRES: takesWideningPath(source, destination); unit no wider than widestVectorUnit().
void widenTo422(const YCbCrPlanes& source, const YCbCrPlanes& destination, VectorUnit unit = widestVectorUnit());
// Any layout into any other.
void convertPlanesInFloat(const YCbCrPlanes& source, const YCbCrPlanes& destination);

}  // namespace fw::media::detail

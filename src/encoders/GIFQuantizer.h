#pragma once
// One picture to GIF palette form through libimagequant: a palette of at most
// 256 colours chosen for this picture alone, and the picture mapped onto it
// with libimagequant's error-diffusing dither. Alpha is not kept: GIF frames
// here are opaque, as the frame resizer makes them.
//
// Thread-safety: calls may run on any threads at once; each has its own
// libimagequant state, and each runs on its calling thread alone (the
// library's own OpenMP threads are not used, so that frames quantized side by
// side do not crowd each other out).

#include "encoders/GIFWriter.h"
#include "platform/media/PixelBuffer.h"

namespace fw::GIFQuantizer {

// The picture in palette form. REQUIRES: a bgra8 picture.
// Throws EncodingError::writerFailed("could not quantize GIF frame") when
// libimagequant fails (out of memory among others).
IndexedPicture quantized(const media::PixelBuffer& picture);

}  // namespace fw::GIFQuantizer

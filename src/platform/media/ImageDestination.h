#pragma once
// One picture as a complete PNG, JPEG or HEIC file, through libpng,
// libjpeg-turbo and libheif's HEVC encoder. The picture is bgra8 and stored
// as 8-bit RGB: its alpha is not written (composite before, as the frame
// resizer does over black). PNG is lossless; JPEG and HEIC take a quality.
// HEIC is HEVC 4:2:0, whose sides this libheif takes even: an odd side
// loses its last line.
//
// Failures throw MediaError naming the format and the fault (a picture that
// is not bgra8, an encoder library's refusal, memory running out).
// Thread-safety: stateless; call from any threads at once.

#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <vector>

namespace fw::media::ImageDestination {

enum class FileType { png, jpeg, heic };

// quality: 0 to 1 for JPEG and HEIC (clamped); unused for PNG.
std::vector<std::uint8_t> encode(const PixelBuffer& picture, FileType type, double quality = 0.9);

}  // namespace fw::media::ImageDestination

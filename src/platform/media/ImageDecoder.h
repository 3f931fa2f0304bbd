#pragma once
// Still image files to pictures: one straight-alpha bgra8 PixelBuffer, top
// row first, turned upright where the file says how (JPEG's EXIF
// orientation, HEIF's rotation and mirroring). The format is told by the
// file's first bytes, not its name:
//   PNG (libpng), JPEG (libjpeg-turbo), GIF (giflib; the first frame on its
//   logical screen), HEIF/HEIC and AVIF (libheif), and TIFF (first page), BMP
//   and WebP through FFmpeg's image decoders.
// Pictures are at most image::kMaxSide pixels a side and image::kMaxPixels in
// all; larger ones are refused from their headers, before anything decodes
// them (checkHeader, which Asset::open applies too). Files above kMaxFileBytes
// are not read, nor folders.
//
// Failures throw MediaError and nothing else; the message names the file and
// the fault ("Could not read the image “mark.png”: the PNG data is damaged:
// ..."). Out of memory is one of them.
// Thread-safety: stateless; call from any threads at once.

#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <filesystem>
#include <span>

namespace fw::media::ImageDecoder {

inline constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{1} << 30;

// True when `file` begins as a picture in one of the formats above, whatever
// its name; GIFs, and HEIF and AVIF image sequences, are movies, not pictures
// (pixelBuffer still reads a GIF's first frame). False for anything else, and
// for a file that cannot be read.
bool isImage(const std::filesystem::path& file);
// Refuses, with the MediaError pixelBuffer would throw, a folder and a picture
// whose header declares a size beyond the limits. Reads a few header bytes;
// everything else about the file is left to pixelBuffer.
void checkHeader(const std::filesystem::path& file);

// The picture in `file`; a new buffer that the caller alone holds.
PixelBufferRef pixelBuffer(const std::filesystem::path& file);
// The same from a whole file's bytes; `name` is the file named in messages.
PixelBufferRef pixelBuffer(std::span<const std::uint8_t> bytes, const std::filesystem::path& name);

}  // namespace fw::media::ImageDecoder

#pragma once
// Reads a watermark picture into a bgra8 buffer with straight alpha, ready for
// PreparedFilters, through the media layer's image decoder: PNG, JPEG, GIF,
// HEIF, TIFF, BMP or WebP, turned upright where the file says so.
// Thread-safety: stateless, safe from any thread.

#include "pipeline/Filters.h"

#include <filesystem>

namespace fw {

// The decoded picture, or null when the file cannot be read, is not a picture
// in one of those formats, is damaged, or is too large (ImageDecoder's limits).
ImageRef loadWatermarkImage(const std::filesystem::path& file);

}  // namespace fw

#pragma once
// Reads a watermark picture from a PNG file into a bgra8 buffer with straight
// alpha, ready for PreparedFilters. Other still formats come from the image
// decoder once it exists; PNG is what watermarks usually are.
// Thread-safety: stateless, safe from any thread.

#include "pipeline/Filters.h"

#include <filesystem>

namespace fw {

// The decoded picture, or null when the file cannot be read, is not a PNG, is
// damaged, or has a side over 32768 pixels.
ImageRef loadWatermarkImage(const std::filesystem::path& file);

}  // namespace fw

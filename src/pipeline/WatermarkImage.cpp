#include "pipeline/WatermarkImage.h"

#include <png.h>

#include <cstring>

namespace fw {

namespace {
struct PngImage {
    png_image image;
    PngImage() {
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
};
}  // namespace

ImageRef loadWatermarkImage(const std::filesystem::path& file) {
    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, file.c_str())) return nullptr;
    png.image.format = PNG_FORMAT_BGRA;
    // Untagged 16-bit files hold display values like 8-bit ones; libpng would
    // otherwise take them for linear light and brighten them.
    png.image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    // PixelBuffer::create refuses sides outside 1...32768, which also bounds the allocation.
    auto buffer = media::PixelBuffer::create(static_cast<int>(std::min<png_uint_32>(png.image.width, 1u << 30)),
                                             static_cast<int>(std::min<png_uint_32>(png.image.height, 1u << 30)),
                                             media::PixelFormat::bgra8);
    if (!buffer) return nullptr;
    // For 8-bit formats the row stride counts bytes.
    if (!png_image_finish_read(&png.image, nullptr, buffer->data(), static_cast<png_int_32>(buffer->stride()), nullptr))
        return nullptr;
    return buffer;
}

}  // namespace fw

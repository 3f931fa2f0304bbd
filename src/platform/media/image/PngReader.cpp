// PNG through libpng's simplified interface: it converts every colour type,
// bit depth and transparency chunk to 8-bit BGRA with straight alpha, and
// keeps its error jumps inside the library.

#include "platform/media/MediaError.h"
#include "platform/media/image/ImageReaders.h"

#include <png.h>

#include <cstring>
#include <string>

namespace fw::media::image {

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

    [[noreturn]] void fail() const { throw MediaError(std::string("the PNG data is damaged: ") + image.message); }
};
}  // namespace

void readPng(std::span<const std::uint8_t> file, const CanvasProvider& canvas) {
    PngImage png;
    if (!png_image_begin_read_from_memory(&png.image, file.data(), file.size())) png.fail();
    checkImageSize(png.image.width, png.image.height);
    png.image.format = PNG_FORMAT_BGRA;
    // Untagged 16-bit files hold display values like 8-bit ones; libpng would
    // otherwise take them for linear light and brighten them.
    png.image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    const ImageCanvas target = canvas(static_cast<int>(png.image.width), static_cast<int>(png.image.height));
    // For 8-bit formats the row stride counts bytes.
    if (!png_image_finish_read(&png.image, nullptr, target.pixels, static_cast<png_int_32>(target.stride), nullptr))
        png.fail();
}

}  // namespace fw::media::image

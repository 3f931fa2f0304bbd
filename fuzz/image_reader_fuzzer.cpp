// Still image readers from hostile bytes: PNG, JPEG (with its EXIF block), GIF
// and HEIF, each picked by the input's first bytes as the image decoder picks
// it. Pictures above 4 megapixels are refused by the canvas, as an
// allocation cap. Each input is read twice, onto canvases filled with 0x00
// and 0xFF: the two must agree, or a reader left bytes of its picture unwritten.
// The size the header declares (what is checked before anything decodes) is
// read first, in every format: a picture read must be no larger than it
// (HEIF's derived pictures aside, see below).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/media/MediaError.h"
#include "platform/media/image/ImageReaders.h"

namespace {
using namespace fw::media;

constexpr std::int64_t kMaxFuzzPixels = std::int64_t{1} << 22;

// The picture as written, or empty when the reader refused the input.
std::vector<std::uint8_t> read(std::span<const std::uint8_t> file, image::ImageFormat format, std::uint8_t fill,
                               int& pictureWidth, int& pictureHeight) {
    std::vector<std::uint8_t> pixels;
    // Rows exactly 4 × width apart, so that a write past a row's end lands in
    // the next one (caught by the comparison) or past the buffer (caught by ASan).
    const image::CanvasProvider canvas = [&](int width, int height) {
        if (width < 1 || height < 1 || width > image::kMaxSide || height > image::kMaxSide) std::abort();
        if (!pixels.empty()) std::abort();  // asked twice
        if (std::int64_t{width} * height > kMaxFuzzPixels) throw MediaError("over the fuzzing cap");
        pictureWidth = width, pictureHeight = height;
        pixels.assign(static_cast<std::size_t>(width) * height * 4, fill);
        return image::ImageCanvas{pixels.data(), static_cast<std::size_t>(width) * 4};
    };
    try {
        switch (format) {
        case image::ImageFormat::png: image::readPng(file, canvas); break;
        case image::ImageFormat::jpeg: image::readJpeg(file, canvas); break;
        case image::ImageFormat::gif: image::readGif(file, canvas); break;
        case image::ImageFormat::heif: image::readHeif(file, canvas); break;
        default: return {};
        }
    } catch (const MediaError&) {
        return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (pixels.empty() || pictureWidth < 1 || pictureHeight < 1) std::abort();  // success without a picture
    return pixels;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const std::span<const std::uint8_t> file(data, size);
    const image::ImageFormat format = image::sniffImageFormat(file);
    const image::DeclaredPicture declared = image::declaredPicture(file);
    if (declared.format != format) std::abort();
    if ((declared.width == 0) != (declared.height == 0) || declared.width < 0 || declared.height < 0) std::abort();
    int width = 0, height = 0;
    const std::vector<std::uint8_t> onBlack = read(file, format, 0x00, width, height);
    if (onBlack.empty()) return 0;
    // Declared sides may be 32-bit each: their product is taken unsigned.
    const auto area = [](std::int64_t w, std::int64_t h) {
        return static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
    };
    // Turned pictures swap their sides. HEIF pictures made of others (grids,
    // overlays) are sized by item tables that libheif reads in its own way, so
    // damaged ones may disagree; the library's own limit and the reader's check
    // bound those.
    if (declared.width > 0 && format != image::ImageFormat::heif &&
        (area(width, height) > area(declared.width, declared.height) ||
         std::max<std::int64_t>(width, height) > std::max(declared.width, declared.height)))
        std::abort();
    const std::vector<std::uint8_t> onWhite = read(file, format, 0xFF, width, height);
    if (onBlack != onWhite) std::abort();
    return 0;
}

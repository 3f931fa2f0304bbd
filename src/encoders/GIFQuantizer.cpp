#include "encoders/GIFQuantizer.h"

#include "model/EncodingError.h"

#include <libimagequant.h>
#include <omp.h>

#include <memory>

namespace fw::GIFQuantizer {

namespace {

struct AttributesDeleter {
    void operator()(liq_attr* attributes) const noexcept { liq_attr_destroy(attributes); }
};
struct ImageDeleter {
    void operator()(liq_image* image) const noexcept { liq_image_destroy(image); }
};
struct ResultDeleter {
    void operator()(liq_result* result) const noexcept { liq_result_destroy(result); }
};

// libimagequant's speed, 1 (slowest) to 10. At 7 it refines the palette
// less than at its default but still uses its dither map, which keeps the
// dither off edges and noise: within 0.1 dB of its default (4) in about half
// the time.
constexpr int kSpeed = 7;
constexpr float kDitherLevel = 1.0f;

[[noreturn]] void fail() { throw EncodingError::writerFailed("could not quantize GIF frame"); }

}  // namespace

IndexedPicture quantized(const media::PixelBuffer& picture) {
    const int width = picture.width();
    const int height = picture.height();
    const std::size_t pixelCount = std::size_t(width) * std::size_t(height);

    // libimagequant reads red, green, blue, alpha; the picture holds blue first.
    std::vector<std::uint8_t> rgba(pixelCount * 4);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from = picture.row(y);
        std::uint8_t* to = rgba.data() + std::size_t(y) * std::size_t(width) * 4;
        for (int x = 0; x < width; ++x, from += 4, to += 4) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            to[3] = 255;
        }
    }

    // libimagequant decides on its dither map when the speed is set, and at
    // speeds above 5 only when it may use more than one OpenMP thread; it is
    // then held to this thread alone, as frames are quantized side by side.
    omp_set_num_threads(2);
    const std::unique_ptr<liq_attr, AttributesDeleter> attributes(liq_attr_create());
    const bool configured = attributes && liq_set_speed(attributes.get(), kSpeed) == LIQ_OK;
    omp_set_num_threads(1);
    if (!configured) fail();
    const std::unique_ptr<liq_image, ImageDeleter> image(
        liq_image_create_rgba(attributes.get(), rgba.data(), width, height, 0));
    if (!image) fail();
    liq_result* made = nullptr;
    if (liq_image_quantize(image.get(), attributes.get(), &made) != LIQ_OK || !made) fail();
    const std::unique_ptr<liq_result, ResultDeleter> result(made);
    if (liq_set_dithering_level(result.get(), kDitherLevel) != LIQ_OK) fail();

    IndexedPicture indexed;
    indexed.width = width;
    indexed.height = height;
    indexed.indices.resize(pixelCount);
    if (liq_write_remapped_image(result.get(), image.get(), indexed.indices.data(), indexed.indices.size()) != LIQ_OK)
        fail();
    // The palette is read after remapping, which may still refine it.
    const liq_palette* palette = liq_get_palette(result.get());
    if (!palette || palette->count == 0) fail();
    indexed.palette.reserve(palette->count);
    for (unsigned i = 0; i < palette->count; ++i)
        indexed.palette.push_back({palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
    return indexed;
}

}  // namespace fw::GIFQuantizer

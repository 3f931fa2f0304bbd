// HEIF (HEIC, and AVIF where libheif has an AV1 decoder) through libheif: the
// primary picture, with the file's rotation, mirroring and crop applied.

#include "platform/media/MediaError.h"
#include "platform/media/image/ImageReaders.h"

#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>

namespace fw::media::image {

namespace {
struct ContextDeleter {
    void operator()(heif_context* context) const noexcept { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const noexcept { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const noexcept { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const noexcept { heif_decoding_options_free(options); }
};

void check(const heif_error& error) {
    if (error.code == heif_error_Ok) return;
    if (error.code == heif_error_Memory_allocation_error) throw std::bad_alloc();
    throw MediaError(std::string("the HEIF data is damaged: ") + (error.message ? error.message : "unknown error"));
}

void initialiseOnce() {
    // Loads the codec plug-ins; counted by the library, never undone.
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialised;
}
}  // namespace

void readHeif(std::span<const std::uint8_t> file, const CanvasProvider& canvas) {
    initialiseOnce();
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) throw std::bad_alloc();
    // The library refuses wider or taller pictures before decoding them.
    heif_context_set_maximum_image_size_limit(context.get(), kMaxSide);
    check(heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr));

    heif_image_handle* rawHandle = nullptr;
    check(heif_context_get_primary_image_handle(context.get(), &rawHandle));
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    checkImageSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));

    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (!options) throw std::bad_alloc();
    options->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    check(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get()));
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);

    int stride = 0;
    const std::uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || stride < 4 * width) throw MediaError("the HEIF data is damaged: no picture came out of it");
    checkImageSize(width, height);

    // Premultiplied files are rare; their colours are divided back out.
    const bool premultiplied = heif_image_handle_is_premultiplied_alpha(handle.get()) != 0;
    const ImageCanvas target = canvas(width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        std::uint8_t* row = target.pixels + static_cast<std::size_t>(y) * target.stride;
        for (int x = 0; x < width; ++x, source += 4, row += 4) {
            const int alpha = source[3];
            if (premultiplied && alpha > 0 && alpha < 255) {
                for (int c = 0; c < 3; ++c)
                    row[2 - c] = static_cast<std::uint8_t>(std::min(255, (source[c] * 255 + alpha / 2) / alpha));
            } else {
                row[0] = source[2], row[1] = source[1], row[2] = source[0];
            }
            row[3] = static_cast<std::uint8_t>(alpha);
        }
    }
}

}  // namespace fw::media::image

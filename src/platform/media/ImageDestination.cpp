#include "platform/media/ImageDestination.h"

#include "platform/media/MediaError.h"

#include <jpeglib.h>
#include <libheif/heif.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace fw::media::ImageDestination {

namespace {

int percent(double quality) {
    if (!std::isfinite(quality)) quality = 0.9;
    return static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
}

// ------------------------------------------------------------------------ PNG

struct PNGWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> bytes;
    std::string error;
    ~PNGWrite() { png_destroy_write_struct(&png, &info); }
};

std::vector<std::uint8_t> encodePNG(const PixelBuffer& picture) {
    PNGWrite write;
    write.png = png_create_write_struct(
        PNG_LIBPNG_VER_STRING, &write,
        [](png_structp png, png_const_charp message) {
            static_cast<PNGWrite*>(png_get_error_ptr(png))->error = message;
            png_longjmp(png, 1);
        },
        [](png_structp, png_const_charp) {});
    if (!write.png) throw MediaError("PNG: out of memory");
    write.info = png_create_info_struct(write.png);
    if (!write.info) throw MediaError("PNG: out of memory");
    // libpng reports failures by jumping back here; only PODs and objects
    // built before this point live across the jump.
    if (setjmp(png_jmpbuf(write.png))) throw MediaError("PNG: " + write.error);

    png_set_write_fn(
        write.png, &write.bytes,
        [](png_structp png, png_bytep data, png_size_t length) {
            auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
            bytes->insert(bytes->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(write.png, write.info, static_cast<png_uint_32>(picture.width()),
                 static_cast<png_uint_32>(picture.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // One fast filter and a quick deflate level: adaptive filtering tries all
    // five per row and costs more time than it saves bytes on video frames.
    png_set_filter(write.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(write.png, 3);
    png_write_info(write.png, write.info);
    // Rows are B, G, R, A in memory: swap to R, G, B and drop the fourth byte.
    png_set_bgr(write.png);
    png_set_filler(write.png, 0, PNG_FILLER_AFTER);
    write.bytes.reserve(static_cast<std::size_t>(picture.width()) * picture.height());
    for (int y = 0; y < picture.height(); ++y) png_write_row(write.png, picture.row(y));
    png_write_end(write.png, nullptr);
    return std::move(write.bytes);
}

// ----------------------------------------------------------------------- JPEG

struct JPEGErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
};

std::vector<std::uint8_t> encodeJPEG(const PixelBuffer& picture, double quality) {
    jpeg_compress_struct compress{};
    JPEGErrors errors;
    compress.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr common) {
        auto* owner = reinterpret_cast<JPEGErrors*>(common->err);
        common->err->format_message(common, owner->message);
        std::longjmp(owner->jump, 1);
    };
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    // Owned across the jump: the compressor and libjpeg's output buffer.
    struct Release {
        jpeg_compress_struct& compress;
        unsigned char*& buffer;
        ~Release() {
            jpeg_destroy_compress(&compress);
            std::free(buffer);
        }
    } release{compress, buffer};
    if (setjmp(errors.jump)) throw MediaError(std::string("JPEG: ") + errors.message);

    jpeg_create_compress(&compress);
    jpeg_mem_dest(&compress, &buffer, &size);
    compress.image_width = static_cast<JDIMENSION>(picture.width());
    compress.image_height = static_cast<JDIMENSION>(picture.height());
    compress.input_components = 4;
    compress.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&compress);
    jpeg_set_quality(&compress, percent(quality), TRUE);
    jpeg_start_compress(&compress, TRUE);
    while (compress.next_scanline < compress.image_height) {
        auto* row = const_cast<JSAMPLE*>(picture.row(static_cast<int>(compress.next_scanline)));
        jpeg_write_scanlines(&compress, &row, 1);
    }
    jpeg_finish_compress(&compress);
    return std::vector<std::uint8_t>(buffer, buffer + size);
}

// ----------------------------------------------------------------------- HEIC

template <auto Release>
struct HeifDeleter {
    template <class T>
    void operator()(T* handle) const {
        if (handle) Release(handle);
    }
};
template <class T, auto Release>
using HeifHandle = std::unique_ptr<T, HeifDeleter<Release>>;

void check(const heif_error& error) {
    if (error.code != heif_error_Ok) throw MediaError(std::string("HEIC: ") + (error.message ? error.message : ""));
}

std::vector<std::uint8_t> encodeHEIC(const PixelBuffer& picture, double quality) {
    HeifHandle<heif_context, heif_context_free> context(heif_context_alloc());
    if (!context) throw MediaError("HEIC: out of memory");
    heif_encoder* rawEncoder = nullptr;
    check(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder));
    HeifHandle<heif_encoder, heif_encoder_release> encoder(rawEncoder);
    check(heif_encoder_set_lossy_quality(encoder.get(), percent(quality)));

    heif_image* rawImage = nullptr;
    check(heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                            &rawImage));
    HeifHandle<heif_image, heif_image_release> image(rawImage);
    check(heif_image_add_plane(image.get(), heif_channel_interleaved, picture.width(), picture.height(), 8));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (!plane) throw MediaError("HEIC: out of memory");
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* in = picture.row(y);
        std::uint8_t* out = plane + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < picture.width(); ++x, in += 4, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    check(heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, nullptr));

    std::vector<std::uint8_t> bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* userdata) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
        const auto* begin = static_cast<const std::uint8_t*>(data);
        out->insert(out->end(), begin, begin + size);
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    check(heif_context_write(context.get(), &writer, &bytes));
    return bytes;
}

}  // namespace

std::vector<std::uint8_t> encode(const PixelBuffer& picture, FileType type, double quality) {
    if (picture.format() != PixelFormat::bgra8) throw MediaError("image files are written from bgra8 pictures only");
    try {
        switch (type) {
        case FileType::png: return encodePNG(picture);
        case FileType::jpeg: return encodeJPEG(picture, quality);
        case FileType::heic: return encodeHEIC(picture, quality);
        }
    } catch (const std::bad_alloc&) {
        throw MediaError("out of memory writing a " + std::to_string(picture.width()) + " \u00d7 " +
                         std::to_string(picture.height()) + " image");
    }
    throw MediaError("unknown image file type");
}

}  // namespace fw::media::ImageDestination

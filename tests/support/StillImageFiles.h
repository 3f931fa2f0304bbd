#pragma once
// Still image files the ffmpeg tool cannot write or read: HEIF through
// libheif's own coders, and JPEGs carrying an EXIF orientation. Tests that include this
// link libheif.

#include <libheif/heif.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fw::test {

// A HEIF file (HEVC: HEIC, AV1: AVIF) of packed width × height RGBA pixels,
// alpha kept, at lossy quality 90; an empty path when this libheif has no
// such encoder or writing fails.
inline std::filesystem::path writeHeif(const std::filesystem::path& file, const std::vector<std::uint8_t>& rgba,
                                       int width, int height, heif_compression_format compression) {
    if (!heif_have_encoder_for_format(compression)) return {};
    if (rgba.size() != static_cast<std::size_t>(width) * height * 4) return {};
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    heif_image* raw = nullptr;
    if (heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &raw).code) return {};
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(raw, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        std::memcpy(plane + y * stride, rgba.data() + static_cast<std::size_t>(y) * width * 4, width * 4);
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), compression, &encoder).code) return {};
    heif_encoder_set_lossy_quality(encoder, 90);
    const heif_error encoded = heif_context_encode_image(context.get(), image.get(), encoder, nullptr, nullptr);
    heif_encoder_release(encoder);
    if (encoded.code || heif_context_write_to_file(context.get(), file.c_str()).code) return {};
    return file;
}

// The whole picture in RGB as libheif decodes it; empty when it cannot.
inline std::string heifRGB(const std::filesystem::path& file, int& width, int& height) {
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    std::string rgb;
    if (heif_context_read_from_file(context, file.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code ==
            heif_error_Ok) {
        width = heif_image_get_width(image, heif_channel_interleaved);
        height = heif_image_get_height(image, heif_channel_interleaved);
        int stride = 0;
        const std::uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < height; ++y) rgb.append(reinterpret_cast<const char*>(plane) + y * stride, 3 * width);
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return rgb;
}

// The JPEG with an APP1 segment holding EXIF with one orientation entry, in either byte order.
inline std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg, int orientation,
                                                     bool bigEndian) {
    using Bytes = std::vector<std::uint8_t>;
    auto u16 = [&](int v) {
        return bigEndian ? Bytes{std::uint8_t(v >> 8), std::uint8_t(v)} : Bytes{std::uint8_t(v), std::uint8_t(v >> 8)};
    };
    auto u32 = [&](int v) {
        Bytes b{std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
        return bigEndian ? b : Bytes(b.rbegin(), b.rend());
    };
    Bytes tiff = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    for (const Bytes& part : {u16(42), u32(8), u16(1), u16(274), u16(3), u32(1), u16(orientation), u16(0), u32(0)})
        tiff.insert(tiff.end(), part.begin(), part.end());
    Bytes segment{0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    segment[2] = std::uint8_t((segment.size() - 2) >> 8), segment[3] = std::uint8_t(segment.size() - 2);
    Bytes out(jpeg.size() + segment.size());
    std::copy(jpeg.begin(), jpeg.begin() + 2, out.begin());
    std::copy(segment.begin(), segment.end(), out.begin() + 2);
    std::copy(jpeg.begin() + 2, jpeg.end(), out.begin() + 2 + static_cast<std::ptrdiff_t>(segment.size()));
    return out;
}

}  // namespace fw::test

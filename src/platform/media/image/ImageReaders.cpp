#include "platform/media/image/ImageReaders.h"

#include "platform/media/MediaError.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string>

namespace fw::media::image {

namespace {
bool startsWith(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view magic) {
    return bytes.size() >= offset + magic.size() && std::memcmp(bytes.data() + offset, magic.data(), magic.size()) == 0;
}

std::string decimal(std::int64_t value) {
    std::array<char, 24> text{};
    auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), error == std::errc() ? end : text.data());
}
}  // namespace

ImageFormat sniffImageFormat(std::span<const std::uint8_t> bytes) {
    if (startsWith(bytes, 0, "\x89PNG\r\n\x1a\n")) return ImageFormat::png;
    if (startsWith(bytes, 0, "\xFF\xD8\xFF")) return ImageFormat::jpeg;
    if (startsWith(bytes, 0, "GIF87a") || startsWith(bytes, 0, "GIF89a")) return ImageFormat::gif;
    if (startsWith(bytes, 0, "II*\0") || startsWith(bytes, 0, "MM\0*")) return ImageFormat::tiff;
    if (startsWith(bytes, 0, "BM")) return ImageFormat::bmp;
    if (startsWith(bytes, 0, "RIFF") && startsWith(bytes, 8, "WEBP")) return ImageFormat::webp;
    // ISO base media files: an 'ftyp' box whose major brand is one of HEIF's.
    if (startsWith(bytes, 4, "ftyp")) {
        for (std::string_view brand : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"})
            if (startsWith(bytes, 8, brand)) return ImageFormat::heif;
    }
    return ImageFormat::unknown;
}

std::string_view formatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::png: return "PNG";
    case ImageFormat::jpeg: return "JPEG";
    case ImageFormat::gif: return "GIF";
    case ImageFormat::heif: return "HEIF";
    case ImageFormat::tiff: return "TIFF";
    case ImageFormat::bmp: return "BMP";
    case ImageFormat::webp: return "WebP";
    case ImageFormat::unknown: break;
    }
    return "unknown";
}

void checkImageSize(std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1)
        throw MediaError("the picture is empty (" + decimal(width) + " × " + decimal(height) + " pixels)");
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
        throw MediaError("the picture is too large (" + decimal(width) + " × " + decimal(height) + " pixels; at most " +
                         decimal(kMaxSide) + " a side and " + decimal(kMaxPixels >> 20) + " megapixels are read)");
}

}  // namespace fw::media::image

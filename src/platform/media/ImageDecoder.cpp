#include "platform/media/ImageDecoder.h"

#include "platform/core/SourceFileKind.h"
#include "platform/media/FFmpeg_internal.h"
#include "platform/media/image/ImageReaders.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>
#include <vector>

namespace fw::media::ImageDecoder {

namespace {
using namespace detail;

AVCodecID ffmpegCodec(image::ImageFormat format) {
    switch (format) {
    case image::ImageFormat::tiff: return AV_CODEC_ID_TIFF;
    case image::ImageFormat::bmp: return AV_CODEC_ID_BMP;
    case image::ImageFormat::webp: return AV_CODEC_ID_WEBP;
    default: return AV_CODEC_ID_NONE;
    }
}

// TIFF, BMP and WebP: the whole file is one packet for these decoders.
void readWithFFmpeg(std::span<const std::uint8_t> file, image::ImageFormat format,
                    const image::CanvasProvider& canvas) {
    quietLibraryLogs();
    const std::string damaged = "the " + std::string(image::formatName(format)) + " data is damaged";
    const AVCodec* codec = avcodec_find_decoder(ffmpegCodec(format));
    if (!codec) throw MediaError("this build has no " + std::string(image::formatName(format)) + " decoder");
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) throw std::bad_alloc();
    // The decoder checks the header's size against this before allocating.
    context->max_pixels = image::kMaxPixels;
    context->thread_count = 1;
    check(avcodec_open2(context.get(), codec, nullptr), damaged);

    PacketPtr packet = makePacket();
    check(av_new_packet(packet.get(), static_cast<int>(file.size())), damaged);
    std::memcpy(packet->data, file.data(), file.size());
    check(avcodec_send_packet(context.get(), packet.get()), damaged);
    check(avcodec_send_packet(context.get(), nullptr), damaged);
    FramePtr frame = makeFrame();
    check(avcodec_receive_frame(context.get(), frame.get()), damaged);

    const int width = frame->width, height = frame->height;
    image::checkImageSize(width, height);
    const auto source = static_cast<AVPixelFormat>(frame->format);
    const int space = isConvertible(static_cast<YCbCrMatrix>(frame->colorspace))
                          ? frame->colorspace
                          : static_cast<int>(defaultMatrix(height));
    // Lossy WebP is VP8, whose chroma sits centred between the luma samples
    // (the decoder leaves this unsaid). One still is cheap to convert with full
    // horizontal chroma interpolation.
    AVChromaLocation chroma = frame->chroma_location;
    if (chroma == AVCHROMA_LOC_UNSPECIFIED && format == image::ImageFormat::webp) chroma = AVCHROMA_LOC_CENTER;
    SwsPtr converter = makeConverter(width, height, source, width, height, AV_PIX_FMT_BGRA,
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, space,
                                     frame->color_range == AVCOL_RANGE_JPEG, chroma);
    const image::ImageCanvas target = canvas(width, height);
    std::uint8_t* planes[4] = {target.pixels};
    int strides[4] = {static_cast<int>(target.stride)};
    if (sws_scale(converter.get(), frame->data, frame->linesize, 0, height, planes, strides) != height)
        throw MediaError(damaged + ": its pixels could not be converted");
}

// Reads at offsets of an open file.
image::ReadAt fileReader(std::ifstream& in) {
    return [&in](std::uint64_t offset, std::span<std::uint8_t> bytes) -> std::size_t {
        in.clear();
        if (!in.seekg(static_cast<std::streamoff>(offset))) return 0;
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return static_cast<std::size_t>(in.gcount());
    };
}

// Throws for a path that names no file to read (a folder, a pipe, a device).
void requireRegularFile(const std::filesystem::path& file) {
    if (const auto what = notARegularFile(file)) throw MediaError("it is " + *what + ", not a file");
}

std::vector<std::uint8_t> readWholeFile(const std::filesystem::path& file) {
    requireRegularFile(file);
    std::ifstream in(file, std::ios::binary);
    if (!in) throw MediaError(std::strerror(errno));
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw MediaError("the file cannot be read");
    if (static_cast<std::uintmax_t>(size) > kMaxFileBytes) throw MediaError("the file is larger than 1 GiB");
    in.seekg(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) throw MediaError("the file cannot be read");
    return bytes;
}

PixelBufferRef decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxFileBytes) throw MediaError("the file is larger than 1 GiB");
    // Before any reader (or FFmpeg's decoders) sees the bytes.
    image::checkDeclaredSize(image::declaredPicture(bytes));
    const image::ImageFormat format = image::sniffImageFormat(bytes);
    PixelBufferRef buffer;
    const image::CanvasProvider canvas = [&buffer](int width, int height) {
        buffer = PixelBuffer::create(width, height, PixelFormat::bgra8);
        if (!buffer) throw std::bad_alloc();
        return image::ImageCanvas{buffer->data(), buffer->stride()};
    };
    switch (format) {
    case image::ImageFormat::png: image::readPng(bytes, canvas); break;
    case image::ImageFormat::jpeg: image::readJpeg(bytes, canvas); break;
    case image::ImageFormat::gif: image::readGif(bytes, canvas); break;
    case image::ImageFormat::heif: image::readHeif(bytes, canvas); break;
    case image::ImageFormat::tiff:
    case image::ImageFormat::bmp:
    case image::ImageFormat::webp: readWithFFmpeg(bytes, format, canvas); break;
    case image::ImageFormat::unknown:
        throw MediaError(bytes.empty() ? "the file is empty"
                                       : "it is not a picture in a format that can be read (PNG, JPEG, GIF, HEIF, "
                                         "TIFF, BMP or WebP)");
    }
    if (!buffer) throw MediaError("no picture came out of it");
    return buffer;
}

[[noreturn]] void failReading(const std::filesystem::path& name, const std::string& reason, int code) {
    throw MediaError("Could not read the image " + quotedName(name) + ": " + reason, code);
}
}  // namespace

bool isImage(const std::filesystem::path& file) {
    if (notARegularFile(file)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::uint8_t first[16] = {};
    in.read(reinterpret_cast<char*>(first), sizeof first);
    const image::ImageFormat format = image::sniffImageFormat({first, static_cast<std::size_t>(in.gcount())});
    // A GIF plays its frames at their delays: a movie, read through the media layer.
    if (format == image::ImageFormat::unknown || format == image::ImageFormat::gif) return false;
    // Two bytes are a weak sign: a bitmap counts only with a header that adds up.
    if (format != image::ImageFormat::heif && format != image::ImageFormat::bmp) return true;
    const image::DeclaredPicture declared = image::declaredPicture(fileReader(in));
    return format == image::ImageFormat::heif ? !declared.sequence : declared.width > 0;
}

void checkHeader(const std::filesystem::path& file) {
    try {
        requireRegularFile(file);
        std::ifstream in(file, std::ios::binary);
        if (in) image::checkDeclaredSize(image::declaredPicture(fileReader(in)));
    } catch (const MediaError& error) {
        failReading(file, error.what(), 0);
    }
}

PixelBufferRef pixelBuffer(std::span<const std::uint8_t> bytes, const std::filesystem::path& name) {
    try {
        return decode(bytes);
    } catch (const MediaError& error) {
        failReading(name, error.what(), error.code());
    } catch (const std::bad_alloc&) {
        failReading(name, "out of memory", AVERROR(ENOMEM));
    }
}

PixelBufferRef pixelBuffer(const std::filesystem::path& file) {
    std::vector<std::uint8_t> bytes;
    try {
        bytes = readWholeFile(file);
    } catch (const MediaError& error) {
        failReading(file, error.what(), 0);
    } catch (const std::bad_alloc&) {
        failReading(file, "out of memory", AVERROR(ENOMEM));
    }
    return pixelBuffer(bytes, file);
}

}  // namespace fw::media::ImageDecoder

#pragma once
// Readers for the still-image formats that have a library of their own:
// PNG (libpng), JPEG (libjpeg-turbo, EXIF orientation applied), GIF (giflib,
// first frame) and HEIF/HEIC/AVIF (libheif, its transformations applied).
// ImageDecoder picks one by the file's first bytes and adds FFmpeg's image
// decoders for the rest; the readers stand alone (no FFmpeg, no pixel buffer
// pools) so that the fuzz harness can drive them directly.
//
// Every reader takes a whole file held in memory and writes one upright
// picture as straight-alpha BGRA, top row first, into rows that it asks of a
// CanvasProvider once the upright size is known and within kMaxSide and
// kMaxPixels; nothing of the picture's size is allocated before that check.
//
// Failures: a reader throws MediaError whose message says what is wrong with
// the data ("the PNG data is damaged: ...") without naming the file; the
// caller adds the name. Whatever the provider throws passes through, and so
// does std::bad_alloc.
// Thread-safety: stateless; readers may run on any threads at once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace fw::media::image {

// The largest picture read: each side, and the pixel count (256 megapixels,
// 1 GiB of BGRA).
inline constexpr int kMaxSide = 32768;
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;

enum class ImageFormat { unknown, png, jpeg, gif, heif, tiff, bmp, webp };

// The format the first bytes announce; unknown when none matches.
ImageFormat sniffImageFormat(std::span<const std::uint8_t> bytes);
// "PNG", "JPEG", ... for messages.
std::string_view formatName(ImageFormat format);

// Where a reader writes: rows `stride` bytes apart, 4 × width bytes each.
struct ImageCanvas {
    std::uint8_t* pixels = nullptr;
    std::size_t stride = 0;
};
// Called once per read with the upright width and height (each 1 ... kMaxSide,
// product at most kMaxPixels). Its rows may hold anything; the reader writes
// every byte of width × height pixels.
using CanvasProvider = std::function<ImageCanvas(int width, int height)>;

// Throws MediaError when width or height is below 1 or beyond the limits.
void checkImageSize(std::int64_t width, std::int64_t height);

// Random access to a file's bytes: fills `bytes` from `offset` on and returns
// how many came, fewer only at the file's end. May throw; what it throws
// passes through.
using ReadAt = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> bytes)>;

// What a picture file's header says, read from a few of its bytes (the layouts
// are in ImageHeader.cpp) without decoding anything.
struct DeclaredPicture {
    ImageFormat format = ImageFormat::unknown;
    // The stored picture's size, before any orientation; 0 × 0 when the header
    // cannot be read or leaves it unsaid (a GIF screen of 0 × 0, say).
    std::int64_t width = 0;
    std::int64_t height = 0;
    // A HEIF or AVIF image sequence (its major brand): a movie rather than a picture.
    bool sequence = false;
};
DeclaredPicture declaredPicture(const ReadAt& read);
DeclaredPicture declaredPicture(std::span<const std::uint8_t> file);
// Throws MediaError, as checkImageSize, when the declared size is known and beyond the limits.
void checkDeclaredSize(const DeclaredPicture& declared);

void readPng(std::span<const std::uint8_t> file, const CanvasProvider& canvas);
void readJpeg(std::span<const std::uint8_t> file, const CanvasProvider& canvas);
void readGif(std::span<const std::uint8_t> file, const CanvasProvider& canvas);
void readHeif(std::span<const std::uint8_t> file, const CanvasProvider& canvas);

}  // namespace fw::media::image

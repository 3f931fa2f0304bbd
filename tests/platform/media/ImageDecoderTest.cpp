#include "platform/media/ImageDecoder.h"

#include "platform/media/Asset.h"
#include "platform/media/MediaError.h"
#include "platform/media/image/ImageReaders.h"
#include "support/StillImageFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/crc.h>
}

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fw::media {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Odd sides, so that a swapped or padded row shows (testsrc2 makes even ones,
// hence the crop); testsrc2 has distinct coloured regions, so that a turned or
// mirrored picture shows too.
constexpr int kWidth = 97, kHeight = 61;
const std::vector<std::string> kSource{"-f", "lavfi", "-i", "testsrc2=size=98x62:rate=1:duration=1", "-frames:v", "1"};
// Alpha rising from left to right.
const std::string kWithAlpha = "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='255*X/W'";

// The cropped source through `filter`, then written with `encoding`.
fs::path makeImage(const std::string& name, const std::string& filter, const std::vector<std::string>& encoding = {}) {
    std::vector<std::string> arguments = kSource;
    arguments.insert(arguments.end(), {"-vf", "format=rgba,crop=97:61:0:0," + filter});
    arguments.insert(arguments.end(), encoding.begin(), encoding.end());
    return test::generated(name, arguments);
}

// PSNR over all four channels of two packed pictures, with the colour of fully
// transparent pixels left out: decoders differ only in what they leave there.
double psnrBetween(Bytes a, Bytes b, int width, int height) {
    for (Bytes* picture : {&a, &b})
        for (std::size_t i = 0; i + 3 < picture->size(); i += 4)
            if ((*picture)[i + 3] == 0) (*picture)[i] = (*picture)[i + 1] = (*picture)[i + 2] = 0;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    return test::psnr(a.data(), stride, b.data(), stride, width, height, 4);
}

double psnrAgainst(const PixelBuffer& picture, const Bytes& expected) {
    Bytes ours;
    for (int y = 0; y < picture.height(); ++y)
        ours.insert(ours.end(), picture.row(y), picture.row(y) + std::size_t{4} * picture.width());
    return psnrBetween(std::move(ours), expected, picture.width(), picture.height());
}

// FFmpeg's own decode as bgra; the tool turns JPEGs upright by their EXIF
// orientation unless `filter` is given, which then works on the stored picture.
Bytes ffmpegDecode(const fs::path& file, const std::string& filter = {}) {
    test::TempDir dir;
    std::vector<std::string> arguments;
    if (!filter.empty()) arguments = {"-noautorotate"};
    arguments.insert(arguments.end(), {"-i", file.string(), "-vf", filter.empty() ? "null" : filter, "-frames:v", "1",
                                       "-f", "rawvideo", "-pix_fmt", "bgra", (dir / "out.raw").string()});
    if (!test::ffmpeg(arguments)) return {};
    return test::readFile(dir / "out.raw");
}

void writeFile(const fs::path& file, const Bytes& bytes) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

struct FormatCase {
    const char* file;
    std::string filter;
    std::vector<std::string> encoding;
    double minimumPsnr;  // against FFmpeg's decode of the same file
    bool lossy = false;
};

fs::path makeImage(const FormatCase& format) { return makeImage(format.file, format.filter, format.encoding); }

// Lossless formats must match FFmpeg's decode to the bit (99 dB), or to the
// rounding of 16-bit values. libjpeg-turbo and FFmpeg differ in their inverse
// transforms and chroma upsampling, which costs a few dB on testsrc2's sharp
// colour edges: lossy rows must also come as close to the source as FFmpeg's
// decode does, give or take 0.5 dB.
const std::vector<FormatCase> kFormats{
    {"alpha.png", kWithAlpha, {}, 99},
    {"deep.png", "null", {"-pix_fmt", "rgb48be"}, 50},
    {"palette.png", "null", {"-pix_fmt", "pal8"}, 99},
    {"picture.jpg", "null", {"-pix_fmt", "yuvj420p", "-q:v", "2"}, 24, true},
    {"picture444.jpg", "null", {"-pix_fmt", "yuvj444p", "-q:v", "2"}, 30, true},
    {"picture.gif", "split[a][b];[a]palettegen[p];[b][p]paletteuse", {}, 99},
    {"alpha.gif", kWithAlpha + ",split[a][b];[a]palettegen=reserve_transparent=1[p];[b][p]paletteuse", {}, 99},
    {"alpha.tiff", kWithAlpha, {"-compression_algo", "deflate"}, 99},
    {"picture.tiff", "null", {"-pix_fmt", "rgb24", "-compression_algo", "lzw"}, 99},
    {"picture.bmp", "null", {"-pix_fmt", "bgr24"}, 99},
    {"alpha.bmp", kWithAlpha, {"-pix_fmt", "bgra"}, 99},
    {"lossless.webp", kWithAlpha, {"-c:v", "libwebp", "-lossless", "1"}, 99},
    {"lossy.webp", "null", {"-pix_fmt", "yuv420p", "-c:v", "libwebp", "-quality", "90"}, 45, true}};

TEST(ImageDecoder, FormatsMatchFFmpegsDecode) {
    for (const FormatCase& format : kFormats) {
        SCOPED_TRACE(format.file);
        const fs::path file = makeImage(format);
        ASSERT_FALSE(file.empty());
        const PixelBufferRef picture = ImageDecoder::pixelBuffer(file);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->format(), PixelFormat::bgra8);
        ASSERT_EQ(std::pair(picture->width(), picture->height()), std::pair(kWidth, kHeight));
        const Bytes expected = ffmpegDecode(file);
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(kWidth) * kHeight * 4);
        EXPECT_GE(psnrAgainst(*picture, expected), format.minimumPsnr);
        if (format.lossy) {
            const Bytes source = ffmpegDecode(makeImage("source.png", "null"));
            EXPECT_GE(psnrAgainst(*picture, source), psnrBetween(expected, source, kWidth, kHeight) - 0.5);
        }
    }
}

TEST(ImageDecoder, HeifMatchesItsSource) {
    test::TempDir dir;
    for (const auto& [name, compression] :
         {std::pair("picture.heic", heif_compression_HEVC), std::pair("picture.avif", heif_compression_AV1)}) {
        SCOPED_TRACE(name);
        // libheif's own encoder, with alpha; empty when this libheif has none for the compression.
        const fs::path file =
            test::writeHeif(dir / name, test::ffmpegRaw(makeImage(kFormats[0]), "rgba"), kWidth, kHeight, compression);
        if (file.empty()) {
            ADD_FAILURE() << "libheif has no encoder for " << name << " here";
            continue;
        }
        const PixelBufferRef picture = ImageDecoder::pixelBuffer(file);
        ASSERT_EQ(std::pair(picture->width(), picture->height()), std::pair(kWidth, kHeight));
        // Quality 90 in 4:2:0 against the lossless source, alpha included.
        EXPECT_GE(psnrAgainst(*picture, ffmpegDecode(makeImage(kFormats[0]))), 30);
    }
}

TEST(ImageDecoder, JpegComesBackUprightForEveryExifOrientation) {
    const Bytes jpeg = test::readFile(makeImage(kFormats[4]));
    ASSERT_FALSE(jpeg.empty());
    test::TempDir dir;
    // FFmpeg's filters turning the stored picture upright.
    const char* upright[] = {"null",        "hflip",       "hflip,vflip", "vflip",
                             "transpose=0", "transpose=1", "transpose=3", "transpose=2"};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const fs::path file = dir / ("turned" + std::to_string(orientation) + ".jpg");
        writeFile(file, test::withExifOrientation(jpeg, orientation, orientation % 2 == 0));
        const PixelBufferRef picture = ImageDecoder::pixelBuffer(file);
        ASSERT_EQ(std::pair(picture->width(), picture->height()),
                  orientation >= 5 ? std::pair(kHeight, kWidth) : std::pair(kWidth, kHeight));
        const Bytes expected = ffmpegDecode(file, upright[orientation - 1]);
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(kWidth) * kHeight * 4);
        EXPECT_GE(psnrAgainst(*picture, expected), 30);
        // FFmpeg's own reading of the tag, where it turns without mirroring.
        if (orientation == 3 || orientation == 6 || orientation == 8) {
            EXPECT_GE(psnrAgainst(*picture, ffmpegDecode(file)), 30);
        }
    }
}

std::string failure(const fs::path& file) {
    try {
        ImageDecoder::pixelBuffer(file);
    } catch (const MediaError& error) {
        return error.what();
    }
    return "(no error)";
}

// A little-endian or big-endian 16/32-bit field written into a header.
void put(Bytes& bytes, std::size_t offset, std::uint32_t value, int size, bool bigEndian) {
    for (int i = 0; i < size; ++i) bytes[offset + i] = std::uint8_t(value >> 8 * (bigEndian ? size - 1 - i : i));
}

TEST(ImageDecoder, DamagedFilesFailWithTheirNameAndReason) {
    test::TempDir dir;
    std::vector<std::pair<std::string, Bytes>> damaged;
    for (const FormatCase& format : kFormats) {
        const Bytes whole = test::readFile(makeImage(format));
        damaged.emplace_back(std::string("half_") + format.file,
                             Bytes(whole.begin(), whole.begin() + whole.size() / 2));
        damaged.emplace_back(std::string("head_") + format.file, Bytes(whole.begin(), whole.begin() + 20));
    }
    // Sides far beyond what is read, refused from the header alone.
    Bytes png = test::readFile(makeImage(kFormats[2]));
    put(png, 16, 40000, 4, true), put(png, 20, 40000, 4, true);
    // IHDR's CRC over its type and data
    put(png, 29, ~av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), ~0u, png.data() + 12, 17), 4, true);
    damaged.emplace_back("huge.png", png);
    Bytes gif = test::readFile(makeImage(kFormats[5]));
    put(gif, 6, 65535, 2, false), put(gif, 8, 65535, 2, false);
    damaged.emplace_back("huge.gif", gif);
    Bytes bmp = test::readFile(makeImage(kFormats[9]));
    put(bmp, 18, 30000, 4, false), put(bmp, 22, 30000, 4, false);
    damaged.emplace_back("huge.bmp", bmp);
    Bytes jpeg = test::readFile(makeImage(kFormats[3]));
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // baseline frame header: length, precision, height, width
            put(jpeg, i + 5, 60000, 2, true), put(jpeg, i + 7, 60000, 2, true);
            break;
        }
    damaged.emplace_back("huge.jpg", jpeg);
    damaged.emplace_back("empty.png", Bytes{});
    damaged.emplace_back("text.png", Bytes{'h', 'e', 'l', 'l', 'o'});

    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        writeFile(dir / name, bytes);
        const std::string message = failure(dir / name);
        EXPECT_NE(message.find("Could not read the image \u201C" + name + "\u201D: "), std::string::npos) << message;
        if (name.rfind("huge", 0) == 0 && name != "huge.bmp") {
            EXPECT_NE(message.find("too large"), std::string::npos) << message;
        }
    }
    EXPECT_NE(failure(dir / "missing.png").find("No such file"), std::string::npos);
}

// The size each header declares, read without decoding, is the size the decoder then reads, in every format and
// whatever the file's name; it is what pictures too large to hold are refused by.
TEST(ImageDecoder, HeadersDeclareTheSizeTheDecoderReads) {
    test::TempDir dir;
    std::vector<std::pair<std::string, Bytes>> files;
    for (const FormatCase& format : kFormats) files.emplace_back(format.file, test::readFile(makeImage(format)));
    const Bytes rgba = test::ffmpegRaw(makeImage(kFormats[0]), "rgba");
    for (const auto& [name, compression] :
         {std::pair("picture.heic", heif_compression_HEVC), std::pair("picture.avif", heif_compression_AV1)})
        if (const fs::path file = test::writeHeif(dir / name, rgba, kWidth, kHeight, compression); !file.empty())
            files.emplace_back(name, test::readFile(file));
    files.emplace_back("progressive.jpg", test::readFile(makeImage("progressive.jpg", "null", {"-q:v", "2"})));
    files.emplace_back("turned.jpg", test::withExifOrientation(files[3].second, 6, true));
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const fs::path file = dir / ("no-extension-" + name);
        writeFile(file, bytes);
        // A GIF is read as a movie, whose first frame the decoder still reads.
        const bool gif = name.ends_with(".gif");
        EXPECT_EQ(ImageDecoder::isImage(file), !gif);
        const image::DeclaredPicture declared = image::declaredPicture(bytes);
        EXPECT_EQ(declared.width, kWidth);
        EXPECT_EQ(declared.height, kHeight);
        const PixelBufferRef picture = ImageDecoder::pixelBuffer(file);
        EXPECT_EQ(std::int64_t{picture->width()} * picture->height(), declared.width * declared.height);
        const AssetRef asset = Asset::open(file);
        EXPECT_EQ(asset->isStillImage(), !gif);
    }
    const fs::path movie = test::generated(
        "movie.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=5:duration=1", "-pix_fmt", "yuv420p"});
    std::ofstream(dir / "text.png") << "BM, but no bitmap";
    for (const fs::path& file : {movie, dir / "text.png", dir.path(), dir / "missing.png"})
        EXPECT_FALSE(ImageDecoder::isImage(file)) << file;
}

// Files of a few bytes whose headers declare pictures beyond the limits, in each format: refused from the header by
// the image decoder and by the media layer's probe alike, which would otherwise decode them. A 16000 x 16000 header
// is within the limits and is left to the decoder, which finds no pictures behind it.
TEST(ImageDecoder, PicturesDeclaredBeyondTheLimitsAreRefusedBeforeDecoding) {
    struct Row {
        const char* seed;
        image::ImageFormat format;
        std::int64_t width, height;
    } rows[] = {
        {"declares_40000x40000.png", image::ImageFormat::png, 40000, 40000},
        {"declares_60000x60000.jpg", image::ImageFormat::jpeg, 60000, 60000},
        {"declares_65535x65535.gif", image::ImageFormat::gif, 65535, 65535},
        {"declares_50000x50000.webp", image::ImageFormat::webp, 50000, 50000},
        {"declares_16384x16384_lossless.webp", image::ImageFormat::webp, 16384, 16384},
        {"declares_100000x100000.tiff", image::ImageFormat::tiff, 100000, 100000},
        {"declares_100000x100000.heic", image::ImageFormat::heif, 100000, 100000},
        {"declares_16000x16000.png", image::ImageFormat::png, 16000, 16000},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seed);
        const Bytes bytes = test::readFile(fs::path(FW_IMAGE_SEEDS) / row.seed);
        const image::DeclaredPicture declared = image::declaredPicture(bytes);
        EXPECT_EQ(declared.format, row.format);
        EXPECT_EQ(std::pair(declared.width, declared.height), std::pair(row.width, row.height));
        // Named as a movie, so that only the content tells.
        const fs::path file = dir / "clip.mov";
        writeFile(file, bytes);
        const bool refused = row.width * row.height > image::kMaxPixels;
        const std::string tooLarge = "Could not read the image \u201Cclip.mov\u201D: the picture is too large (" +
                                     std::to_string(row.width) + " \u00D7 " + std::to_string(row.height) + " pixels";
        try {
            ImageDecoder::checkHeader(file);
            EXPECT_FALSE(refused);
        } catch (const MediaError& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(tooLarge)) << error.what();
        }
        try {
            EXPECT_TRUE(Asset::open(file)->isStillImage());
            EXPECT_FALSE(refused);
        } catch (const MediaError& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(tooLarge)) << error.what();
        }
        const std::string decoding = failure(file);
        EXPECT_EQ(decoding.starts_with(tooLarge), refused) << decoding;
    }
}

// A folder is no picture, whatever its size on disk.
TEST(ImageDecoder, AFolderIsRefusedAsAFolder) {
    test::TempDir dir;
    fs::create_directory(dir / "pictures.png");
    EXPECT_EQ(failure(dir / "pictures.png"),
              "Could not read the image \u201Cpictures.png\u201D: it is a folder, not a file");
    try {
        Asset::open(dir / "pictures.png");
        ADD_FAILURE() << "opened";
    } catch (const MediaError& error) {
        EXPECT_STREQ(error.what(), "Could not open \u201Cpictures.png\u201D: it is a folder, not a file");
    }
}

}  // namespace
}  // namespace fw::media

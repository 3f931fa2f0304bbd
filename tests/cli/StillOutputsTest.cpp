// Still images through the built program: clips and movies of the default length and rate (150 frames at 30 fps,
// 5 s), upright, read back by ffprobe and decoded by FFmpeg's own hap, dxv, ProRes, H.264 and HEVC decoders.

#include "support/Outputs.h"
#include "support/Probe.h"
#include "support/StillImageFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::Json;

// Smooth but busy colour, as in a photograph. Translucent: 250 × 142 (neither side a multiple of 4 or 16), alpha rising
// from left to right with a ripple. Opaque: 320 × 180.
fs::path picture(const std::string& name, bool translucent, std::vector<std::string> encoding = {}) {
    const std::string colour =
        "geq=r='128+100*sin(X/13)*cos(Y/29)':g='128+90*sin(Y/11)*cos(X/37)':b='128+80*cos((X+Y)/17)'";
    encoding.insert(encoding.begin(),
                    {"-f", "lavfi", "-i",
                     translucent ? "nullsrc=s=250x142,format=rgba," + colour + ":a='clip(255*X/W+60*sin(Y/9),0,255)'"
                                 : "nullsrc=s=320x180,format=rgb24," + colour,
                     "-frames:v", "1"});
    return test::generated(name, encoding);
}

// FFmpeg's first picture of a file (after `filter`) as RGBA, as it is shown (a JPEG turned by its EXIF orientation).
Bytes decoded(const fs::path& file, const std::string& filter = "") {
    return test::decodedFrames(file, "rgba", 1, filter);
}

// PSNR (dB) of the colour over black (premultiplied by alpha); 0 when the sizes differ.
double psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); i += 4)
        for (int c = 0; c < 3; ++c) {
            const double d = (double(a[i + c]) * a[i + 3] - double(b[i + c]) * b[i + 3]) / 255.0;
            sum += d * d;
        }
    return test::psnrFromSquaredError(sum, a.size() / 4 * 3);
}

enum class Still { png, turnedJpeg, heic, tiff, webp, opaquePng, opaqueTurnedJpeg };

struct Source {
    fs::path file;
    Bytes shown;  // the picture as it is meant to be seen, RGBA
};

// The stills, each with the picture it shows. libheif writes the HEIC (the ffmpeg tool cannot, nor read it back):
// its picture is the one handed to the encoder. The JPEGs carry EXIF orientation 6 (in either byte order), so they are
// shown on their side.
Source source(Still still, const fs::path& folder, const std::string& scale) {
    fs::path file;
    switch (still) {
    case Still::png: file = picture("alpha.png", true); break;
    case Still::opaquePng: file = picture("opaque.png", false); break;
    case Still::turnedJpeg:
    case Still::opaqueTurnedJpeg: {
        const bool translucent = still == Still::turnedJpeg;
        file = folder / "turned.jpg";
        const fs::path stored = picture(translucent ? "stored.jpg" : "opaque-stored.jpg", translucent,
                                        {"-pix_fmt", "yuvj444p", "-q:v", "2"});
        test::writeFile(file, test::withExifOrientation(test::readFile(stored), 6, /*bigEndian=*/translucent));
        break;
    }
    case Still::heic: {
        const Bytes rgba = test::ffmpegRaw(picture("alpha.png", true), "rgba");
        return {test::writeHeif(folder / "picture.heic", rgba, 250, 142, heif_compression_HEVC), rgba};
    }
    case Still::tiff: file = picture("picture.tiff", true, {"-compression_algo", "deflate"}); break;
    case Still::webp: file = picture("picture.webp", true, {"-c:v", "libwebp", "-lossless", "1"}); break;
    }
    return {file, decoded(file, scale.empty() ? "" : "scale=" + scale + ":flags=bilinear")};
}

struct Row {
    Still still;
    std::vector<std::string> options;
    const char* output;
    const char* video;  // codec, tag, profile, pixel format, width, height; then 150 frames at 30 fps lasting 5 s
    double floor;       // colour PSNR over black, dB
};

// Each still through `framewright --encode`: no sound, the picture upright at its own size or fitted into "--size"
// keeping its shape, composited on black whatever the kind: colour is compared over black (premultiplied) in the
// first and the last frame, and every output is opaque.
void expectStillOutputs(const std::vector<Row>& rows) {
    test::TempDir dir;
    for (const Row& row : rows) {
        const bool fitted = row.options.size() > 2 && row.options[2] == "--size";
        const Source still = source(row.still, dir.path(), fitted ? "182:320" : "");
        SCOPED_TRACE(still.file.filename().string() + " " + row.options[1] + (row.options.size() > 2 ? " +" : ""));
        if (still.file.empty()) {
            std::printf("this libheif has no HEVC encoder: no HEIC still\n");
            continue;
        }
        std::vector<std::string> argv{FW_PROGRAM, "--encode", "--output", dir.path().string()};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        argv.push_back(still.file.string());
        const auto result = test::runCommand(argv);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;

        const fs::path output = dir / row.output;
        const Json probed = test::probe(output, {"-count_frames"});
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"),
                                 {"codec_name", "codec_tag_string", "profile", "pix_fmt", "width", "height",
                                  "nb_read_frames", "r_frame_rate", "duration"}),
                  row.video + std::string(" 150 30/1 5.000000"));
        EXPECT_EQ(probed["streams"].size(), 1u) << "no sound";
        for (const int index : {0, 149}) {
            const Bytes written = decoded(output, "select=eq(n\\," + std::to_string(index) + ")");
            EXPECT_GT(psnr(written, still.shown), row.floor) << "frame " << index;
            for (std::size_t i = 3; i < written.size(); i += 4) ASSERT_EQ(written[i], 255) << "byte " << i;
        }
        fs::remove(output);
    }
}

// Floors sit about 3 dB under what this content measures: 38.8 dB for the DXT1 kinds on the translucent picture (35.8
// on the opaque JPEG, whose own blocking DXT1 adds to), 40.3–41.3 for Hap Q, 40.1 for DXT5's colour. Colour left
// unblended on a translucent picture, a picture turned the wrong way or fitted as stored and turned afterwards, or a
// background left uninitialised all fall far below.
TEST(StillOutputs, StillsBecomeTextureClips) {
    expectStillOutputs({
        {Still::png, {"--codec", "hap"}, "alpha_Hap.mov", "hap Hap1 - rgb0 250 142", 36},
        {Still::png, {"--codec", "dxv3", "--alpha"}, "alpha_DXV3.mov", "dxv DXD3 - rgba 250 142", 37},
        {Still::turnedJpeg, {"--codec", "dxv2"}, "turned_DXV2.mov", "dxv DXDI - rgba 142 250", 33},
        {Still::turnedJpeg, {"--codec", "hapq", "--size", "320x320"}, "turned_HapQ.mov", "hap HapY - rgb0 182 320", 37},
        {Still::heic, {"--codec", "hapq"}, "picture_HapQ.mov", "hap HapY - rgb0 250 142", 38},
        {Still::tiff, {"--codec", "dxv3"}, "picture_DXV3.mov", "dxv DXD3 - rgba 250 142", 36},
        {Still::webp, {"--codec", "hap"}, "picture_Hap.mov", "hap Hap1 - rgb0 250 142", 36},
    });
}

// Every platform codec, 8- and 10-bit, from a PNG and from a JPEG stored on its side. This content's colour is busy
// enough that chroma subsampling alone costs it (FFmpeg's own round trip: 42.3 dB through 4:2:2, 40.6 through 4:2:0);
// measured: ProRes 40.2-40.3 dB, H.264 36.4-39.5, HEVC 37.3-40.6. Floors sit about 3 dB under: a picture turned the
// wrong way, fitted as stored, missing from later frames, converted with another matrix than the file is tagged with
// (31 dB) or with swapped colour planes falls below.
TEST(StillOutputs, StillsBecomeMoviesInEveryPlatformCodec) {
    expectStillOutputs({
        {Still::opaquePng, {"--codec", "prores"}, "opaque_ProRes.mov", "prores apch HQ yuv422p10le 320 180", 37},
        {Still::opaquePng,
         {"--codec", "prores", "--ten-bit"},
         "opaque_ProRes.mov",
         "prores apch HQ yuv422p10le 320 180",
         37},
        {Still::opaquePng, {"--codec", "h264"}, "opaque_H264.mp4", "h264 avc1 High yuv420p 320 180", 33},
        {Still::opaquePng, {"--codec", "hevc"}, "opaque_HEVC.mp4", "hevc hvc1 Main yuv420p 320 180", 33},
        {Still::opaquePng,
         {"--codec", "hevc", "--ten-bit"},
         "opaque_HEVC.mp4",
         "hevc hvc1 Main 10 yuv420p10le 320 180",
         35},
        {Still::opaqueTurnedJpeg, {"--codec", "h264"}, "turned_H264.mp4", "h264 avc1 High yuv420p 180 320", 33},
    });
}

// A file that is no image fails its input with the image reader's own words, and leaves nothing behind.
TEST(StillOutputs, ADamagedStillFailsWithTheReadersMessage) {
    test::TempDir dir;
    Bytes png = test::readFile(picture("alpha.png", true));
    png.resize(png.size() / 2);
    test::writeFile(dir / "cut.png", png);
    const auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", "dxv3", (dir / "cut.png").string()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(result.standardError.starts_with(
        "\u2717 cut.png: The image could not be decoded.\nCould not read the image \u201ccut.png\u201d"))
        << result.standardError;
    EXPECT_EQ(test::entriesIn(dir.path()), 1) << "nothing written";
}

}  // namespace
}  // namespace fw

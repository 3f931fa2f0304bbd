// Still images through the built program on the Hap and DXV routes: clips of the default length and rate, upright,
// read back by ffprobe and decoded by FFmpeg's own hap and dxv decoders.

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

// 250 × 142 (neither side a multiple of 4 or 16), smooth but busy colour as in a photograph, alpha rising from left to
// right with a ripple.
const std::vector<std::string> kPicture{
    "-f",
    "lavfi",
    "-i",
    "nullsrc=s=250x142,format=rgba,geq=r='128+100*sin(X/13)*cos(Y/29)':g='128+90*sin(Y/11)*cos(X/37)':"
    "b='128+80*cos((X+Y)/17)':a='clip(255*X/W+60*sin(Y/9),0,255)'",
    "-frames:v",
    "1"};

fs::path picture(const std::string& name, const std::vector<std::string>& encoding) {
    std::vector<std::string> arguments = kPicture;
    arguments.insert(arguments.end(), encoding.begin(), encoding.end());
    return test::generated(name, arguments);
}

// FFmpeg's first picture of a file as RGBA, as it is shown (a JPEG turned by its EXIF orientation), optionally scaled.
Bytes decoded(const fs::path& file, const std::string& scale = "") {
    std::vector<std::string> argv{test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string()};
    if (!scale.empty()) argv.insert(argv.end(), {"-vf", "scale=" + scale + ":flags=bilinear"});
    argv.insert(argv.end(), {"-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
    const auto result = test::runCommand(argv);
    return {result.standardOutput.begin(), result.standardOutput.end()};
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

enum class Still { png, turnedJpeg, heic, tiff, webp };

struct Source {
    fs::path file;
    Bytes shown;  // the picture as it is meant to be seen, RGBA
};

// The stills, each with the picture it shows. libheif writes the HEIC (the ffmpeg tool cannot, nor read it back):
// its picture is the one handed to the encoder. The JPEG carries EXIF orientation 6, so it is shown as 142 × 250.
Source source(Still still, const fs::path& folder, const std::string& scale) {
    switch (still) {
    case Still::png: return {picture("alpha.png", {}), decoded(picture("alpha.png", {}), scale)};
    case Still::turnedJpeg: {
        const fs::path file = folder / "turned.jpg";
        const Bytes jpeg = test::readFile(picture("stored.jpg", {"-pix_fmt", "yuvj444p", "-q:v", "2"}));
        const Bytes turned = test::withExifOrientation(jpeg, 6, /*bigEndian=*/true);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(turned.data()), turned.size());
        return {file, decoded(file, scale)};
    }
    case Still::heic: {
        const Bytes rgba = test::ffmpegRaw(picture("alpha.png", {}), "rgba");
        return {test::writeHeif(folder / "picture.heic", rgba, 250, 142, heif_compression_HEVC), rgba};
    }
    case Still::tiff: {
        const fs::path file = picture("picture.tiff", {"-compression_algo", "deflate"});
        return {file, decoded(file, scale)};
    }
    case Still::webp: {
        const fs::path file = picture("picture.webp", {"-c:v", "libwebp", "-lossless", "1"});
        return {file, decoded(file, scale)};
    }
    }
    return {};
}

// Each still through `framewright --encode`: a clip of 150 frames at 30 fps lasting 5 s, no sound, the picture upright
// at its own size or fitted into "--size" keeping its shape, composited on black whatever the kind: colour is compared
// over black (premultiplied) and every output is opaque. Floors sit about 3 dB under what this content measures: 38.8 dB for the DXT1
// kinds on the translucent picture (35.8 on the opaque JPEG, whose own blocking DXT1 adds to), 40.3–41.3 for Hap Q,
// 40.1 for DXT5's colour. Colour left unblended on a translucent picture, a picture turned the
// wrong way or fitted as stored and turned afterwards, or a background left uninitialised all fall far below.
TEST(StillClipOutputs, StillsBecomeClipsReadBackByFFmpeg) {
    struct Row {
        Still still;
        std::vector<std::string> options;
        const char* output;
        const char* video;  // codec, tag, width, height, frames, rate, duration
        double colourFloor;
    };
    const Row rows[] = {
        {Still::png, {"--codec", "hap"}, "alpha_Hap.mov", "hap Hap1 250 142 150 30/1 5.000000", 36},
        {Still::png, {"--codec", "dxv3", "--alpha"}, "alpha_DXV3.mov", "dxv DXD3 250 142 150 30/1 5.000000", 37},
        {Still::turnedJpeg, {"--codec", "dxv2"}, "turned_DXV2.mov", "dxv DXDI 142 250 150 30/1 5.000000", 33},
        {Still::turnedJpeg,
         {"--codec", "hapq", "--size", "320x320"},
         "turned_HapQ.mov",
         "hap HapY 182 320 150 30/1 5.000000",
         37},
        {Still::heic, {"--codec", "hapq"}, "picture_HapQ.mov", "hap HapY 250 142 150 30/1 5.000000", 38},
        {Still::tiff, {"--codec", "dxv3"}, "picture_DXV3.mov", "dxv DXD3 250 142 150 30/1 5.000000", 36},
        {Still::webp, {"--codec", "hap"}, "picture_Hap.mov", "hap Hap1 250 142 150 30/1 5.000000", 36},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        const bool fitted = row.options.size() > 2 && row.options[2] == "--size";
        const Source still = source(row.still, dir.path(), fitted ? "182:320" : "");
        SCOPED_TRACE(still.file.filename().string() + " " + row.options[1]);
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
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"), {"codec_name", "codec_tag_string", "width", "height",
                                                                   "nb_read_frames", "r_frame_rate", "duration"}),
                  row.video);
        EXPECT_EQ(probed["streams"].size(), 1u) << "no sound";
        const Bytes written = decoded(output);
        EXPECT_GT(psnr(written, still.shown), row.colourFloor);
        for (std::size_t i = 3; i < written.size(); i += 4) ASSERT_EQ(written[i], 255) << "byte " << i;
        fs::remove(output);
    }
}

// A file that is no image fails its input with the image reader's own words, and leaves nothing behind.
TEST(StillClipOutputs, ADamagedStillFailsWithTheReadersMessage) {
    test::TempDir dir;
    Bytes png = test::readFile(picture("alpha.png", {}));
    png.resize(png.size() / 2);
    std::ofstream(dir / "cut.png", std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    const auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", "dxv3", (dir / "cut.png").string()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(result.standardError.starts_with("\u2717 cut.png: Could not read the image \u201ccut.png\u201d"))
        << result.standardError;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << "nothing written";
}

}  // namespace
}  // namespace fw

// Still images through the built program: clips and movies of the default length and rate (150 frames at 30 fps,
// 5 s), upright, read back by ffprobe and decoded by FFmpeg's own hap, dxv, ProRes, H.264 and HEVC decoders.

#include "support/Outputs.h"
#include "support/Probe.h"
#include "support/StillImageFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
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

// The stills, each with the picture it shows (through `filter` when one is given). libheif writes the HEIC (the ffmpeg
// tool cannot, nor read it back): its picture is the one handed to the encoder. The JPEGs carry EXIF orientation 6 (in
// either byte order), so they are shown on their side.
Source source(Still still, const fs::path& folder, const std::string& filter) {
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
    return {file, decoded(file, filter)};
}

struct Row {
    Still still;
    std::vector<std::string> options;
    const char* output;
    const char* video;  // codec, tag, profile, pixel format, width, height; then 150 frames at 30 fps lasting 5 s
    double floor;       // colour PSNR over black, dB
};

// Each still through `framewright --encode`: no sound, the picture upright at its own size or, with "--size 320x320",
// fitted whole into that frame keeping its shape (182 × 320 at column 69), composited on black whatever the kind:
// colour is compared over black (premultiplied) in the first and the last frame, and every output is opaque.
void expectStillOutputs(const std::vector<Row>& rows) {
    test::TempDir dir;
    for (const Row& row : rows) {
        const bool fitted = row.options.size() > 2 && row.options[2] == "--size";
        const Source still =
            source(row.still, dir.path(), fitted ? "scale=182:320:flags=bilinear,pad=320:320:69:0:black" : "");
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
        {Still::turnedJpeg, {"--codec", "hapq", "--size", "320x320"}, "turned_HapQ.mov", "hap HapY - rgb0 320 320", 37},
        {Still::heic, {"--codec", "hapq"}, "picture_HapQ.mov", "hap HapY - rgb0 250 142", 38},
        {Still::tiff, {"--codec", "dxv3"}, "picture_DXV3.mov", "dxv DXD3 - rgba 250 142", 36},
        {Still::webp, {"--codec", "hap"}, "picture_Hap.mov", "hap Hap1 - rgb0 250 142", 36},
    });
}

// Every platform codec from a PNG and from a JPEG stored on its side; a still movie is 8-bit whatever "--ten-bit" says
// (ProRes stores 10 bits all the same). This content's colour is busy enough that chroma subsampling alone costs it
// (FFmpeg's own round trip: 42.3 dB through 4:2:2, 40.6 through 4:2:0); measured: ProRes 40.2-40.3 dB, H.264 36.4-39.5,
// HEVC 37.3-40.6. Floors sit about 3 dB under: a picture turned the wrong way, fitted as stored, missing from later
// frames, converted with another matrix than the file is tagged with (31 dB) or with swapped colour planes falls below.
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
        {Still::opaquePng, {"--codec", "hevc", "--ten-bit"}, "opaque_HEVC.mp4", "hevc hvc1 Main yuv420p 320 180", 33},
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
        "\u2717 cut.png: The image could not be decoded. Could not read the image \u201ccut.png\u201d"))
        << result.standardError;
    EXPECT_EQ(test::entriesIn(dir.path()), 1) << "nothing written";
}

// The output's picture in grey as it is shown (libheif reads HEIC, FFmpeg the rest), with its size.
struct Grey {
    int width = 0, height = 0;
    Bytes pixels;
    int at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

Grey greyOf(const fs::path& output) {
    Grey grey;
    if (output.extension() == ".heic") {
        const std::string rgb = test::heifRGB(output, grey.width, grey.height);
        for (std::size_t i = 1; i < rgb.size(); i += 3) grey.pixels.push_back(std::uint8_t(rgb[i]));
    } else {
        const Json video = test::streamOf(test::probe(output), "video");
        grey.width = video.value("width", 0);
        grey.height = video.value("height", 0);
        grey.pixels = test::decodedFrames(output, "gray");
    }
    if (grey.pixels.size() != std::size_t(grey.width) * grey.height) grey.pixels.clear();
    return grey;
}

// A still's output is the size asked for, odd or even, in every format that stores any size, and one side more where
// the stored picture has 4:2:0 chroma (H.264, HEVC). A 4:3 picture is fitted whole inside it, centred: black columns
// at the sides (17 pixels wide here), picture from the top row to the bottom, never stretched over the frame nor left
// smaller than it.
TEST(StillOutputs, StillsAreTheAskedSizeWithThePictureFittedInside) {
    test::TempDir dir;
    const fs::path photo = dir / "photo.png";
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "color=c=0xB0B0B0:size=160x120", "-frames:v", "1", photo.string()}));
    struct Case {
        const char* codec;
        const char* output;
        bool evenSides = false;
    };
    const Case cases[] = {{"png", "photo_PNG.png"},         {"jpeg", "photo_JPEG.jpg"},
                          {"heic", "photo_HEIC.heic"},      {"hap", "photo_Hap.mov"},
                          {"hapq", "photo_HapQ.mov"},       {"dxv2", "photo_DXV2.mov"},
                          {"dxv3", "photo_DXV3.mov"},       {"prores", "photo_ProRes.mov"},
                          {"h264", "photo_H264.mp4", true}, {"hevc", "photo_HEVC.mp4", true}};
    for (const Case& row : cases) {
        for (const auto& [width, height] : {std::pair(301, 201), std::pair(300, 200)}) {
            const std::string size = std::to_string(width) + "x" + std::to_string(height);
            SCOPED_TRACE(std::string(row.codec) + " " + size);
            const auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", row.codec, "--size", size,
                                                  "--output", dir.path().string(), photo.string()});
            ASSERT_EQ(result.exitStatus, 0) << result.standardError;
            const Grey grey = greyOf(dir / row.output);
            const int expectedWidth = row.evenSides ? width + width % 2 : width;
            const int expectedHeight = row.evenSides ? height + height % 2 : height;
            EXPECT_EQ(std::pair(grey.width, grey.height), std::pair(expectedWidth, expectedHeight));
            ASSERT_FALSE(grey.pixels.empty());
            for (const int y : {0, grey.height / 2, grey.height - 1}) {
                EXPECT_LT(grey.at(4, y), 24) << "left margin, row " << y;
                EXPECT_LT(grey.at(grey.width - 5, y), 24) << "right margin, row " << y;
                EXPECT_GT(grey.at(grey.width / 2, y), 140) << "picture, row " << y;
            }
            fs::remove(dir / row.output);
        }
    }
}

// An HEVC still movie is 8-bit Main whatever "--ten-bit" says, at the encoder's own quality and key-frame spacing (one
// key frame in these 150 frames), never with the H.264 settings (a key frame every 60 frames), which H.264 keeps.
TEST(StillOutputs, HEVCStillsTakeNeitherTheH264SettingsNorTenBits) {
    test::TempDir dir;
    const fs::path photo = picture("opaque.png", false);
    struct Case {
        std::vector<std::string> options;
        const char* output;
        const char* video;  // codec, profile, pixel format, key frames
    };
    const Case cases[] = {
        {{"--codec", "hevc", "--ten-bit", "--crush", "1"}, "opaque_HEVC.mp4", "hevc Main yuv420p 1"},
        {{"--codec", "hevc"}, "opaque_HEVC.mp4", "hevc Main yuv420p 1"},
        {{"--codec", "h264", "--ten-bit"}, "opaque_H264.mp4", "h264 High yuv420p 3"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.options[1] + " " + row.options.back());
        std::vector<std::string> argv{FW_PROGRAM, "--encode", "--output", dir.path().string()};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        argv.push_back(photo.string());
        const auto result = test::runCommand(argv);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        const Json keys =
            test::streamOf(test::probe(dir / row.output, {"-skip_frame", "nokey", "-count_frames"}), "video");
        EXPECT_EQ(test::fieldsOf(keys, {"codec_name", "profile", "pix_fmt", "nb_read_frames"}), row.video);
        fs::remove(dir / row.output);
    }
}

// `argv` run in a mount namespace of its own with a fresh tmpfs (mounted with `mountOptions`) on `folder`; what is
// left in the folder afterwards follows on standard output after "left:". Nothing when this system makes no such
// namespace (unshare needs user namespaces when not run as root).
std::optional<test::CommandResult> runOnTmpfs(const fs::path& folder, const std::string& mountOptions,
                                              const std::vector<std::string>& argv) {
    static const bool available = test::runCommand({"unshare", "-rm", "true"}).exitStatus == 0;
    if (!available) return std::nullopt;
    std::vector<std::string> wrapped{"unshare",
                                     "-rm",
                                     "sh",
                                     "-c",
                                     "dir=$2; mount -t tmpfs -o \"$1\" none \"$dir\" || exit 99; shift 2; \"$@\"; "
                                     "status=$?; echo \"left:$(ls -A \"$dir\")\"; exit $status",
                                     "sh",
                                     mountOptions,
                                     folder.string()};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return test::runCommand(wrapped);
}

// A folder that is missing or read-only, or a disk that fills up, fails the still with the file the user asked for
// and the system's reason, as the movie routes do: never the hidden name the output is staged under, never a bare
// "could not append". Nothing is left behind.
TEST(StillOutputs, WritingFailuresNameTheOutputAndTheReason) {
    test::TempDir dir;
    const fs::path photo = picture("opaque.png", false);
    const fs::path folder = dir / "out";
    fs::create_directory(folder);
    struct Case {
        const char* codec;
        const char* mount;  // tmpfs options; null: the folder "missing", never made
        std::string says;
    };
    const Case cases[] = {
        {"png", nullptr,
         "Writing failed: could not write \u201copaque_PNG.png\u201d: the folder \u201c" + (dir / "missing").string() +
             "\u201d does not exist\n"},
        {"jpeg", "ro", "Writing failed: could not write \u201copaque_JPEG.jpg\u201d: Read-only file system\n"},
        {"png", "size=8k", "Writing failed: could not write \u201copaque_PNG.png\u201d: No space left on device\n"},
        {"hap", "size=8k", "Writing failed: Could not write \u201copaque_Hap.mov\u201d: No space left on device\n"},
        {"dxv2", "size=8k", "Writing failed: Could not write \u201copaque_DXV2.mov\u201d: No space left on device\n"},
        {"gif", nullptr,
         "Writing failed: could not create GIF \u201copaque_GIF.gif\u201d: the folder \u201c" +
             (dir / "missing").string() + "\u201d does not exist\n"},
        {"gif", "ro", "Writing failed: could not create GIF \u201copaque_GIF.gif\u201d: Read-only file system\n"},
        {"gif", "size=8k",
         "Writing failed: could not write GIF frame to \u201copaque_GIF.gif\u201d: No space left on device\n"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(std::string(row.codec) + " " + (row.mount ? row.mount : "missing"));
        const fs::path output = row.mount ? folder : dir / "missing";
        const std::vector<std::string> argv{FW_PROGRAM, "--encode",      "--codec",     row.codec,
                                            "--output", output.string(), photo.string()};
        std::optional<test::CommandResult> result;
        if (row.mount) {
            result = runOnTmpfs(folder, row.mount, argv);
            if (!result) {
                std::printf("no mount namespace here: %s on tmpfs %s not tried\n", row.codec, row.mount);
                continue;
            }
            EXPECT_EQ(result->standardOutput, "left:\n") << "nothing left behind";
        } else {
            result = test::runCommand(argv);
            EXPECT_EQ(result->standardOutput, "");
            EXPECT_FALSE(fs::exists(dir / "missing"));
        }
        EXPECT_EQ(result->exitStatus, 1);
        EXPECT_EQ(result->standardError, "\u2717 opaque.png: " + row.says);
    }
    EXPECT_EQ(test::entriesIn(folder), 0);
}

}  // namespace
}  // namespace fw

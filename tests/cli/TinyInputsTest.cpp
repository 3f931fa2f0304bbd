// Clips of 1 × 1, 2 × 2 and 1 × 2 pixels through every codec of the command line: each output read back by ffprobe and
// decoded by FFmpeg (libheif for HEIC), or refused with the smallest size the codec takes before any file is made.

#include "support/Outputs.h"
#include "support/Probe.h"
#include "support/StillImageFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

// Half a second at 10 fps of one colour (red 200, green 100, blue 50), stored losslessly as RGB.
fs::path tinyClip(int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return test::generated(
        "tiny-" + size + ".mov",
        {"-f", "lavfi", "-i", "nullsrc=s=" + size + ":r=10:d=0.5,format=rgb24,geq=r=200:g=100:b=50", "-c:v", "png"});
}

// The first picture as RGB, with its size.
std::vector<std::uint8_t> firstPicture(const fs::path& output, int& width, int& height) {
    if (output.extension() == ".heic") {
        const std::string rgb = test::heifRGB(output, width, height);
        return {rgb.begin(), rgb.end()};
    }
    std::tie(width, height) = test::displayedSize(test::streamOf(test::probe(output), "video"));
    return test::decodedFrames(output, "rgb24");
}

TEST(TinyInputs, EveryCodecEncodesOrRefusesOnePixelAndTwoPixelClips) {
    struct Row {
        const char* codec;
        const char* suffix;
        int frames;  // read back by ffprobe; 0: a still, not counted
    };
    const Row rows[] = {{"h264", "H264.mp4", 5}, {"hevc", "HEVC.mp4", 5},       {"prores", "ProRes.mov", 5},
                        {"hap", "Hap.mov", 5},   {"hapq", "HapQ.mov", 5},       {"dxv2", "DXV2.mov", 5},
                        {"dxv3", "DXV3.mov", 5}, {"dxv3-alpha", "DXV3.mov", 5}, {"gif", "GIF.gif", 5},
                        {"png", "PNG.png", 0},   {"jpeg", "JPEG.jpg", 0},       {"heic", "HEIC.heic", 0}};
    for (const auto& [clipWidth, clipHeight] : {std::pair{1, 1}, std::pair{2, 2}, std::pair{1, 2}}) {
        const fs::path clip = tinyClip(clipWidth, clipHeight);
        ASSERT_FALSE(clip.empty());
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.codec) + " from " + clip.filename().string());
            test::TempDir dir;
            const auto result =
                test::runCommand({FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path(), clip.string()});
            if (std::string(row.codec) == "hevc") {
                // The encoder takes nothing smaller; said before a file is made.
                EXPECT_EQ(result.exitStatus, 1);
                EXPECT_EQ(result.standardError, "\u2717 " + clip.filename().string() +
                                                    ": Writing failed: HEVC needs pictures of at least 16\u00d716 "
                                                    "pixels; this one would be 2\u00d72\n");
                EXPECT_TRUE(fs::is_empty(dir.path()));
                continue;
            }
            ASSERT_EQ(result.exitStatus, 0) << result.standardError;
            const fs::path output = dir / (clip.stem().string() + "_" + row.suffix);
            if (row.frames > 0) {
                const auto video = test::streamOf(test::probe(output, {"-count_frames"}), "video");
                EXPECT_EQ(video.value("nb_read_frames", ""), std::to_string(row.frames));
            }
            // Every output is at least 2 × 2, the picture's one colour all over it.
            int width = 0, height = 0;
            const auto rgb = firstPicture(output, width, height);
            EXPECT_EQ(width, 2);
            EXPECT_EQ(height, 2);
            ASSERT_EQ(rgb.size(), 12u);
            for (std::size_t i = 0; i < rgb.size(); i += 3) {
                EXPECT_NEAR(rgb[i], 200, 8) << "pixel " << i / 3;
                EXPECT_NEAR(rgb[i + 1], 100, 8) << "pixel " << i / 3;
                EXPECT_NEAR(rgb[i + 2], 50, 8) << "pixel " << i / 3;
            }
        }
    }
}

}  // namespace
}  // namespace fw

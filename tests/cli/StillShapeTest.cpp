// Stills from movies whose pixels are not square, through the built program: PNG, JPEG, HEIC, GIF, Hap and DXV keep the
// shape a player shows, at the source's own size and fitted into "--size", as the movie outputs do.

#include "support/PictureShape.h"
#include "support/StillImageFiles.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

std::optional<test::PictureBounds> boundsOf(const fs::path& output) {
    if (output.extension() != ".heic") return test::brightBounds(output);
    int width = 0, height = 0;
    const std::string rgb = test::heifRGB(output, width, height);
    if (rgb.size() != static_cast<std::size_t>(width) * height * 3) return std::nullopt;
    return test::brightBounds(reinterpret_cast<const std::uint8_t*>(rgb.data()), width, height, 3);
}

TEST(CommandLineStillShape, StillsOfNonSquarePixelsKeepTheirDisplayedShape) {
    struct Source {
        const char* name;
        std::string size, pixelAspect;
        double shape;  // displayed width over height
    };
    // PAL 4:3 is stored at 1.25, NTSC DV 4:3 at 1.5.
    const Source sources[] = {{"pal.mov", "180x144", "16/15", 4.0 / 3.0},
                              {"dv.mov", "180x120", "10/11", 180.0 * 10 / 11 / 120}};
    const std::pair<const char*, const char*> codecs[] = {
        {"png", "PNG.png"}, {"jpeg", "JPEG.jpg"}, {"heic", "HEIC.heic"}, {"gif", "GIF.gif"},
        {"hap", "Hap.mov"}, {"dxv2", "DXV2.mov"}, {"dxv3", "DXV3.mov"}};
    for (const Source& source : sources) {
        const fs::path clip = test::generated(
            source.name, {"-f", "lavfi", "-i", "color=c=white:size=" + source.size + ":rate=10:d=0.3", "-vf",
                          "setsar=" + source.pixelAspect, "-c:v", "libx264", "-pix_fmt", "yuv420p"});
        ASSERT_FALSE(clip.empty());
        for (const auto& [codec, suffix] : codecs)
            for (const std::vector<std::string>& size : {std::vector<std::string>{}, {"--size", "300x300"}}) {
                SCOPED_TRACE(std::string(source.name) + " " + codec + (size.empty() ? "" : " --size 300x300"));
                test::TempDir dir;
                std::vector<std::string> argv{FW_PROGRAM, "--encode", "--codec", codec, "--output", dir.path()};
                argv.insert(argv.end(), size.begin(), size.end());
                argv.push_back(clip.string());
                const auto result = test::runCommand(argv);
                ASSERT_EQ(result.exitStatus, 0) << result.standardError;
                const auto bounds = boundsOf(dir / (clip.stem().string() + "_" + suffix));
                ASSERT_TRUE(bounds);
                // Within a pixel, give or take an edge the scaling blurred.
                EXPECT_LE(bounds->widthOffBy(source.shape), 1.5) << *bounds;
            }
    }
}

}  // namespace
}  // namespace fw

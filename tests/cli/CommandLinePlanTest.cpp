// What the runner hands the encoders, checked without encoding: the options
// become a configuration, and the route builder decides from it.

#include "cli/CommandLineTool_internal.h"
#include "support/RouteDescription.h"

#include <gtest/gtest.h>

namespace fw::CommandLineTool::detail {
namespace {

namespace fs = std::filesystem;

TEST(CommandLinePlan, OutputNames) {
    struct Row {
        fs::path input;
        OutputCodec codec;
        std::optional<fs::path> outputDirectory;
        fs::path expected;
    };
    const Row rows[] = {
        {"/clips/clip.mov", OutputCodec::h264, std::nullopt, "/clips/clip_H264.mp4"},
        {"/clips/clip.mov", OutputCodec::hevc, std::nullopt, "/clips/clip_HEVC.mp4"},
        {"/clips/clip.mp4", OutputCodec::proRes, std::nullopt, "/clips/clip_ProRes.mov"},
        {"/clips/clip.mov", OutputCodec::hapQ, std::nullopt, "/clips/clip_HapQ.mov"},
        {"/clips/clip.mov", OutputCodec::dxv3, std::nullopt, "/clips/clip_DXV3.mov"},
        {"/clips/clip.mov", OutputCodec::gif, std::nullopt, "/clips/clip_GIF.gif"},
        {"/clips/clip.mov", OutputCodec::jpeg, std::nullopt, "/clips/clip_JPEG.jpg"},
        {"/clips/clip.mov", OutputCodec::h264, fs::path("/out"), "/out/clip_H264.mp4"},
        {"/clips/take.2.final.mov", OutputCodec::png, std::nullopt, "/clips/take.2.final_PNG.png"},
        {"/clips/noextension", OutputCodec::h264, std::nullopt, "/clips/noextension_H264.mp4"},
        {"/clips/a folder/", OutputCodec::h264, fs::path("/out"), "/out/a folder_H264.mp4"},
    };
    for (const auto& row : rows) {
        CLIOptions options;
        options.codec = row.codec;
        options.outputDirectory = row.outputDirectory;
        EXPECT_EQ(outputLocation(row.input, options), row.expected) << row.input;
    }
}

// Each row: the command line's words after the input, the source's displayed
// size, and the route written out (see RouteDescription.h).
TEST(CommandLinePlan, RoutesFromOptions) {
    struct Row {
        std::vector<std::string> words;
        IntSize source;
        std::string route;
    };
    const Row rows[] = {
        {{}, {1920, 1080}, "1920x1080: H.264 1920x1080 High 7962624"},
        {{"--ten-bit"}, {640, 360}, "640x360: H.264 640x360 High 884736"},
        {{"--codec", "hevc", "--ten-bit"}, {640, 360},
         "640x360: HEVC 640x360 Main10 884736 | frames 640x360 Aspect Ratio 10-bit"},
        {{"--codec", "prores", "--ten-bit"}, {641, 361},
         "641x361: ProRes 422 HQ 642x362 | frames 642x362 Aspect Ratio 10-bit"},
        {{"--codec", "prores"}, {641, 361}, "641x361: ProRes 422 HQ 641x361"},
        // The writer converts an odd picture to even sides; the rate is figured from the odd size.
        {{}, {641, 361}, "641x361: H.264 642x362 High 888579"},
        {{"--codec", "prores", "--crush", "0.2"}, {640, 360}, "640x360: ProRes 422 HQ 640x360"},
        {{"--codec", "hevc", "--crush", "0.2"}, {640, 360}, "640x360: HEVC 640x360 auto 387072"},
        {{"--size", "1280x1280"}, {1920, 1080}, "1280x720: H.264 1280x720 High 3538944 | frames 1280x720 Aspect Ratio"},
        {{"--size", "1280x720"}, {1080, 1920}, "406x720: H.264 406x720 High 1122508 | frames 406x720 Aspect Ratio"},
        {{"--codec", "hevc", "--size", "853x480", "--10bit"}, {1920, 1080},
         "854x480: HEVC 854x480 Main10 1574092 | frames 854x480 Aspect Ratio 10-bit"},
        // "--alpha" is read by DXV only.
        {{"--codec", "4444", "--alpha"}, {320, 240}, "320x240: ProRes 422 HQ 320x240"},
        {{"--codec", "hevc", "--alpha"}, {320, 240}, "320x240: HEVC 320x240 auto 294912"},
        {{"--codec", "hap", "--alpha"}, {320, 240}, "320x240: Hap"},
        {{"--codec", "hapq", "--size", "640x640"}, {160, 90}, "640x360: Hap-Q | frames 640x360 Aspect Ratio"},
        {{"--codec", "dxv2", "--alpha", "--dxv-hq"}, {320, 240}, "320x240: DXV2 alpha"},
        {{"--codec", "dxv3-alpha", "--hq"}, {320, 240}, "320x240: DXV3 alpha hq"},
        {{"--codec", "dxv2", "--size", "1x1"}, {1920, 1080}, "2x2: DXV2 | frames 2x2 Aspect Ratio"},
        {{"--codec", "gif", "--size", "320x240"}, {}, "320x240: GIF 320x240 Aspect Ratio"},
        {{"--codec", "png"}, {}, "0x0: PNG unsized Aspect Ratio"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> arguments{"framewright", "--encode", "/clips/clip.mov"};
        arguments.insert(arguments.end(), row.words.begin(), row.words.end());
        const auto parsed = CLIParser::parse(arguments);
        ASSERT_TRUE(std::holds_alternative<CLIOptions>(parsed)) << row.route;
        const ExportConfiguration configuration = exportConfiguration(std::get<CLIOptions>(parsed)).resolvingAlpha();
        EXPECT_EQ(test::describe(encodeRoute(configuration, row.source)), row.route);
    }
}

}  // namespace
}  // namespace fw::CommandLineTool::detail

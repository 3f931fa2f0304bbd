// The command line as the runner reads it, and what it hands the encoders, checked without encoding: the options become
// a configuration, and the route builder decides from it.

#include "cli/CLIParser.h"
#include "cli/CommandLineTool_internal.h"
#include "jobs/OutputPlan.h"
#include "support/RouteDescription.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fw {
namespace {

namespace fs = std::filesystem;
using CommandLineTool::detail::exportConfiguration;

CLIParseResult parse(std::vector<std::string> words) {
    words.insert(words.begin(), "/usr/bin/framewright");
    return CLIParser::parse(words);
}

fs::path here(const std::string& name) { return fs::current_path() / name; }

const CLIOptions& options(const CLIParseResult& result) {
    static const CLIOptions none;
    if (auto* error = std::get_if<CLIError>(&result)) {
        ADD_FAILURE() << "unexpected failure: " << error->message;
        return none;
    }
    return std::get<CLIOptions>(result);
}

// Each row names the first error the walk meets.
TEST(CLIParser, RejectedCommandLines) {
    const std::string kSize = "--size expects WxH, e.g. 1920x1080";
    const std::string kCrush = "--crush expects a number 0.0\u20131.0";
    const std::string kHevcAlpha = "codec \u2018HEVC + Alpha\u2019 can\u2019t be produced";
    struct Row {
        std::vector<std::string> words;  // after the program path
        std::string message;
    };
    std::vector<Row> rows = {
        {{"--encode"}, "no input files given"},
        {{"--encode", "--alpha", "--ten-bit", "--codec", "hevc"}, "no input files given"},
        {{"--encode", "a.mov", "--input"}, "--input needs a path"},
        {{"a.mov", "--codec"}, "--codec needs a value"},
        {{"a.mov", "--output"}, "--output needs a directory"},
        {{"a.mov", "--size"}, kSize},
        {{"a.mov", "--crush"}, kCrush},
        {{"a.mov", "--codec", "hevc", "--codec", "vp9"}, "unknown codec \u2018vp9\u2019"},  // the later one is read
        {{"a.mov", "--Alpha"}, "unknown option \u2018--Alpha\u2019"},
        {{"a.mov", "--"}, "unknown option \u2018--\u2019"},
        {{"a.mov", "--fast", "--codec", "vp9"}, "unknown option \u2018--fast\u2019"},  // the walk stops there
        // The HEVC encoder here carries no alpha layer: the message names the codec by display name.
        {{"a.mov", "--codec", "HEVC-Alpha"}, kHevcAlpha},
        {{"--codec", "hevcalpha", "a.mov"}, kHevcAlpha},
        {{"--codec", "hevcalpha"}, "no input files given"},
        {{"--size", "big"}, kSize}};
    // The name is kept as typed, and an option after "--codec" is taken as its name.
    for (const char* codec : {"dpx", "exr", "NotchLC", "ProRes422", "--alpha"})
        rows.push_back({{"a.mov", "--codec", codec}, std::string("unknown codec \u2018") + codec + "\u2019"});
    for (const char* size :
         {"1920x1080x2", "0x100", "-4x100", "1920", "wide", "19.5x10", "1920x 1080", "99999999999999999999x2"})
        rows.push_back({{"a.mov", "--size", size}, kSize});
    for (const char* crush : {"1.01", "-0.1", "nan", "inf", "high", "0,5"})
        rows.push_back({{"a.mov", "--crush", crush}, kCrush});
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.words));
        auto result = parse(row.words);
        ASSERT_TRUE(std::holds_alternative<CLIError>(result));
        EXPECT_EQ(std::get<CLIError>(result).message, row.message);
    }
    for (const auto& words : {std::vector<std::string>{}, std::vector<std::string>{"/usr/bin/framewright"}}) {
        auto result = CLIParser::parse(words);
        ASSERT_TRUE(std::holds_alternative<CLIError>(result));
        EXPECT_EQ(std::get<CLIError>(result).message, "no input files given");
    }
}

// Case-insensitive, with the alpha flag set only by the dxv3-alpha names.
TEST(CLIParser, CodecNamesSelectTheCodec) {
    struct Row {
        const char* name;
        OutputCodec codec;
        bool setsAlpha;
    };
    using enum OutputCodec;
    const Row rows[] = {
        {"h264", h264, false},     {"H.264", h264, false}, {"AVC", h264, false},      {"hevc", hevc, false},
        {"H265", hevc, false},     {"h.265", hevc, false}, {"prores", proRes, false}, {"ProRes4444", proRes, false},
        {"4444", proRes, false},   {"Hap", hap, false},    {"HAPQ", hapQ, false},     {"hap-q", hapQ, false},
        {"dxv", dxv2, false},      {"DXV2", dxv2, false},  {"dxv3", dxv3, false},     {"DXV3-Alpha", dxv3, true},
        {"dxv3alpha", dxv3, true}, {"GIF", gif, false},    {"png", png, false},       {"jpeg", jpeg, false},
        {"JPG", jpeg, false},      {"heic", heic, false}};
    for (const auto& row : rows) {
        auto parsed = options(parse({"--encode", "--codec", row.name, "a.mov"}));
        EXPECT_EQ(parsed.codec, row.codec) << row.name;
        EXPECT_EQ(parsed.alpha, row.setsAlpha) << row.name;
    }
}

CLIOptions with(std::vector<std::string> inputs, auto change) {
    CLIOptions result;
    for (auto& input : inputs) result.inputs.push_back(here(input));
    change(result);
    return result;
}
auto unchanged = [](CLIOptions&) {};
auto sized = [](std::int64_t width, std::int64_t height) {
    return [=](CLIOptions& o) { o.width = width, o.height = height; };
};
auto crushed = [](double crush) { return [=](CLIOptions& o) { o.crush = crush; }; };

// The whole options value is compared.
TEST(CLIParser, AcceptedCommandLines) {
    struct Row {
        std::vector<std::string> words;
        CLIOptions expected;
    };
    CLIOptions absolute;
    absolute.inputs = {"/media/clip one.mov"};
    const Row rows[] = {
        {{"--encode", "a.mov"}, with({"a.mov"}, unchanged)},
        {{"-v"}, with({"-v"}, unchanged)},
        {{"a.mov", "--encode", "b.mov", "--encode"}, with({"a.mov", "b.mov"}, unchanged)},
        {{"--input", "a.mov", "b.mov"}, with({"a.mov", "b.mov"}, unchanged)},
        {{"a.mov", "--input", "b.mov"}, with({"a.mov", "b.mov"}, unchanged)},
        {{"--input", "--alpha"}, with({"--alpha"}, unchanged)},
        {{"/media/clip one.mov"}, absolute},
        {{"a.mov", "--output", "out"}, with({"a.mov"}, [](CLIOptions& o) { o.outputDirectory = here("out"); })},
        {{"a.mov", "--output", "one", "--output", "/tmp/two"},
         with({"a.mov"}, [](CLIOptions& o) { o.outputDirectory = "/tmp/two"; })},
        {{"a.mov", "--size", "1920x1080"}, with({"a.mov"}, sized(1920, 1080))},
        {{"a.mov", "--size", "1920X1080"}, with({"a.mov"}, sized(1920, 1080))},
        {{"a.mov", "--size", "x1920x1080"}, with({"a.mov"}, sized(1920, 1080))},
        {{"a.mov", "--size", "640xx360"}, with({"a.mov"}, sized(640, 360))},
        {{"a.mov", "--size", "+640x360"}, with({"a.mov"}, sized(640, 360))},
        {{"a.mov", "--size", "8x8", "--size", "3x5"}, with({"a.mov"}, sized(3, 5))},
        {{"a.mov", "--crush", "0"}, with({"a.mov"}, crushed(0.0))},
        {{"a.mov", "--crush", "1"}, with({"a.mov"}, crushed(1.0))},
        {{"a.mov", "--crush", "1.0"}, with({"a.mov"}, crushed(1.0))},
        {{"a.mov", "--crush", "25e-2"}, with({"a.mov"}, crushed(0.25))},
        {{"a.mov", "--ten-bit", "--alpha", "--dxv-hq"},
         with({"a.mov"}, [](CLIOptions& o) { o.tenBit = o.alpha = o.dxvHighQuality = true; })},
        {{"--10bit", "--hq", "a.mov"}, with({"a.mov"}, [](CLIOptions& o) { o.tenBit = o.dxvHighQuality = true; })},
        // The alpha a codec name set stays when a later codec is chosen.
        {{"a.mov", "--codec", "dxv3-alpha", "--codec", "hap"},
         with({"a.mov"}, [](CLIOptions& o) { o.codec = OutputCodec::hap, o.alpha = true; })}};
    for (const auto& row : rows)
        EXPECT_EQ(options(parse(row.words)), row.expected) << testing::PrintToString(row.words);
}

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
        // A source's name is text, kept as it is written.
        {"/clips/{codec}.mp4", OutputCodec::h264, std::nullopt, "/clips/{codec}_H264.mp4"},
        {"/clips/a:b.mp4", OutputCodec::h264, std::nullopt, "/clips/a:b_H264.mp4"},
        {"/clips/ sp .mp4", OutputCodec::h264, std::nullopt, "/clips/ sp _H264.mp4"},
        {"/clips/{date} {width}x{height}.mov", OutputCodec::png, fs::path("/out"),
         "/out/{date} {width}x{height}_PNG.png"},
    };
    for (const auto& row : rows) {
        CLIOptions options;
        options.codec = row.codec;
        options.outputDirectory = row.outputDirectory;
        // Planned as the run plans it: the command line names its outputs as the window does with the default
        // template.
        const jobs::OutputPlan plan = jobs::planOutput(jobs::SourceProbe::sized(row.input, {64, 48}),
                                                       exportConfiguration(options), {}, {row.outputDirectory, {}});
        EXPECT_EQ(plan.destination, row.expected) << row.input;
    }
}

// Control characters, C1 ones (two bytes in UTF-8) among them, are written out; other text, broken UTF-8 too, is not,
// nor the printable characters whose UTF-8 also starts 0xC2 (U+00A0 to U+00BF).
TEST(CommandLinePlan, ResultLinesWriteOutControlCharacters) {
    const std::pair<std::string, std::string> rows[] = {
        {"new\nline.mov", "new\\nline.mov"},
        {"a\r\tb", "a\\r\\tb"},
        {"\x1b[31m\x7f", "\\x1b[31m\\x7f"},
        {"next\xc2\x85line", "next\\u0085line"},
        {"caf\u00e9 \u2192", "caf\u00e9 \u2192"},
        {"bad\xc2", "bad\xc2"},
        {std::string("nul\0", 4), "nul\\x00"},
        {"\xc2\x80\xc2\x9f", "\\u0080\\u009f"},
        {"\u00a0\u00b0 \u00a9 \u00bd\u00b5\u00bf", "\u00a0\u00b0 \u00a9 \u00bd\u00b5\u00bf"}};
    for (const auto& [text, shown] : rows) EXPECT_EQ(CommandLineTool::detail::escapedControls(text), shown);
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
        {{"--codec", "hevc", "--ten-bit"},
         {640, 360},
         "640x360: HEVC 640x360 Main10 884736 | frames 640x360 Aspect Ratio 10-bit"},
        {{"--codec", "prores", "--ten-bit"},
         {641, 361},
         "642x362: ProRes 422 HQ 642x362 | frames 642x362 Aspect Ratio 10-bit"},
        {{"--codec", "prores"}, {641, 361}, "641x361: ProRes 422 HQ 641x361"},
        // The writer converts an odd picture to even sides; the rate is figured from the odd size.
        {{}, {641, 361}, "642x362: H.264 642x362 High 888579"},
        {{"--codec", "prores", "--crush", "0.2"}, {640, 360}, "640x360: ProRes 422 HQ 640x360"},
        {{"--codec", "hevc", "--crush", "0.2"}, {640, 360}, "640x360: HEVC 640x360 auto 387072"},
        {{"--size", "1280x1280"}, {1920, 1080}, "1280x720: H.264 1280x720 High 3538944 | frames 1280x720 Aspect Ratio"},
        {{"--size", "1280x720"}, {1080, 1920}, "406x720: H.264 406x720 High 1122508 | frames 406x720 Aspect Ratio"},
        {{"--codec", "hevc", "--size", "853x480", "--10bit"},
         {1920, 1080},
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
        {{"--codec", "png"}, {}, "0x0: PNG unsized Aspect Ratio"}};
    for (const auto& row : rows) {
        std::vector<std::string> words{"--encode", "/clips/clip.mov"};
        words.insert(words.end(), row.words.begin(), row.words.end());
        const auto parsed = parse(words);
        ASSERT_TRUE(std::holds_alternative<CLIOptions>(parsed)) << row.route;
        const ExportConfiguration configuration = exportConfiguration(std::get<CLIOptions>(parsed)).resolvingAlpha();
        EXPECT_EQ(test::describe(encodeRoute(configuration, row.source)), row.route);
    }
}

}  // namespace
}  // namespace fw

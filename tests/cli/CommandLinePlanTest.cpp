// What the runner hands the encoders, checked without encoding.

#include "cli/CommandLineTool_internal.h"

#include <gtest/gtest.h>

namespace fw::CommandLineTool::detail {
namespace {

namespace fs = std::filesystem;

CLIOptions optionsFor(OutputCodec codec, auto change) {
    CLIOptions options;
    options.codec = codec;
    options.inputs = {"/clips/clip.mov"};
    change(options);
    return options;
}
auto none = [](CLIOptions&) {};

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

TEST(CommandLinePlan, TargetSizeIsExplicitOnlyWithBothSides) {
    auto given = targetSize(optionsFor(OutputCodec::gif, [](CLIOptions& o) {
        o.width = 320;
        o.height = 240;
    }));
    EXPECT_TRUE(given.isExplicit);
    EXPECT_EQ(given.width, 320);
    EXPECT_EQ(given.height, 240);
    auto fallback = targetSize(optionsFor(OutputCodec::gif, none));
    EXPECT_FALSE(fallback.isExplicit);
    EXPECT_EQ(fallback.width, 1920);
    EXPECT_EQ(fallback.height, 1080);
}

// Each row: options, the source's displayed size, and what the encoder gets.
struct PlanRow {
    const char* name;
    CLIOptions options;
    IntSize source;
    IntSize output;
    bool scaled;
    bool tenBit;
    std::optional<double> crush;  // nullopt: no rate settings at all
    VideoProfile profile;
};

void PrintTo(const PlanRow& row, std::ostream* out) { *out << row.name; }

class MoviePlans : public testing::TestWithParam<PlanRow> {};

TEST_P(MoviePlans, HandTheEncoderTheRightRequest) {
    const auto& row = GetParam();
    const MoviePlan plan = moviePlan(row.options, row.source);
    EXPECT_EQ(plan.outputSize, row.output);
    EXPECT_EQ(plan.tenBit, row.tenBit);
    ASSERT_EQ(plan.scaling.has_value(), row.scaled);
    if (plan.scaling) {
        EXPECT_EQ(plan.scaling->width, row.output.width);
        EXPECT_EQ(plan.scaling->height, row.output.height);
        EXPECT_EQ(plan.scaling->mode, ResizeMode::aspect);
        EXPECT_EQ(plan.scaling->tenBit, row.tenBit);
        EXPECT_FALSE(plan.scaling->preservesAlpha);
        EXPECT_FALSE(plan.scaling->filters);
        EXPECT_FALSE(plan.scaling->geometry);
        EXPECT_FALSE(plan.scaling->targetFrameRate);
    }
    ASSERT_EQ(plan.h264.has_value(), row.crush.has_value());
    if (plan.h264) {
        EXPECT_DOUBLE_EQ(plan.h264->crush, *row.crush);
        EXPECT_FALSE(plan.h264->useExplicitBitrate);
        EXPECT_TRUE(plan.h264->keyFrameAuto);
        EXPECT_EQ(plan.h264->maxKeyFrameInterval, 60);
        EXPECT_EQ(plan.h264->profile, row.profile);
    }
}

auto tenBit = [](CLIOptions& o) { o.tenBit = true; };
auto size = [](std::int64_t w, std::int64_t h) {
    return [=](CLIOptions& o) {
        o.width = w;
        o.height = h;
    };
};
constexpr auto kAuto = VideoProfile::automatic;

INSTANTIATE_TEST_SUITE_P(
    CommandLinePlan, MoviePlans,
    testing::Values(
        PlanRow{"H264KeepsSourceSize", optionsFor(OutputCodec::h264, none), {1920, 1080}, {1920, 1080}, false, false, 0.6, kAuto},
        PlanRow{"TenBitIgnoredForH264", optionsFor(OutputCodec::h264, tenBit), {640, 360}, {640, 360}, false, false, 0.6, kAuto},
        PlanRow{"TenBitHevcScalesAtSourceSize", optionsFor(OutputCodec::hevc, tenBit), {640, 360}, {640, 360}, true, true, 0.6, VideoProfile::main10},
        PlanRow{"TenBitOddSourceMadeEven", optionsFor(OutputCodec::proRes, tenBit), {641, 361}, {642, 362}, true, true, std::nullopt, kAuto},
        PlanRow{"OddSourceUntouchedWithoutScaling", optionsFor(OutputCodec::proRes, none), {641, 361}, {641, 361}, false, false, std::nullopt, kAuto},
        PlanRow{"CrushOnlyForRateCodecs", optionsFor(OutputCodec::proRes, [](CLIOptions& o) { o.crush = 0.2; }), {640, 360}, {640, 360}, false, false, std::nullopt, kAuto},
        PlanRow{"CrushGiven", optionsFor(OutputCodec::hevc, [](CLIOptions& o) { o.crush = 0.2; }), {640, 360}, {640, 360}, false, false, 0.2, kAuto},
        PlanRow{"SizeFitsKeepingAspect", optionsFor(OutputCodec::h264, size(1280, 1280)), {1920, 1080}, {1280, 720}, true, false, 0.6, kAuto},
        PlanRow{"SizeFitsPortraitByDisplay", optionsFor(OutputCodec::h264, size(1280, 720)), {1080, 1920}, {406, 720}, true, false, 0.6, kAuto},
        PlanRow{"SizeUpscales", optionsFor(OutputCodec::hapQ, size(640, 640)), {160, 90}, {640, 360}, true, false, std::nullopt, kAuto},
        PlanRow{"SizeAndTenBitHevc", optionsFor(OutputCodec::hevc, [](CLIOptions& o) { o.width = 853; o.height = 480; o.tenBit = true; }), {1920, 1080}, {854, 480}, true, true, 0.6, VideoProfile::main10},
        PlanRow{"TinySizeRaisedToTwo", optionsFor(OutputCodec::dxv2, size(1, 1)), {1920, 1080}, {2, 2}, true, false, std::nullopt, kAuto}),
    [](const testing::TestParamInfo<PlanRow>& row) { return std::string(row.param.name); });

TEST(CommandLinePlan, ProResIsAlways422HQ) {
    for (auto alpha : {false, true}) {
        auto options = optionsFor(OutputCodec::proRes, [&](CLIOptions& o) { o.alpha = alpha; });
        auto settings = movieWriterSettings(options, moviePlan(options, {320, 240}));
        ASSERT_TRUE(settings);
        EXPECT_EQ(settings->codec, VideoCodecType::proRes422HQ);
        EXPECT_EQ(settings->width, 320);
        EXPECT_EQ(settings->height, 240);
        EXPECT_FALSE(settings->compression);
    }
}

TEST(CommandLinePlan, WriterSettingsFollowThePlan) {
    auto options = optionsFor(OutputCodec::hevc, [](CLIOptions& o) {
        o.tenBit = true;
        o.width = 1280;
        o.height = 720;
    });
    auto settings = movieWriterSettings(options, moviePlan(options, {1920, 1080}));
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->codec, VideoCodecType::hevc);
    EXPECT_EQ(settings->width, 1280);
    EXPECT_EQ(settings->height, 720);
    EXPECT_TRUE(settings->isMain10());
    ASSERT_TRUE(settings->compression);
    EXPECT_EQ(settings->compression->averageBitRate, H264Settings{}.averageBitRate(1280, 720));

    for (auto codec : {OutputCodec::hap, OutputCodec::dxv3, OutputCodec::gif}) {
        auto other = optionsFor(codec, none);
        EXPECT_FALSE(movieWriterSettings(other, moviePlan(other, {320, 240}))) << rawValue(codec);
    }
}

}  // namespace
}  // namespace fw::CommandLineTool::detail

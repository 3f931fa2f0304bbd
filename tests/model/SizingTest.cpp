#include "model/Geometry.h"
#include "model/OutputSizing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fw {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(OutputSizing, ResizeOffKeepsRoundedSourceAndResizeOnFollowsTheMode) {
    struct Row {
        FloatSize source;
        ResizeSettings resize;
        IntSize expected;
    };
    using enum ResizeMode;
    const Row rows[] = {
        {{1920, 1080}, {false, 1, 1, fit}, {1920, 1080}},
        {{1919.6, 1079.5}, {false, 1, 1, fit}, {1920, 1080}},
        {{1921, 1081}, {false, 1, 1, fit}, {1921, 1081}},  // odd passes
        {{0, 0}, {false, 1, 1, fit}, {2, 2}},
        {{-640, -360.5}, {false, 1, 1, fit}, {640, 361}},
        {{kNaN, kInfinity}, {false, 1, 1, fit}, {2, std::int64_t{1} << 31}},
        {{640, 480}, {true, 1281, 719, fit}, {1282, 720}},
        {{640, 480}, {true, 1280, 720, pixelPerfect}, {1280, 720}},
        {{640, 480}, {true, 0, -5, fill}, {2, 2}},
        {{640, 480}, {true, 0, 0, aspect}, {2, 2}},
        {{3840, 2160}, {true, 1920, 1080, aspect}, {1920, 1080}},
        {{1080, 1920}, {true, 1920, 1080, aspect}, {608, 1080}},
        {{4096, 2160}, {true, 1920, 1080, aspect}, {1920, 1014}},
        {{1920, 1080}, {true, 854, 480, aspect}, {854, 480}},
        {{4000, 1}, {true, 100, 100, aspect}, {100, 2}},  // a one-pixel strip stays at least 2 high and even
    };
    for (const auto& row : rows)
        EXPECT_EQ(OutputSizing::outputSize(row.source, row.resize), row.expected)
            << row.source.width << "x" << row.source.height << " to " << row.resize.width << "x" << row.resize.height;
    EXPECT_EQ(OutputSizing::even(7), 8);
    EXPECT_EQ(OutputSizing::even(-3), -2);
    EXPECT_EQ(OutputSizing::even(8), 8);
    EXPECT_EQ(OutputSizing::even(std::numeric_limits<std::int64_t>::max()) % 2, 0);
}

TEST(OutputSizing, EnumerationsAndJson) {
    EXPECT_EQ(size(ResolutionPreset::sd480), (IntSize{854, 480}));
    EXPECT_EQ(size(ResolutionPreset::uhd4K), (IntSize{3840, 2160}));
    EXPECT_EQ(fromRawValue<ResolutionPreset>(std::string_view("720p")), ResolutionPreset::hd720);
    EXPECT_EQ(rawValue(ResizeMode::aspect), "Aspect Ratio");
    EXPECT_EQ(help(ResizeMode::pixelPerfect), "No scaling; centre at 1:1 and crop or pad to the target size.");
    ResizeSettings settings{true, 3840, 2160, ResizeMode::fill};
    EXPECT_EQ(json::decode<ResizeSettings>(json::parse(json::dump(toJson(settings))), "resize"), settings);
}

TEST(Geometry, CropRectAndFlags) {
    GeometrySettings geometry;
    EXPECT_FALSE(geometry.isActive());
    EXPECT_FALSE(geometry.convertsFrameRate());
    EXPECT_EQ(geometry.cropRect(), (CropRect{0, 0, 1, 1}));
    geometry.frameRateEnabled = true;
    geometry.frameRate = 25;
    EXPECT_FALSE(geometry.isActive());
    EXPECT_TRUE(geometry.convertsFrameRate());
    geometry.frameRate = 0;
    EXPECT_FALSE(geometry.convertsFrameRate());
    geometry.flipVertical = true;
    EXPECT_TRUE(geometry.isActive());

    GeometrySettings wild{.cropX = 1.5, .cropY = -1, .cropWidth = 0, .cropHeight = kNaN};
    auto rect = wild.cropRect();
    EXPECT_DOUBLE_EQ(rect.x, 0.99);
    EXPECT_DOUBLE_EQ(rect.y, 0);
    EXPECT_NEAR(rect.width, 0.01, 1e-12);
    EXPECT_DOUBLE_EQ(rect.height, 0.01);
    wild.cropX = kNaN;
    EXPECT_EQ(wild.cropRect().x, 0);
}

TEST(Geometry, OutputSize) {
    struct Row {
        GeometrySettings geometry;
        FloatSize source;
        IntSize expected;
    };
    const GeometrySettings quarter{.cropEnabled = true, .cropX = 0.25, .cropY = 0.25, .cropWidth = 0.5, .cropHeight = 0.5};
    auto turned = [](GeometrySettings geometry, Rotation rotation) {
        geometry.rotation = rotation;
        return geometry;
    };
    const GeometrySettings edge{.cropEnabled = true, .cropX = 1.5, .cropY = -1, .cropWidth = 0, .cropHeight = 0};
    const Row rows[] = {
        {{}, {1920, 1080}, {1920, 1080}},
        {{}, {1921, 1081}, {1922, 1082}},
        {{}, {0.5, -7}, {2, 2}},
        {{.rotation = Rotation::r270}, {1080, 1920}, {1920, 1080}},
        {{.rotation = Rotation::r270, .flipHorizontal = true}, {1080, 1920}, {1920, 1080}},
        {quarter, {1920, 1080}, {960, 540}},
        {turned(quarter, Rotation::r90), {1920, 1080}, {540, 960}},
        {turned(quarter, Rotation::r180), {1920, 1080}, {960, 540}},
        {{.cropEnabled = true, .cropX = 0.9, .cropWidth = 0.5}, {1920, 1080}, {192, 1080}},
        {edge, {1920, 1080}, {20, 12}},
        {edge, {16, 16}, {2, 2}},  // a tiny crop of a tiny frame
        {{.cropEnabled = true, .cropWidth = 0.5}, {1001, 100}, {502, 100}},  // 500.5 rounds up, then even
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].geometry.outputSize(rows[i].source), rows[i].expected) << "row " << i;

    // Geometry feeds the resize calculation.
    IntSize rotated = rows[3].geometry.outputSize({1080, 1920});
    EXPECT_EQ(OutputSizing::outputSize(rotated, ResizeSettings{true, 1280, 1280, ResizeMode::aspect}),
              (IntSize{1280, 720}));
}

TEST(Geometry, RotationAndJson) {
    EXPECT_EQ(label(Rotation::none), "None");
    EXPECT_EQ(label(Rotation::r90), "90\u00B0");
    EXPECT_EQ(label(Rotation::r270), "270\u00B0");
    EXPECT_FALSE(fromRawValue<Rotation>(45));
    EXPECT_EQ(fromRawValue<Rotation>(180), Rotation::r180);
    EXPECT_TRUE(swapsDimensions(Rotation::r90));
    EXPECT_FALSE(swapsDimensions(Rotation::r180));

    GeometrySettings geometry{true, 0.1, 0.2, 0.3, 0.4, Rotation::r90, true, false, true, 23.976};
    auto back = json::decode<GeometrySettings>(json::parse(json::dump(toJson(geometry))), "geometry");
    EXPECT_EQ(back, geometry);
    Json stored = toJson(geometry);
    stored["rotation"] = 4294967386LL;  // 90 + 2^32 must not alias 90
    EXPECT_THROW(json::decode<GeometrySettings>(stored, "geometry"), JsonDecodeError);
    stored = toJson(geometry);
    stored["flipVertical"] = 0;
    EXPECT_THROW(json::decode<GeometrySettings>(stored, "geometry"), JsonDecodeError);

    // Non-finite numbers cannot be written as JSON numbers; they must not make the stored form unreadable.
    geometry.frameRate = kInfinity;
    geometry.cropX = kNaN;
    back = json::decode<GeometrySettings>(json::parse(json::dump(toJson(geometry))), "geometry");
    EXPECT_EQ(back.frameRate, 30);
    EXPECT_EQ(back.cropX, 0);
}

}  // namespace
}  // namespace fw

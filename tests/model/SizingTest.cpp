#include "model/Geometry.h"
#include "model/OutputSizing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fw {
namespace {

IntSize sized(FloatSize source, bool enabled, std::int64_t width, std::int64_t height, ResizeMode mode) {
    return OutputSizing::outputSize(source, ResizeSettings{enabled, width, height, mode});
}

TEST(OutputSizing, ResizeOffKeepsRoundedSource) {
    EXPECT_EQ(sized({1920, 1080}, false, 1, 1, ResizeMode::fit), (IntSize{1920, 1080}));
    EXPECT_EQ(sized({1919.6, 1079.5}, false, 1, 1, ResizeMode::fit), (IntSize{1920, 1080}));
    EXPECT_EQ(sized({1921, 1081}, false, 1, 1, ResizeMode::fit), (IntSize{1921, 1081}));  // odd passes
    EXPECT_EQ(sized({0, 0}, false, 1, 1, ResizeMode::fit), (IntSize{2, 2}));
    EXPECT_EQ(sized({-640, -360.5}, false, 1, 1, ResizeMode::fit), (IntSize{640, 361}));
    double nan = std::numeric_limits<double>::quiet_NaN();
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(sized({nan, inf}, false, 1, 1, ResizeMode::fit), (IntSize{2, std::int64_t{1} << 31}));
}

TEST(OutputSizing, ResizeOnModes) {
    EXPECT_EQ(sized({640, 480}, true, 1281, 719, ResizeMode::fit), (IntSize{1282, 720}));
    EXPECT_EQ(sized({640, 480}, true, 1280, 720, ResizeMode::pixelPerfect), (IntSize{1280, 720}));
    EXPECT_EQ(sized({640, 480}, true, 0, -5, ResizeMode::fill), (IntSize{2, 2}));
    EXPECT_EQ(sized({640, 480}, true, 0, 0, ResizeMode::aspect), (IntSize{2, 2}));

    EXPECT_EQ(sized({3840, 2160}, true, 1920, 1080, ResizeMode::aspect), (IntSize{1920, 1080}));
    EXPECT_EQ(sized({1080, 1920}, true, 1920, 1080, ResizeMode::aspect), (IntSize{608, 1080}));
    EXPECT_EQ(sized({4096, 2160}, true, 1920, 1080, ResizeMode::aspect), (IntSize{1920, 1014}));
    EXPECT_EQ(sized({1920, 1080}, true, 854, 480, ResizeMode::aspect), (IntSize{854, 480}));
    // A one-pixel-high strip stays at least 2 high and even.
    EXPECT_EQ(sized({4000, 1}, true, 100, 100, ResizeMode::aspect), (IntSize{100, 2}));
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

    GeometrySettings wild;
    wild.cropX = 1.5;
    wild.cropY = -1;
    wild.cropWidth = 0;
    wild.cropHeight = std::nan("");
    auto rect = wild.cropRect();
    EXPECT_DOUBLE_EQ(rect.x, 0.99);
    EXPECT_DOUBLE_EQ(rect.y, 0);
    EXPECT_NEAR(rect.width, 0.01, 1e-12);
    EXPECT_DOUBLE_EQ(rect.height, 0.01);
    wild.cropX = std::nan("");
    EXPECT_EQ(wild.cropRect().x, 0);
}

TEST(Geometry, OutputSize) {
    GeometrySettings geometry;
    EXPECT_EQ(geometry.outputSize({1920, 1080}), (IntSize{1920, 1080}));
    EXPECT_EQ(geometry.outputSize({1921, 1081}), (IntSize{1922, 1082}));
    EXPECT_EQ(geometry.outputSize({0.5, -7}), (IntSize{2, 2}));
    geometry.rotation = Rotation::r270;
    EXPECT_EQ(geometry.outputSize({1080, 1920}), (IntSize{1920, 1080}));
    geometry.flipHorizontal = true;
    EXPECT_EQ(geometry.outputSize({1080, 1920}), (IntSize{1920, 1080}));

    GeometrySettings crop;
    crop.cropEnabled = true;
    crop.cropX = crop.cropY = 0.25;
    crop.cropWidth = crop.cropHeight = 0.5;
    EXPECT_EQ(crop.outputSize({1920, 1080}), (IntSize{960, 540}));
    crop.rotation = Rotation::r90;
    EXPECT_EQ(crop.outputSize({1920, 1080}), (IntSize{540, 960}));
    crop.rotation = Rotation::r180;
    EXPECT_EQ(crop.outputSize({1920, 1080}), (IntSize{960, 540}));

    GeometrySettings edge;
    edge.cropEnabled = true;
    edge.cropX = 0.9;
    edge.cropWidth = 0.5;
    EXPECT_EQ(edge.outputSize({1920, 1080}).width, 192);
    edge.cropX = 1.5;
    edge.cropY = -1;
    edge.cropWidth = edge.cropHeight = 0;
    EXPECT_EQ(edge.outputSize({1920, 1080}), (IntSize{20, 12}));
    EXPECT_EQ(edge.outputSize({16, 16}), (IntSize{2, 2}));  // a tiny crop of a tiny frame

    GeometrySettings half;
    half.cropEnabled = true;
    half.cropWidth = 0.5;
    EXPECT_EQ(half.outputSize({1001, 100}).width, 502);  // 500.5 rounds up, then even

    // Geometry feeds the resize calculation.
    IntSize rotated = geometry.outputSize({1080, 1920});
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

    GeometrySettings geometry;
    geometry.cropEnabled = true;
    geometry.cropX = 0.1;
    geometry.cropY = 0.2;
    geometry.cropWidth = 0.3;
    geometry.cropHeight = 0.4;
    geometry.rotation = Rotation::r90;
    geometry.flipHorizontal = true;
    geometry.frameRateEnabled = true;
    geometry.frameRate = 23.976;
    auto back = json::decode<GeometrySettings>(json::parse(json::dump(toJson(geometry))), "geometry");
    EXPECT_EQ(back, geometry);
    Json stored = toJson(geometry);
    stored["rotation"] = 4294967386LL;  // 90 + 2^32 must not alias 90
    EXPECT_THROW(json::decode<GeometrySettings>(stored, "geometry"), JsonDecodeError);
    stored = toJson(geometry);
    stored["flipVertical"] = 0;
    EXPECT_THROW(json::decode<GeometrySettings>(stored, "geometry"), JsonDecodeError);

    // Non-finite numbers cannot be written as JSON numbers; they must not make the stored form unreadable.
    geometry.frameRate = std::numeric_limits<double>::infinity();
    geometry.cropX = std::nan("");
    back = json::decode<GeometrySettings>(json::parse(json::dump(toJson(geometry))), "geometry");
    EXPECT_EQ(back.frameRate, 30);
    EXPECT_EQ(back.cropX, 0);
}

}  // namespace
}  // namespace fw

#include "model/ExportConfiguration.h"
#include "model/Geometry.h"
#include "model/OutputSizing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>

namespace fw {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

ExportConfiguration fullConfiguration(OutputCodec codec) {
    ExportConfiguration configuration;
    configuration.codec = codec;
    configuration.proResVariant = ProResVariant::lt;
    configuration.h264.crush = 0.3;
    configuration.h264.profile = VideoProfile::main;
    configuration.resize = ResizeSettings{true, 1280, 720, ResizeMode::pixelPerfect};
    configuration.naming.templateText = "{date}/{name}";
    configuration.trim = TrimRange{1.5, 4.25};
    configuration.geometry = GeometrySettings{
        .cropEnabled = true, .cropX = 0.125, .rotation = Rotation::r270, .flipVertical = true, .frameRate = 29.97};
    configuration.tenBit = configuration.dxvHighQuality = true;
    return configuration;
}

ExportConfiguration roundTrip(const ExportConfiguration& configuration) {
    return json::decode<ExportConfiguration>(json::parse(json::dump(toJson(configuration))), "configuration");
}

// The least a stored configuration holds, changed by `change`.
Json minimalStored(const std::function<void(Json&)>& change = {}) {
    Json stored = json::parse(R"({"codec": "ProRes", "proResVariant": "422 HQ", "h264": {},
        "resize": {"isEnabled": false, "width": 1920, "height": 1080, "mode": "Aspect Ratio"},
        "naming": {"template": "{name}_{codec}"}})");
    if (change) change(stored);
    return stored;
}

std::set<std::string> keys(const Json& object) {
    std::set<std::string> result;
    for (auto it = object.begin(); it != object.end(); ++it) result.insert(it.key());
    return result;
}

TEST(ExportConfiguration, RoundTripsEveryCodec) {
    for (auto codec : allCases<OutputCodec>()) {
        SCOPED_TRACE(std::string(rawValue(codec)));
        for (bool alpha : {false, true}) {
            ExportConfiguration plain, full = fullConfiguration(codec);
            plain.codec = codec;
            plain.alpha = full.alpha = alpha;
            for (const auto& configuration : {plain, full}) {
                auto back = roundTrip(configuration);
                if (codec == OutputCodec::hevcAlpha) {
                    EXPECT_EQ(back.codec, OutputCodec::hevc);
                    EXPECT_TRUE(back.alpha);
                    EXPECT_EQ(back.resolvingAlpha(), configuration.resolvingAlpha());
                } else {
                    EXPECT_EQ(back, configuration);
                }
            }
        }
    }
}

TEST(ExportConfiguration, WritesExactKeys) {
    ExportConfiguration plain;
    const std::set<std::string> always{"codec",  "proResVariant", "h264",  "resize",
                                       "naming", "tenBit",        "alpha", "dxvHighQuality"};
    Json written = toJson(plain);
    EXPECT_EQ(keys(written), always);
    plain.codec = OutputCodec::dxv2;
    plain.alpha = true;
    EXPECT_EQ(keys(toJson(plain)), always);
    EXPECT_EQ(keys(written["h264"]), (std::set<std::string>{"crush", "useExplicitBitrate", "bitrateMbps",
                                                            "keyFrameAuto", "maxKeyFrameInterval", "profile"}));
    EXPECT_EQ(keys(written["resize"]), (std::set<std::string>{"isEnabled", "width", "height", "mode"}));
    EXPECT_EQ(written["naming"], json::parse(R"({"template": "{name}_{codec}"})"));
    EXPECT_EQ(written["proResVariant"], "422 HQ");

    Json full = toJson(fullConfiguration(OutputCodec::hevcAlpha));
    auto expected = always;
    expected.insert({"trim", "geometry"});
    EXPECT_EQ(keys(full), expected);
    EXPECT_EQ(full["codec"], "HEVC + Alpha");
    EXPECT_EQ(full["resize"]["mode"], "Pixel Perfect");
    EXPECT_EQ(full["geometry"]["rotation"], 270);
    EXPECT_TRUE(full["geometry"]["rotation"].is_number_integer());
    EXPECT_EQ(keys(full["geometry"]).size(), 10u);
    EXPECT_EQ(full["trim"], json::parse(R"({"start": 1.5, "end": 4.25})"));
    EXPECT_EQ(toJson(TrimRange{2, std::nullopt}), json::parse(R"({"start": 2.0})"));
}

TEST(ExportConfiguration, ReadsOlderForms) {
    auto read = [](const std::function<void(Json&)>& change) {
        return json::decode<ExportConfiguration>(minimalStored(change), "configuration");
    };
    EXPECT_EQ(read({}), ExportConfiguration{});  // absent flags read as false, absent trim/geometry as none
    auto dxv3 = read([](Json& stored) { stored["codec"] = "DXV3 + Alpha", stored["alpha"] = false; });
    EXPECT_EQ(dxv3.codec, OutputCodec::dxv3);
    EXPECT_TRUE(dxv3.alpha);  // the name wins; "alpha" is not read
    auto hevc = read([](Json& stored) { stored["codec"] = "HEVC + Alpha"; });
    EXPECT_EQ(hevc.codec, OutputCodec::hevc);
    EXPECT_TRUE(hevc.alpha);
    EXPECT_EQ(hevc.resolvingAlpha().codec, OutputCodec::hevcAlpha);
    auto dxv = read([](Json& stored) { stored["codec"] = "DXV", stored["dxvAlpha"] = true; });
    EXPECT_EQ(dxv.codec, OutputCodec::dxv2);
    EXPECT_TRUE(dxv.alpha);
    // "alpha" wins over the legacy key.
    EXPECT_FALSE(
        read([](Json& stored) { stored["codec"] = "DXV", stored["dxvAlpha"] = true, stored["alpha"] = false; }).alpha);
}

TEST(ExportConfiguration, DecodingFailures) {
    auto failsAfter = [](const std::function<void(Json&)>& change) {
        const Json stored = minimalStored(change);
        EXPECT_THROW(json::decode<ExportConfiguration>(stored, "configuration"), JsonDecodeError) << stored.dump();
    };
    for (const char* key : {"codec", "proResVariant", "h264", "resize", "naming"})
        failsAfter([&](Json& stored) { stored.erase(key); });
    for (const char* key : {"isEnabled", "width", "height", "mode"})
        failsAfter([&](Json& stored) { stored["resize"].erase(key); });
    failsAfter([](Json& stored) { stored["naming"] = Json::object(); });
    const Json geometry = toJson(GeometrySettings{});
    auto withGeometry = [&](Json& stored) { stored["geometry"] = geometry; };
    EXPECT_NO_THROW(json::decode<ExportConfiguration>(minimalStored(withGeometry), "configuration"));
    failsAfter([&](Json& stored) { (stored["geometry"] = geometry).erase("frameRate"); });
    failsAfter([&](Json& stored) { (stored["geometry"] = geometry)["rotation"] = 45; });
    failsAfter([&](Json& stored) { (stored["geometry"] = geometry)["rotation"] = 90.0; });
    const std::pair<const char*, Json> wrongTypes[] = {{"codec", 1},
                                                       {"codec", "Prores"},
                                                       {"tenBit", "yes"},
                                                       {"alpha", 1},
                                                       {"h264", Json::array()},
                                                       {"trim", json::parse(R"({"end": 3})")},
                                                       {"trim", json::parse(R"({"start": "0"})")}};
    for (const auto& [key, value] : wrongTypes) failsAfter([&](Json& stored) { stored[key] = value; });
    failsAfter([](Json& stored) { stored["resize"]["width"] = 1280.5; });
    failsAfter([](Json& stored) { stored["resize"]["mode"] = "aspect"; });
    EXPECT_THROW(json::decode<ExportConfiguration>(Json("ProRes"), "configuration"), JsonDecodeError);
}

TEST(ExportConfiguration, ResolvingAlpha) {
    ExportConfiguration configuration;
    configuration.alpha = configuration.tenBit = true;
    auto resolved = configuration.resolvingAlpha();
    EXPECT_EQ(resolved.codec, OutputCodec::proRes);
    EXPECT_EQ(resolved.proResVariant, ProResVariant::fourByFour);
    EXPECT_TRUE(resolved.tenBit);

    configuration.codec = OutputCodec::hevc;
    EXPECT_EQ(configuration.resolvingAlpha().codec, OutputCodec::hevcAlpha);
    EXPECT_EQ(configuration.resolvingAlpha().proResVariant, ProResVariant::hq);

    configuration.codec = OutputCodec::hevcAlpha;
    configuration.alpha = false;
    EXPECT_TRUE(configuration.resolvingAlpha().alpha);

    configuration.codec = OutputCodec::h264;
    configuration.alpha = true;
    EXPECT_EQ(configuration.resolvingAlpha(), configuration);
    configuration.codec = OutputCodec::proRes;
    configuration.alpha = false;
    EXPECT_EQ(configuration.resolvingAlpha(), configuration);
}

TEST(NamingSettings, Stem) {
    NamingSettings naming;
    EXPECT_EQ(naming.stem("clip", "ProRes", 1920, 1080, "2026-01-01"), "clip_ProRes");
    // A source's name is a file's name, never template: it goes in as it stands.
    struct Named {
        const char* templateText;
        const char* sourceName;
        const char* stem;
    };
    for (const Named& row : {Named{"{name}_{codec}", "a{codec}b", "a{codec}b_H264"},
                             Named{"{name}_{codec}", "{date}{name}", "{date}{name}_H264"},
                             Named{"{name}_{codec}", "a:b", "a:b_H264"}, Named{"{name}_{codec}", " sp ", " sp _H264"},
                             Named{" \t{name}\t ", " sp ", " sp "}, Named{"{name}: {codec}", "10:30", "10:30- H264"},
                             Named{"  {codec} ", "x", "H264"}, Named{"{date}/{name} ", "b ", "d-b "}})
        EXPECT_EQ(NamingSettings{row.templateText}.stem(row.sourceName, "H264", 1, 1, "d"), row.stem)
            << row.templateText << " with " << row.sourceName;
    naming.templateText = "{date}/{name}";
    EXPECT_EQ(naming.stem("clip", "X", 1, 1, "2026-01-01"), "2026-01-01-clip");
    naming.templateText = "{name} {width}x{height} 10:30";
    EXPECT_EQ(naming.stem("take", "X", 1280, -720, "d"), "take 1280x-720 10-30");
    naming.templateText = "   \t ";
    EXPECT_EQ(naming.stem("clip", "X", 1, 1, "d"), "clip");
    // A blank result keeps the source's own name untouched, so sources do not collide.
    EXPECT_EQ(naming.stem("Take 1: a", "X", 1, 1, "d"), "Take 1: a");
    naming.templateText = "";
    EXPECT_EQ(naming.stem("", "X", 1, 1, "d"), "clip");
    naming.templateText = "\u00A0\u3000 {name}\u2009\t";
    EXPECT_EQ(naming.stem("Füße", "X", 1, 1, "d"), "Füße");
    naming.templateText = "{name}\n";
    EXPECT_EQ(naming.stem("a", "X", 1, 1, "d"), "a\n");  // line breaks are not trimmed
    naming.templateText = "{NAME}_{codec}";
    EXPECT_EQ(naming.stem("a", "X", 1, 1, "d"), "{NAME}_X");
}

TEST(TrimRange, TimeRangeAndDuration) {
    auto range = TrimRange{2, 5}.timeRange();
    EXPECT_EQ(range.start, MediaTime(1200, 600));
    EXPECT_EQ(range.duration, MediaTime(1800, 600));
    for (const auto& open : {TrimRange{2, std::nullopt}, TrimRange{2, 1}, TrimRange{2, 2}})
        EXPECT_TRUE(open.timeRange().duration.isPositiveInfinity()) << open.end.value_or(-1);

    EXPECT_DOUBLE_EQ((TrimRange{2, std::nullopt}).resolvedDuration(10), 8);
    EXPECT_DOUBLE_EQ((TrimRange{9.995, std::nullopt}).resolvedDuration(10), 0.01);
    EXPECT_DOUBLE_EQ((TrimRange{0, 3}).resolvedDuration(10), 3);
    // An end before the start reads to the end of the source, as the range does.
    EXPECT_DOUBLE_EQ((TrimRange{2, 1}).resolvedDuration(10), 8);

    // A negative start counts as 0: the range ends at `end`, not past it.
    TrimRange negative{-2, 3};
    EXPECT_EQ(negative.timeRange().start, MediaTime(0, 600));
    EXPECT_EQ(negative.timeRange().duration, MediaTime(1800, 600));
    EXPECT_DOUBLE_EQ(negative.resolvedDuration(10), 3);
    EXPECT_DOUBLE_EQ(negative.effectiveStart(), 0);

    auto read = [](const char* text) { return json::decode<TrimRange>(json::parse(text), "trim"); };
    EXPECT_EQ(read(R"({"start": -4, "end": 2})"), (TrimRange{0, 2}));
    EXPECT_EQ(read(R"({"start": 5, "end": 2})"), (TrimRange{5, std::nullopt}));
    EXPECT_EQ(read(R"({"start": 1})"), (TrimRange{1, std::nullopt}));
}

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
        {{640, 480}, {true, 1281, 719, fit}, {1282, 720}},  // odd sides made even upwards
        {{640, 480}, {true, 1281, 719, fill}, {1282, 720}},
        {{1920, 1080}, {true, 853, 479, aspect}, {852, 480}},
        {{320, 240}, {true, 100, 75, aspect}, {100, 76}},
        {{320, 240}, {true, 321, 241, aspect}, {322, 242}},
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
    for (const auto& [side, even] : {std::pair<std::int64_t, std::int64_t>{7, 8}, {-3, -2}, {8, 8}})
        EXPECT_EQ(OutputSizing::even(side), even) << side;
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
    const GeometrySettings quarter{true, 0.25, 0.25, 0.5, 0.5};
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
        {edge, {16, 16}, {2, 2}},                                            // a tiny crop of a tiny frame
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

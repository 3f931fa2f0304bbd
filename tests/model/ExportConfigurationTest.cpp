#include "model/ExportConfiguration.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace fw {
namespace {

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
            ExportConfiguration plain;
            plain.codec = codec;
            plain.alpha = alpha;
            ExportConfiguration full = fullConfiguration(codec);
            full.alpha = alpha;
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
    const std::set<std::string> always{"codec", "proResVariant", "h264", "resize", "naming",
                                       "tenBit", "alpha", "dxvHighQuality"};
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
    EXPECT_NO_THROW(json::decode<ExportConfiguration>(minimalStored([&](Json& stored) { stored["geometry"] = geometry; }),
                                                      "configuration"));
    failsAfter([&](Json& stored) { (stored["geometry"] = geometry).erase("frameRate"); });
    failsAfter([&](Json& stored) { (stored["geometry"] = geometry)["rotation"] = 45; });
    failsAfter([&](Json& stored) { (stored["geometry"] = geometry)["rotation"] = 90.0; });
    const std::pair<const char*, Json> wrongTypes[] = {
        {"codec", 1},           {"codec", "Prores"}, {"tenBit", "yes"}, {"alpha", 1}, {"h264", Json::array()},
        {"trim", json::parse(R"({"end": 3})")}, {"trim", json::parse(R"({"start": "0"})")},
    };
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
    EXPECT_EQ(naming.stem("a{codec}b", "H264", 1, 1, "d"), "aH264b_H264");  // {name} first
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
    EXPECT_TRUE((TrimRange{2, std::nullopt}).timeRange().duration.isPositiveInfinity());
    EXPECT_TRUE((TrimRange{2, 1}).timeRange().duration.isPositiveInfinity());
    EXPECT_TRUE((TrimRange{2, 2}).timeRange().duration.isPositiveInfinity());

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

}  // namespace
}  // namespace fw

#include "model/OutputFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace fw {
namespace {

TEST(VideoSettings, ProResIgnoresRateSettingsAndCarriesColour) {
    ColorProperties color = properties(ColorTag::pq);
    auto settings = videoSettings(OutputCodec::proRes, 1920, 1080, ProResVariant::fourByFour, H264Settings{}, color);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->family, VideoCodecFamily::proRes);
    EXPECT_EQ(settings->proResVariant, ProResVariant::fourByFour);
    EXPECT_FALSE(settings->compression);
    EXPECT_EQ(settings->colorProperties, color);
}

TEST(VideoSettings, RateKeyFramesAndProfiles) {
    H264Settings h264;
    auto hevc = videoSettings(OutputCodec::hevc, 1920, 1080, ProResVariant::hq, h264, std::nullopt);
    ASSERT_TRUE(hevc && hevc->compression);
    EXPECT_EQ(hevc->compression->averageBitRate, 7'962'624);
    EXPECT_EQ(hevc->compression->maxKeyFrameInterval, 60);
    EXPECT_FALSE(hevc->compression->profileLevel);  // Auto: the encoder chooses
    EXPECT_FALSE(hevc->isMain10());
    EXPECT_FALSE(hevc->colorProperties);

    h264.profile = VideoProfile::main10;
    h264.keyFrameAuto = false;
    h264.maxKeyFrameInterval = -5;
    hevc = videoSettings(OutputCodec::hevc, 1920, 1080, ProResVariant::hq, h264, std::nullopt);
    EXPECT_EQ(hevc->compression->profileLevel, ProfileLevel::hevcMain10AutoLevel);
    EXPECT_TRUE(hevc->isMain10());
    EXPECT_EQ(hevc->compression->maxKeyFrameInterval, 1);

    auto avc = videoSettings(OutputCodec::h264, 1920, 1080, ProResVariant::hq, h264, std::nullopt);
    EXPECT_EQ(avc->compression->profileLevel, ProfileLevel::h264HighAutoLevel);
    EXPECT_EQ(avc->family, VideoCodecFamily::h264);
    EXPECT_FALSE(avc->proResVariant);
    h264.keyFrameAuto = true;
    h264.maxKeyFrameInterval = 5;
    avc = videoSettings(OutputCodec::h264, 1920, 1080, ProResVariant::hq, h264, std::nullopt);
    EXPECT_EQ(avc->compression->maxKeyFrameInterval, 60);

    auto bare = videoSettings(OutputCodec::h264, 640, 360, ProResVariant::hq, std::nullopt, std::nullopt);
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->compression);

    EXPECT_FALSE(videoSettings(OutputCodec::hevcAlpha, 64, 64, ProResVariant::hq, h264, std::nullopt));
    EXPECT_FALSE(videoSettings(OutputCodec::hap, 64, 64, ProResVariant::hq, h264, std::nullopt));

    EXPECT_EQ(profileLevel(OutputCodec::h264, VideoProfile::baseline), ProfileLevel::h264BaselineAutoLevel);
    EXPECT_EQ(profileLevel(OutputCodec::h264, VideoProfile::main), ProfileLevel::h264MainAutoLevel);
    EXPECT_EQ(profileLevel(OutputCodec::hevcAlpha, VideoProfile::main), ProfileLevel::hevcMainAutoLevel);
    EXPECT_FALSE(profileLevel(OutputCodec::hevc, VideoProfile::high));
    EXPECT_FALSE(profileLevel(OutputCodec::proRes, VideoProfile::main));

    // The profile picker offers only profiles the codec has.
    using P = VideoProfile;
    auto offered = [](OutputCodec codec) {
        auto list = availableProfiles(codec);
        return std::vector<P>(list.begin(), list.end());
    };
    EXPECT_EQ(offered(OutputCodec::h264), (std::vector{P::automatic, P::baseline, P::main, P::high}));
    EXPECT_EQ(offered(OutputCodec::hevc), (std::vector{P::automatic, P::main, P::main10}));
    EXPECT_EQ(offered(OutputCodec::hevcAlpha), offered(OutputCodec::hevc));
    EXPECT_TRUE(offered(OutputCodec::proRes).empty());
    EXPECT_TRUE(offered(OutputCodec::dxv3).empty());
}

TEST(H264Settings, BitRateModelAndTiers) {
    auto crushed = [](double crush) {
        H264Settings settings;
        settings.crush = crush;
        return settings;
    };
    struct Row {
        double crush;
        std::int64_t width, height, bitRate;
    };
    const Row rows[] = {
        {0, 1920, 1080, 1'244'160},   {-3, 1920, 1080, 1'244'160},   {0.6, 1920, 1080, 7'962'624},
        {1, 1920, 1080, 12'441'600},  {7, 1920, 1080, 12'441'600},   {0.6, 3840, 2160, 31'850'496},
        {0.6, 16, 16, 100'000},       {std::nan(""), 1920, 1080, 1'244'160},
    };
    for (const auto& row : rows) EXPECT_EQ(crushed(row.crush).averageBitRate(row.width, row.height), row.bitRate) << row.crush;
    EXPECT_GT(crushed(1).averageBitRate(std::int64_t{1} << 40, std::int64_t{1} << 40), 0);  // clamped, no overflow

    H264Settings explicitRate;
    explicitRate.useExplicitBitrate = true;
    EXPECT_EQ(explicitRate.averageBitRate(16, 16), 12'000'000);
    EXPECT_EQ(explicitRate.qualityTier(), H264Settings::QualityTier::veryHigh);
    EXPECT_NEAR(explicitRate.effectiveBitsPerPixel(), 0.1929, 1e-4);
    explicitRate.bitrateMbps = 0.05;
    EXPECT_EQ(explicitRate.averageBitRate(1920, 1080), 100'000);
    EXPECT_EQ(explicitRate.qualityTier(), H264Settings::QualityTier::veryLow);
    explicitRate.bitrateMbps = 1e30;
    EXPECT_EQ(explicitRate.averageBitRate(1, 1), INT64_MAX);

    using enum H264Settings::QualityTier;
    for (const auto& [crush, tier] : {std::pair{0.6, high}, {0.45, high}, {0.4, medium}, {0.1, low}, {0.05, veryLow},
                                      {0.75, veryHigh}})
        EXPECT_EQ(crushed(crush).qualityTier(), tier) << crush;
    EXPECT_NEAR(H264Settings{}.referenceBitrateMbps(), 7.962624, 1e-9);
    EXPECT_EQ(label(veryHigh), "Very High");
}

TEST(H264Settings, JsonKeysDefaultsAndTypes) {
    H264Settings settings;
    settings.crush = 0.25;
    settings.profile = VideoProfile::main10;
    settings.maxKeyFrameInterval = 12;
    Json written = toJson(settings);
    EXPECT_EQ(written.size(), 6u);
    EXPECT_EQ(written["profile"], "Main 10");
    EXPECT_EQ(json::decode<H264Settings>(json::parse(json::dump(written)), "h264"), settings);

    EXPECT_EQ(json::decode<H264Settings>(Json::object(), "h264"), H264Settings{});
    auto partial = json::decode<H264Settings>(json::parse(R"({"crush": 1, "profile": "High"})"), "h264");
    EXPECT_EQ(partial.crush, 1.0);
    EXPECT_EQ(partial.profile, VideoProfile::high);
    EXPECT_EQ(partial.bitrateMbps, 12);
    EXPECT_THROW(json::decode<H264Settings>(json::parse(R"({"crush": "0.5"})"), "h264"), JsonDecodeError);
    EXPECT_THROW(json::decode<H264Settings>(json::parse(R"({"maxKeyFrameInterval": 6.5})"), "h264"), JsonDecodeError);
    EXPECT_THROW(json::decode<H264Settings>(json::parse(R"({"profile": "main"})"), "h264"), JsonDecodeError);
    EXPECT_THROW(json::decode<H264Settings>(Json::array(), "h264"), JsonDecodeError);
}

TEST(OutputCodec, JsonReadsOlderNames) {
    auto read = [](const char* name) { return json::decode<OutputCodec>(Json(name), "codec"); };
    EXPECT_EQ(read("DXV"), OutputCodec::dxv2);
    EXPECT_EQ(toJson(read("DXV")), "DXV2");
    EXPECT_EQ(read("DXV3 + Alpha"), OutputCodec::dxv3);
    EXPECT_EQ(read("HEVC + Alpha"), OutputCodec::hevcAlpha);
    for (auto codec : allCases<OutputCodec>()) EXPECT_EQ(json::decode<OutputCodec>(toJson(codec), "codec"), codec);
    try {
        read("dxv2");
        FAIL() << "lower-case name accepted";
    } catch (const JsonDecodeError& error) {
        EXPECT_STREQ(error.what(), "Unknown codec \u2018dxv2\u2019");
    }
    EXPECT_THROW(json::decode<OutputCodec>(Json(3), "codec"), JsonDecodeError);
    EXPECT_THROW(json::decode<ProResVariant>(Json("HQ"), "proResVariant"), JsonDecodeError);
    EXPECT_EQ(json::decode<ProResVariant>(Json("422 LT"), "proResVariant"), ProResVariant::lt);
}

}  // namespace
}  // namespace fw

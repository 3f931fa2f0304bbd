// What an output carries besides the pictures: codec settings, colour tags, metadata.

#include "model/ColorTagging.h"
#include "model/MovieMetadata.h"
#include "model/OutputFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace fw {
namespace {

TEST(VideoSettings, RateKeyFramesAndProfiles) {
    // ProRes ignores the rate settings and carries the colour.
    ColorProperties color = properties(ColorTag::pq);
    auto settings = videoSettings(OutputCodec::proRes, 1920, 1080, ProResVariant::fourByFour, H264Settings{}, color);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->family, VideoCodecFamily::proRes);
    EXPECT_EQ(settings->proResVariant, ProResVariant::fourByFour);
    EXPECT_FALSE(settings->compression);
    EXPECT_EQ(settings->colorProperties, color);
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
    const Row rows[] = {{0, 1920, 1080, 1'244'160},   {-3, 1920, 1080, 1'244'160},
                        {0.6, 1920, 1080, 7'962'624}, {1, 1920, 1080, 12'441'600},
                        {7, 1920, 1080, 12'441'600},  {0.6, 3840, 2160, 31'850'496},
                        {0.6, 16, 16, 100'000},       {std::nan(""), 1920, 1080, 1'244'160}};
    for (const auto& row : rows)
        EXPECT_EQ(crushed(row.crush).averageBitRate(row.width, row.height), row.bitRate) << row.crush;
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
    for (const auto& [crush, tier] :
         {std::pair{0.6, high}, {0.45, high}, {0.4, medium}, {0.1, low}, {0.05, veryLow}, {0.75, veryHigh}})
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
    EXPECT_EQ(written["profile"], "Main 10");
    EXPECT_EQ(json::decode<H264Settings>(json::parse(json::dump(written)), "h264"), settings);

    EXPECT_EQ(json::decode<H264Settings>(Json::object(), "h264"), H264Settings{});
    auto partial = json::decode<H264Settings>(json::parse(R"({"crush": 1, "profile": "High"})"), "h264");
    EXPECT_EQ(partial.crush, 1.0);
    EXPECT_EQ(partial.profile, VideoProfile::high);
    EXPECT_EQ(partial.bitrateMbps, 12);
    for (const char* text : {R"({"crush": "0.5"})", R"({"maxKeyFrameInterval": 6.5})", R"({"profile": "main"})", "[]"})
        EXPECT_THROW(json::decode<H264Settings>(json::parse(text), "h264"), JsonDecodeError) << text;
}

TEST(OutputCodec, JsonReadsOlderNames) {
    auto read = [](const char* name) { return json::decode<OutputCodec>(Json(name), "codec"); };
    EXPECT_EQ(read("DXV"), OutputCodec::dxv2);
    EXPECT_EQ(toJson(read("DXV")), "DXV2");
    EXPECT_EQ(read("DXV3 + Alpha"), OutputCodec::dxv3);
    EXPECT_EQ(read("HEVC + Alpha"), OutputCodec::hevcAlpha);
    // Shown as HEVC with its alpha switch on, so it can be switched back; refused only when run.
    EXPECT_TRUE(supportsAlphaToggle(OutputCodec::hevc));
    EXPECT_FALSE(isProducible(OutputCodec::hevcAlpha));
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

TEST(ColorTagging, PropertiesAndJson) {
    // Tags only when switched on.
    ColorSettings settings;
    settings.tag = ColorTag::pq;
    EXPECT_FALSE(settings.properties());
    settings.enabled = true;
    EXPECT_EQ(settings.properties(), properties(ColorTag::pq));

    EXPECT_FALSE(fromRawValue<ColorTag>(std::string_view("Rec. 709")));
    EXPECT_FALSE(fromRawValue<ColorTag>(std::string_view("rec. 709 (sdr)")));
    EXPECT_EQ(fromRawValue<ColorTag>(std::string_view("Rec. 2020 HLG")), ColorTag::hlg);

    Json defaults = toJson(ColorSettings{});
    EXPECT_EQ(defaults, json::parse(R"x({"enabled": false, "tag": "Rec. 709 (SDR)"})x"));
    EXPECT_EQ(json::decode<ColorSettings>(defaults, "color"), ColorSettings{});
    EXPECT_THROW(json::decode<ColorSettings>(json::parse(R"({"enabled": false})"), "color"), JsonDecodeError);
    EXPECT_THROW(json::decode<ColorSettings>(json::parse(R"x({"enabled": 1, "tag": "Rec. 709 (SDR)"})x"), "color"),
                 JsonDecodeError);
    EXPECT_THROW(json::decode<ColorSettings>(json::parse(R"({"enabled": true, "tag": "HDR"})"), "color"),
                 JsonDecodeError);
}

TEST(MetadataSettings, MovieAndItems) {
    MetadataSettings settings;
    settings.title = "Title";
    settings.writeTimecodeTrack = true;
    EXPECT_FALSE(settings.movie());  // master switch off

    settings = MetadataSettings{};
    settings.enabled = settings.writeTimecodeTrack = true;
    settings.timecodeFrameRate = 25;
    auto movie = settings.movie();
    ASSERT_TRUE(movie);
    EXPECT_FALSE(movie->hasContainerMetadata());
    EXPECT_TRUE(movie->metadataItems().empty());
    EXPECT_EQ(movie->startTimecode, "00:00:00:00");
    EXPECT_EQ(movie->timecodeFrameRate, 25);
    EXPECT_EQ(movie->title, "");  // copied as it stands

    settings.writeTimecodeTrack = false;
    settings.comment = "note";
    movie = settings.movie();
    EXPECT_FALSE(movie->startTimecode);
    EXPECT_TRUE(movie->hasContainerMetadata());
    auto items = movie->metadataItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].keySpace, MovieMetadata::KeySpace::quickTimeUserData);
    EXPECT_EQ(tagName(items[0].key), "comment");

    settings.title = " ";
    settings.artist = "A";
    settings.copyright = "© 2026";
    settings.descriptionText = "D";
    items = settings.movie()->metadataItems();
    using K = MovieMetadata::Key;
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0], (MovieMetadata::Item{MovieMetadata::KeySpace::common, K::title, " "}));
    EXPECT_EQ(items[1].key, K::artist);
    EXPECT_EQ(items[2].key, K::description);
    EXPECT_EQ(items[3].key, K::copyrights);
    EXPECT_EQ(items[3].value, "© 2026");
    EXPECT_EQ(items[4].key, K::comment);
}

TEST(TimecodeTrack, FormatAndSample) {
    for (const auto& [rate, quanta] :
         {std::pair{29.97, 30u}, {23.976, 24u}, {24.5, 25u}, {0.4, 1u}, {0.0, 30u}, {-5.0, 30u}, {std::nan(""), 30u}})
        EXPECT_EQ(TimecodeTrack::formatDescription(rate)->frameQuanta, quanta) << rate;
    EXPECT_FALSE(TimecodeTrack::formatDescription(1e12));
    auto format = *TimecodeTrack::formatDescription(29.97);
    EXPECT_EQ(format.frameDuration, MediaTime(1, 30));
    EXPECT_EQ(format.flags, 0u);

    auto sample = TimecodeTrack::sampleBuffer(90000, MediaTime::fromSeconds(2.5), format);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->payload, (std::array<std::uint8_t, 4>{0x00, 0x01, 0x5F, 0x90}));
    EXPECT_EQ(sample->duration, MediaTime(1500, 600));
    EXPECT_EQ(sample->presentationTime.seconds(), 0);
    EXPECT_EQ(TimecodeTrack::sampleBuffer(-1, MediaTime::zero(), format)->payload,
              (std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(TimecodeTrack::sampleBuffer(std::int64_t{1} << 31, MediaTime::zero(), format));
}

constexpr const char* kSubRip =
    "1\n00:00:01,000 --> 00:00:02,500\nHello, there\nworld\n\n"
    "2\n00:00:03,000 --> 00:00:04,000\nSecond\n";
constexpr const char* kWebVTT =
    "WEBVTT\n\n00:00:01.000 --> 00:00:02.500\nHello, there\nworld\n\n"
    "00:00:03.000 --> 00:00:04.000\nSecond\n\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

TEST(CaptionConverter, ConvertsCuesWhateverTheLineEndsByCounterTimingAndTextRules) {
    EXPECT_EQ(CaptionConverter::srtToVTT(""), "WEBVTT\n\n");
    EXPECT_EQ(CaptionConverter::srtToVTT(kSubRip), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT(replaced(kSubRip, "\n", "\r\n")), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT(replaced(kSubRip, "\n", "\r")), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT("\xEF\xBB\xBF" + std::string(kSubRip)), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT("\n\n" + replaced(kSubRip, "\n\n", "\n\n\n\n")), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT("\xEF\xBB\xBF" + replaced(kSubRip, "\n\n", "\r\n\r\n\r\n")), kWebVTT);

    auto convert = [](const std::string& block) { return CaptionConverter::srtToVTT(block); };
    const std::string timing = "00:00:01,000 --> 00:00:02,000\n";
    const std::string expected = "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nText\n\n";
    EXPECT_EQ(convert("12\n" + timing + "Text"), expected);
    EXPECT_EQ(convert(" 12 \n" + timing + "Text"), expected);
    EXPECT_EQ(convert("+12\n" + timing + "Text"), expected);
    EXPECT_EQ(convert("-3\n" + timing + "Text"), expected);
    EXPECT_EQ(convert(timing + "Text"), expected);  // no counter at all
    // Not a counter (beyond 64 bits too), no text, no timing: nothing converts.
    for (const std::string& block :
         {"12a\n" + timing + "Text", "+-12\n" + timing + "Text", "99999999999999999999\n" + timing + "Text",
          "1\n" + timing, "1\n" + timing + "   \n\t", std::string("1\n")})
        EXPECT_EQ(convert(block), "WEBVTT\n\n") << block;
    EXPECT_EQ(convert("1\n" + timing + "  Text  \n   "), expected);  // trailing space-only line removed
    // A line of spaces or tabs separates cues like an empty one.
    EXPECT_EQ(convert("1\n" + timing + "a\n \t \n2\n" + timing + "b"),
              "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\na\n\n00:00:01.000 --> 00:00:02.000\nb\n\n");
    // A malformed block is dropped; the next still converts.
    EXPECT_EQ(convert("1\nnot a timing\nText\n\n2\n" + timing + "Text\n"), expected);
}

}  // namespace
}  // namespace fw

#include "model/MovieMetadata.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fw {
namespace {

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
    for (const auto& [rate, quanta] : {std::pair{29.97, 30u}, {23.976, 24u}, {24.5, 25u}, {0.4, 1u}, {0.0, 30u},
                                       {-5.0, 30u}, {std::nan(""), 30u}})
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
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

TEST(CaptionConverter, ConvertsCuesWhateverTheLineEnds) {
    EXPECT_EQ(CaptionConverter::srtToVTT(""), "WEBVTT\n\n");
    EXPECT_EQ(CaptionConverter::srtToVTT(kSubRip), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT(replaced(kSubRip, "\n", "\r\n")), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT(replaced(kSubRip, "\n", "\r")), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT("\xEF\xBB\xBF" + std::string(kSubRip)), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT("\n\n" + replaced(kSubRip, "\n\n", "\n\n\n\n")), kWebVTT);
    EXPECT_EQ(CaptionConverter::srtToVTT("\xEF\xBB\xBF" + replaced(kSubRip, "\n\n", "\r\n\r\n\r\n")), kWebVTT);
}

TEST(CaptionConverter, CounterTimingAndTextRules) {
    auto convert = [](const std::string& block) { return CaptionConverter::srtToVTT(block); };
    const std::string timing = "00:00:01,000 --> 00:00:02,000\n";
    const std::string expected = "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nText\n\n";
    EXPECT_EQ(convert("12\n" + timing + "Text"), expected);
    EXPECT_EQ(convert(" 12 \n" + timing + "Text"), expected);
    EXPECT_EQ(convert("+12\n" + timing + "Text"), expected);
    EXPECT_EQ(convert("-3\n" + timing + "Text"), expected);
    EXPECT_EQ(convert(timing + "Text"), expected);  // no counter at all
    // Not a counter (beyond 64 bits too), no text, no timing: nothing converts.
    for (const std::string& block : {"12a\n" + timing + "Text", "+-12\n" + timing + "Text",
                                     "99999999999999999999\n" + timing + "Text", "1\n" + timing,
                                     "1\n" + timing + "   \n\t", std::string("1\n")})
        EXPECT_EQ(convert(block), "WEBVTT\n\n") << block;
    EXPECT_EQ(convert("1\n" + timing + "  Text  \n   "), expected);  // trailing space-only line removed
    EXPECT_EQ(convert("1\n" + timing + "a\n \nb"),
              "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\na\n \nb\n\n");  // inner one stays
    // A malformed block is dropped; the next still converts.
    EXPECT_EQ(convert("1\nnot a timing\nText\n\n2\n" + timing + "Text\n"), expected);
}

}  // namespace
}  // namespace fw

#include "pipeline/Filters.h"
#include "pipeline/Timecode.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace fw {
namespace {

std::string cubeText(int size, int dataLines, const std::string& extra = "", const std::string& separator = " ") {
    std::string text = "TITLE \"test\"\n" + extra + "LUT_3D_SIZE " + std::to_string(size) + "\n";
    for (int i = 0; i < dataLines; ++i) text += "0.5" + separator + std::to_string(i % 2) + separator + "0.25\n";
    return text;
}

CubeLUT::ParseError parseError(const std::string& text) {
    try {
        CubeLUT::parse(text);
    } catch (const CubeLUT::ParseError& error) {
        return error;
    }
    ADD_FAILURE() << "parsed without error";
    return CubeLUT::ParseError::missingSize();
}

TEST(CubeLUT, ReadsTableInFileOrderWithItsSizeAndCount) {
    CubeLUT lut = CubeLUT::parse(cubeText(2, 8));
    EXPECT_EQ(lut.dimension, 2);
    ASSERT_EQ(lut.data.size(), 32u);  // 128 bytes
    EXPECT_EQ(std::vector<float>(lut.data.begin(), lut.data.begin() + 8),
              (std::vector<float>{0.5f, 0, 0.25f, 1, 0.5f, 1, 0.25f, 1}));  // alpha 1 appended
    EXPECT_EQ(lut.domainMin, (std::array<float, 3>{0, 0, 0}));
    EXPECT_EQ(lut.domainMax, (std::array<float, 3>{1, 1, 1}));
    EXPECT_EQ(lut, CubeLUT::parse(cubeText(2, 8)));
    EXPECT_EQ(lut, CubeLUT::parse(cubeText(2, 8, "", "\t"))) << "tab-separated data lines";
    EXPECT_EQ(parseError(cubeText(2, 7)), CubeLUT::ParseError::sampleCountMismatch(32, 28));
    EXPECT_EQ(parseError(cubeText(2, 9)), CubeLUT::ParseError::sampleCountMismatch(32, 36));
    // A size whose count cannot be formed in 64 bits never matches.
    auto huge = parseError("LUT_3D_SIZE 9000000000\n0 0 0\n");
    EXPECT_EQ(huge.kind(), CubeLUT::ParseError::Kind::sampleCountMismatch);
    EXPECT_EQ(huge.found(), 4);
    std::string body;
    for (int i = 0; i < 8; ++i) body += "0 0 0\n";
    EXPECT_EQ(CubeLUT::parse("lut_3d_size 2\n" + body).dimension, 2);
    EXPECT_EQ(parseError("LUT_3D_SIZE 17.0\n" + body), CubeLUT::ParseError::missingSize());
    EXPECT_EQ(CubeLUT::parse("LUT_3D_SIZE 17.0\nLUT_3D_SIZE 2\n" + body).dimension, 2);
    EXPECT_EQ(parseError("LUT_3D_SIZE 1\n0 0 0\n"), CubeLUT::ParseError::missingSize());
    EXPECT_EQ(parseError(body), CubeLUT::ParseError::missingSize());
    EXPECT_EQ(parseError(cubeText(2, 8) + "LUT_1D_SIZE 4\n"), CubeLUT::ParseError::unsupported1D());
}

TEST(CubeLUT, SkipsKeywordsAndOddLinesAndHonoursTheDomain) {
    std::string text =
        "# comment\r\n\r\nLUT_3D_SIZE 2\r\nLUT_3D_INPUT_RANGE 0 1\r\nLUT_1D_INPUT_RANGE 0 1\r\n"
        "0 0\r\n0 0 0 0\r\nnot numbers here\r\n";
    for (int i = 0; i < 7; ++i) text += "  0.1 0.2 0.3  \r\n";
    text += "0.1 0.2 0.3 # trailing words\r\n";
    CubeLUT lut = CubeLUT::parse(text);
    EXPECT_EQ(lut.dimension, 2);
    EXPECT_FLOAT_EQ(lut.data[28], 0.1f);
    // Other line breaks: bare CR, form feed, U+2028.
    EXPECT_EQ(CubeLUT::parse("LUT_3D_SIZE 2\r0 0 0\f0 0 0\xE2\x80\xA8"
                             "0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0")
                  .dimension,
              2);
    CubeLUT domained = CubeLUT::parse(cubeText(2, 8, "DOMAIN_MIN 0 -0.5 0.1\nDOMAIN_MAX 2 1.5\t1\n"));
    EXPECT_EQ(domained.domainMin, (std::array<float, 3>{0.0f, -0.5f, 0.1f}));
    EXPECT_EQ(domained.domainMax, (std::array<float, 3>{2.0f, 1.5f, 1.0f}));
    EXPECT_NE(domained, CubeLUT::parse(cubeText(2, 8)));
    CubeLUT ranged = CubeLUT::parse(cubeText(2, 8, "LUT_3D_INPUT_RANGE -0.25 1.25\n"));
    EXPECT_EQ(ranged.domainMin, (std::array<float, 3>{-0.25f, -0.25f, -0.25f}));
    EXPECT_EQ(ranged.domainMax, (std::array<float, 3>{1.25f, 1.25f, 1.25f}));
    // An unusable domain is skipped, not an error.
    EXPECT_EQ(CubeLUT::parse(cubeText(2, 8, "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\n")), CubeLUT::parse(cubeText(2, 8)));
}

TEST(CubeLUT, NumbersIgnoreTheProcessLocale) {
    // A decimal-comma locale must not change how "0.5" reads.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    CubeLUT lut = CubeLUT::parse(cubeText(2, 8));
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_FLOAT_EQ(lut.data[0], 0.5f);
    if (!switched) GTEST_SKIP() << "no decimal-comma locale installed";
}

TEST(Timecode, StringFromSecondsAndFramesFromText) {
    const double inf = std::numeric_limits<double>::infinity();
    // 0.999 s at 59.94: frames capped at fps − 1.
    const std::tuple<double, double, std::string> strings[] = {
        {3725.5, 25, "01:02:05:12"},       {3725.5, 29.97, "01:02:05:14"}, {3725.5, 0, "01:02:05:15"},
        {360000, 25, "100:00:00:00"},      {-1, 25, "00:00:00:00"},        {inf, 25, "00:00:00:00"},
        {std::nan(""), 25, "00:00:00:00"}, {0.999, 59.94, "00:00:00:59"},  {1.5, inf, "00:00:01:15"}};
    for (const auto& [seconds, rate, text] : strings) EXPECT_EQ(Timecode::string(seconds, rate), text) << seconds;
    EXPECT_EQ(Timecode::string(1e30, 25).rfind("5000000000000000:", 0), 0u);  // clamped, no overflow
    const std::optional<std::int64_t> none;
    const std::tuple<std::string, double, std::optional<std::int64_t>> frames[] = {
        {"01:00:00:00", 25, 90000},  {"00:00:01:40", 25, 49},   {"00:90:00:00", 25, 135000},
        {"01::00:00:00", 25, 90000}, {"00:00:01:00", 0, 30},    {"00:00:01:00", 29.97, 30},
        {"00:00:00", 25, none},      {"00:-1:00:00", 25, none}, {"00:0x:00:00", 25, none},
        {"00: 1:00:00", 25, none}};
    for (const auto& [text, rate, count] : frames) EXPECT_EQ(Timecode::frames(text, rate), count) << text;
    EXPECT_FALSE(Timecode::frames("9223372036854775807:00:00:00", 25));
}

TEST(FilterSettings, PreparedCopiesOnlyEnabledFilters) {
    FilterSettings settings;
    EXPECT_FALSE(settings.prepared().isActive());
    settings.lut = CubeLUT::parse(cubeText(2, 8));
    settings.watermark = media::PixelBuffer::create(4, 4, media::PixelFormat::bgra8);
    settings.watermarkOpacity = 0.3;
    settings.timecodePosition = FilterCorner::center;
    PreparedFilters prepared = settings.prepared();
    EXPECT_FALSE(prepared.isActive());
    EXPECT_DOUBLE_EQ(prepared.watermarkOpacity, 0.3);
    EXPECT_EQ(prepared.timecodePosition, FilterCorner::center);
    settings.lutEnabled = true;
    EXPECT_TRUE(settings.prepared().cube.has_value());
    settings.lutEnabled = false;
    settings.watermarkEnabled = true;
    EXPECT_EQ(settings.prepared().watermark->image, settings.watermark);
    settings.watermarkEnabled = false;
    settings.burnTimecode = true;
    EXPECT_TRUE(settings.prepared().isActive());
}

}  // namespace
}  // namespace fw

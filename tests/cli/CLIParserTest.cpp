#include "cli/CLIParser.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fw {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> commandLine(std::vector<std::string> words) {
    words.insert(words.begin(), "/usr/bin/framewright");
    return words;
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

// ---- Rejected command lines: each row names the first error the walk meets.

struct Rejected {
    const char* name;
    std::vector<std::string> words;  // after the program path
    std::string message;
};

void PrintTo(const Rejected& row, std::ostream* out) { *out << row.name; }

class RejectedCommandLine : public testing::TestWithParam<Rejected> {};

TEST_P(RejectedCommandLine, FailsWithTheMessage) {
    const auto& row = GetParam();
    auto result = CLIParser::parse(commandLine(row.words));
    ASSERT_TRUE(std::holds_alternative<CLIError>(result));
    EXPECT_EQ(std::get<CLIError>(result).message, row.message);
}

const std::string kSize = "--size expects WxH, e.g. 1920x1080";
const std::string kCrush = "--crush expects a number 0.0\u20131.0";

INSTANTIATE_TEST_SUITE_P(
    CLIParser, RejectedCommandLine,
    testing::Values(
        Rejected{"NothingButEncode", {"--encode"}, "no input files given"},
        Rejected{"OnlyFlags", {"--encode", "--alpha", "--ten-bit", "--codec", "hevc"}, "no input files given"},
        Rejected{"InputLast", {"--encode", "a.mov", "--input"}, "--input needs a path"},
        Rejected{"CodecLast", {"a.mov", "--codec"}, "--codec needs a value"},
        Rejected{"OutputLast", {"a.mov", "--output"}, "--output needs a directory"},
        Rejected{"SizeLast", {"a.mov", "--size"}, kSize},
        Rejected{"CrushLast", {"a.mov", "--crush"}, kCrush},
        Rejected{"UnnamedCodecDpx", {"a.mov", "--codec", "dpx"}, "unknown codec \u2018dpx\u2019"},
        Rejected{"UnnamedCodecExr", {"a.mov", "--codec", "exr"}, "unknown codec \u2018exr\u2019"},
        Rejected{"UnnamedCodecNotch", {"a.mov", "--codec", "NotchLC"}, "unknown codec \u2018NotchLC\u2019"},
        Rejected{"CodecNameKeepsItsCase", {"a.mov", "--codec", "ProRes422"}, "unknown codec \u2018ProRes422\u2019"},
        Rejected{"LaterBadCodecWins", {"a.mov", "--codec", "hevc", "--codec", "vp9"}, "unknown codec \u2018vp9\u2019"},
        Rejected{"CodecTakesAnOptionAsName", {"a.mov", "--codec", "--alpha"}, "unknown codec \u2018--alpha\u2019"},
        Rejected{"SizeThreeSides", {"a.mov", "--size", "1920x1080x2"}, kSize},
        Rejected{"SizeZeroSide", {"a.mov", "--size", "0x100"}, kSize},
        Rejected{"SizeNegativeSide", {"a.mov", "--size", "-4x100"}, kSize},
        Rejected{"SizeOneSide", {"a.mov", "--size", "1920"}, kSize},
        Rejected{"SizeNoDigits", {"a.mov", "--size", "wide"}, kSize},
        Rejected{"SizeFraction", {"a.mov", "--size", "19.5x10"}, kSize},
        Rejected{"SizeBlank", {"a.mov", "--size", "1920x 1080"}, kSize},
        Rejected{"SizeOverflow", {"a.mov", "--size", "99999999999999999999x2"}, kSize},
        Rejected{"CrushAboveOne", {"a.mov", "--crush", "1.01"}, kCrush},
        Rejected{"CrushNegative", {"a.mov", "--crush", "-0.1"}, kCrush},
        Rejected{"CrushNan", {"a.mov", "--crush", "nan"}, kCrush},
        Rejected{"CrushInfinite", {"a.mov", "--crush", "inf"}, kCrush},
        Rejected{"CrushWord", {"a.mov", "--crush", "high"}, kCrush},
        Rejected{"CrushDecimalComma", {"a.mov", "--crush", "0,5"}, kCrush},
        Rejected{"OptionInOtherCase", {"a.mov", "--Alpha"}, "unknown option \u2018--Alpha\u2019"},
        Rejected{"UnknownOption", {"a.mov", "--fast"}, "unknown option \u2018--fast\u2019"},
        Rejected{"BareDoubleDash", {"a.mov", "--"}, "unknown option \u2018--\u2019"},
        Rejected{"ErrorStopsTheWalk", {"a.mov", "--fast", "--codec", "vp9"}, "unknown option \u2018--fast\u2019"},
        // The HEVC encoder here carries no alpha layer, so both names reach a
        // codec that cannot be produced; the message names it by display name.
        Rejected{"HevcAlphaNotProducible", {"a.mov", "--codec", "HEVC-Alpha"}, "codec \u2018HEVC + Alpha\u2019 can\u2019t be produced"},
        Rejected{"HevcAlphaOtherSpelling", {"--codec", "hevcalpha", "a.mov"}, "codec \u2018HEVC + Alpha\u2019 can\u2019t be produced"},
        Rejected{"MissingInputsBeforeCodec", {"--codec", "hevcalpha"}, "no input files given"},
        Rejected{"ErrorBeforeMissingInputs", {"--size", "big"}, kSize}),
    [](const testing::TestParamInfo<Rejected>& row) { return std::string(row.param.name); });

TEST(CLIParser, EmptyAndProgramOnlyListsHaveNoInputs) {
    for (const auto& words : {std::vector<std::string>{}, std::vector<std::string>{"/usr/bin/framewright"}}) {
        auto result = CLIParser::parse(words);
        ASSERT_TRUE(std::holds_alternative<CLIError>(result));
        EXPECT_EQ(std::get<CLIError>(result).message, "no input files given");
    }
}

// ---- Codec names: case-insensitive, with the alpha flag set only by the dxv3-alpha names.

struct CodecName {
    const char* name;
    OutputCodec codec;
    bool setsAlpha;
};

void PrintTo(const CodecName& row, std::ostream* out) { *out << row.name; }

class CodecNames : public testing::TestWithParam<CodecName> {};

TEST_P(CodecNames, SelectTheCodec) {
    const auto& row = GetParam();
    auto parsed = options(CLIParser::parse(commandLine({"--encode", "--codec", row.name, "a.mov"})));
    EXPECT_EQ(parsed.codec, row.codec);
    EXPECT_EQ(parsed.alpha, row.setsAlpha);
}

INSTANTIATE_TEST_SUITE_P(
    CLIParser, CodecNames,
    testing::Values(CodecName{"h264", OutputCodec::h264, false}, CodecName{"H.264", OutputCodec::h264, false},
                    CodecName{"AVC", OutputCodec::h264, false}, CodecName{"hevc", OutputCodec::hevc, false},
                    CodecName{"H265", OutputCodec::hevc, false}, CodecName{"h.265", OutputCodec::hevc, false},
                    CodecName{"prores", OutputCodec::proRes, false},
                    CodecName{"ProRes4444", OutputCodec::proRes, false},
                    CodecName{"4444", OutputCodec::proRes, false}, CodecName{"Hap", OutputCodec::hap, false},
                    CodecName{"HAPQ", OutputCodec::hapQ, false}, CodecName{"hap-q", OutputCodec::hapQ, false},
                    CodecName{"dxv", OutputCodec::dxv2, false}, CodecName{"DXV2", OutputCodec::dxv2, false},
                    CodecName{"dxv3", OutputCodec::dxv3, false}, CodecName{"DXV3-Alpha", OutputCodec::dxv3, true},
                    CodecName{"dxv3alpha", OutputCodec::dxv3, true}, CodecName{"GIF", OutputCodec::gif, false},
                    CodecName{"png", OutputCodec::png, false}, CodecName{"jpeg", OutputCodec::jpeg, false},
                    CodecName{"JPG", OutputCodec::jpeg, false}, CodecName{"heic", OutputCodec::heic, false}));

// ---- Accepted command lines: the whole options value is compared.

struct Accepted {
    const char* name;
    std::vector<std::string> words;
    CLIOptions expected;
};

void PrintTo(const Accepted& row, std::ostream* out) { *out << row.name; }

class AcceptedCommandLine : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedCommandLine, GivesTheOptions) {
    const auto& row = GetParam();
    EXPECT_EQ(options(CLIParser::parse(commandLine(row.words))), row.expected);
}

CLIOptions with(std::vector<std::string> inputs, auto change) {
    CLIOptions result;
    for (auto& input : inputs) result.inputs.push_back(here(input));
    change(result);
    return result;
}
auto unchanged = [](CLIOptions&) {};
auto sized = [](std::int64_t width, std::int64_t height) {
    return [=](CLIOptions& o) {
        o.width = width;
        o.height = height;
    };
};
auto crushed = [](double crush) { return [=](CLIOptions& o) { o.crush = crush; }; };

std::vector<Accepted> acceptedRows() {
    return {
        {"Defaults", {"--encode", "a.mov"}, with({"a.mov"}, unchanged)},
        {"EncodeAnywhereAndTwice", {"a.mov", "--encode", "b.mov", "--encode"}, with({"a.mov", "b.mov"}, unchanged)},
        {"InputOptionThenBare", {"--input", "a.mov", "b.mov"}, with({"a.mov", "b.mov"}, unchanged)},
        {"BareThenInputOption", {"a.mov", "--input", "b.mov"}, with({"a.mov", "b.mov"}, unchanged)},
        {"InputTakesAnOptionAsPath", {"--input", "--alpha"}, with({"--alpha"}, unchanged)},
        {"SingleDashIsAPath", {"-v"}, with({"-v"}, unchanged)},
        {"AbsolutePathKept", {"/media/clip one.mov"}, [] {
             CLIOptions o;
             o.inputs = {"/media/clip one.mov"};
             return o;
         }()},
        {"RelativeOutputDirectory",
         {"a.mov", "--output", "out"},
         with({"a.mov"}, [](CLIOptions& o) { o.outputDirectory = here("out"); })},
        {"LaterOutputWins",
         {"a.mov", "--output", "one", "--output", "/tmp/two"},
         with({"a.mov"}, [](CLIOptions& o) { o.outputDirectory = "/tmp/two"; })},
        {"Size", {"a.mov", "--size", "1920x1080"}, with({"a.mov"}, sized(1920, 1080))},
        {"SizeUpperCaseX", {"a.mov", "--size", "1920X1080"}, with({"a.mov"}, sized(1920, 1080))},
        {"SizeLeadingX", {"a.mov", "--size", "x1920x1080"}, with({"a.mov"}, sized(1920, 1080))},
        {"SizeDoubledX", {"a.mov", "--size", "640xx360"}, with({"a.mov"}, sized(640, 360))},
        {"SizeWithPlusSign", {"a.mov", "--size", "+640x360"}, with({"a.mov"}, sized(640, 360))},
        {"LaterSizeWins", {"a.mov", "--size", "8x8", "--size", "3x5"}, with({"a.mov"}, sized(3, 5))},
        {"CrushZero", {"a.mov", "--crush", "0"}, with({"a.mov"}, crushed(0.0))},
        {"CrushOne", {"a.mov", "--crush", "1"}, with({"a.mov"}, crushed(1.0))},
        {"CrushOnePointZero", {"a.mov", "--crush", "1.0"}, with({"a.mov"}, crushed(1.0))},
        {"CrushExponent", {"a.mov", "--crush", "25e-2"}, with({"a.mov"}, crushed(0.25))},
        {"Flags",
         {"a.mov", "--ten-bit", "--alpha", "--dxv-hq"},
         with({"a.mov"},
              [](CLIOptions& o) {
                  o.tenBit = true;
                  o.alpha = true;
                  o.dxvHighQuality = true;
              })},
        {"FlagSpellings",
         {"--10bit", "--hq", "a.mov"},
         with({"a.mov"},
              [](CLIOptions& o) {
                  o.tenBit = true;
                  o.dxvHighQuality = true;
              })},
        {"AlphaFromCodecNameStays",
         {"a.mov", "--codec", "dxv3-alpha", "--codec", "hap"},
         with({"a.mov"},
              [](CLIOptions& o) {
                  o.codec = OutputCodec::hap;
                  o.alpha = true;
              })},
    };
}

INSTANTIATE_TEST_SUITE_P(CLIParser, AcceptedCommandLine, testing::ValuesIn(acceptedRows()),
                         [](const testing::TestParamInfo<Accepted>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace fw

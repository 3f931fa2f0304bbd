// Outputs without alpha show a source's translucent pixels as they look over black, whatever size is asked.

#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Rgb = std::array<int, 3>;

constexpr Rgb kOpaque{51, 102, 153};
constexpr Rgb kBand{24, 97, 254};  // at alpha 128
// The band over black: each colour times 128 / 255.
constexpr Rgb kBandOverBlack{12, 49, 127};

// width × height of kOpaque with rows 80 ... 159 the translucent band, stored losslessly with its alpha.
fs::path bandSource(int width, int height) {
    auto rows = [](int inBand, int outside) {
        return "'if(between(Y\\,80\\,159)\\," + std::to_string(inBand) + "\\," + std::to_string(outside) + ")'";
    };
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string picture =
        "color=c=black:s=" + size + ":r=10:d=1,format=rgba,geq=r=" + rows(kBand[0], kOpaque[0]) +
        ":g=" + rows(kBand[1], kOpaque[1]) + ":b=" + rows(kBand[2], kOpaque[2]) + ":a=" + rows(128, 255);
    return test::generated("band-" + size + ".mov",
                           {"-f", "lavfi", "-i", picture, "-c:v", "qtrle", "-pix_fmt", "argb"});
}

// The colour FFmpeg shows at (x, y) of the first frame.
Rgb shownAt(const fs::path& file, int x, int y) {
    const auto pixel =
        test::decodedFrames(file, "rgb24", 1, "format=rgb24,crop=1:1:" + std::to_string(x) + ":" + std::to_string(y));
    if (pixel.size() != 3) return {-1, -1, -1};
    return {pixel[0], pixel[1], pixel[2]};
}

void expectNear(const Rgb& shown, const Rgb& expected, const std::string& what) {
    // Within the codecs' error (4:2:0 chroma, DXT1 endpoints, the reader's own RGB conversion).
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(shown[c], expected[c], 4) << what << " channel " << c;
}

// The encode of `source` into a fresh folder; the output file, or empty when the encode fails.
fs::path encodeInto(const TempDir& dir, const fs::path& source, const char* codec,
                    const std::vector<std::string>& options) {
    std::vector<std::string> argv{FW_PROGRAM, "--encode", "--codec", codec, "--output", dir.path().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(source.string());
    const auto result = test::runCommand(argv);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    for (const auto& entry : fs::directory_iterator(dir.path())) return entry.path();
    return {};
}

TEST(TranslucentPixels, OutputsWithoutAlphaShowThemOverBlackAtEverySize) {
    struct Row {
        const char* codec;
        int sourceWidth, sourceHeight;
        std::vector<std::string> options;
        int width, height;  // of the output
    };
    std::vector<Row> rows;
    for (const char* codec : {"h264", "prores", "hap"}) {
        rows.push_back({codec, 320, 240, {}, 320, 240});
        rows.push_back({codec, 320, 240, {"--size", "320x240"}, 320, 240});
        rows.push_back({codec, 320, 240, {"--size", "160x120"}, 160, 120});
    }
    // An odd size, which the writer converts to the even frame H.264 needs.
    rows.push_back({"h264", 321, 241, {}, 322, 242});
    for (const Row& row : rows) {
        std::string what = std::string(row.codec) + " from " + std::to_string(row.sourceWidth) + "x" +
                           std::to_string(row.sourceHeight);
        for (const auto& option : row.options) what += " " + option;
        SCOPED_TRACE(what);
        const fs::path source = bandSource(row.sourceWidth, row.sourceHeight);
        ASSERT_FALSE(source.empty());
        TempDir dir;
        const fs::path file = encodeInto(dir, source, row.codec, row.options);
        ASSERT_FALSE(file.empty());
        expectNear(shownAt(file, row.width / 2, row.height / 2), kBandOverBlack, "band");
        expectNear(shownAt(file, row.width / 2, row.height / 12), kOpaque, "opaque rows");
    }
}

}  // namespace
}  // namespace fw

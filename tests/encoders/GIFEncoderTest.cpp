#include "encoders/GIFEncoder.h"

#include "support/Outputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <stop_token>

namespace fw {
namespace {

namespace fs = std::filesystem;

GIFEncoder encoderOf(std::optional<IntSize> target, double frameRate = 12, std::int64_t maxDimension = 480) {
    GIFEncoder encoder;
    encoder.request.target.size = target;
    encoder.frameRate = frameRate;
    encoder.maxDimension = maxDimension;
    return encoder;
}

// Derived sizes keep the shape under the cap, never a side below 2 and never odd (the command-line test has the
// common shapes); settings and sizes from outside are refused with a message before anything is read or allocated.
TEST(GIFEncoder, OutputSizesAndTheirLimits) {
    struct Row {
        GIFEncoder encoder;
        std::int64_t sourceWidth, sourceHeight;
        std::string expected;  // "W×H" or the error's text
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {encoderOf(std::nullopt), 1, 1, "2\u00d72"},
        {encoderOf(std::nullopt), 5000, 2, "480\u00d72"},
        {encoderOf(std::nullopt), 3, 100000, "2\u00d7480"},
        {encoderOf(IntSize{0, 5}), 1920, 1080,
         "Writing failed: the GIF size 0\u00d75 is outside 1\u201332768 pixels a side"},
        {encoderOf(IntSize{-3, 4}), 1920, 1080,
         "Writing failed: the GIF size -3\u00d74 is outside 1\u201332768 pixels a side"},
        {encoderOf(IntSize{std::numeric_limits<std::int64_t>::max(), 2}), 1920, 1080,
         "Writing failed: the GIF size 9223372036854775807\u00d72 is outside 1\u201332768 pixels a side"},
        {encoderOf(IntSize{32768, 32768}), 1920, 1080,
         "Writing failed: the GIF size 32768\u00d732768 is over 67 million pixels"},
        {encoderOf(std::nullopt, 12, 40000), 100000, 100000,
         "Writing failed: the GIF size limit 40000 is outside 2\u201332768 pixels"},
        {encoderOf(std::nullopt, 12, 1), 1920, 1080,
         "Writing failed: the GIF size limit 1 is outside 2\u201332768 pixels"},
    };
    for (const Row& row : rows) {
        std::string got;
        try {
            const IntSize size = row.encoder.outputSize(row.sourceWidth, row.sourceHeight);
            got = std::to_string(size.width) + "\u00d7" + std::to_string(size.height);
        } catch (const EncodingError& error) {
            got = error.what();
        }
        EXPECT_EQ(got, row.expected) << row.sourceWidth << "x" << row.sourceHeight;
    }
    for (double rate : {0.0, -12.0, nan, std::numeric_limits<double>::infinity(), 51.0})
        EXPECT_EQ(test::failureOf([&] { (void)encoderOf(std::nullopt, rate).outputSize(320, 180); }).message,
                  "Writing failed: the GIF frame rate must be above 0 and at most 50 frames a second")
            << rate;
}

// A stop mid-encode leaves the destination as it was and nothing beside it.
TEST(GIFEncoder, CancellingKeepsTheEarlierFileAndLeavesNothingElse) {
    const fs::path source = test::generated(
        "gif-cancel.mov",
        {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=10:duration=3", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    ASSERT_FALSE(source.empty());
    test::TempDir dir;
    const fs::path destination = dir / "clip.gif";
    std::ofstream(destination) << "an earlier GIF";
    std::stop_source stop;
    int progressCalls = 0;
    const auto stopAtThree = [&](double) {
        if (++progressCalls == 3) stop.request_stop();
    };
    EXPECT_EQ(test::failureOf([&] { GIFEncoder{}.encode(source, destination, stopAtThree, stop.get_token()); }).kind,
              EncodingError::Kind::cancelled);
    EXPECT_GE(progressCalls, 3);
    EXPECT_EQ(test::textOf(destination), "an earlier GIF");
    EXPECT_EQ(test::entriesIn(dir.path()), 1);
}

}  // namespace
}  // namespace fw

#include "encoders/GIFEncoder.h"
#include "jobs/PlanExecutor.h"

#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <stop_token>

#include <fcntl.h>
#include <unistd.h>

namespace fw {
namespace {

namespace fs = std::filesystem;

GIFEncoder encoderOf(std::optional<IntSize> target, double frameRate = 12, std::int64_t maxDimension = 480,
                     ResizeMode mode = ResizeMode::aspect) {
    GIFEncoder encoder;
    encoder.request.target.size = target;
    encoder.request.target.mode = mode;
    encoder.frameRate = frameRate;
    encoder.maxDimension = maxDimension;
    return encoder;
}

// Derived sizes keep the shape under the cap, never a side below 2 and never odd (the command-line test has the
// common shapes); a box sizes the GIF as the movie routes size their frames (aspect keeps the source's shape, the other
// modes take the box, odd sides made even upwards); settings and sizes from outside are refused with a message before
// anything is read or allocated.
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
        {encoderOf(IntSize{100, 100}), 400, 300, "100\u00d776"},
        {encoderOf(IntSize{1280, 720}), 300, 300, "720\u00d7720"},
        {encoderOf(IntSize{481, 301}, 12, 480, ResizeMode::fit), 400, 300, "482\u00d7302"},
        {encoderOf(IntSize{100, 100}, 12, 480, ResizeMode::fill), 400, 300, "100\u00d7100"},
        {encoderOf(IntSize{0, 5}), 1920, 1080, "2\u00d72"},
        {encoderOf(IntSize{-3, 4}, 12, 480, ResizeMode::pixelPerfect), 1920, 1080, "2\u00d74"},
        {encoderOf(IntSize{std::numeric_limits<std::int64_t>::max(), 2}), 1920, 1080, "4\u00d72"},
        {encoderOf(IntSize{40000, 40000}), 1920, 1080,
         "Writing failed: the GIF size 40000\u00d722500 is outside 1\u201332768 pixels a side"},
        {encoderOf(IntSize{32768, 32768}), 1920, 1080,
         "Writing failed: the GIF size 32768\u00d718432 is over 67 million pixels"},
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

// A stop mid-encode, or the source rewritten in place near its end (same size, a later time), leaves the
// destination as it was and nothing beside it.
TEST(GIFEncoder, CancellingOrAChangedSourceKeepsTheEarlierFileAndLeavesNothingElse) {
    const fs::path movie = test::generated(
        "gif-cancel.mov",
        {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=10:duration=3", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    ASSERT_FALSE(movie.empty());
    const struct {
        const char* name;
        bool rewrite;
        test::Failure failure;
    } rows[] = {
        {"stopped", false, {EncodingError::Kind::cancelled, "The job was cancelled."}},
        {"rewritten in place",
         true,
         {EncodingError::Kind::readerFailed,
          "Reading failed: The source file \u201cclip.mov\u201d changed while it was being encoded"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const fs::path source = dir / "clip.mov", destination = dir / "clip.gif";
        fs::copy_file(movie, source);
        // Any write now gives the source a time of its own, however coarse the clock.
        fs::last_write_time(source, fs::last_write_time(source) - std::chrono::hours(1));
        std::ofstream(destination) << "an earlier GIF";
        std::stop_source stop;
        int progressCalls = 0;
        // At the third frame taken: more than the reader holds ahead are still to come.
        const auto atThree = [&](double) {
            if (++progressCalls != 3) return;
            if (!row.rewrite) return (void)stop.request_stop();
            const int file = ::open(source.c_str(), O_WRONLY);
            const char bytes[8] = {'c', 'h', 'a', 'n', 'g', 'e', 'd', '!'};
            EXPECT_EQ(::pwrite(file, bytes, sizeof bytes, static_cast<off_t>(fs::file_size(source) - sizeof bytes)),
                      static_cast<ssize_t>(sizeof bytes));
            ::close(file);
        };
        const auto failure =
            test::failureOf([&] { GIFEncoder{}.encode(source, destination, atThree, stop.get_token()); });
        EXPECT_EQ(failure.kind, row.failure.kind);
        EXPECT_EQ(failure.message, row.failure.message);
        EXPECT_GE(progressCalls, 3);
        EXPECT_TRUE(test::textOf(destination) == "an earlier GIF") << "the earlier GIF was written over";
        EXPECT_EQ(test::entriesIn(dir.path()), 2);
    }
}

// The window's route (encodeSource with the output's configuration, the mode the window picked) sizes a GIF as the
// movie routes size their frames: aspect keeps a still's or a movie's shape inside the box, fit pads it into the box,
// and neither stretches the picture.
TEST(GIFEncoder, TheWindowsRouteKeepsThePicturesShape) {
    test::TempDir dir;
    const fs::path photo =
        test::generated("gif-photo.png", {"-f", "lavfi", "-i", "testsrc2=size=400x300", "-frames:v", "1"});
    const fs::path square =
        test::generated("gif-square.png", {"-f", "lavfi", "-i", "testsrc2=size=300x300", "-frames:v", "1"});
    const fs::path movie = test::generated(
        "gif-wide.mov",
        {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=10:duration=0.5", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    struct Row {
        fs::path source;
        ResizeSettings resize;
        int width, height;
        std::string shown;  // FFmpeg's filter giving the picture the GIF should show
    };
    const Row rows[] = {
        {photo, {true, 100, 100, ResizeMode::aspect}, 100, 76, "scale=100:76:flags=bilinear"},
        {square, {true, 1280, 720, ResizeMode::aspect}, 720, 720, "scale=720:720:flags=bilinear"},
        {movie, {true, 100, 100, ResizeMode::aspect}, 100, 56, "scale=100:56:flags=bilinear"},
        {photo, {true, 100, 100, ResizeMode::fit}, 100, 100, "scale=100:75:flags=bilinear,pad=100:100:0:13:black"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source.filename().string() + " " + std::string(rawValue(row.resize.mode)));
        ExportConfiguration configuration;
        configuration.codec = OutputCodec::gif;
        configuration.resize = row.resize;
        const fs::path gif = dir / "out.gif";
        encodeSource(row.source, gif, configuration, SourceEncodeOptions{}, {}, {});
        const test::Json video = test::streamOf(test::probe(gif), "video");
        EXPECT_EQ(std::pair(video.value("width", 0), video.value("height", 0)), std::pair(row.width, row.height));
        const auto written = test::decodedFrames(gif, "gray");
        const auto shown = test::decodedFrames(row.source, "gray", 1, row.shown);
        ASSERT_EQ(written.size(), std::size_t(row.width) * row.height);
        ASSERT_EQ(shown.size(), written.size());
        double difference = 0;
        for (std::size_t i = 0; i < written.size(); ++i) difference += std::abs(int(written[i]) - int(shown[i]));
        // Measured about 1 on this pattern; the fit row stretched over its box instead of padded is far over.
        EXPECT_LT(difference / double(written.size()), 8.0);
        fs::remove(gif);
    }
}

}  // namespace
}  // namespace fw

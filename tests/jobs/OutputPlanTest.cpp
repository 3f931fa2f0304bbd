// Plans of real small sources: what one probe finds and what the plan makes
// of it (route, sequence or single picture, sound alone, sidecar, name), and
// the progress of a job of several outputs.

#include "jobs/OutputPlan.h"
#include "model/EncodingError.h"
#include "model/ProgressEstimate.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fw {
namespace {

namespace fs = std::filesystem;
using Kind = jobs::SourceProbe::Kind;

std::string routeName(const EncodeRoute& route) {
    constexpr const char* names[] = {"gif", "image", "hap", "dxv", "hap still", "dxv still", "still movie", "movie"};
    return names[route.encoder.index()];
}

TEST(OutputPlan, OneProbeDecidesRouteNameAndSidecar) {
    test::TempDir dir;
    const fs::path movie = test::generated(
        "plan-movie.mov", {"-f", "lavfi", "-i", "testsrc=size=63x47:rate=10:duration=0.3", "-c:v", "png", "-an"});
    const fs::path still =
        test::generated("plan-still.png", {"-f", "lavfi", "-i", "testsrc=size=40x30", "-frames:v", "1"});
    const fs::path sound = test::generated("plan-sound.wav", {"-f", "lavfi", "-i", "sine=duration=0.3"});
    // A picture with a movie's name is told by its content, for the route and the name alike.
    fs::copy_file(still, dir / "poster.mov");
    struct Row {
        fs::path source;
        OutputCodec codec;
        SourceEncodeOptions::Images images;
        Kind kind;
        std::string route;
        std::string name;  // the file or folder name planned
        bool sidecar;
    };
    using Images = SourceEncodeOptions::Images;
    const Row rows[] = {
        {movie, OutputCodec::h264, Images::single, Kind::media, "movie", "plan-movie 64x48.mp4", true},
        {movie, OutputCodec::proRes, Images::single, Kind::media, "movie", "plan-movie 63x47.mov", true},
        {movie, OutputCodec::hap, Images::single, Kind::media, "hap", "plan-movie 63x47.mov", true},
        {movie, OutputCodec::dxv2, Images::single, Kind::media, "dxv", "plan-movie 63x47.mov", true},
        {movie, OutputCodec::dxv3, Images::single, Kind::media, "dxv", "plan-movie 63x47.mov", true},
        {still, OutputCodec::dxv3, Images::single, Kind::unopened, "dxv still", "plan-still 0x0.mov", false},
        {movie, OutputCodec::png, Images::sequence, Kind::unopened, "image", "plan-movie_PNG", false},
        {movie, OutputCodec::gif, Images::sequence, Kind::unopened, "gif", "plan-movie 0x0.gif", false},
        {still, OutputCodec::png, Images::sequence, Kind::unopened, "image", "plan-still 0x0.png", false},
        {still, OutputCodec::proRes, Images::single, Kind::unopened, "still movie", "plan-still 0x0.mov", false},
        {dir / "poster.mov", OutputCodec::png, Images::sequence, Kind::unopened, "image", "poster 0x0.png", false},
        {dir / "poster.mov", OutputCodec::hapQ, Images::single, Kind::unopened, "hap still", "poster 0x0.mov", false},
        {sound, OutputCodec::h264, Images::single, Kind::soundOnly, "gif", "plan-sound 0x0.m4a", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source.filename().string() + " to " + std::string(rawValue(row.codec)));
        ExportConfiguration settings;
        settings.codec = row.codec;
        settings.naming.templateText = "{name} {width}x{height}";
        SourceEncodeOptions options;
        options.images = row.images;
        options.withoutPictures = SourceEncodeOptions::WithoutPictures::soundOnly;
        jobs::SourceProbe probe = jobs::probeSource(row.source, settings);
        EXPECT_EQ(probe.kind, row.kind);
        const jobs::OutputPlan plan = jobs::planOutput(std::move(probe), settings, options, {dir.path(), {}});
        if (!plan.soundOnly) {
            EXPECT_EQ(routeName(plan.route), row.route);
        }
        EXPECT_EQ(plan.destination, dir / row.name);
        EXPECT_EQ(plan.sidecar, row.sidecar);
        EXPECT_EQ(plan.options.images == Images::sequence, plan.sequence);
    }

    // The command line allows no sound-only output; a folder is no source.
    ExportConfiguration h264;
    h264.codec = OutputCodec::h264;
    try {
        jobs::planOutput(jobs::probeSource(sound, h264), h264, {}, {});
        ADD_FAILURE() << "sound planned as a movie";
    } catch (const EncodingError& error) {
        EXPECT_EQ(error.kind(), EncodingError::Kind::noVideoTrack);
    }
    EXPECT_THROW(jobs::probeSource(dir.path(), h264), EncodingError);
}

// Out-of-range numbers are bounded by the plan, whoever asks.
TEST(OutputPlan, SettingsAreBoundedBeforeTheRoute) {
    const fs::path wide = test::generated(
        "plan-wide.mov", {"-f", "lavfi", "-i", "testsrc=size=640x4:rate=10:duration=0.2", "-c:v", "png", "-an"});
    struct Row {
        std::int64_t width, height;
        IntSize written;
    };
    const Row rows[] = {
        {100000, 100000, {16384, 102}},
        {std::numeric_limits<std::int64_t>::max(), 4, {640, 4}},
        {1, 1, {2, 2}},
        {-7, 0, {2, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        ExportConfiguration settings;
        settings.codec = OutputCodec::proRes;
        settings.resize = {true, row.width, row.height, ResizeMode::aspect};
        const auto plan = jobs::planOutput(jobs::probeSource(wide, settings), settings, {}, {});
        EXPECT_EQ(plan.writtenSize(), row.written);
        EXPECT_EQ(plan.configuration.resize.width, std::clamp<std::int64_t>(row.width, 2, 16384));
    }
}

// The resize rule as a run applies it, through the plan of each movie route:
// an odd side is made even upwards, and the name carries the size written.
TEST(OutputPlan, ResizedSidesAreRoundedThenMadeEvenUpwards) {
    struct Row {
        IntSize source;
        ResizeSettings resize;
        IntSize written;
    };
    using enum ResizeMode;
    const Row rows[] = {
        {{1920, 1080}, {false, 1, 1, fit}, {1920, 1080}},
        {{1921, 1081}, {false, 1, 1, fit}, {1921, 1081}},  // resize off keeps odd sides where the codec does
        {{0, 0}, {false, 1, 1, fit}, {2, 2}},
        {{640, 480}, {true, 1281, 719, fit}, {1282, 720}},
        {{3840, 2160}, {true, 1920, 1080, aspect}, {1920, 1080}},
        {{1080, 1920}, {true, 1920, 1080, aspect}, {608, 1080}},
        {{4096, 2160}, {true, 1920, 1080, aspect}, {1920, 1014}},
        {{1920, 1080}, {true, 854, 480, aspect}, {854, 480}},
        {{640, 480}, {true, 0, 0, fit}, {2, 2}},
        {{640, 480}, {true, 0, 0, aspect}, {2, 2}},
        {{640, 480}, {true, 1280, 720, pixelPerfect}, {1280, 720}},
        {{320, 240}, {true, 100, 75, aspect}, {100, 76}},
        {{320, 240}, {true, 321, 241, aspect}, {322, 242}},
        {{320, 240}, {true, 321, 241, fill}, {322, 242}},
    };
    for (const OutputCodec codec : {OutputCodec::proRes, OutputCodec::h264, OutputCodec::hap, OutputCodec::dxv2}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(rawValue(codec)) + " " + std::to_string(row.source.width) + "x" +
                         std::to_string(row.source.height) + " to " + std::to_string(row.resize.width) + "x" +
                         std::to_string(row.resize.height) + " " + std::string(rawValue(row.resize.mode)));
            ExportConfiguration settings;
            settings.codec = codec;
            settings.resize = row.resize;
            settings.naming.templateText = "{width}x{height}";
            const auto plan =
                jobs::planOutput(jobs::SourceProbe::sized("/media/clip.mov", row.source), settings, {}, {});
            // H.264 stores 4:2:0, so its writer takes even sides also when nothing is resized.
            const IntSize written = codec == OutputCodec::h264 ? IntSize{OutputSizing::even(row.written.width),
                                                                         OutputSizing::even(row.written.height)}
                                                               : row.written;
            EXPECT_EQ(plan.writtenSize(), written);
            EXPECT_EQ(plan.destination.stem().string(),
                      std::to_string(written.width) + "x" + std::to_string(written.height));
        }
    }
}

TEST(OutputPlan, ProgressOfAJobAndOfOneEncode) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct JobRow {
        std::size_t index, count;
        double fraction, expected;
    };
    for (const JobRow& row : {JobRow{0, 1, 0.5, 0.5}, JobRow{1, 2, 0.5, 0.75}, JobRow{1, 2, -3, 0.5},
                              JobRow{1, 2, 7, 1}, JobRow{0, 2, nan, 0}, JobRow{0, 0, 0.5, 0}})
        EXPECT_DOUBLE_EQ(jobs::jobProgress(row.index, row.count, row.fraction), row.expected)
            << row.index << "/" << row.count << " at " << row.fraction;
    struct EncodeRow {
        double seconds, start, duration;
        std::optional<double> expected;
    };
    for (const EncodeRow& row :
         {EncodeRow{5, 0, 10, 0.5}, EncodeRow{12, 10, 4, 0.5}, EncodeRow{3, 10, 4, 0.0}, EncodeRow{30, 10, 4, 1.0},
          EncodeRow{5, 0, 0, std::nullopt}, EncodeRow{nan, 0, 10, std::nullopt}, EncodeRow{5, 0, nan, std::nullopt}})
        EXPECT_EQ(ProgressEstimate::reached(row.seconds, row.start, row.duration), row.expected)
            << row.seconds << " of " << row.start << "+" << row.duration;
}

}  // namespace
}  // namespace fw

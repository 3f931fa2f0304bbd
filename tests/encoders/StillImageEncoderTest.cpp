// The still-image movie encoder through its own interface: what the command line cannot ask for (ProRes variants,
// lengths and rates) and what must be refused before anything is written.

#include "encoders/StillImageEncoder.h"
#include "model/EncodingError.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

// 64 × 32, colour bands and alpha rising from left to right.
fs::path translucentPicture() {
    return test::generated(
        "translucent.png",
        {"-f", "lavfi", "-i", "nullsrc=s=64x32,format=rgba,geq=r='4*X':g='8*Y':b='128':a='64+2*X'", "-frames:v", "1"});
}

StillMovieRequest request(OutputCodec codec, double seconds, int frameRate, ProResVariant variant = ProResVariant::hq) {
    StillMovieRequest request;
    request.codec = codec;
    request.proResVariant = variant;
    request.clip.durationSeconds = seconds;
    request.clip.frameRate = frameRate;
    return request;
}

// N = max(whole part of length × rate, 1) frames at the clip's rate, in every ProRes variant; progress ends with 1.0.
TEST(StillImageEncoder, LengthAndRateGiveTheFramesInEveryVariant) {
    struct Row {
        StillMovieRequest request;
        const char* video;  // profile, frames, rate, duration
    };
    const Row rows[] = {
        {request(OutputCodec::proRes, 2.5, 24, ProResVariant::proxy), "Proxy 60 24/1 2.500000"},
        {request(OutputCodec::proRes, 1.99, 10, ProResVariant::lt), "LT 19 10/1 1.900000"},
        {request(OutputCodec::proRes, 0.01, 30, ProResVariant::standard), "Standard 1 30/1 0.033333"},
        {request(OutputCodec::proRes, -3, 60, ProResVariant::fourByFour), "4444 1 60/1 0.016667"},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.video);
        std::vector<double> progress;
        StillImageEncoder(row.request)
            .encode(translucentPicture(), dir / "clip.mov", [&](double fraction) { progress.push_back(fraction); }, {});
        EXPECT_EQ(test::fieldsOf(test::streamOf(test::probe(dir / "clip.mov", {"-count_frames"}), "video"),
                                 {"profile", "nb_read_frames", "r_frame_rate", "duration"}),
                  row.video);
        ASSERT_FALSE(progress.empty());
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    }
}

// Refused requests and failures leave an earlier file at the destination as it was and nothing else behind.
TEST(StillImageEncoder, FailuresLeaveTheDestinationAsItWas) {
    test::TempDir dir;
    std::ofstream(dir / "notes.png") << "not a picture";
    std::ofstream(dir / "clip.mov") << "earlier output";
    struct Row {
        StillMovieRequest request;
        fs::path source;
        std::string message;
        bool stop = false;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        {request(OutputCodec::proRes, 5, 0), translucentPicture(),
         "Writing failed: a still image clip needs a frame rate above 0, not 0"},
        {request(OutputCodec::h264, 5, -30), translucentPicture(),
         "Writing failed: a still image clip needs a frame rate above 0, not -30"},
        {request(OutputCodec::hevc, std::nan(""), 30), translucentPicture(),
         "Writing failed: a still image clip of nan s cannot be written"},
        {request(OutputCodec::hevc, -infinity, 30), translucentPicture(),
         "Writing failed: a still image clip of -inf s cannot be written"},
        {request(OutputCodec::proRes, 1e12, 30), translucentPicture(),
         "Writing failed: a still image clip of 1000000000000.00 s cannot be written"},
        {request(OutputCodec::proRes, 5, 30), dir / "notes.png", "Could not read the image \u201cnotes.png\u201d"},
        {request(OutputCodec::hevcAlpha, 5, 30), translucentPicture(), "HEVC"},
        {request(OutputCodec::h264, 60, 30), translucentPicture(), "The job was cancelled.", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        std::stop_source stop;
        if (row.stop) stop.request_stop();
        try {
            StillImageEncoder(row.request).encode(row.source, dir / "clip.mov", {}, {}, stop.get_token());
            ADD_FAILURE() << "no error";
        } catch (const EncodingError& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(row.message)) << error.what();
        }
        EXPECT_EQ(test::readFile(dir / "clip.mov").size(), 14u);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "nothing staged";
    }
}

}  // namespace
}  // namespace fw

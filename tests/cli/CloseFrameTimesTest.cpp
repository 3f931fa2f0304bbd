// Sources whose frames lie closer together than the output track's tick (1/600 s at 25 fps), through the built
// program: every movie codec encodes them, keeping one frame a tick, with times that only go forward.

#include "support/Probe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

// 2.4 s at 25 fps, 96×64, in `codec`, on a millisecond clock, with frames 50 and 51 moved to 2.001 s and `second` s.
fs::path closeFrames(const std::string& name, const std::string& codec, const std::string& second) {
    return test::generated(
        name, {"-f", "lavfi", "-i",
               "testsrc2=s=96x64:r=25:d=2.4,settb=1/1000,setpts='if(eq(N,50),2001,if(eq(N,51)," + second + ",PTS))'",
               "-fps_mode", "passthrough", "-enc_time_base", "1/1000", "-c:v", codec});
}

std::vector<double> times(const fs::path& file, const std::string& entry) {
    std::vector<double> found;
    const auto probed = test::probe(file, {"-select_streams", "v:0", "-show_entries", entry + "=pts_time"});
    for (const auto& item : probed.value(entry + "s", test::Json::array()))
        found.push_back(test::number(item["pts_time"]));
    return found;
}

TEST(CloseFrameTimes, FramesWithinOneTickEncodeOnEveryMovieCodec) {
    const fs::path decoded = closeFrames("close.mkv", "libx264", "2002");
    const fs::path stored = closeFrames("close-hap.mkv", "hap", "2002");
    const fs::path repeated = closeFrames("repeated-hap.mkv", "hap", "2001");
    const struct Row {
        const fs::path& source;
        const char* codec;
        const char* output;
        std::size_t frames;
    } rows[] = {
        {decoded, "h264", "close_H264.mp4", 59},
        {decoded, "prores", "close_ProRes.mov", 59},
        {decoded, "hevc", "close_HEVC.mp4", 59},
        // Hap's track ticks in 1/90000 s: both close frames keep their own times.
        {decoded, "hap", "close_Hap.mov", 60},
        {stored, "h264", "close-hap_H264.mp4", 59},
        {stored, "prores", "close-hap_ProRes.mov", 59},
        {stored, "hevc", "close-hap_HEVC.mp4", 59},
        {stored, "hap", "close-hap_Hap.mov", 59},
        // Hap samples are read as stored, the repeat included.
        {repeated, "h264", "repeated-hap_H264.mp4", 59},
        {repeated, "prores", "repeated-hap_ProRes.mov", 59},
        {repeated, "hevc", "repeated-hap_HEVC.mp4", 59},
        {repeated, "hap", "repeated-hap_Hap.mov", 59},
    };
    for (const fs::path* source : {&decoded, &stored, &repeated}) {
        std::vector<double> near;
        for (double t : times(*source, "packet"))
            if (t > 2 && t < 2.01) near.push_back(t);
        std::sort(near.begin(), near.end());
        EXPECT_EQ(near, (std::vector<double>{2.001, source == &repeated ? 2.001 : 2.002})) << *source;
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        test::TempDir dir;
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path(), row.source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        // In the order FFmpeg decodes and shows them.
        const auto shown = times(dir / row.output, "frame");
        EXPECT_EQ(shown.size(), row.frames);
        EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end(), std::greater_equal<>()), shown.end())
            << "times go forward";
        // The first of the close frames shows from its tick on.
        const auto first = std::find_if(shown.begin(), shown.end(), [](double t) { return t > 1.99; });
        if (first == shown.end() || first + 1 == shown.end()) {
            ADD_FAILURE() << "no frames from 2 s on";
            continue;
        }
        EXPECT_NEAR(first[0], 2.001, 0.001);
        EXPECT_NEAR(first[1], row.frames == 60 ? 2.002 : 2.08, 0.001);
    }
}

}  // namespace
}  // namespace fw

// MPEG-TS and MPEG-PS whose pictures begin long after their sound, through the built program: the pictures come out
// at their own size and at their own times; a picture track with no picture to measure fails, saying so.

#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr double kPictureLength = 2;  // s of 320×180 at 25 fps

// Sound from the start, pictures from `late` s until kPictureLength later.
fs::path latePictures(double late, const std::string& container) {
    const bool programStream = container == "vob";
    return test::generated(
        "late." + container,
        {"-itsoffset", std::to_string(late), "-f", "lavfi", "-i",
         "testsrc2=s=320x180:r=25:d=" + std::to_string(kPictureLength), "-f", "lavfi", "-i",
         "sine=d=" + std::to_string(late + kPictureLength), "-fps_mode", "passthrough", "-c:v",
         programStream ? "mpeg2video" : "libx264", "-c:a", programStream ? "mp2" : "aac", "-f", container});
}

// A sound-only recording of `intro` s (its sound on the program's second stream), then one with pictures and sound,
// joined end to end: the pictures are announced only where they begin. The second one's clock carries on from the
// first's, or starts again.
std::vector<std::uint8_t> soundOnlyIntro(double intro, bool clockStartsAgain = false) {
    auto joined = test::readFile(test::generated(
        "intro.ts", {"-f", "lavfi", "-i", "sine=d=" + std::to_string(intro), "-c:a", "aac", "-streamid", "0:257"}));
    const auto rest = test::readFile(
        test::generated("rest.ts", {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=" + std::to_string(kPictureLength),
                                    "-f", "lavfi", "-i", "sine=d=" + std::to_string(kPictureLength), "-c:v", "libx264",
                                    "-c:a", "aac", "-output_ts_offset", std::to_string(clockStartsAgain ? 0 : intro)}));
    joined.insert(joined.end(), rest.begin(), rest.end());
    return joined;
}

// The MPEG-TS packets of every stream but the one with the identifier `pid`.
std::vector<std::uint8_t> withoutStream(const std::vector<std::uint8_t>& ts, unsigned pid) {
    std::vector<std::uint8_t> kept;
    for (std::size_t at = 0; at + 188 <= ts.size(); at += 188)
        if ((((ts[at + 1] & 0x1fu) << 8) | ts[at + 2]) != pid) kept.insert(kept.end(), &ts[at], &ts[at + 188]);
    return kept;
}

TEST(LatePictures, ComeOutAtTheirSizeAndTimesOrFailSayingTheSizeIsUnknown) {
    const struct Row {
        const char* name;
        std::vector<std::uint8_t> source;
        const char* extension;
        double late;  // where the pictures begin, after the sound
        const char* codec;
        bool sized = true;
    } rows[] = {
        {"MPEG-TS, 10 s late", test::readFile(latePictures(10, "mpegts")), "ts", 10, "h264"},
        {"MPEG-TS, 60 s late", test::readFile(latePictures(60, "mpegts")), "ts", 60, "prores"},
        {"program stream, 12 s late", test::readFile(latePictures(12, "vob")), "mpg", 12, "hevc"},
        {"a sound-only recording joined before", soundOnlyIntro(26), "ts", 26, "prores"},
        {"a sound-only recording joined before, the clock started again", soundOnlyIntro(26, true), "ts", 26, "h264"},
        {"no picture at all", withoutStream(test::readFile(latePictures(10, "mpegts")), 0x100), "ts", 0, "prores",
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir sources, dir;
        const fs::path source = sources / (std::string("late.") + row.extension);
        test::writeFile(source, row.source);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path().string(), source.string()});
        if (!row.sized) {
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.standardError,
                      "\u2717 late.ts: The size of the video track's pictures could not be found.\n");
            EXPECT_TRUE(fs::is_empty(dir.path()));
            continue;
        }
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        if (result.exitStatus != 0) continue;
        const std::string codec = row.codec;
        const fs::path output = dir / ("late_" + (codec == "h264"   ? std::string("H264.mp4")
                                                  : codec == "hevc" ? std::string("HEVC.mp4")
                                                                    : std::string("ProRes.mov")));
        const auto probed = test::probe(output, {"-count_frames"});
        const auto video = test::streamOf(probed, "video"), audio = test::streamOf(probed, "audio");
        EXPECT_EQ(test::fieldsOf(video, {"width", "height", "nb_read_frames"}),
                  "320 180 " + std::to_string(int(kPictureLength * 25)));
        EXPECT_NEAR(test::number(video["start_time"]) - test::number(audio["start_time"]), row.late, 0.05);
        EXPECT_NEAR(test::number(video["duration"]), kPictureLength, 0.05);
        // A joined recording begins where the sound before it ended, which may be a little after `late`.
        EXPECT_NEAR(test::number(audio["duration"]), test::number(video["start_time"]) + kPictureLength, 0.05)
            << "the sound ends with the pictures";
    }
}

}  // namespace
}  // namespace fw

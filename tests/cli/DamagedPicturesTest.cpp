// Sources damaged by a few flipped bits and moved blocks, in the containers the reader takes, through the built
// program: a ✓ holds every picture the ffmpeg tool decodes from the damaged file or counts those it left out, the
// decoder's refusals, the pictures it let go and those whose damaged times fell behind alike; past a tenth left out,
// the input fails as damaged and nothing is written.

#include "support/DamagedMedia.h"
#include "support/Outputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr int kPictures = 100;  // 4 s at 25 fps

// The source of each container: pictures and a tone, in the codecs that container is met with.
fs::path source(const std::string& extension) {
    const std::vector<std::string> h264{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"};
    const std::map<std::string, std::vector<std::string>> codecs{
        {"mp4", h264},
        {"mov", h264},
        {"mkv", h264},
        {"flv", h264},
        {"ts", h264},
        {"mpg", {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "mp2", "-f", "vob"}},
        {"webm", {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-c:a", "libopus"}},
        {"avi", {"-c:v", "mpeg4", "-c:a", "libmp3lame"}},
        {"wmv", {"-c:v", "wmv2", "-c:a", "wmav2"}},
    };
    std::vector<std::string> arguments{"-f",  "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=4",
                                       "-f",  "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=4",
                                       "-ac", "2"};
    const auto& own = codecs.at(extension);
    arguments.insert(arguments.end(), own.begin(), own.end());
    return test::generated("damaged-pictures." + extension, arguments);
}

// ffprobe's count of the first video stream's pictures ("frames") or stored packets ("packets").
int countOf(const fs::path& file, const std::string& what) {
    const auto probed = test::probe(file, {"-count_" + what});
    return static_cast<int>(test::number(test::streamOf(probed, "video")["nb_read_" + what]));
}

TEST(DamagedPictures, EveryPictureIsInTheOutputOrCountedOnItsLine) {
    const struct Row {
        const char* extension;
        std::uint32_t seed;
        int flips, moves;
        int leftOut;
        int ofAll = 0;  // when the input fails as damaged: of how many pictures
        const char* codec = "hap";
    } rows[] = {
        // Packets the decoder refuses.
        {"mp4", 4, 8, 2, 6},
        {"mp4", 4, 8, 2, 6, 0, "h264"},
        {"avi", 4, 6, 1, 1},
        {"webm", 5, 12, 0, 1},
        {"mkv", 2, 12, 0, 1},
        // Pictures the decoder lets go without a word once damage has muddled their references: some, or a third.
        {"ts", 13, 8, 2, 7},
        {"ts", 4, 8, 2, 31, 98},
        {"mov", 3, 8, 2, 34, 100},
        {"mov", 3, 8, 2, 34, 100, "gif"},
        {"flv", 4, 8, 2, 33, 98},
        // Pictures whose damaged times fall behind those before them, or on theirs.
        {"wmv", 5, 8, 2, 1},
        {"mpg", 10, 8, 2, 2},
        {"flv", 3, 8, 2, 4, 0, "h264"},
        {"mkv", 10, 12, 0, 13, 100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.extension) + ", seed " + std::to_string(row.seed) + ", " + row.codec);
        test::TempDir dir;
        const std::string name = "clip." + std::string(row.extension);
        const fs::path damaged = test::scrambled(source(row.extension), dir / name, row.seed, row.flips, row.moves);
        const int decodable = countOf(damaged, "frames"), stored = countOf(damaged, "packets");
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path().string(), damaged.string()});
        const std::string leftOut = std::to_string(row.leftOut);
        if (row.ofAll > 0) {
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.standardOutput, "");
            EXPECT_NE(result.standardError.find("\u2717 " + name + ": Reading failed: The file \u201c" + name +
                                                "\u201d is damaged: " + leftOut + " of its " +
                                                std::to_string(row.ofAll) + " pictures could not be read.\n"),
                      std::string::npos)
                << result.standardError;
            EXPECT_GE(row.ofAll, decodable) << "pictures lost and not counted";
            EXPECT_EQ(test::entriesIn(dir.path()), 1) << "nothing written beside the source";
            continue;
        }
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        if (result.exitStatus != 0) continue;
        const std::string output = "clip_" + std::string(row.codec == std::string("h264") ? "H264.mp4" : "Hap.mov");
        EXPECT_TRUE(result.standardOutput.starts_with(
            "\u2713 " + name + " \u2192 " + output + " (" + leftOut +
            (row.leftOut == 1 ? " damaged picture left out" : " damaged pictures left out")))
            << result.standardOutput;
        const int written = countOf(dir / output, "frames");
        EXPECT_GE(written + row.leftOut, decodable) << "pictures lost and not counted";
        EXPECT_LE(written + row.leftOut, std::max(kPictures, stored)) << "pictures counted that were never there";
    }
}

}  // namespace
}  // namespace fw

// Sources damaged by a few flipped bits and moved blocks, in the containers the reader takes, through the built
// program: a ✓ holds every picture the ffmpeg tool decodes from the damaged file or counts those it left out, the
// decoder's refusals, the pictures it let go and those whose damaged times fell behind alike; past a tenth left out,
// the input fails as damaged and nothing is written.

#include "platform/media/MediaTestMedia.h"
#include "support/DamagedMedia.h"
#include "support/Outputs.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

namespace fs = std::filesystem;

// 4 s of pictures at 25 fps and a tone, in the codecs the container is met with, and `more` of them.
fs::path source(const std::string& extension, const std::string& more = "") {
    const std::string h264 = "-c:v libx264 -pix_fmt yuv420p -c:a ";
    const std::string codecs = extension == "webm"  ? "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libopus"
                               : extension == "avi" ? "-c:v mpeg4 -c:a libmp3lame"
                               : extension == "wmv" ? "-c:v wmv2 -c:a wmav2"
                               : extension == "mpg" ? h264 + "mp2 -f vob"
                                                    : h264 + "aac";
    return test::generated("damaged-pictures." + extension,
                           media::test::arguments("-f lavfi -i testsrc2=size=160x120:rate=25:duration=4 -f lavfi -i "
                                                  "sine=frequency=440:sample_rate=48000:duration=4 -ac 2 " +
                                                  codecs + more));
}

// ffprobe's count of the first video stream's pictures ("frames") or stored packets ("packets").
int countOf(const fs::path& file, const std::string& what) {
    const auto video = test::streamOf(test::probe(file, {"-count_" + what}), "video");
    return static_cast<int>(test::number(video["nb_read_" + what]));
}

TEST(DamagedPictures, EveryPictureIsInTheOutputOrCountedOnItsLine) {
    const struct Row {
        const char* extension;
        std::uint32_t seed;
        int flips, moves;
        int leftOut;
        int ofAll = 0;  // when the input fails as damaged: of how many pictures
        std::string codec = "hap";
        std::string more = "";  // the source's codecs' options
        int cut = 0;            // MPEG-TS packets cut from the start of the source, instead
    } rows[] = {
        // Packets the decoder refuses.
        {"mp4", 5, 8, 2, 6},
        {"mp4", 5, 8, 2, 6, 0, "h264"},
        {"avi", 4, 6, 1, 1},
        {"webm", 5, 12, 0, 1},
        {"mkv", 3, 12, 0, 1},
        // Pictures the decoder lets go without a word once damage has muddled their references: some, or a third.
        {"ts", 2, 8, 2, 6},
        {"ts", 13, 8, 2, 72, 101},
        {"ts", 14, 8, 2, 33, 100, "gif"},
        {"flv", 5, 8, 2, 36, 99},
        // Pictures lost whole with the transport packets that held them, the decode times around them on a constant
        // rate.
        {"ts", 10, 8, 2, 3},
        {"ts", 1, 8, 2, 5},
        // Interlaced H.264, where a stored packet need not hold a picture: those let go are not counted.
        {"ts", 3, 8, 2, 1, 0, "hap", " -flags +ildct+ilme -x264opts interlaced=1"},
        // Begun between key frames: the pictures before the first one are not the copy's to show.
        {"ts", 0, 0, 0, 0, 0, "hap", " -g 25", 100},
        // Pictures whose damaged times fall behind those before them, or on theirs.
        {"wmv", 5, 8, 2, 0},
        {"mpg", 2, 8, 2, 8},
        {"ts", 4, 8, 2, 4},
        {"flv", 9, 8, 2, 1},
        {"flv", 8, 8, 2, 3, 0, "h264"},
        {"mkv", 10, 12, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.extension) + ", seed " + std::to_string(row.seed) + ", " + row.codec);
        test::TempDir dir;
        const std::string name = "clip." + std::string(row.extension), count = std::to_string(row.leftOut);
        const fs::path damaged = dir / name;
        if (row.cut > 0) {
            const auto whole = test::readFile(source(row.extension, row.more));
            test::writeFile(damaged, {whole.begin() + row.cut * 188, whole.end()});
        } else {
            test::scrambled(source(row.extension, row.more), damaged, row.seed, row.flips, row.moves);
        }
        const int decodable = countOf(damaged, "frames");
        const auto result =
            test::runCommand({FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path(), damaged});
        const std::string output = row.codec == "h264" ? "clip_H264.mp4" : "clip_Hap.mov";
        const std::string line =
            row.ofAll > 0
                ? "\u2717 " + name + ": Reading failed: The file \u201c" + name + "\u201d is damaged: " + count +
                      " of its " + std::to_string(row.ofAll) + " pictures could not be read.\n"
                : "\u2713 " + name + " \u2192 " + output +
                      (row.leftOut == 0
                           ? ""
                           : " (" + count + " damaged picture" + (row.leftOut == 1 ? "" : "s") + " left out");
        EXPECT_NE((result.standardOutput + result.standardError).find(line), std::string::npos)
            << result.standardOutput << result.standardError;
        if (row.leftOut == 0) {
            EXPECT_EQ(result.standardOutput.find("damaged picture"), std::string::npos);
        }
        EXPECT_EQ(result.exitStatus, row.ofAll > 0 ? 1 : 0);
        const int written = row.ofAll > 0 || result.exitStatus != 0 ? 0 : countOf(dir / output, "frames");
        EXPECT_GE(row.ofAll > 0 ? row.ofAll : written + row.leftOut, decodable) << "pictures lost and not counted";
        if (row.ofAll > 0) {
            EXPECT_EQ(test::entriesIn(dir.path()), 1) << "nothing written beside the source";
        } else {
            EXPECT_LE(written + row.leftOut, std::max(100, countOf(damaged, "packets"))) << "counted, never there";
        }
    }
}

}  // namespace
}  // namespace fw

// Sources the media layer refuses reach the decode helper from the command line: a file of no format it knows is read
// by a helper that decodes a real movie in its place, behind FW_DECODE_HELPER.

#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace fw {
namespace {

namespace fs = std::filesystem;

// A helper that reads `movie` whatever file it is given, the one the tests
// name "odd.xyz" in `dir`: a file the media layer cannot open. With an exit
// status, it streams and then exits with that status.
void useHelperReading(const fs::path& dir, const fs::path& movie, std::optional<int> exitStatus = std::nullopt) {
    const fs::path fwdecode = fs::path(FW_PROGRAM).parent_path() / "fwdecode";
    const fs::path helper = dir / "helper.sh";
    std::ofstream(helper) << "#!/bin/sh\n"
                          << "if [ \"$1\" = --probe ]; then exec '" << fwdecode.string() << "' --probe '"
                          << movie.string() << "'; fi\n"
                          << (exitStatus ? "" : "exec ") << "'" << fwdecode.string() << "' '" << movie.string() << "'\n"
                          << (exitStatus ? "exit " + std::to_string(*exitStatus) + "\n" : "");
    ::chmod(helper.c_str(), 0755);
    std::ofstream(dir / "odd.xyz") << "no container anyone knows";
    ::setenv("FW_DECODE_HELPER", helper.c_str(), 1);
}

TEST(CommandLineTool, SourcesOnlyTheDecodeHelperReadsEncodeThroughIt) {
    test::TempDir dir;
    const fs::path movie =
        test::generated("helper-route.mov", {"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=10:duration=1", "-f",
                                             "lavfi", "-i", "sine=frequency=440:duration=1", "-c:v", "libx264",
                                             "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"});
    useHelperReading(dir.path(), movie);

    auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", "h264", (dir / "odd.xyz").string()});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, "\u2713 odd.xyz \u2192 odd_H264.mp4\n");
    const auto probed = test::probe(dir / "odd_H264.mp4", {"-count_frames"});
    EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"), {"codec_name", "width", "height", "nb_read_frames"}),
              "h264 160 90 10");
    EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "audio"), {"codec_name", "channels"}), "aac 1");

    // The texture codecs read their sources themselves; this route has none to give them.
    struct Refused {
        const char* codecWord;
        const char* codec;
        const char* output;
    };
    for (const Refused& row : {Refused{"hap", "Hap", "odd_Hap.mov"}, Refused{"hapq", "Hap-Q", "odd_HapQ.mov"},
                               Refused{"dxv", "DXV2", "odd_DXV2.mov"}, Refused{"dxv3", "DXV3", "odd_DXV3.mov"},
                               Refused{"dxv3-alpha", "DXV3", "odd_DXV3.mov"}}) {
        SCOPED_TRACE(row.codecWord);
        result = test::runCommand({FW_PROGRAM, "--encode", "--codec", row.codecWord, (dir / "odd.xyz").string()});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError, std::string("\u2717 odd.xyz: ") + row.codec +
                                            " output from this source isn't supported yet \u2014 convert to ProRes "
                                            "first\n");
        EXPECT_FALSE(fs::exists(dir / row.output));
    }
    ::unsetenv("FW_DECODE_HELPER");
}

// A helper that has sent its whole stream and then exits 3 (as one that met damage it skipped may) has done its work:
// the input is encoded and reported as such.
TEST(CommandLineTool, AHelperExitingBadlyAfterAWholeStreamStillGivesTheMovie) {
    test::TempDir dir;
    const fs::path movie = test::generated(
        "helper-route-exit.mov",
        {"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=10:duration=1", "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    useHelperReading(dir.path(), movie, 3);
    const auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", "prores", (dir / "odd.xyz").string()});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, "\u2713 odd.xyz \u2192 odd_ProRes.mov\n");
    EXPECT_EQ(test::fieldsOf(test::streamOf(test::probe(dir / "odd_ProRes.mov", {"-count_frames"}), "video"),
                             {"width", "height", "nb_read_frames"}),
              "160 90 10");
    ::unsetenv("FW_DECODE_HELPER");
}

// An odd-sized movie comes out the same through the helper as through the media layer: to H.264 each odd side
// rounded up, to ProRes as it is, every frame, the whole sound; its 5.1 sound, fronts and centre at -4 dBFS, mixed to
// stereo as loud as the ffmpeg tool mixes it into 16 bits, none of it at full scale.
TEST(CommandLineTool, TheHelperRouteSizesTimesAndMixesLikeTheMediaLayerRoute) {
    test::TempDir dir;
    const std::string tone = "0.631*sin(2*PI*440*t)|";
    const fs::path generated =
        test::generated("helper-odd.mkv", {"-f", "lavfi", "-i", "testsrc=size=321x241:rate=10:duration=1", "-f",
                                           "lavfi", "-i", "aevalsrc=" + tone + tone + tone + "0|0|0:c=5.1:s=44100:d=1",
                                           "-c:v", "ffv1", "-pix_fmt", "yuv444p", "-c:a", "pcm_s16le", "-shortest"});
    const fs::path movie = dir / "movie.mkv";
    fs::copy_file(generated, movie);
    useHelperReading(dir.path(), movie);

    struct Row {
        const char* route;
        const char* codec;
        fs::path source;
        fs::path output;
        const char* written;
    } rows[] = {{"media layer", "h264", movie, dir / "movie_H264.mp4", "322 242 10"},
                {"decode helper", "h264", dir / "odd.xyz", dir / "odd_H264.mp4", "322 242 10"},
                {"media layer", "prores", movie, dir / "movie_ProRes.mov", "321 241 10"},
                {"decode helper", "prores", dir / "odd.xyz", dir / "odd_ProRes.mov", "321 241 10"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.route) + " to " + row.codec);
        const auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", row.codec, row.source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const auto probed = test::probe(row.output, {"-count_frames"});
        EXPECT_EQ(test::fieldsOf(test::streamOf(probed, "video"), {"width", "height", "nb_read_frames"}), row.written);
        EXPECT_NEAR(test::number(test::streamOf(probed, "audio")["duration"]), 1.0, 0.05);
        EXPECT_LT(test::soundPeak(row.output, 2), 32767);
        EXPECT_NEAR(20 * std::log10(double(test::soundPeak(row.output, 2)) / test::soundPeak(movie, 2)), 0, 1.0);
    }
    ::unsetenv("FW_DECODE_HELPER");
}

}  // namespace
}  // namespace fw

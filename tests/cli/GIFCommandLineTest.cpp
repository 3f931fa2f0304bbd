// "--codec gif" through the built program, read back by FFmpeg.

#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

test::CommandResult encodeGIF(std::vector<std::string> options, const fs::path& input) {
    options.insert(options.begin(), {FW_PROGRAM, "--encode", "--codec", "gif"});
    options.push_back(input.string());
    return test::runCommand(options);
}

// A movie made once per program from a lavfi source, copied to `file`.
bool makeMovie(const fs::path& file, const std::string& lavfi, const std::string& codec = "libx264") {
    const fs::path made = test::generated("gif-" + std::to_string(std::hash<std::string>{}(lavfi + codec)) + ".mov",
                                          {"-f", "lavfi", "-i", lavfi, "-c:v", codec});
    return !made.empty() && fs::copy_file(made, file, fs::copy_options::overwrite_existing);
}

// The loop extension straight after the header and the logical screen (no
// global colour table): application "NETSCAPE2.0", sub-block 1, loop count 0.
bool loopsForever(const fs::path& gif) {
    const auto bytes = test::readFile(gif);
    const std::string expected("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    return bytes.size() > 13 + expected.size() && (bytes[10] & 0x80) == 0 &&
           std::string(bytes.begin() + 13, bytes.begin() + 13 + 19) == expected;
}

test::Json framesOf(const fs::path& gif) {
    return test::probe(gif, {"-show_frames"}).value("frames", test::Json::array());
}

TEST(GIFCommandLine, LoopingGIFOfItsSizeWhoseDelaysAddUpToTheSource) {
    TempDir dir;
    struct Row {
        std::string lavfi;
        std::vector<std::string> options;
        int width, height, frames;
        std::int64_t hundredths;  // the source's length
        std::string codec = "libx264";
    };
    const Row rows[] = {
        // Slower than the GIF's 12 fps: every frame kept, at the source's own speed.
        {"testsrc2=size=320x180:rate=10:duration=3", {}, 320, 180, 30, 300},
        // Faster: thinned to 12 a second, the longer side capped at 480.
        {"testsrc2=size=640x360:rate=30:duration=2", {}, 480, 270, 24, 200},
        {"testsrc2=size=1080x1920:rate=25:duration=1", {}, 270, 480, 12, 100},
        // Odd sides are made even upwards; a size given holds the source's shape, scaled into it, then made even.
        {"testsrc2=size=333x333:rate=10:duration=1,format=yuv444p", {}, 334, 334, 10, 100},
        {"testsrc2=size=320x180:rate=10:duration=1", {"--size", "481x301"}, 482, 272, 10, 100},
        // A frame standing 700 s, beyond one delay field, is held on by a
        // transparent frame: 2 pictures and 2 holds.
        {"color=c=red:size=64x64:rate=1/700:duration=1400", {}, 64, 64, 4, 140000},
        // Hap frames are unpacked by our texture source, not decoded by the media layer.
        {"testsrc2=size=320x180:rate=25:duration=1", {}, 320, 180, 12, 100, "hap"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lavfi);
        ASSERT_TRUE(makeMovie(dir / "clip.mov", row.lavfi, row.codec));
        auto result = encodeGIF(row.options, dir / "clip.mov");
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(result.standardOutput, "\u2713 clip.mov \u2192 clip_GIF.gif\n");
        EXPECT_TRUE(loopsForever(dir / "clip_GIF.gif"));
        const auto frames = framesOf(dir / "clip_GIF.gif");
        ASSERT_EQ(int(frames.size()), row.frames);
        std::int64_t total = 0;
        for (const auto& frame : frames) {
            EXPECT_EQ(std::pair(frame.value("width", 0), frame.value("height", 0)), std::pair(row.width, row.height));
            EXPECT_GE(frame.value("pkt_duration", 0), 2) << "players slow down shorter delays";
            total += frame.value("pkt_duration", 0);
        }
        EXPECT_EQ(total, row.hundredths);
    }
}

// The GIF's first frame is the source's first picture as the tool shows it: its mean difference in grey from that
// picture is small, and far smaller than from the picture turned half round.
void expectUpright(const fs::path& source, const fs::path& gif, int width, int height) {
    const auto shown = test::ffmpegRaw(source, "gray");
    const auto written = test::ffmpegRaw(gif, "gray");
    ASSERT_EQ(shown.size(), std::size_t(width) * std::size_t(height));
    ASSERT_EQ(written.size(), shown.size());
    const auto meanDifference = [&](auto first) {
        double sum = 0;
        for (std::uint8_t value : written) sum += std::abs(int(value) - int(*first++));
        return sum / double(written.size());
    };
    const double upright = meanDifference(shown.begin());
    EXPECT_LT(upright, 6.0);
    EXPECT_GT(meanDifference(shown.rbegin()), 4 * upright);
}

// What is shown is written upright: a movie stored landscape with a quarter-turn display matrix as a portrait
// animation; a still image as one frame with neither loop nor delay (the image descriptor follows the logical screen
// at once), a JPEG whose EXIF turns it a quarter turned too.
TEST(GIFCommandLine, TurnedSourcesAndStillsComeOutUpright) {
    TempDir dir;
    ASSERT_TRUE(makeMovie(dir / "landscape.mov", "testsrc2=size=160x90:rate=10:duration=1"));
    ASSERT_TRUE(test::ffmpeg({"-i", (dir / "landscape.mov").string(), "-c", "copy", "-metadata:s:v:0", "rotate=90",
                              (dir / "portrait.mp4").string()}));
    for (const char* still : {"still.png", "stored.jpg"})
        ASSERT_TRUE(test::ffmpeg(
            {"-f", "lavfi", "-i", "testsrc2=size=160x90", "-frames:v", "1", "-q:v", "2", (dir / still).string()}));
    test::writeFile(dir / "turned.jpg", test::withExifOrientation(test::readFile(dir / "stored.jpg"), 6, false));
    struct Row {
        const char* input;
        const char* output;
        int width, height;
        bool still;
    };
    for (const Row& row :
         {Row{"portrait.mp4", "portrait_GIF.gif", 90, 160, false}, Row{"still.png", "still_GIF.gif", 160, 90, true},
          Row{"turned.jpg", "turned_GIF.gif", 90, 160, true}}) {
        SCOPED_TRACE(row.input);
        auto result = encodeGIF({}, dir / row.input);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path gif = dir / row.output;
        const auto frames = framesOf(gif);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(test::fieldsOf(frames[0], {"width", "height"}),
                  std::to_string(row.width) + " " + std::to_string(row.height));
        if (row.still) {
            EXPECT_EQ(frames.size(), 1u);
            const auto bytes = test::readFile(gif);
            ASSERT_GT(bytes.size(), 14u);
            EXPECT_EQ(bytes[13], 0x2c) << "an extension before the image";
        }
        expectUpright(dir / row.input, gif, row.width, row.height);
    }
}

// A GIF is a movie: every route reads all its frames, each at its own time (ten frames, the last five slower).
TEST(GIFCommandLine, AnAnimatedGIFSourceKeepsItsFramesAtTheirTimes) {
    TempDir dir;
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=1", "-vf",
                              "setpts='if(lt(N,5),N*0.1,0.5+(N-5)*0.5)/TB'", "-fps_mode", "vfr",
                              (dir / "moving.gif").string()}));
    const auto timesOf = [](const fs::path& file) {
        std::vector<long> hundredths;
        const test::Json probed = test::probe(file, {"-show_frames", "-select_streams", "v"});
        for (const auto& frame : probed.value("frames", test::Json::array()))
            hundredths.push_back(std::lround(100 * test::number(frame["best_effort_timestamp_time"])));
        return hundredths;
    };
    const std::vector<long> source = timesOf(dir / "moving.gif");
    ASSERT_EQ(source, (std::vector<long>{0, 10, 20, 30, 40, 50, 100, 150, 200, 250}));
    for (const char* codec : {"gif", "h264", "hap"}) {
        SCOPED_TRACE(codec);
        fs::create_directory(dir / codec);
        const auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", codec, "--output",
                                              (dir / codec).string(), (dir / "moving.gif").string()});
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output = dir / codec / fs::directory_iterator(dir / codec)->path().filename();
        EXPECT_EQ(timesOf(output), source);
    }
}

// Each failure is one line on standard error and leaves the folder as it was:
// no staged file, and an earlier GIF of the same name untouched.
TEST(GIFCommandLine, MalformedInputsAndSizesFailCleanly) {
    TempDir dir;
    ASSERT_TRUE(makeMovie(dir / "good.mov", "testsrc2=size=320x180:rate=10:duration=3"));
    // Cut to 40 %, the index whole: the reader fails far from the end.
    ASSERT_TRUE(test::ffmpeg(
        {"-i", (dir / "good.mov").string(), "-c", "copy", "-movflags", "+faststart", (dir / "whole.mov").string()}));
    auto bytes = test::readFile(dir / "whole.mov");
    bytes.resize(bytes.size() * 4 / 10);
    test::writeFile(dir / "cut.mov", bytes);
    fs::remove(dir / "whole.mov");
    std::ofstream(dir / "text.mov") << "not a movie";
    std::ofstream(dir / "empty.mov");
    std::ofstream(dir / "broken.png", std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << "broken";
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.5", "-c:a", "aac", (dir / "tone.m4a").string()}));
    struct Row {
        const char* input;
        std::vector<std::string> options;
        std::string message;
    };
    const Row rows[] = {
        {"cut.mov", {}, "Reading failed: The file \u201ccut.mov\u201d is damaged or truncated. Decoding stopped at "},
        {"text.mov", {}, "Could not open \u201ctext.mov\u201d: "},
        {"empty.mov", {}, "Could not open \u201cempty.mov\u201d: "},
        {"broken.png", {}, "The image could not be decoded. Could not read the image \u201cbroken.png\u201d: "},
        {"tone.m4a", {}, "The source file has no video track.\n"},
        // Bounded to the largest side every encode allows, as in the window.
        {"good.mov",
         {"--size", "40000x30000"},
         "Writing failed: the GIF size 16384\u00d79216 is over 67 million pixels\n"},
        {"good.mov",
         {"--size", "16000x9000"},
         "Writing failed: the GIF size 16000\u00d79000 is over 67 million pixels\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        const fs::path output = dir / (fs::path(row.input).stem().string() + "_GIF.gif");
        std::ofstream(output) << "an earlier GIF";
        const auto before = test::entriesIn(dir.path());
        auto result = encodeGIF(row.options, dir / row.input);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_TRUE(result.standardError.starts_with("\u2717 " + std::string(row.input) + ": " + row.message))
            << result.standardError;
        EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1);
        EXPECT_EQ(test::entriesIn(dir.path()), before);
        EXPECT_EQ(test::textOf(output), "an earlier GIF");
        fs::remove(output);
    }
}

// "--size" fits the picture inside the box keeping its shape, as the movie routes do: a 4:3 photo asked at 100 × 100
// is 100 × 76 (75 made even), a square one asked at 1280 × 720 is 720 × 720, a 16:9 movie at 100 × 100 is 100 × 56;
// what each shows is the source scaled to that size, neither squashed nor stretched.
TEST(GIFCommandLine, ASizeKeepsThePicturesShape) {
    TempDir dir;
    ASSERT_TRUE(
        test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=400x300", "-frames:v", "1", (dir / "photo.png").string()}));
    ASSERT_TRUE(
        test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=300x300", "-frames:v", "1", (dir / "square.png").string()}));
    ASSERT_TRUE(makeMovie(dir / "wide.mov", "testsrc2=size=320x180:rate=10:duration=0.5"));
    struct Row {
        const char* input;
        const char* size;
        int width, height;
    };
    for (const Row& row : {Row{"photo.png", "100x100", 100, 76}, Row{"square.png", "1280x720", 720, 720},
                           Row{"wide.mov", "100x100", 100, 56}}) {
        SCOPED_TRACE(row.input);
        auto result = encodeGIF({"--size", row.size}, dir / row.input);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path gif = dir / (fs::path(row.input).stem().string() + "_GIF.gif");
        const auto frames = framesOf(gif);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(test::fieldsOf(frames[0], {"width", "height"}),
                  std::to_string(row.width) + " " + std::to_string(row.height));
        const auto written = test::decodedFrames(gif, "gray");
        const auto shown = test::decodedFrames(
            dir / row.input, "gray", 1,
            "scale=" + std::to_string(row.width) + ":" + std::to_string(row.height) + ":flags=bilinear");
        ASSERT_EQ(written.size(), std::size_t(row.width) * row.height);
        ASSERT_EQ(shown.size(), written.size());
        double difference = 0;
        for (std::size_t i = 0; i < written.size(); ++i) difference += std::abs(int(written[i]) - int(shown[i]));
        // Measured below 1 on this pattern.
        EXPECT_LT(difference / double(written.size()), 8.0);
    }
}

// Each GIF frame stands from its source frame's time to the next one taken, in hundredths of the times from the first
// frame rounded to the nearest (never cut down), so the delays add up to the rounded length. At 29.97 and 30 frames a
// second thinned to 12, the frames stand 10, 7, 10, 6 … hundredths, no two sums drifting apart. Every source frame
// shows its own number in its colour, so which frames the GIF took is read from the pictures themselves.
TEST(GIFCommandLine, EachFramesDelayIsItsRoundedShareOfTheSource) {
    TempDir dir;
    struct Row {
        const char* rate;
        std::int64_t tickNumerator, tickDenominator;  // one source frame, in seconds
    };
    for (const Row& row : {Row{"30000/1001", 1001, 30000}, Row{"30", 1, 30}}) {
        SCOPED_TRACE(row.rate);
        ASSERT_TRUE(makeMovie(dir / "clip.mov",
                              "nullsrc=size=64x64:rate=" + std::string(row.rate) +
                                  ":duration=2,format=rgb24,geq=r='16*mod(N,16)':g='16*floor(N/16)':b=128",
                              "libx264rgb"));
        constexpr std::int64_t sourceFrames = 60;
        ASSERT_EQ(test::streamOf(test::probe(dir / "clip.mov", {"-count_frames"}), "video").value("nb_read_frames", ""),
                  std::to_string(sourceFrames));
        auto result = encodeGIF({}, dir / "clip.mov");
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        const auto frames = framesOf(dir / "clip_GIF.gif");
        ASSERT_EQ(frames.size(), 24u);
        // Every GIF frame as a picture of its own, in order.
        const auto pictures =
            test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", (dir / "clip_GIF.gif").string(),
                              "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
                .standardOutput;
        ASSERT_EQ(pictures.size(), frames.size() * 64 * 64 * 3);
        // Hundredths from the start to source frame n, rounded to the nearest, halves up.
        const auto hundredthsAt = [&](std::int64_t n) {
            const std::int64_t numerator = 100 * n * row.tickNumerator;
            return (2 * numerator + row.tickDenominator) / (2 * row.tickDenominator);
        };
        std::vector<std::int64_t> taken;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::size_t middle = (i * 64 * 64 + 32 * 64 + 32) * 3;
            const int low = (static_cast<unsigned char>(pictures[middle]) + 8) / 16;
            const int high = (static_cast<unsigned char>(pictures[middle + 1]) + 8) / 16;
            taken.push_back(high * 16 + low);
        }
        ASSERT_EQ(taken.front(), 0);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            // The last frame stands until the end of the source, its last frame's end.
            const std::int64_t next = i + 1 < taken.size() ? taken[i + 1] : sourceFrames;
            EXPECT_EQ(frames[i].value("pkt_duration", 0), hundredthsAt(next) - hundredthsAt(taken[i]))
                << "frame " << i << ", source frames " << taken[i] << " to " << next;
        }
    }
}

}  // namespace
}  // namespace fw

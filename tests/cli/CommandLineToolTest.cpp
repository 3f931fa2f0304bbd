// The built program run as a user runs it, on media made for each test.

#include "support/DamagedMedia.h"
#include "support/Outputs.h"
#include "support/Probe.h"
#include "support/StillImageFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::TempDir;

// The program with "--encode", then the options, then the inputs.
CommandResult encode(std::vector<std::string> options, const std::vector<fs::path>& inputs = {}) {
    options.insert(options.begin(), {FW_PROGRAM, "--encode"});
    for (const auto& input : inputs) options.push_back(input.string());
    return test::runCommand(options);
}

std::size_t lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// A short test picture with sound, made once per size and copied to `file`.
bool makeMovie(const fs::path& file, const std::string& size = "160x90") {
    const fs::path made =
        test::generated("movie-" + size + ".mov", {"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=10:duration=1",
                                                   "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:v",
                                                   "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"});
    return !made.empty() && fs::copy_file(made, file);
}

// The first video stream: codec, coded size, pixel format, profile, rate.
test::Json videoOf(const fs::path& file) { return test::streamOf(test::probe(file), "video"); }

// ---- Rejected command lines: status 2, the message on standard error, nothing on standard output.

TEST(CommandLineTool, RejectedCommandLinesExitWithStatus2) {
    TempDir dir;
    const std::string input = (dir / "clip.mov").string();
    struct Row {
        std::vector<std::string> arguments;
        std::string line;
    };
    const Row rows[] = {{{"--encode", input, "--fast"}, "Framewright: unknown option \u2018--fast\u2019\n"},
                        {{"--encode"}, "Framewright: no input files given\n"},
                        {{"--encode", input, "--codec", "dpx"}, "Framewright: unknown codec \u2018dpx\u2019\n"},
                        {{input, "--size", "wide", "--encode"}, "Framewright: --size expects WxH, e.g. 1920x1080\n"},
                        {{"--encode", input, "--crush", "2"}, "Framewright: --crush expects a number 0.0\u20131.0\n"}};
    for (auto row : rows) {
        row.arguments.insert(row.arguments.begin(), FW_PROGRAM);
        auto result = test::runCommand(row.arguments);
        EXPECT_EQ(result.exitStatus, 2) << row.line;
        EXPECT_EQ(result.standardError, row.line);
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_TRUE(fs::is_empty(dir.path())) << "a rejected command line touches no file";
}

TEST(CommandLineTool, AudioOnlySourceHasNoVideoTrackForMovieCodecs) {
    TempDir dir;
    ASSERT_TRUE(test::ffmpeg(
        {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a", "aac", (dir / "tone.m4a").string()}));
    for (const char* codec : {"h264", "prores", "hap", "dxv3"}) {
        auto result = encode({"--codec", codec}, {dir / "tone.m4a"});
        EXPECT_EQ(result.exitStatus, 1) << codec;
        EXPECT_EQ(result.standardError, "\u2717 tone.m4a: The source file has no video track.\n") << codec;
    }
}

// The still routes say what the movie routes say of sound without pictures, and write nothing.
TEST(CommandLineTool, AudioOnlySourceHasNoVideoTrackForStillCodecs) {
    TempDir dir;
    ASSERT_TRUE(test::ffmpeg(
        {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a", "aac", (dir / "tone.m4a").string()}));
    for (const char* codec : {"png", "jpeg", "heic", "gif"}) {
        auto result = encode({"--codec", codec, "--output", (dir / "out").string()}, {dir / "tone.m4a"});
        EXPECT_EQ(result.exitStatus, 1) << codec;
        EXPECT_EQ(result.standardError, "\u2717 tone.m4a: The source file has no video track.\n") << codec;
        EXPECT_FALSE(fs::exists(dir / "out") && !fs::is_empty(dir / "out")) << codec;
    }
}

// An output may never replace a file the user gave as an input, however
// either path was spelled (relative words are taken against the working directory).
TEST(CommandLineTool, AnOutputNeverOverwritesAnInput) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    fs::create_directory_symlink(dir.path(), dir / "link");
    std::ofstream(dir / "clip_H264.mp4") << "not a movie, but the user's file";
    fs::copy_file(
        test::generated("never-overwritten.mov", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=0.2",
                                                  "-c:v", "libx264", "-pix_fmt", "yuv420p"}),
        dir / "clip.mov");
    const fs::path workingDirectory = fs::current_path();
    fs::current_path(dir.path());
    const std::pair<fs::path, fs::path> rows[] = {{dir / "clip.mov", dir / "clip_H264.mp4"},
                                                  {"clip.mov", "./clip_H264.mp4"},
                                                  {"sub/../clip.mov", "clip_H264.mp4"},
                                                  {dir / "link" / "clip.mov", dir / "clip_H264.mp4"},
                                                  {dir / "clip.mov", dir / "link" / "clip_H264.mp4"}};
    for (const auto& [first, second] : rows) {
        SCOPED_TRACE(first.string() + " " + second.string());
        auto result = encode({}, {first, second});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(
            result.standardError.find("\u2717 clip.mov: clip_H264.mp4 is an input of this run; not overwriting it.\n"),
            std::string::npos)
            << result.standardError;
        EXPECT_EQ(test::readText(dir / "clip_H264.mp4"), "not a movie, but the user's file");
    }
    fs::current_path(workingDirectory);
}

// ---- Encoding through the movie path.

// Each failing input gets its own line on standard error, in input order; the run goes on.
TEST(CommandLineTool, MissingInputsAmongGoodOnesGetALineEachAndTheOthersStillEncode) {
    TempDir dir;
    ASSERT_TRUE(makeMovie(dir / "one.mov"));
    ASSERT_TRUE(makeMovie(dir / "three.mov"));
    auto result = encode({}, {dir / "one.mov", dir / "two.mov", dir / "three.mov", dir / "four.mov"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "\u2713 one.mov \u2192 one_H264.mp4\n\u2713 three.mov \u2192 three_H264.mp4\n");
    EXPECT_TRUE(result.standardError.starts_with("\u2717 two.mov: ")) << result.standardError;
    EXPECT_NE(result.standardError.find("\n\u2717 four.mov: "), std::string::npos) << result.standardError;
    EXPECT_EQ(lineCount(result.standardError), 2u);
    for (const char* name : {"one_H264.mp4", "three_H264.mp4"})
        EXPECT_EQ(test::fieldsOf(videoOf(dir / name), {"codec_name", "width", "height"}), "h264 160 90") << name;
    EXPECT_FALSE(fs::exists(dir / "two_H264.mp4"));
}

TEST(CommandLineTool, TwoInputsWithOneOutputNameDoNotOverwriteEachOther) {
    TempDir dir;
    fs::create_directory(dir / "out");
    ASSERT_TRUE(makeMovie(dir / "clip.mov", "160x90"));
    ASSERT_TRUE(makeMovie(dir / "clip.mp4", "96x64"));
    auto result = encode({"--output", (dir / "out").string()}, {dir / "clip.mov", dir / "clip.mp4"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "\u2713 clip.mov \u2192 clip_H264.mp4\n");
    EXPECT_EQ(result.standardError,
              "\u2717 clip.mp4: clip_H264.mp4 was already written from clip.mov in this run; not overwriting it.\n");
    EXPECT_EQ(videoOf(dir / "out" / "clip_H264.mp4")["width"], 160) << "the first input's output is kept";
}

// The result lines are all that is printed, also when the decoder meets
// damaged frames: the streams stay machine-readable.
// A source's name is text: whatever a naming template would read in it, it reaches its output's name as written.
TEST(CommandLineTool, ASourcesOwnNameIsKeptInItsOutputsName) {
    TempDir dir;
    struct Row {
        const char* input;
        const char* output;
    };
    const Row rows[] = {
        {"{codec}.mp4", "{codec}_H264.mp4"}, {"a:b.mp4", "a:b_H264.mp4"}, {" sp .mp4", " sp _H264.mp4"}};
    std::vector<fs::path> inputs;
    std::string lines;
    for (const Row& row : rows) {
        ASSERT_TRUE(makeMovie(dir / row.input));
        inputs.push_back(dir / row.input);
        lines += std::string("\u2713 ") + row.input + " \u2192 " + row.output + "\n";
    }
    const auto result = encode({}, inputs);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput, lines);
    for (const Row& row : rows) EXPECT_EQ(videoOf(dir / row.output).value("codec_name", ""), "h264") << row.output;
}

// Control characters in a name are written out, in the name and in a reason that quotes it: one input, one line.
TEST(CommandLineTool, ANameWithControlCharactersKeepsItsResultOnOneLine) {
    TempDir dir;
    ASSERT_TRUE(makeMovie(dir / "new\nline.mov"));
    const auto result = encode({}, {dir / "new\nline.mov", dir / "tab\tand\x1b.mov"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "\u2713 new\\nline.mov \u2192 new\\nline_H264.mp4\n");
    EXPECT_EQ(result.standardError,
              "\u2717 tab\\tand\\x1b.mov: Could not open \u201ctab\\tand\\x1b.mov\u201d: No such file or directory\n");
    EXPECT_EQ(videoOf(dir / "new\nline_H264.mp4").value("codec_name", ""), "h264");
}

TEST(CommandLineTool, DamagedSourcePrintsOnlyItsResultLine) {
    TempDir dir;
    const fs::path clean = dir / "clean.mov";
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=10:duration=2", "-c:v", "libx264",
                              "-pix_fmt", "yuv420p", "-movflags", "+faststart", clean.string()}));
    // The index comes first; flip bytes through the picture data after it.
    std::string bytes = test::readText(clean);
    ASSERT_GT(bytes.size(), 8000u);
    for (std::size_t i = bytes.size() / 3; i < bytes.size(); i += 61) bytes[i] = static_cast<char>(~bytes[i]);
    std::ofstream(dir / "damaged.mov", std::ios::binary) << bytes;

    auto result = encode({}, {dir / "damaged.mov"});
    if (result.exitStatus == 0) {
        EXPECT_EQ(result.standardOutput, "\u2713 damaged.mov \u2192 damaged_H264.mp4\n");
        EXPECT_EQ(result.standardError, "");
    } else {
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_TRUE(result.standardError.starts_with("\u2717 damaged.mov: ")) << result.standardError;
        EXPECT_EQ(lineCount(result.standardError), 1u) << result.standardError;
    }
}

// A 10 s source cut short between packets, its index whole: the demuxer meets a clean end of the file. Every movie
// route fails with how far the source reached and leaves nothing, unless no more than the tail tolerance is missing.
TEST(CommandLineTool, ASourceCutShortFailsEveryRouteUnlessOnlyItsTailIsMissing) {
    TempDir dir;
    const fs::path whole =
        test::generated("ten.mov", {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=10", "-f", "lavfi", "-i",
                                    "sine=duration=10", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
                                    "-movflags", "+faststart"});
    for (const double cutSeconds : {3.0, 6.0, 8.5}) {
        const double at = test::cutBeforePacket(whole, dir / "cut.mov", "video", cutSeconds);
        for (const char* codec : {"prores", "h264", "hap", "dxv3", "gif"}) {
            SCOPED_TRACE(std::string(codec) + " cut at " + std::to_string(at));
            const auto result = encode({"--codec", codec}, {dir / "cut.mov"});
            if (cutSeconds > 8) {
                EXPECT_EQ(result.exitStatus, 0) << result.standardError;
                EXPECT_EQ(test::entriesIn(dir.path()), 2);
                for (const auto& entry : fs::directory_iterator(dir.path()))
                    if (entry.path().filename() != "cut.mov") fs::remove(entry.path());
                continue;
            }
            EXPECT_EQ(result.exitStatus, 1);
            const std::string head =
                "\u2717 cut.mov: Reading failed: The file \u201ccut.mov\u201d ends early. Decoding stopped at ";
            const std::string tail = "s of 10.0s \u2014 the source file may be damaged or truncated.\n";
            ASSERT_TRUE(result.standardError.starts_with(head)) << result.standardError;
            EXPECT_TRUE(result.standardError.ends_with(tail)) << result.standardError;
            EXPECT_NEAR(std::stod(result.standardError.substr(head.size())), at, 0.2) << result.standardError;
            EXPECT_EQ(test::entriesIn(dir.path()), 1);
        }
    }
}

// A shortfall is measured against the length the header states for the tracks read, and how far the reading of those
// tracks came. An AVI cut with its index (FFmpeg then gives the length of what is left) fails by its frame count, an
// odd-sized chunk before its headers or not; a source over 100 s missing 10 % fails (the tolerance is 2 %, not 20 %); a
// 3 s one missing 1.4 s is whole (the 2 s floor, capped at half its length); a chapter that runs 3 s past the media is
// no shortfall; a cut one fails though a timecode sample or a caption at its start lasts the whole movie; one whose
// pictures start at 3 s is as long as where they end. A Matroska or WebM file's caption, or second sound or picture
// track, that outlasts the tracks read is no shortfall, by the length each track states or, where none does, by the
// index or the segment's length when no other track could outlast them. An MP4 in fragments cut inside one is damaged,
// however near that fragment's end. An FLV its writer finished, the size its header states, is whole whatever length
// the header gives beside it.
TEST(CommandLineTool, AShortfallIsMeasuredAgainstTheStatedLengthOfTheTracksRead) {
    TempDir dir, made;
    const std::string chapters = (made / "chapters.txt").string();
    std::ofstream(chapters) << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=13000\ntitle=One\n";
    const auto cueFile = [&](const std::string& name, const std::string& text) {
        std::ofstream(made / name) << text;
        return (made / name).string();
    };
    const std::string cue = cueFile("cue.srt", "1\n00:00:00,000 --> 00:00:20,000\nAll along\n"),
                      lateCue = cueFile("late.srt", "1\n00:00:30,000 --> 00:00:31,000\nLater\n"),
                      credits = cueFile("credits.srt", "1\n00:00:21,000 --> 00:00:23,000\nCredits\n"),
                      webCredits = cueFile("credits.vtt", "WEBVTT\n\n00:00:21.000 --> 00:00:24.000\nCredits\n");
    const auto joined = [](std::vector<std::string> first, const std::vector<std::string>& then) {
        first.insert(first.end(), then.begin(), then.end());
        return first;
    };
    const std::vector<std::string> twenty = {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=20",
                                             "-f", "lavfi", "-i", "sine=duration=20"};
    const auto withH264 = [&](const std::vector<std::string>& codec) {
        return joined({"-c:v", "libx264", "-bf", "0", "-c:a", "aac"}, codec);
    };
    // 20 s of pictures (no B-frames) and sound, and beside them the input `third`.
    const auto beside = [&](const std::string& name, const std::vector<std::string>& third,
                            const std::vector<std::string>& codec) {
        return test::generated(name,
                               joined(joined(joined(twenty, third), {"-map", "0", "-map", "1", "-map", "2"}), codec));
    };
    const auto captioned = [&](const std::string& name, const std::string& cueText,
                               const std::vector<std::string>& codec) {
        return beside(name, {"-i", cueText}, codec);
    };
    // 20 s of pictures and sound, and a third track of `third` that lasts 26 s.
    const auto longerThird = [&](const std::string& name, const std::string& third) {
        return beside(name, {"-f", "lavfi", "-i", third}, withH264({}));
    };
    const auto chaptered = [&](const std::string& name) {
        return test::generated(name, {"-f",
                                      "lavfi",
                                      "-i",
                                      "testsrc2=size=96x64:rate=10:duration=10",
                                      "-f",
                                      "lavfi",
                                      "-i",
                                      "sine=duration=10",
                                      "-i",
                                      chapters,
                                      "-map",
                                      "0",
                                      "-map",
                                      "1",
                                      "-map_chapters",
                                      "2",
                                      "-c:v",
                                      "libx264",
                                      "-c:a",
                                      "aac"});
    };
    const auto pictures = [](const std::string& name, const std::string& pattern) {
        // No B-frames: what is read before a cut is everything shown before it.
        return test::generated(name, {"-f", "lavfi", "-i", "testsrc2=" + pattern, "-c:v", "libx264", "-bf", "0",
                                      "-movflags", "+faststart"});
    };
    const fs::path avi =
        test::generated("twenty.avi", {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=30:duration=20", "-f", "lavfi",
                                       "-i", "sine=duration=20", "-c:v", "mpeg4", "-c:a", "libmp3lame"});
    const fs::path timecoded =
        test::generated("timecode.mov", {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=25:duration=10", "-f", "lavfi",
                                         "-i", "sine=duration=10", "-c:v", "prores_ks", "-c:a", "pcm_s24le",
                                         "-timecode", "10:00:00:00", "-movflags", "+faststart"});
    // Pictures from 3 s to 13 s, sound for the first 5 s.
    const fs::path late = test::generated("late.mp4", {"-itsoffset", "3",
                                                       "-f",         "lavfi",
                                                       "-i",         "testsrc2=size=96x64:rate=10:duration=10",
                                                       "-f",         "lavfi",
                                                       "-i",         "sine=duration=5",
                                                       "-fps_mode",  "passthrough",
                                                       "-c:v",       "libx264",
                                                       "-bf",        "0",
                                                       "-c:a",       "aac",
                                                       "-movflags",  "+faststart"});
    const fs::path captionedMp4 =
                       captioned("caption.mp4", cue, withH264({"-c:s", "mov_text", "-movflags", "+faststart"})),
                   captionedMkv = captioned("caption.mkv", cue, withH264({"-c:s", "srt"}));
    const fs::path oddAvi = test::withLeadingChunk(avi, made / "odd.avi", 3);
    const fs::path lateCueMkv = captioned("late.mkv", lateCue, withH264({"-c:s", "srt"})),
                   lateCueWebm = captioned("late.webm", webCredits,
                                           {"-c:v", "libvpx", "-threads", "1", "-c:a", "libopus", "-c:s", "webvtt"});
    // Without the tracks' own lengths: one with no other track; one whose index, a key frame each second, is at its
    // front.
    const fs::path plainMkv = test::generated("plain.mkv", joined(twenty, withH264({})));
    const fs::path untaggedMkv = test::withoutTrackLengths(plainMkv, made / "untagged.mkv"),
                   indexedMkv = test::withoutTrackLengths(
                       captioned("indexed.mkv", lateCue,
                                 withH264({"-g", "10", "-sc_threshold", "0", "-c:s", "srt", "-cues_to_front", "1"})),
                       made / "indexed.mkv");
    // Fragments of 2 s, a key frame starting each.
    const fs::path fragmented = test::generated(
        "fragments.mp4",
        joined(
            {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=25:duration=20", "-f", "lavfi", "-i", "sine=duration=20"},
            withH264({"-g", "50", "-sc_threshold", "0", "-movflags", "frag_keyframe+empty_moov+default_base_moof"})));
    // An FLV, and one whose header's length came from a sound packet's showing time an hour on, which FLV does not keep.
    const fs::path flv = test::generated("twenty.flv", joined(twenty, withH264({}))),
                   lateFlv = test::generated(
                       "late.flv",
                       joined(twenty, withH264({"-bsf:a", "setts=pts=if(eq(N\\,50)\\,PTS+3600/TB\\,PTS)"})));
    struct Row {
        fs::path whole;
        double cutSeconds;     // below 0: the whole file
        const char* length;    // as the failure shows it; null: it encodes
        bool damaged = false;  // the failure calls the file damaged, not short
    };
    const Row rows[] = {{avi, 2, "20.0"},
                        {avi, 10, "20.0"},
                        {avi, 17.5, "20.0"},
                        {pictures("long.mov", "size=160x90:rate=5:duration=110"), 99, "110.0"},
                        {pictures("three.mov", "size=96x64:rate=10:duration=3"), 1.6, nullptr},
                        {chaptered("chapters.mp4"), -1, nullptr},
                        {chaptered("chapters.mov"), -1, nullptr},
                        {oddAvi, 10, "20.0"},
                        {timecoded, 5, "10.0"},
                        {timecoded, -1, nullptr},
                        {captionedMp4, 10, "20.0"},
                        {captionedMp4, -1, nullptr},
                        {captionedMkv, 2, "20.0"},
                        {captionedMkv, -1, nullptr},
                        {late, 8, "13.0"},
                        {lateCueMkv, -1, nullptr},
                        {lateCueMkv, 10, "20.0"},
                        {captioned("credits.mkv", credits, withH264({"-c:s", "ass"})), -1, nullptr},
                        {longerThird("sounds.mkv", "sine=frequency=880:duration=26"), -1, nullptr},
                        {longerThird("pictures.mkv", "testsrc=size=96x64:rate=10:duration=26"), -1, nullptr},
                        {lateCueWebm, -1, nullptr},
                        {lateCueWebm, 10, "20.0"},
                        {untaggedMkv, 10, "20.0"},
                        {indexedMkv, 10, "19.0"},
                        {indexedMkv, -1, nullptr},
                        {fragmented, 8.5, "10.0", true},
                        {flv, 10, "20.0"},
                        {lateFlv, -1, nullptr}};
    for (const Row& row : rows) {
        const fs::path input = dir / ("cut" + row.whole.extension().string());
        const std::string name = input.filename().string();
        double at = 0;
        if (row.cutSeconds < 0)
            fs::copy_file(row.whole, input);
        else
            at = test::cutBeforePacket(row.whole, input, "video", row.cutSeconds);
        for (const char* codec : {"h264", "prores"}) {
            SCOPED_TRACE(row.whole.filename().string() + " cut at " + std::to_string(at) + " to " + codec);
            const auto result = encode({"--codec", codec}, {input});
            EXPECT_EQ(result.exitStatus, row.length ? 1 : 0) << result.standardError;
            EXPECT_EQ(test::entriesIn(dir.path()), row.length ? 1 : 2);
            for (const auto& entry : fs::directory_iterator(dir.path()))
                if (entry.path() != input) fs::remove(entry.path());
            if (row.length) {
                const std::string line = result.standardError, before = "\u2717 " + name + ": ";
                EXPECT_NEAR(row.damaged ? test::stoppedAtDamage(line, name, row.length, before, "\n")
                                        : test::stoppedAt(line, name, row.length, before, "\n"),
                            at, 0.2)
                    << line;
            }
        }
        fs::remove(input);
    }
}

// A raw picture stream whose header declares a size no decoder takes says so, naming the size, on the movie routes and
// the GIF route alike.
TEST(CommandLineTool, AStreamDeclaringAnUndecodablePictureSizeSaysItIsTooLarge) {
    TempDir dir;
    std::ofstream(dir / "huge.y4m", std::ios::binary) << "YUV4MPEG2 W60000 H60000 F25:1 Ip A1:1 C420jpeg\nFRAME\n"
                                                      << std::string(1000, '\0');
    for (const char* codec : {"h264", "prores", "hap", "gif"}) {
        SCOPED_TRACE(codec);
        const auto result = encode({"--codec", codec}, {dir / "huge.y4m"});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError,
                  "\u2717 huge.y4m: Could not open \u201chuge.y4m\u201d: the picture is too large to "
                  "decode (60000 \u00d7 60000 pixels)\n");
    }
    EXPECT_EQ(test::entriesIn(dir.path()), 1);
}

// The longest name the file system allows is a legal output name, though the
// staged file beside it needs a few bytes more.
TEST(CommandLineTool, AnOutputNameOfTheFullLengthIsWritten) {
    TempDir dir;
    const std::string stem(246, 'n');  // stem + "_H264.mp4" is 255 bytes
    ASSERT_TRUE(makeMovie(dir / (stem + ".mov")));
    EXPECT_EQ(encode({}, {dir / (stem + ".mov")}).exitStatus, 0);
    EXPECT_TRUE(fs::exists(dir / (stem + "_H264.mp4")));
}

// Ctrl-C mid-encode cancels it: the input's line says so, the status is
// 128 + SIGINT, no further input starts and no file is left, staged or not.
TEST(CommandLineTool, InterruptedEncodeLeavesNoFileAndExitsWith128PlusSignal) {
    TempDir dir;
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=8", "-c:v", "libx264",
                              "-preset", "ultrafast", (dir / "source.mov").string()}));
    const std::string source = (dir / "source.mov").string();
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()); };
    // The platform's encoders, and frames packed by our own.
    for (const char* codec : {"prores", "hapq"}) {
        SCOPED_TRACE(codec);
        // Interrupted once the staged output has appeared and is being written.
        auto result = test::runCommand({FW_PROGRAM, "--encode", "--codec", codec, source, source}, [&](int program) {
            for (int waited_ms = 0; entries() < 2 && waited_ms < 20000; waited_ms += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(program, SIGINT);
        });
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_EQ(result.standardError, "\u2717 source.mov: The job was cancelled.\n");
        EXPECT_EQ(result.exitStatus, 130);
        EXPECT_EQ(entries(), 1) << "only the source is left";
    }
}

// "--size 99999x99999" is brought down to 16384 a side; a square movie or a still (whose box is kept) would then be
// 16384 x 16384, which no movie encoder here opens: refused, naming the size and the largest one, before any file.
TEST(CommandLineTool, ASizeBeyondWhatTheCodecStoresIsRefusedNamingIt) {
    TempDir dir;
    fs::create_directory(dir / "out");
    ASSERT_TRUE(makeMovie(dir / "square.mov", "64x64"));
    ASSERT_TRUE(test::ffmpeg(
        {"-f", "lavfi", "-i", "testsrc2=size=64x48", "-frames:v", "1", "-update", "1", (dir / "photo.png").string()}));
    const std::string proRes =
        "The frame size 16384\u00D716384 is larger than ProRes allows: at most "
        "16254\u00D716254, or 16384\u00D716128 with a side of 16384\n";
    const std::string h264 =
        "The frame size 16384\u00D716384 is larger than H.264 allows: at most 8192\u00D74352, "
        "or 35651584 pixels in another shape with no side over 16384\n";
    const std::pair<const char*, std::string> rows[] = {
        {"prores", proRes}, {"h264", h264}, {"hevc", "larger than HEVC allows: at most 8192\u00D74352"}};
    for (const auto& [codec, reason] : rows)
        for (const char* input : {"square.mov", "photo.png"}) {
            SCOPED_TRACE(std::string(codec) + " from " + input);
            const auto result =
                encode({"--codec", codec, "--size", "99999x99999", "--output", (dir / "out").string()}, {dir / input});
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_TRUE(result.standardError.starts_with("\u2717 " + std::string(input) + ": Writing failed: ") &&
                        result.standardError.find(reason) != std::string::npos)
                << result.standardError;
            EXPECT_EQ(test::entriesIn(dir / "out"), 0);
        }
}

// What the writer was asked for, read back by an independent decoder.
TEST(CommandLineTool, CodecFlagsReachTheWriter) {
    TempDir dir;
    ASSERT_TRUE(makeMovie(dir / "clip.mov", "96x64"));
    struct Row {
        std::vector<std::string> options;
        std::string output, fields;  // codec, size, pixel format, profile
    };
    const Row rows[] = {{{"--ten-bit"}, "clip_H264.mp4", "h264 96 64 yuv420p High"},
                        {{"--codec", "hevc", "--10bit"}, "clip_HEVC.mp4", "hevc 96 64 yuv420p10le Main 10"},
                        {{"--codec", "4444", "--alpha"}, "clip_ProRes.mov", "prores 96 64 yuv422p10le HQ"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.output);
        auto result = encode(row.options, {dir / "clip.mov"});
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(result.standardOutput, "\u2713 clip.mov \u2192 " + row.output + "\n");
        EXPECT_EQ(test::fieldsOf(videoOf(dir / row.output), {"codec_name", "width", "height", "pix_fmt", "profile"}),
                  row.fields);
    }
}

// Crush steers H.264's average bit rate: a grainy picture that can use any rate
// comes out at a clearly higher rate with crush 1 than with crush 0.
TEST(CommandLineTool, CrushChangesTheBitRate) {
    TempDir dir;
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=30:duration=2,noise=alls=40:allf=t",
                              "-c:v", "libx264", "-qp", "0", (dir / "grain.mp4").string()}));
    auto videoBitRate = [&](const std::string& crush) {
        const fs::path folder = dir / ("crush" + crush);
        fs::create_directory(folder);
        auto result = encode({"--crush", crush, "--output", folder.string()}, {dir / "grain.mp4"});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const auto video = videoOf(folder / "grain_H264.mp4");
        return video.is_object() ? test::number(video.value("bit_rate", test::Json("0"))) : 0.0;
    };
    const double low = videoBitRate("0");
    const double high = videoBitRate("1");
    EXPECT_GT(low, 0);
    EXPECT_GT(high, 2 * low) << "crush 0: " << low << " bit/s, crush 1: " << high << " bit/s";
}

// The first frame as a player shows it (display matrix applied), in grey at a
// fixed size; empty when it cannot be decoded.
std::string displayedGreyFrame(const fs::path& file, int width, int height) {
    auto result = test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-frames:v",
                                    "1", "-vf", "scale=" + std::to_string(width) + ":" + std::to_string(height), "-f",
                                    "rawvideo", "-pix_fmt", "gray", "-"});
    return result.exitStatus == 0 ? result.standardOutput : std::string();
}

double meanAbsoluteDifference(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return 255;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(static_cast<unsigned char>(a[i])) - int(static_cast<unsigned char>(b[i])));
    return sum / double(a.size());
}

// A rotated source keeps its displayed size, and "--size" fits the picture as displayed with the output upright at that
// size, not turned a second time by a display matrix carried over.
TEST(CommandLineTool, RotatedSourceComesOutUprightAtItsDisplayedSize) {
    TempDir dir;
    // 160 × 90 stored with a quarter-turn display matrix, shown as 90 × 160 (the
    // tool sets the matrix from the rotate tag only when copying streams).
    const fs::path source = dir / "portrait.mp4";
    ASSERT_TRUE(makeMovie(dir / "upright.mov"));
    ASSERT_TRUE(test::ffmpeg(
        {"-i", (dir / "upright.mov").string(), "-c", "copy", "-metadata:s:v:0", "rotate=90", source.string()}));
    ASSERT_EQ(test::displayedSize(videoOf(source)), std::pair(90, 160));
    struct Case {
        std::vector<std::string> options;
        const char* output;
        int width, height;
    };
    for (const Case& c : {Case{{"--codec", "prores"}, "portrait_ProRes.mov", 90, 160},
                          Case{{"--size", "320x320"}, "portrait_H264.mp4", 180, 320}}) {
        SCOPED_TRACE(c.output);
        auto result = encode(c.options, {source});
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(test::displayedSize(videoOf(dir / c.output)), std::pair(c.width, c.height));
        EXPECT_LT(meanAbsoluteDifference(displayedGreyFrame(source, c.width, c.height),
                                         displayedGreyFrame(dir / c.output, c.width, c.height)),
                  6.0);
    }
}

// Each image route from a movie (its poster frame: the first frame, upright at the displayed size) and from a still
// image (the image itself), read back by FFmpeg (PNG, JPEG) and libheif (HEIC).
TEST(CommandLineTool, ImageRoutesGiveTheUprightFirstPicture) {
    TempDir dir;
    ASSERT_TRUE(makeMovie(dir / "upright.mov"));
    ASSERT_TRUE(test::ffmpeg({"-i", (dir / "upright.mov").string(), "-c", "copy", "-metadata:s:v:0", "rotate=90",
                              (dir / "portrait.mp4").string()}));
    ASSERT_TRUE(
        test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=120x80", "-frames:v", "1", (dir / "still.png").string()}));
    struct Source {
        const char* name;
        int width, height;
    };
    for (const Source source : {Source{"portrait.mp4", 90, 160}, Source{"still.png", 120, 80}}) {
        const std::string first =
            test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", (dir / source.name).string(),
                              "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
                .standardOutput;
        ASSERT_EQ(first.size(), std::size_t(3) * source.width * source.height);
        for (const char* codec : {"png", "jpeg", "heic"}) {
            SCOPED_TRACE(std::string(source.name) + " " + codec);
            auto result = encode({"--codec", codec}, {dir / source.name});
            ASSERT_EQ(result.exitStatus, 0) << result.standardError;
            const std::string suffix = std::string(codec) == "png" ? "PNG.png"
                                       : codec[0] == 'j'           ? "JPEG.jpg"
                                                                   : "HEIC.heic";
            const fs::path output = dir / (fs::path(source.name).stem().string() + "_" + suffix);
            EXPECT_EQ(result.standardOutput,
                      "\u2713 " + std::string(source.name) + " \u2192 " + output.filename().string() + "\n");
            int width = 0, height = 0;
            std::string rgb;
            if (codec[0] == 'h') {
                rgb = test::heifRGB(output, width, height);
            } else {
                const auto video = videoOf(output);
                ASSERT_TRUE(video.is_object());
                width = video["width"], height = video["height"];
                const auto bytes = test::ffmpegRaw(output, "rgb24");
                rgb.assign(bytes.begin(), bytes.end());
            }
            EXPECT_EQ(std::pair(width, height), std::pair(source.width, source.height));
            // FFmpeg and our reader upsample the 4:2:0 chroma of sharp colour edges differently; a picture turned the
            // wrong way or another frame differs by tens.
            EXPECT_LT(meanAbsoluteDifference(rgb, first), 8.0);
        }
    }
}

// A resized output has even sides, an odd one made even upwards, on every route, and the picture is rounded with it:
// its edge rows and columns are picture, never a black line left by an odd picture in an even frame.
TEST(CommandLineTool, ResizedPictureFillsItsEvenFrame) {
    TempDir dir;
    struct Row {
        std::string sourceSize;
        std::vector<std::string> options;
        const char* output;
        int width, height;
    };
    const Row rows[] = {
        {"1080x1920", {"--size", "1280x720"}, "clip_H264.mp4", 406, 720},
        {"1080x1920", {"--codec", "hevc", "--ten-bit", "--size", "1280x720"}, "clip_HEVC.mp4", 406, 720},
        {"1920x1080", {"--size", "1000x1000"}, "clip_H264.mp4", 1000, 564},
        {"1920x1080", {"--size", "853x479"}, "clip_H264.mp4", 852, 480},
        {"320x240", {"--size", "100x75"}, "clip_H264.mp4", 100, 76},
        {"320x240", {"--size", "321x241"}, "clip_H264.mp4", 322, 242},
        {"320x240", {"--codec", "prores", "--size", "321x241"}, "clip_ProRes.mov", 322, 242},
        {"320x240", {"--codec", "hap", "--size", "321x241"}, "clip_Hap.mov", 322, 242},
        {"320x240", {"--codec", "dxv3", "--size", "321x241"}, "clip_DXV3.mov", 322, 242},
        {"320x240", {"--codec", "gif", "--size", "321x241"}, "clip_GIF.gif", 322, 242},
        {"640x361", {"--codec", "prores", "--ten-bit"}, "clip_ProRes.mov", 640, 362}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sourceSize + " " + row.output + " " + row.options.back());
        // A flat grey (4:4:4, so odd sides stay odd): any line of background shows.
        const fs::path source = test::generated(
            "flat-" + row.sourceSize + ".mp4",
            {"-f", "lavfi", "-i", "color=c=0xB0B0B0:rate=10:duration=0.3:size=" + row.sourceSize + ",format=yuv444p",
             "-c:v", "libx264"});
        ASSERT_FALSE(source.empty());
        fs::remove(dir / "clip.mp4");
        fs::copy_file(source, dir / "clip.mp4");
        auto result = encode(row.options, {dir / "clip.mp4"});
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        const auto video = videoOf(dir / row.output);
        ASSERT_TRUE(video.is_object());
        const int width = video["width"], height = video["height"];
        EXPECT_EQ(std::pair(width, height), std::pair(row.width, row.height));
        const auto grey = test::ffmpegRaw(dir / row.output, "gray");
        ASSERT_EQ(grey.size(), std::size_t(width) * height);
        // The furthest any edge pixel strays from the middle of the picture.
        const int middle = grey[std::size_t(height / 2) * width + width / 2];
        int worst = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; x += y == 0 || y == height - 1 ? 1 : width - 1)
                worst = std::max(worst, std::abs(grey[std::size_t(y) * width + x] - middle));
        EXPECT_LT(worst, 16);
        fs::remove(dir / row.output);
    }
}

}  // namespace
}  // namespace fw

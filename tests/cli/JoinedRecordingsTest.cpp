// Recordings joined end to end as `cat a.ts b.ts` leaves them, through the built program: a clock that starts again
// carries on after the end of what came before, pictures and sound alike; a short overlap drops what overlaps of
// both; a pause keeps its time. A recording whose clock wraps comes out whole. A flash and a beep laid together in
// each recording show where its pictures and its sound landed.

#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr double kLength = 3;  // of each recording, at 25 fps
// Where the 33-bit 90 kHz clock of MPEG-TS and MPEG-PS wraps, in seconds.
constexpr double kClockWraps = 8589934592.0 / 90000;

// A recording of black and silence, white and a 440 Hz tone from 1 s to 1.2 s, its clock starting at `clock` s.
fs::path recording(const std::vector<std::string>& codecs, const std::string& container, double clock,
                   double length = kLength) {
    const std::string seconds = std::to_string(length);
    std::vector<std::string> arguments{
        "-f", "lavfi",
        "-i", "color=black:s=96x64:r=25:d=" + seconds + ",drawbox=c=white:t=fill:enable='between(t,1,1.19)'",
        "-f", "lavfi",
        "-i", "aevalsrc='0.5*sin(2*PI*440*t)*between(t,1,1.2)':s=48000:d=" + seconds};
    arguments.insert(arguments.end(), codecs.begin(), codecs.end());
    arguments.insert(arguments.end(), {"-output_ts_offset", std::to_string(clock), "-f", container});
    return test::generated("recording." + container, arguments);
}

// The times of the steps (`size` bytes each, at `times`) that are on after at least `calm` that are not.
std::vector<double> onsets(const std::string& bytes, const std::vector<double>& times, std::size_t size,
                           std::size_t calm, const auto& on) {
    std::vector<double> found;
    for (std::size_t i = 0, off = 0; i < times.size(); ++i) {
        const bool now = on(bytes.data() + i * size);
        if (now && off >= calm) found.push_back(times[i]);
        off = now ? 0 : off + 1;
    }
    return found;
}

std::vector<double> flashes(const fs::path& file) {
    const auto frames = test::probe(file, {"-select_streams", "v:0", "-show_entries", "frame=pts_time"});
    std::vector<double> times;
    for (const auto& frame : frames.value("frames", test::Json::array()))
        times.push_back(test::number(frame["pts_time"]));
    const auto grey =
        test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-map", "0:v:0",
                          "-fps_mode", "passthrough", "-vf", "scale=1:1", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    EXPECT_EQ(grey.standardOutput.size(), times.size());
    times.resize(std::min(times.size(), grey.standardOutput.size()));
    return onsets(grey.standardOutput, times, 1, 1, [](const char* luma) { return std::uint8_t(*luma) > 128; });
}

std::vector<double> beeps(const fs::path& file, double start) {
    const auto sound = test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-map",
                                         "0:a:0", "-ac", "1", "-ar", "48000", "-f", "s16le", "-"});
    // In steps of 5 ms, loud when any sample of the step is, after 0.1 s that are not.
    constexpr std::size_t kStep = 240;
    std::vector<double> times;
    for (std::size_t i = 0; (i + 1) * kStep * 2 <= sound.standardOutput.size(); ++i)
        times.push_back(start + double(i * kStep) / 48000);
    return onsets(sound.standardOutput, times, kStep * 2, 20, [](const char* bytes) {
        for (std::size_t i = 0; i < kStep; ++i) {
            std::int16_t sample;
            std::memcpy(&sample, bytes + 2 * i, 2);
            if (std::abs(sample) > 3000) return true;
        }
        return false;
    });
}

TEST(JoinedRecordings, EachRecordingsPicturesAndSoundFollowOnInSync) {
    const std::vector<std::string> h264{"-c:v",     "libx264", "-preset", "ultrafast",
                                        "-pix_fmt", "yuv420p", "-c:a",    "aac"};
    const std::vector<std::string> mpeg2{"-c:v", "mpeg2video", "-c:a", "mp2"};
    const struct Row {
        const char* name;
        std::vector<std::string> codecs;
        const char* container;
        double secondClock;  // where the second recording's clock starts
        const char* codec;
        int frames;
        double secondAt;        // where the second recording lies in the output
        double firstClock = 1;  // where the first recording's clock starts
    } rows[] = {
        {"clock started again", h264, "mpegts", 1, "h264", 150, 3},
        {"clock started again, MPEG-2", mpeg2, "mpegts", 1, "prores", 150, 3},
        {"clock started again, program stream", mpeg2, "vob", 1, "h264", 150, 3},
        {"two seconds back: no overlap but a recording of its own", h264, "mpegts", 2, "h264", 150, 3},
        {"two frames over", h264, "mpegts", 1 + kLength - 0.08, "h264", 148, kLength - 0.08},
        {"exactly one frame over", h264, "mpegts", 1 + kLength - 0.04, "prores", 149, kLength - 0.04},
        {"a three-second pause, its sound silent", h264, "mpegts", 1 + kLength + 3, "h264", 150, kLength + 3},
        {"a clock far ahead: not started again", mpeg2, "mpegts", 100, "prores", 150, kLength},
        // MPEG-TS starts its clock 1.4 s after the one asked for: it wraps 1.5 s in, as the program stream's does.
        {"the first recording's clock wraps", h264, "mpegts", 100, "prores", 150, kLength, kClockWraps - 2.9},
        {"the first recording's clock wraps, program stream", mpeg2, "vob", 100, "h264", 150, kLength,
         kClockWraps - 1.5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        auto joined = test::readFile(recording(row.codecs, row.container, row.firstClock));
        const auto second = test::readFile(recording(row.codecs, row.container, row.secondClock));
        joined.insert(joined.end(), second.begin(), second.end());
        const fs::path source = dir / (row.container == std::string("vob") ? "joined.mpg" : "joined.ts");
        test::writeFile(source, joined);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output =
            dir / (std::string("joined_") + (row.codec == std::string("h264") ? "H264.mp4" : "ProRes.mov"));
        const auto probed = test::probe(output, {"-count_frames"});
        const auto video = test::streamOf(probed, "video"), audio = test::streamOf(probed, "audio");
        EXPECT_EQ(test::fieldsOf(video, {"nb_read_frames"}), std::to_string(row.frames));
        EXPECT_NEAR(test::number(video["duration"]), kLength + row.secondAt, 0.05);
        EXPECT_NEAR(test::number(audio["duration"]), kLength + row.secondAt, 0.05)
            << "the sound ends with the pictures";

        const auto seen = flashes(output), heard = beeps(output, test::number(audio["start_time"]));
        EXPECT_EQ(seen.size(), 2u);
        EXPECT_EQ(heard.size(), 2u);
        if (seen.size() != 2 || heard.size() != 2) continue;
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_NEAR(seen[i], i ? row.secondAt + 1 : 1, 0.03) << "flash " << i;
            EXPECT_NEAR(heard[i], seen[i], 0.025) << "flash and beep " << i;
        }
    }
}

// The library counts the times of a clock that wraps within a minute of the start from below zero: every picture and
// all the sound still come out, the part before the wrap where it belongs.
TEST(WrappedClocks, ARecordingWhoseClockWrapsComesOutWhole) {
    const std::vector<std::string> h264{"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac",
                                        // the clock where it is asked to start
                                        "-muxdelay", "0", "-muxpreload", "0"};
    const std::vector<std::string> mpeg2{"-c:v", "mpeg2video", "-c:a", "mp2"};
    const struct Row {
        const char* name;
        std::vector<std::string> codecs;
        const char* container;
        double wrapsAt;  // s into the recording
        double length;
        const char* codec;
    } rows[] = {
        {"MPEG-TS, 5 s in", h264, "mpegts", 5, 7, "h264"},
        {"MPEG-TS, 59 s in", h264, "mpegts", 59, 61, "prores"},
        {"program stream, 5 s in", mpeg2, "vob", 5, 7, "prores"},
        {"program stream, 59 s in", mpeg2, "vob", 59, 61, "h264"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const fs::path source = dir / (row.container == std::string("vob") ? "wrapped.mpg" : "wrapped.ts");
        fs::copy_file(recording(row.codecs, row.container, kClockWraps - row.wrapsAt, row.length), source);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output =
            dir / (std::string("wrapped_") + (row.codec == std::string("h264") ? "H264.mp4" : "ProRes.mov"));
        const auto probed = test::probe(output, {"-count_frames"});
        const auto video = test::streamOf(probed, "video"), audio = test::streamOf(probed, "audio");
        EXPECT_EQ(test::fieldsOf(video, {"nb_read_frames"}), std::to_string(int(row.length * 25)));
        EXPECT_NEAR(test::number(video["duration"]), row.length, 0.05);
        EXPECT_NEAR(test::number(audio["duration"]), row.length, 0.05);

        const auto seen = flashes(output), heard = beeps(output, test::number(audio["start_time"]));
        EXPECT_EQ(seen.size(), 1u);
        EXPECT_EQ(heard.size(), 1u);
        if (seen.size() != 1 || heard.size() != 1) continue;
        EXPECT_NEAR(seen[0], 1, 0.03);
        EXPECT_NEAR(heard[0], seen[0], 0.025);
    }
}

}  // namespace
}  // namespace fw

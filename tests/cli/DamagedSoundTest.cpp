// A source whose sound is damaged in the middle, through the built program: what the audio decoder refuses becomes
// silence of its length and the encode goes on, on every movie route; the picture is never cut short because the
// sound stopped, and a track that cannot be decoded at all fails the input rather than passing as a short movie.

#include "support/DamagedMedia.h"
#include "support/Outputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr double kSeconds = 6;
constexpr int kFrames = 180;

// 6 s (or `seconds`) of pictures at 30 fps with a 440 Hz stereo tone in AAC, as a camera or a phone writes them.
fs::path movie(double seconds = kSeconds) {
    const std::string length = std::to_string(seconds);
    return test::generated("damaged-sound-source.mp4",
                           {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=" + length, "-f", "lavfi",
                            "-i", "sine=frequency=440:sample_rate=48000:duration=" + length, "-ac", "2", "-c:v",
                            "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k"});
}

test::CommandResult encode(const std::string& codec, const fs::path& input, const fs::path& folder) {
    return test::runCommand({FW_PROGRAM, "--encode", "--codec", codec, "--output", folder.string(), input.string()});
}

// Interleaved 16-bit stereo as the ffmpeg tool decodes the file's sound.
std::vector<std::int16_t> soundOf(const fs::path& file) {
    const auto bytes = test::ffmpegRaw(file, "s16le");
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// One packet damaged 2 s in, and one 1.7 s before the end, where a reader that stops is forgiven as a file that
// ends early: each through H.264, ProRes and Hap keeps every picture and the whole sound, and the line says so.
TEST(DamagedSound, ARefusedSoundPacketKeepsTheWholeMovieOnEveryRoute) {
    struct Row {
        const char* codec;
        const char* output;
    } routes[] = {{"h264", "clip_H264.mp4"}, {"prores", "clip_ProRes.mov"}, {"hap", "clip_Hap.mov"}};
    for (const double damageAt : {2.0, 4.3}) {
        TempDir dir;
        ASSERT_GT(test::damagePackets(movie(), dir / "clip.mp4", "audio", damageAt), 0);
        for (const Row& route : routes) {
            SCOPED_TRACE(std::string(route.codec) + " with damage at " + std::to_string(damageAt) + " s");
            const auto result = encode(route.codec, dir / "clip.mp4", dir.path());
            EXPECT_EQ(result.exitStatus, 0) << result.standardError;
            EXPECT_EQ(result.standardOutput, std::string("\u2713 clip.mp4 \u2192 ") + route.output +
                                                 " (0.1 s of damaged sound replaced by silence)\n");
            const auto probed = test::probe(dir / route.output, {"-count_frames"});
            test::Json video = test::streamOf(probed, "video"), audio = test::streamOf(probed, "audio");
            EXPECT_EQ(test::fieldsOf(video, {"nb_read_frames"}), std::to_string(kFrames));
            EXPECT_NEAR(test::number(video["duration"]), kSeconds, 0.05);
            EXPECT_NEAR(test::number(audio["duration"]), kSeconds, 0.05);
        }
    }
}

// The ProRes route stores the sound as 16-bit PCM, so it can be laid over the undamaged source's: the refused packets
// are silence, and what follows sits where it sat (dropped without a gap, the tone would come 21 ms early and miss the
// source's by up to twice its amplitude of about 3000). So at the start too: the track still starts at 0 with every
// sample, rather than late by what was refused, even when more than 10 s of it is; and 139 packets refused are
// reported as such.
TEST(DamagedSound, TheSoundAfterARefusedPacketKeepsItsTime) {
    const struct Row {
        double from;
        int count;
        const char* note;
        double seconds = kSeconds;
    } rows[] = {{2.0, 1, "0.1"}, {0.0, 1, "0.1"}, {0.0, 2, "0.1"}, {2.0, 139, "3.0"}, {0.0, 479, "10.2", 12}};
    const auto at = [](double seconds) { return static_cast<std::size_t>(std::lround(seconds * 48000)) * 2; };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.count) + " from " + std::to_string(row.from) + " s");
        const auto original = soundOf(movie(row.seconds));
        TempDir dir;
        const double damagedAt =
            test::damagePackets(movie(row.seconds), dir / "clip.mp4", "audio", row.from, row.count);
        ASSERT_GE(damagedAt, 0);
        const auto result = encode("prores", dir / "clip.mp4", dir.path());
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(result.standardOutput, std::string("\u2713 clip.mp4 \u2192 clip_ProRes.mov (") + row.note +
                                             " s of damaged sound replaced by silence)\n");
        EXPECT_EQ(test::number(test::streamOf(test::probe(dir / "clip_ProRes.mov"), "audio")["start_time"]), 0);

        const auto written = soundOf(dir / "clip_ProRes.mov");
        ASSERT_EQ(written.size(), original.size());
        // The refused packets' 1024 frames each, less the edges the decoder's overlap smears.
        const double damagedUntil = damagedAt + row.count * 1024 / 48000.0;
        int loudest = 0;
        for (std::size_t i = at(damagedAt + 0.002); i < at(damagedUntil - 0.002); ++i)
            loudest = std::max(loudest, std::abs(int(written[i])));
        EXPECT_LT(loudest, 300) << "silence where the packets were";
        // Before them, and from 0.1 s after them (once the decoder's overlap has passed) to the last frame (whose
        // padding may round otherwise), the source's own samples.
        int largest = 0;
        for (std::size_t i = 0; i < at(damagedAt); ++i)
            largest = std::max(largest, std::abs(int(written[i]) - int(original[i])));
        for (std::size_t i = at(damagedUntil + 0.1); i < at(row.seconds - 0.05); ++i)
            largest = std::max(largest, std::abs(int(written[i]) - int(original[i])));
        EXPECT_LE(largest, 4);
    }
}

// Sound that starts 1.5 s before the end and of which no packet decodes: the picture reaches the end and the input
// fails with the decoder's words, rather than passing as a movie that stops where the sound began.
TEST(DamagedSound, SoundThatNeverDecodesFailsTheInputInsteadOfCuttingThePicture) {
    TempDir dir;
    const fs::path source = test::generated(
        "late-sound-source.mp4",
        {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30:duration=6", "-itsoffset", "4.5", "-f", "lavfi", "-i",
         "sine=frequency=440:sample_rate=48000:duration=1", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"});
    ASSERT_GT(test::damagePackets(source, dir / "clip.mp4", "audio", 0, -1), 4);
    for (const char* codec : {"h264", "prores"}) {
        SCOPED_TRACE(codec);
        const auto result = encode(codec, dir / "clip.mp4", dir.path());
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_TRUE(
            result.standardError.starts_with("\u2717 clip.mp4: Reading failed: Could not decode the audio track"))
            << result.standardError;
        EXPECT_NE(result.standardError.find(": none of its packets could be decoded."), std::string::npos)
            << result.standardError;
        EXPECT_EQ(test::entriesIn(dir.path()), 1) << "no output beside the source";
    }
}

}  // namespace
}  // namespace fw

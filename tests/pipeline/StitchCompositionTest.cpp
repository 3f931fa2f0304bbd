// Files joined end to end and encoded by the movie encoder as one source:
// clips of other sizes, rates and orientations fitted upright, and the sound
// of each clip starting where its pictures do, silence for a clip without.

#include "pipeline/StitchComposition.h"

#include "PipelineTestSupport.h"

namespace fw {
namespace {

using namespace pipelinetest;

// A tone for the first 0.1 s, then silence: it marks where a clip's sound starts.
std::string toneAtStart(int sampleRate, const char* seconds) {
    return "aevalsrc=exprs='if(lt(t,0.1),0.5*sin(2*PI*1000*t),0)':s=" + std::to_string(sampleRate) + ":d=" + seconds;
}

// The first time at or after `fromSeconds` where the left channel of 48 kHz stereo 16-bit sound is loud.
double onsetAfter(const std::vector<std::uint8_t>& pcm, double fromSeconds) {
    const std::size_t frames = pcm.size() / 4;
    for (std::size_t i = static_cast<std::size_t>(fromSeconds * 48000); i < frames; ++i) {
        std::int16_t left;
        std::memcpy(&left, pcm.data() + 4 * i, 2);
        if (std::abs(left) > 3000) return static_cast<double>(i) / 48000;
    }
    return -1;
}

// Every picture of the file as stored, one after another, in bgra (no frame dropped or repeated).
std::vector<std::uint8_t> everyPicture(const fs::path& file) {
    const auto result = test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(),
                                          "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    return {result.standardOutput.begin(), result.standardOutput.end()};
}

const std::uint8_t* pixel(const std::vector<std::uint8_t>& frames, int frame, int width, int height, int x, int y) {
    return frames.data() + ((static_cast<std::size_t>(frame) * height + y) * width + x) * 4;
}

void expectColour(const std::uint8_t* actual, const std::uint8_t* expected, const char* where) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(actual[c], expected[c], 12) << where << " channel " << c;
}

TEST(StitchComposition, ClipsOfOtherSizesRatesAndTurnsPlayUprightInOrderWithSoundInSyncAtEachJoin) {
    // 1 s, 320×180 at 25 fps, red, stereo 48 kHz with the tone.
    const fs::path first = generated(
        "stitch-first.mov", {"-f", "lavfi", "-i", "color=c=red:s=320x180:r=25:d=1", "-f", "lavfi", "-i",
                             toneAtStart(48000, "1"), "-ac", "2", "-c:v", "libx264", "-qp", "0", "-c:a", "pcm_s16le"});
    // 1.2 s, stored 320×180 at 30 fps (green left, blue right) turned a quarter: portrait; no sound.
    const fs::path stored = generated(
        "stitch-stored.mp4",
        {"-f", "lavfi", "-i",
         "color=c=green:s=160x180:r=30:d=1.2[left];color=c=blue:s=160x180:r=30:d=1.2[right];[left][right]hstack",
         "-c:v", "libx264", "-qp", "0"});
    const fs::path portrait =
        generated("stitch-portrait.mp4", {"-i", stored.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    // 0.75 s, 240×240 at 24 fps, yellow, mono 44.1 kHz with the tone.
    const fs::path square = generated("stitch-square.mov",
                                      {"-f", "lavfi", "-i", "color=c=yellow:s=240x240:r=24:d=0.75", "-f", "lavfi", "-i",
                                       toneAtStart(44100, "0.75"), "-c:v", "libx264", "-qp", "0", "-c:a", "pcm_s16le"});
    ASSERT_EQ(displayedSize(streamOf(probe(portrait), "video")), std::pair(180, 320));

    const media::AssetRef stitched = StitchComposition::build({first, portrait, square});
    EXPECT_NEAR(stitched->duration().seconds(), 2.95, 1e-6);
    test::TempDir dir;
    const fs::path out = dir / "stitched.mov";
    encoderFor(OutputCodec::proRes, 320, 180).encode(stitched, out, {}, {});

    const Json probed = probe(out);
    EXPECT_EQ(fieldsOf(streamOf(probed, "video"), {"codec_name", "width", "height"}), "prores 320 180");
    EXPECT_EQ(fieldsOf(streamOf(probed, "audio"), {"sample_rate", "channels"}), "48000 2");
    EXPECT_NEAR(number(probed["format"]["duration"]), 2.95, 0.03);
    const std::vector<double> times = videoTimes(out);
    ASSERT_EQ(times.size(), 25u + 36u + 18u);
    EXPECT_NEAR(times[25], 1.0, 1e-3) << "the portrait clip starts where the first ends";
    EXPECT_NEAR(times[61], 2.2, 1e-3) << "the square clip starts where the portrait one ends";

    // Pictures: each clip fitted upright on black, as FFmpeg shows the clip itself.
    const std::vector<std::uint8_t> frames = everyPicture(out);
    ASSERT_EQ(frames.size(), 79u * 320 * 180 * 4);
    const std::vector<std::uint8_t> upright = test::ffmpegRaw(portrait, "bgra", 1);
    ASSERT_EQ(upright.size(), 180u * 320 * 4);
    const std::uint8_t red[] = {0, 0, 255}, yellow[] = {0, 255, 255}, black[] = {0, 0, 0};
    expectColour(pixel(frames, 12, 320, 180, 20, 90), red, "first clip");
    // Fitted 180×320 into 320×180: about 101 columns in the middle.
    expectColour(pixel(frames, 43, 320, 180, 160, 20), pixel(upright, 0, 180, 320, 90, 35), "portrait top");
    expectColour(pixel(frames, 43, 320, 180, 160, 160), pixel(upright, 0, 180, 320, 90, 285), "portrait bottom");
    expectColour(pixel(frames, 43, 320, 180, 20, 90), black, "portrait side");
    // 240×240 into 320×180: 180×180 in the middle.
    expectColour(pixel(frames, 70, 320, 180, 160, 90), yellow, "square middle");
    expectColour(pixel(frames, 70, 320, 180, 20, 90), black, "square side");

    // Sound: the tone at 0 s, silence for the portrait clip, the tone again at 2.2 s.
    const std::vector<std::uint8_t> pcm = test::ffmpegRaw(out, "s16le");
    EXPECT_NEAR(pcm.size() / 4 / 48000.0, 2.95, 0.01);
    EXPECT_NEAR(onsetAfter(pcm, 0), 0, 0.002);
    EXPECT_NEAR(onsetAfter(pcm, 0.2), 2.2, 0.002);

    // A trim across both joins reads each clip from where the range meets it.
    auto trimmed = encoderFor(OutputCodec::proRes, 320, 180);
    trimmed.trim = TrimRange{0.5, 2.5};
    trimmed.encode(stitched, dir / "trimmed.mov", {}, {});
    const std::vector<double> trimmedTimes = videoTimes(dir / "trimmed.mov");
    ASSERT_EQ(trimmedTimes.size(), 13u + 36u + 8u);
    EXPECT_NEAR(trimmedTimes[13] - trimmedTimes[0], 0.5, 1e-3);
    const std::vector<std::uint8_t> trimmedPcm = test::ffmpegRaw(dir / "trimmed.mov", "s16le");
    EXPECT_NEAR(trimmedPcm.size() / 4 / 48000.0, 2.0, 0.01);
    EXPECT_NEAR(onsetAfter(trimmedPcm, 0), 1.7, 0.002);
}

TEST(StitchComposition, ListsWithoutVideoFailBeforeAnythingIsRead) {
    const fs::path sound = generated("stitch-sound.m4a", {"-f", "lavfi", "-i", toneAtStart(48000, "0.5")});
    for (const std::vector<fs::path>& files : {std::vector<fs::path>{}, std::vector<fs::path>{sound, sound}}) {
        try {
            StitchComposition::build(files);
            ADD_FAILURE() << files.size() << " files built";
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.kind(), EncodingError::Kind::noVideoTrack);
        }
    }
}

}  // namespace
}  // namespace fw

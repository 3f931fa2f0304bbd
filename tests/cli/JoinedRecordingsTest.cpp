// Recordings joined end to end as `cat a.ts b.ts` leaves them, through the built program: a clock that starts again
// carries on after the end of what came before, pictures and sound alike; a short overlap drops what overlaps of
// both; a pause keeps its time, and so does a pause of one track inside a recording, however long. A recording
// whose clock wraps comes out whole, and so does H.264 in a program stream. A flash and a beep laid together in each
// recording show where its pictures and its sound landed.

#include "support/DamagedMedia.h"
#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string_view>

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr double kLength = 3;  // of each joined recording, at 25 fps
// Where the 33-bit 90 kHz clock of MPEG-TS and MPEG-PS wraps, in seconds.
constexpr double kClockWraps = 8589934592.0 / 90000;
// A recording `seconds` long of black and silence, white and a 440 Hz tone from 1 s to 1.2 s and again from 2 s
// before its end when it is longer than kLength, its clock starting at `clock` s. `more` comes before the codecs.
fs::path recording(const std::vector<std::string>& codecs, const std::string& container, double clock,
                   const std::vector<std::string>& more = {}, double seconds = kLength) {
    const std::string length = std::to_string(seconds), late = std::to_string(seconds - 2);
    const std::string at = seconds > kLength ? "+between(t," + late + "," + late + "+0.2)" : "";
    std::vector<std::string> arguments{
        "-f", "lavfi",
        "-i", "color=black:s=96x64:r=25:d=" + length + ",drawbox=c=white:t=fill:enable='between(t,1,1.19)" + at + "'",
        "-f", "lavfi",
        "-i", "aevalsrc='0.5*sin(2*PI*440*t)*(between(t,1,1.2)" + at + ")':s=48000:d=" + length};
    arguments.insert(arguments.end(), more.begin(), more.end());
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

// A recording `seconds` long of black and a steady `hertz` tone sampled at 44.1 kHz, its clock starting at 1 s.
fs::path toneRecording(const std::vector<std::string>& codecs, const std::string& container, double hertz,
                       double seconds = kLength, const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments{
        "-f", "lavfi", "-i", "color=black:s=96x64:r=25:d=" + std::to_string(seconds),
        "-f", "lavfi", "-i", "sine=f=" + std::to_string(hertz) + ":r=44100:d=" + std::to_string(seconds)};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.insert(arguments.end(), codecs.begin(), codecs.end());
    arguments.insert(arguments.end(), {"-output_ts_offset", "1", "-f", container});
    return test::generated("tone." + container, arguments);
}

// The times where a steady `hertz` tone in the file's first sound channel breaks off: a sample dropped or put in
// shifts its phase. A pure tone keeps s[n - 1] + s[n + 1] = 2 cos(w) s[n]; lossy coding strays from it far less.
std::vector<double> toneBreaks(const fs::path& file, double hertz) {
    const auto sound = test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-map",
                                         "0:a:0", "-af", "pan=mono|c0=c0", "-ar", "48000", "-f", "f32le", "-"});
    std::vector<float> samples(sound.standardOutput.size() / sizeof(float));
    std::memcpy(samples.data(), sound.standardOutput.data(), samples.size() * sizeof(float));
    const double twiceCosine = 2 * std::cos(2 * std::numbers::pi * hertz / 48000);
    std::vector<double> found;
    for (std::size_t n = 1; n + 1 < samples.size(); ++n) {
        const double time = double(n) / 48000;
        if (std::abs(samples[n - 1] + samples[n + 1] - twiceCosine * samples[n]) > 0.01 &&
            (found.empty() || time - found.back() > 0.01))
            found.push_back(time);
    }
    return found;
}

// Where a steady tone of `period` samples at 48 kHz in the file's first sound channel lies in each `window` s from
// `from` s on: how many samples it lags the same tone started at the first sample, from 0 to `period`.
std::vector<double> toneLags(const fs::path& file, int period, double from, double window) {
    const auto sound = test::runCommand({test::ffmpegTool(), "-v", "error", "-nostdin", "-i", file.string(), "-map",
                                         "0:a:0", "-af", "pan=mono|c0=c0", "-ar", "48000", "-f", "f32le", "-"});
    std::vector<float> samples(sound.standardOutput.size() / sizeof(float));
    std::memcpy(samples.data(), sound.standardOutput.data(), samples.size() * sizeof(float));
    const auto length = static_cast<std::size_t>(window * 48000) / period * period;
    std::vector<double> lags;
    for (auto first = static_cast<std::size_t>(from * 48000); first + length <= samples.size(); first += length) {
        double in = 0, across = 0;
        for (std::size_t n = first; n < first + length; ++n) {
            const double angle = 2 * std::numbers::pi * double(n % period) / period;
            in += samples[n] * std::sin(angle);
            across += samples[n] * std::cos(angle);
        }
        const double lag = -std::atan2(across, in) / (2 * std::numbers::pi) * period;
        lags.push_back(lag < 0 ? lag + period : lag);
    }
    return lags;
}

// Each output's pictures and sound, where `flashes` and their beeps should be, of `seconds` in all; the sound begins
// `soundFirst` s before the pictures, and is `soundSeconds` long when it ends before them, with the beeps of the
// flashes before then.
void expectInSync(const fs::path& output, int frames, double seconds, const std::vector<double>& flashTimes,
                  double soundFirst = 0, double soundSeconds = 0) {
    if (soundSeconds == 0) soundSeconds = soundFirst + seconds;
    const auto probed = test::probe(output, {"-count_frames"});
    const auto video = test::streamOf(probed, "video"), audio = test::streamOf(probed, "audio");
    EXPECT_EQ(test::fieldsOf(video, {"nb_read_frames"}), std::to_string(frames));
    EXPECT_NEAR(test::number(video["duration"]), seconds, 0.05);
    EXPECT_NEAR(test::number(audio["duration"]), soundSeconds, 0.05) << "the sound ends with the pictures";

    const auto seen = flashes(output), heard = beeps(output, test::number(audio["start_time"]));
    const auto sounded = static_cast<std::size_t>(
        std::count_if(flashTimes.begin(), flashTimes.end(), [&](double time) { return time < soundSeconds; }));
    EXPECT_EQ(seen.size(), flashTimes.size());
    EXPECT_EQ(heard.size(), sounded);
    if (seen.size() != flashTimes.size() || heard.size() != sounded) return;
    for (std::size_t i = 0; i < flashTimes.size(); ++i) {
        EXPECT_NEAR(seen[i], flashTimes[i], 0.03) << "flash " << i;
        if (i < sounded) {
            EXPECT_NEAR(heard[i], seen[i], 0.025) << "flash and beep " << i;
        }
    }
}

const std::vector<std::string> h264{"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"};
const std::vector<std::string> mpeg2{"-c:v", "mpeg2video", "-c:a", "mp2"};
// Pictures reordered as cameras, phones and editors store them: x264's B-frames in a pyramid, or HEVC's.
const std::vector<std::string> h264Reordered{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"};
// In fragments of a second, the eighth fragment's base time of track 1 (the pictures) or 2 (the sound) moved on.
const std::vector<std::string> kFragments{"-movflags", "frag_keyframe+empty_moov", "-frag_duration", "1000000"};
const std::vector<std::string> hevc{"-c:v",     "libx265", "-x265-params", "log-level=error:pools=1:frame-threads=1",
                                    "-pix_fmt", "yuv420p", "-c:a",         "aac"};
// The stored times of a track's 101st packet moved far on (from a second to hours, by the time bases the ffmpeg tool
// meets), both or its showing time alone; where only both can move, the tool moves the packets after it up to it.
const std::string kHourOut = "setts=pts=if(eq(N\\,100)\\,PTS+3600/TB\\,PTS):dts=if(eq(N\\,100)\\,DTS+3600/TB\\,DTS)";
const std::string kShownOut = "setts=pts=if(eq(N\\,100)\\,PTS+3600/TB\\,PTS)";
// Sound filter losing about one frame of sound in the middle of each second.
const std::string kDropOuts = "aselect='not(between(mod(t,1),0.5,0.52))'";

TEST(JoinedRecordings, EachRecordingsPicturesAndSoundFollowOnInSync) {
    // Subtitles in MPEG-TS as a data track, one at the start of each recording and one near its end.
    const test::TempDir shared;
    const std::string subtitles = (shared / "subtitles.srt").string();
    std::ofstream(subtitles) << "1\n00:00:00,200 --> 00:00:00,500\nOne\n\n2\n00:00:02,500 --> 00:00:02,900\nTwo\n";
    const struct Row {
        const char* name;
        std::vector<std::string> codecs;
        const char* container;
        double secondClock;  // where the later recordings' clocks start; the first's at firstClock
        const char* codec;
        int frames;
        double secondAt;  // where each later recording lies in the output after the one before
        int recordings = 2;
        std::vector<std::string> more = {};
        double firstClock = 1;   // where the first recording's clock starts
        bool laterSound = true;  // whether the later recordings have sound
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
        {"the first recording's clock wraps", h264, "mpegts", 100, "prores", 150, kLength, 2, {}, kClockWraps - 2.9},
        {"the first recording's clock wraps, program stream",
         mpeg2,
         "vob",
         100,
         "h264",
         150,
         kLength,
         2,
         {},
         kClockWraps - 1.5},
        {"a three-second pause, the sound at 44.1 kHz",
         h264,
         "mpegts",
         1 + kLength + 3,
         "h264",
         150,
         kLength + 3,
         2,
         {"-ar", "44100"}},
        // Each recording's sound runs a little past its pictures, and the next one begins after both.
        {"three recordings, the sound at 44.1 kHz",
         h264,
         "mpegts",
         1,
         "h264",
         225,
         kLength + 0.02,
         3,
         {"-ar", "44100"}},
        // It wraps 0.95 s in, just before the flash.
        {"a later recording's clock wraps", h264, "mpegts", kClockWraps - 2.35, "h264", 150, kLength},
        {"a later recording's clock wraps, program stream", mpeg2, "vob", kClockWraps - 1.5, "prores", 150, kLength},
        // The pictures jump alone, and nothing after them tells why.
        {"a clock far ahead, the later recording without sound",
         h264,
         "mpegts",
         100,
         "h264",
         150,
         kLength,
         2,
         {},
         1,
         false},
        {"a clock far ahead, a subtitle track beside them",
         h264,
         "mpegts",
         100,
         "h264",
         150,
         kLength,
         2,
         {"-i", subtitles, "-map", "2", "-map", "0", "-map", "1", "-c:s", "text"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        auto joined = test::readFile(recording(row.codecs, row.container, row.firstClock, row.more));
        std::vector<std::string> laterMore = row.more;
        if (!row.laterSound) laterMore.push_back("-an");
        for (int later = 1; later < row.recordings; ++later) {
            const auto next = test::readFile(recording(row.codecs, row.container, row.secondClock, laterMore));
            joined.insert(joined.end(), next.begin(), next.end());
        }
        const fs::path source = dir / (row.container == std::string("vob") ? "joined.mpg" : "joined.ts");
        test::writeFile(source, joined);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output =
            dir / (std::string("joined_") + (row.codec == std::string("h264") ? "H264.mp4" : "ProRes.mov"));
        // Silence filling a gap is no damaged sound.
        EXPECT_EQ(result.standardOutput,
                  "\u2713 " + source.filename().string() + " \u2192 " + output.filename().string() + "\n");
        std::vector<double> flashTimes;
        for (int i = 0; i < row.recordings; ++i) flashTimes.push_back(1 + i * row.secondAt);
        expectInSync(output, row.frames, kLength + (row.recordings - 1) * row.secondAt, flashTimes, 0,
                     row.laterSound ? 0 : kLength);
    }
}

// The AVI with its sound stream's header saying `rate` samples a second, whatever the sound's own format says: the
// times the library gives its packets run off the samples.
std::vector<std::uint8_t> withSoundHeaderRate(std::vector<std::uint8_t> avi, std::uint32_t rate) {
    static constexpr std::uint8_t kSoundHeader[] = {'s', 't', 'r', 'h', 56, 0, 0, 0, 'a', 'u', 'd', 's'};
    const auto at = std::search(avi.begin(), avi.end(), std::begin(kSoundHeader), std::end(kSoundHeader));
    EXPECT_NE(at, avi.end());
    // dwRate, after the type, handler, flags, priority, language, initial frames and scale.
    if (at != avi.end())
        for (int i = 0; i < 4; ++i) at[32 + i] = static_cast<std::uint8_t>(rate >> (8 * i));
    return avi;
}

// The H.264 and AAC codecs with the sound's stored times made `times` (of TS, N and TB) as a capture that stamps them
// by a wall clock leaves them.
std::vector<std::string> soundTimes(const std::string& times) {
    std::vector<std::string> codecs = h264;
    codecs.insert(codecs.end(), {"-bsf:a", "setts=ts=" + times});
    return codecs;
}

// A steady tone through three joined recordings whose sound's stored times fall between its samples (44.1 kHz on the
// 90 kHz clock) comes out unbroken within each recording, not a sample dropped or put in: it breaks only where they
// join. So through stored times that only jitter, or drift from the samples for a minute, in every container, and
// through AVI sound, which is timed by counting it.
TEST(JoinedRecordings, AToneRunsUnbrokenWithinEachRecording) {
    constexpr double kHertz = 1000;
    // Each sound frame stored 2 ms early, on time or 2 ms late in turn, in a stored packet of its own.
    std::vector<std::string> jittered = h264;
    jittered.insert(jittered.end(), {"-bsf:a", "setts=ts=TS+(mod(N\\,3)-1)*0.004/TB", "-pes_payload_size", "0"});
    const std::vector<std::string> avi{"-c:v", "mpeg4", "-c:a", "pcm_s16le"};
    const std::pair<const char*, std::string> drifts[] = {{"stored times 1000 ppm fast", "round(TS*1.001)"},
                                                          {"stored times 1000 ppm slow", "round(TS*0.999)"},
                                                          {"stored times 200 ppm fast", "round(TS*1.0002)"},
                                                          {"stored times 200 ppm slow", "round(TS*0.9998)"}};
    // 8 ms either way, in each container's own clock (90 kHz, milliseconds, the sound's rate).
    std::vector<std::string> jitteredTS = soundTimes("TS+round(720*sin(N*2.3))");
    jitteredTS.insert(jitteredTS.end(), {"-pes_payload_size", "0"});
    const std::string jitterMs = "TS+round(8*sin(N*2.3))", jitterSamples = "TS+round(353*sin(N*2.3))";
    const struct Row {
        const char* name;
        std::vector<std::string> codecs;
        const char* container;
        int recordings = 3;
        std::uint32_t soundHeaderRate = 0;  // AVI: what its sound stream's header says instead of 44100
        double seconds = kLength;           // of each recording
    } rows[] = {
        {"MPEG-TS, AAC", h264, "mpegts"},
        {"program stream, MPEG audio", mpeg2, "vob"},
        {"MPEG-TS, stored times jittering by 2 ms", jittered, "mpegts", 1},
        // Each stored packet's time is that of the first sound frame beginning in it, up to a frame after its start.
        {"program stream, LPCM in stored packets that cut its frames",
         {"-c:v", "mpeg2video", "-c:a", "pcm_s16be"},
         "vob"},
        {"AVI whose sound's stored times run 10 % slow", avi, "avi", 1, 40000},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (const char* container : {"mpegts", "matroska", "mp4"}) {
        for (const auto& [name, times] : drifts) all.push_back({name, soundTimes(times), container, 1, 0, 60});
        const std::string_view kind = container;
        all.push_back({"stored times jittering by 8 ms",
                       kind == "mpegts" ? jitteredTS : soundTimes(kind == "mp4" ? jitterSamples : jitterMs), container,
                       1, 0, 60});
    }
    for (const Row& row : all) {
        SCOPED_TRACE(std::string(row.name) + ", " + row.container);
        test::TempDir dir;
        auto one = test::readFile(toneRecording(row.codecs, row.container, kHertz, row.seconds));
        if (row.soundHeaderRate) one = withSoundHeaderRate(std::move(one), row.soundHeaderRate);
        std::vector<std::uint8_t> joined;
        for (int i = 0; i < row.recordings; ++i) joined.insert(joined.end(), one.begin(), one.end());
        const std::string container = row.container;
        const fs::path source = dir / (container == "vob"        ? "joined.mpg"
                                       : container == "avi"      ? "joined.avi"
                                       : container == "matroska" ? "joined.mkv"
                                       : container == "mp4"      ? "joined.mp4"
                                                                 : "joined.ts");
        test::writeFile(source, joined);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", "prores", "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output = dir / "joined_ProRes.mov";
        const auto probed = test::probe(output);
        EXPECT_NEAR(test::number(test::streamOf(probed, "audio")["duration"]), row.recordings * row.seconds, 0.1);
        std::vector<double> within;
        for (const double time : toneBreaks(output, kHertz))
            if (std::abs(time - row.seconds * std::round(time / row.seconds)) > 0.1) within.push_back(time);
        EXPECT_EQ(within.size(), 0u) << "the first at " << (within.empty() ? 0.0 : within[0]) << " s";
    }
}

// A tone whose stored times leave a gap or step back by a frame: each stretch of it lies where its stored times put it,
// to the sample. The silence filling a gap is exactly as long as the gap, however much sound the conversion to the
// output's rate holds back; an overlap is dropped at once rather than stretched away, and counted.
TEST(JoinedRecordings, SoundLiesWhereItsStoredTimesPutItToTheSample) {
    constexpr int kPeriod = 128;  // samples at 48 kHz of a 375 Hz tone
    constexpr double kFrame = 1024 / 44100.0;
    constexpr double kSeconds = 10, kStepAt = 5;
    const std::string overlap = "setts=ts=if(gte(N\\,216)\\,TS-1024/44100/TB\\,TS)";
    const struct Row {
        const char* name;
        const char* container;
        const char* extension;
        std::vector<std::string> more;
        double step;        // s the stored times move on at kStepAt past the sound before
        double within = 2;  // samples: the conversion to 48 kHz places the sound to a sample or two
        // s of sound the line counts as left out
        const char* lost = "";
    } rows[] = {
        {"a 90 ms drop-out, MPEG-4", "mp4", "mp4", {"-af", "aselect='not(between(t,5,5.09))'"}, 0},
        {"overlapping by a frame, MPEG-4", "mp4", "mp4", {"-bsf:a", overlap}, -kFrame, 2, "0.1"},
        // Times to the millisecond, each one's rounding its own. The muxer keeps the 44 packets after the step at its
        // time: a second of sound whose times overlap (a whole number of the tone's periods).
        {"a 90 ms drop-out, Matroska", "matroska", "mkv", {"-af", "aselect='not(between(t,5,5.09))'"}, 0, 72},
        {"overlapping by a frame, Matroska", "matroska", "mkv", {"-bsf:a", overlap}, -kFrame, 72, "1.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const fs::path source = dir / (std::string("stepped.") + row.extension);
        fs::copy_file(toneRecording(h264, row.container, 48000.0 / kPeriod, kSeconds, row.more), source);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", "prores", "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        // The sound an overlap drops is left out, and the line says so; the silence filling a gap is no loss.
        const std::string lost = *row.lost ? std::string(" (") + row.lost + " s of damaged sound left out)" : "";
        EXPECT_EQ(result.standardOutput,
                  "\u2713 " + source.filename().string() + " \u2192 stepped_ProRes.mov" + lost + "\n");
        const auto lags = toneLags(dir / "stepped_ProRes.mov", kPeriod, 0.1, 0.1);
        ASSERT_GE(lags.size(), 90u);
        // After the step the tone lags by what the stored times moved on less the sound's own length there.
        const double moved = std::fmod(row.step * 48000 + 100 * kPeriod, kPeriod);
        // Up to the last frame, whose padding may round otherwise.
        for (std::size_t i = 1; i + 2 < lags.size(); ++i) {
            const double at = 0.1 + 0.1 * double(i);
            if (std::abs(at - kStepAt) < 0.2) continue;
            double off = lags[i] - lags[0] - (at > kStepAt ? moved : 0);
            off -= kPeriod * std::round(off / kPeriod);
            EXPECT_NEAR(off, 0, row.within) << "at " << at << " s";
        }
    }
}

// One recording whose sound or pictures pause while the other track runs on: the track that paused takes up again
// where its clock says, the sound with silence in the pause, whatever the length of the pause or the container.
TEST(JoinedRecordings, ATrackThatPausesInsideARecordingKeepsItsTime) {
    const struct Row {
        const char* name;
        std::vector<std::string> codecs;
        const char* container;
        const char* extension;
        double seconds;
        std::vector<std::string> pause;
        const char* codec;
        int frames;
        double picturesLate = 0;  // where the source's pictures begin, after its sound
        std::pair<std::uint32_t, std::uint64_t> movedFragment = {};  // the track and ticks (see kFragments)
    } rows[] = {
        {"15 s without sound", h264, "mpegts", "ts", 24, {"-af", "aselect='not(between(t,4,18.999))'"}, "h264", 600},
        {"15 s without sound, program stream",
         mpeg2,
         "vob",
         "mpg",
         24,
         {"-af", "aselect='not(between(t,4,18.999))'"},
         "prores",
         600},
        {"15 s without pictures",
         h264,
         "mpegts",
         "ts",
         24,
         {"-vf", "select='not(between(t,4,18.999))'", "-fps_mode", "passthrough"},
         "prores",
         225},
        {"30 s without pictures",
         h264,
         "mpegts",
         "ts",
         38,
         {"-vf", "select='not(between(t,5,34.999))'", "-fps_mode", "passthrough"},
         "h264",
         200},
        // The clock runs on through a lost signal.
        {"15 s without pictures or sound",
         h264,
         "mpegts",
         "ts",
         24,
         {"-vf", "select='not(between(t,4,18.999))'", "-fps_mode", "passthrough", "-af",
          "aselect='not(between(t,4,18.999))'"},
         "prores",
         225},
        // The first pictures after the pause decoded before the last ones before it.
        {"15 s without pictures or sound, pictures reordered",
         {"-c:v", "libx264", "-threads", "1", "-bf", "3", "-pix_fmt", "yuv420p", "-c:a", "aac"},
         "mpegts",
         "ts",
         24,
         {"-vf", "select='not(between(t,4,18.999))'", "-fps_mode", "passthrough", "-af",
          "aselect='not(between(t,4,18.999))'"},
         "h264",
         225},
        // Each picture stored after the one it follows; the first after the pause carries the time of the last before.
        {"15 s without pictures or sound, MPEG-2",
         mpeg2,
         "mpegts",
         "ts",
         24,
         {"-vf", "select='not(between(t,4,18.999))'", "-fps_mode", "passthrough", "-af",
          "aselect='not(between(t,4,18.999))'"},
         "h264",
         225},
        // Longer than a join's clock may run on, but pictures stored across it show one recording running on.
        {"62 s without pictures or sound, MPEG-2",
         mpeg2,
         "mpegts",
         "ts",
         72,
         {"-vf", "select='not(between(t,4,65.999))'", "-fps_mode", "passthrough", "-af",
          "aselect='not(between(t,4,65.999))'"},
         "prores",
         250},
        // Most pictures carry no time of their own: the library counts them on from the last that does, and here
        // one of them onto the time of the timed picture after it.
        {"5 s without pictures or sound, program stream",
         mpeg2,
         "vob",
         "mpg",
         25,
         {"-vf", "select='not(between(t,4,8.999))'", "-fps_mode", "passthrough", "-af",
          "aselect='not(between(t,4,8.999))'", "-g", "25", "-threads", "1"},
         "prores",
         500},
        {"5 s without sound, MPEG-4",
         h264,
         "mp4",
         "mp4",
         10,
         {"-af", "aselect='not(between(t,2,6.999))'"},
         "h264",
         250},
        {"5 s without sound, Matroska",
         h264,
         "matroska",
         "mkv",
         10,
         {"-af", "aselect='not(between(t,2,6.999))'"},
         "prores",
         250},
        // Drop-outs shorter than any jump between recordings, as reception errors leave them: one lost sound frame
        // each second adds up to a beep 0.15 s early 8 s in.
        {"20 ms drop-outs each second", h264, "mpegts", "ts", 10, {"-af", kDropOuts}, "h264", 250},
        {"20 ms drop-outs each second, program stream", mpeg2, "vob", "mpg", 10, {"-af", kDropOuts}, "prores", 250},
        {"20 ms drop-outs each second, MPEG-4", h264, "mp4", "mp4", 10, {"-af", kDropOuts}, "prores", 250},
        {"90 ms without sound, MPEG-4",
         h264,
         "mp4",
         "mp4",
         10,
         {"-af", "aselect='not(between(t,5,5.09))'"},
         "h264",
         250},
        {"90 ms without sound, Matroska",
         h264,
         "matroska",
         "mkv",
         10,
         {"-af", "aselect='not(between(t,5,5.09))'"},
         "prores",
         250},
        // One packet's stored times far out of line, the packets after it going on from before it or following it
        // a tick apart until their own times catch up.
        {"a sound packet, Matroska", h264, "matroska", "mkv", 10, {"-bsf:a", kHourOut}, "h264", 250},
        {"a sound packet's time alone, Matroska", h264, "matroska", "mkv", 10, {"-bsf:a", kShownOut}, "prores", 250},
        {"a sound packet, MPEG-4", h264, "mp4", "mp4", 10, {"-bsf:a", kHourOut}, "prores", 250},
        {"a sound packet, FLV", h264, "flv", "flv", 10, {"-bsf:a", kHourOut}, "h264", 250},
        {"a picture, Matroska", h264, "matroska", "mkv", 10, {"-bsf:v", kHourOut}, "prores", 250},
        {"a picture's time alone, Matroska", h264, "matroska", "mkv", 10, {"-bsf:v", kShownOut}, "h264", 250},
        {"a picture, FLV", h264, "flv", "flv", 10, {"-bsf:v", kHourOut}, "prores", 250},
        {"a picture's showing time alone, MPEG-4", h264, "mp4", "mp4", 10, {"-bsf:v", kShownOut}, "h264", 250},
        {"a picture's showing time alone, MPEG-TS", h264, "mpegts", "ts", 10, {"-bsf:v", kShownOut}, "prores", 250},
        {"a picture, MPEG-TS", h264, "mpegts", "ts", 10, {"-bsf:v", kHourOut}, "h264", 250},
        // Its clock jumped alone: the pictures never get near where it went.
        {"a sound packet, MPEG-TS", h264, "mpegts", "ts", 10, {"-bsf:a", kHourOut}, "h264", 250},
        // Its next packets lie far on in the file.
        {"a sound packet, program stream", mpeg2, "vob", "mpg", 10, {"-bsf:a", kHourOut}, "prores", 250},
        // Reordered pictures: those after the moved one stuck at its time or a tick apart, and where they show lost.
        {"a reordered picture, Matroska", h264Reordered, "matroska", "mkv", 10, {"-bsf:v", kHourOut}, "prores", 250},
        {"a reordered picture, MPEG-4", h264Reordered, "mp4", "mp4", 10, {"-bsf:v", kHourOut}, "h264", 250},
        {"a reordered picture, MPEG-2", mpeg2, "mpegts", "ts", 10, {"-bsf:v", kHourOut, "-bf", "2"}, "h264", 250},
        {"a reordered picture's time alone, HEVC", hevc, "matroska", "mkv", 10, {"-bsf:v", kShownOut}, "prores", 250},
        // The ffmpeg tool's fragments with B-frames: the pictures begin 80 ms in, and the second sound frame is stored
        // there too, after the first.
        {"fragmented MPEG-4 whose sound starts with a gap",
         {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", "-movflags", "frag_keyframe+empty_moov"},
         "mp4",
         "mp4",
         10,
         {},
         "prores",
         250,
         0.08},
        {"a sound fragment an hour late", h264, "mp4", "mp4", 10, kFragments, "prores", 250, 0, {2, 172800000}},
        {"a picture fragment 2^40 ticks late", h264, "mp4", "mp4", 10, kFragments, "h264", 250, 0, {1, 1ULL << 40}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const fs::path source = dir / (std::string("paused.") + row.extension);
        fs::copy_file(recording(row.codecs, row.container, 0, row.pause, row.seconds), source);
        if (row.movedFragment.first)
            test::withEighthFragmentMoved(source, row.movedFragment.first, row.movedFragment.second);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output =
            dir / (std::string("paused_") + (row.codec == std::string("h264") ? "H264.mp4" : "ProRes.mov"));
        // Silence filling a pause or a drop-out is no damaged sound.
        EXPECT_EQ(result.standardOutput,
                  "\u2713 " + source.filename().string() + " \u2192 " + output.filename().string() + "\n");
        expectInSync(output, row.frames, row.seconds, {1 + row.picturesLate, row.seconds - 2 + row.picturesLate},
                     row.picturesLate);
    }
}

// H.264 in a program stream, where most pictures carry no time of their own and a picture whose start code is split
// across two stored packets is given the next one's times: every picture comes out, each in its place.
TEST(ProgramStreams, EveryH264PictureComesOutInItsPlace) {
    const struct Row {
        const char* name;
        int rate;
        int seconds;
    } rows[] = {
        {"25 fps", 25, 7},
        {"30 fps", 30, 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const fs::path source = dir / "h264.mpg";
        const std::string length = std::to_string(row.seconds);
        fs::copy_file(
            test::generated("h264.vob",
                            {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=" + std::to_string(row.rate) + ":d=" + length,
                             "-f", "lavfi", "-i", "sine=d=" + length, "-c:v", "libx264", "-c:a", "mp2", "-f", "vob"}),
            source);
        // What the rows are about: two pictures in a row stored with the same times.
        const auto packets = test::probe(source, {"-select_streams", "v:0", "-show_entries", "packet=pts"});
        int repeated = 0;
        std::int64_t previous = -1;
        for (const auto& packet : packets.value("packets", test::Json::array())) {
            const std::int64_t pts = packet.value("pts", std::int64_t(-1));
            if (pts >= 0 && pts == previous) ++repeated;
            previous = pts;
        }
        EXPECT_GT(repeated, 0) << "no picture stored with the next one's times";

        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", "prores", "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const auto frames =
            test::probe(dir / "h264_ProRes.mov", {"-select_streams", "v:0", "-show_entries", "frame=pts_time"});
        std::vector<double> times;
        for (const auto& frame : frames.value("frames", test::Json::array()))
            times.push_back(test::number(frame["pts_time"]));
        EXPECT_EQ(times.size(), std::size_t(row.rate * row.seconds));
        for (std::size_t i = 1; i < times.size(); ++i)
            EXPECT_NEAR(times[i] - times[i - 1], 1.0 / row.rate, 0.002) << "frame " << i;
    }
}

// The library counts the times of a clock that wraps within a minute of the start from below zero: every picture and
// all the sound still come out, the part before the wrap where it belongs.
TEST(WrappedClocks, ARecordingWhoseClockWrapsComesOutWhole) {
    // The clock where it is asked to start.
    std::vector<std::string> h264AtClock = h264;
    h264AtClock.insert(h264AtClock.end(), {"-muxdelay", "0", "-muxpreload", "0"});
    const struct Row {
        const char* name;
        std::vector<std::string> codecs;
        const char* container;
        double wrapsAt;  // s into the recording
        double length;
        const char* codec;
    } rows[] = {
        {"MPEG-TS, 5 s in", h264AtClock, "mpegts", 5, 7, "h264"},
        {"MPEG-TS, 59 s in", h264AtClock, "mpegts", 59, 61, "prores"},
        {"program stream, 5 s in", mpeg2, "vob", 5, 7, "prores"},
        {"program stream, 59 s in", mpeg2, "vob", 59, 61, "h264"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const fs::path source = dir / (row.container == std::string("vob") ? "wrapped.mpg" : "wrapped.ts");
        fs::copy_file(recording(row.codecs, row.container, kClockWraps - row.wrapsAt, {}, row.length), source);
        const auto result = test::runCommand(
            {FW_PROGRAM, "--encode", "--codec", row.codec, "--output", dir.path().string(), source.string()});
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        const fs::path output =
            dir / (std::string("wrapped_") + (row.codec == std::string("h264") ? "H264.mp4" : "ProRes.mov"));
        // A flash and beep 1 s in, and another 2 s before the end: past the wrap, or on it.
        expectInSync(output, int(row.length * 25), row.length, {1, row.length - 2});
    }
}

}  // namespace
}  // namespace fw

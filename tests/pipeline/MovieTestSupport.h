#pragma once
// Generated source clips and ffprobe/ffmpeg read-backs for the movie encoder's
// tests. Clips are made once per test program and shared.

#include "model/OutputFormat.h"
#include "pipeline/MovieEncoder.h"
#include "platform/media/Asset.h"
#include "support/Probe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace fw::movietest {

namespace fs = std::filesystem;
using Json = test::Json;

using test::generated;

// 1 s at 25 fps, 160×90 testsrc2 (lossless H.264) with a 440 Hz stereo sine at 44.1 kHz, QuickTime.
inline fs::path clipWithAudio() {
    return generated("clip.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=1", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=44100:duration=1", "-ac", "2", "-c:v", "libx264",
                                  "-qp", "0", "-pix_fmt", "yuv444p", "-c:a", "pcm_s16le"});
}

// 1 s at 30000/1001 fps, 160×90, with audio, MPEG-4.
inline fs::path ntscClip() {
    return generated("ntsc.mp4", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=30000/1001:d=1", "-f", "lavfi", "-i",
                                  "sine=frequency=880:sample_rate=48000:duration=1", "-c:v", "libx264", "-qp", "0",
                                  "-c:a", "aac", "-shortest"});
}

// About 1 s of frames at jittered times (1/30 s apart plus up to 0.4 of a frame), 160×90.
inline fs::path variableRateClip() {
    return generated("vfr.mp4", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=30:d=1", "-vf",
                                 "setpts='(N+0.4*random(7))/30/TB'", "-fps_mode", "passthrough", "-c:v", "libx264",
                                 "-qp", "0", "-video_track_timescale", "3000"});
}

// The clip stored 160×90 with a quarter-turn display matrix: shown 90×160.
inline fs::path rotatedClip() {
    const fs::path upright = generated("upright.mp4", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=1", "-c:v",
                                                       "libx264", "-qp", "0"});
    return generated("rotated.mp4", {"-i", upright.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90"});
}

// A horizontal 10-bit luma ramp, 320×180, 10 frames, ProRes 422 HQ.
inline fs::path tenBitRamp() {
    return generated("ramp.mov", {"-f", "lavfi", "-i", "nullsrc=s=320x180:r=25:d=0.4", "-vf",
                                  "format=yuv422p10le,geq=lum='64+X*876/W':cb=512:cr=512", "-c:v", "prores_ks",
                                  "-profile:v", "3"});
}

// Two audio tracks (440 Hz and 880 Hz) beside the picture.
inline fs::path twoAudioTracks() {
    return generated("twoaudio.mov",
                     {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=1", "-f", "lavfi", "-i",
                      "sine=frequency=440:sample_rate=48000:duration=1", "-f", "lavfi", "-i",
                      "sine=frequency=880:sample_rate=48000:duration=1", "-map", "0", "-map", "1", "-map", "2",
                      "-c:v", "libx264", "-qp", "0", "-c:a", "pcm_s16le"});
}

// 4 s at 25 fps, sound and picture, ProRes with its index first (so a cut-off
// copy still opens and reports the full length).
inline fs::path fourSecondClip() {
    return generated("four.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=4", "-f", "lavfi", "-i",
                                  "sine=duration=4", "-c:v", "prores_ks", "-profile:v", "0", "-c:a", "pcm_s16le",
                                  "-movflags", "+faststart"});
}

// 0.5 s at 30000/1001 fps, 320×180: smooth shading under seeded grain, so
// ProRes data rates land near each profile's nominal rate (lossless H.264).
inline fs::path grainyClip() {
    return generated("grainy.mov",
                     {"-f", "lavfi", "-i",
                      "nullsrc=s=320x180:r=30000/1001:d=0.5,geq=lum='128+60*sin(X/23)*cos(Y/17)':cb='128+30*sin(X/40)'"
                      ":cr='128+30*cos(Y/30)',noise=alls=8:allf=t+u:all_seed=5",
                      "-c:v", "libx264", "-qp", "0", "-pix_fmt", "yuv444p"});
}

// 8 s at 25 fps, 320×180, for encodes that are cancelled half way.
inline fs::path longerClip() {
    return generated("longer.mp4", {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=8", "-c:v", "libx264",
                                    "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
}

using test::number;
using test::probe;
using test::streamCount;
using test::streamOf;

// Presentation times of the first video stream's packets, sorted.
inline std::vector<double> videoTimes(const fs::path& file) {
    auto result = test::runCommand({test::ffprobeTool(), "-v", "error", "-select_streams", "v:0", "-show_entries",
                                    "packet=pts_time", "-of", "json", file.string()});
    std::vector<double> times;
    if (result.exitStatus != 0) return times;
    for (const auto& packet : Json::parse(result.standardOutput).value("packets", Json::array()))
        times.push_back(number(packet["pts_time"]));
    std::sort(times.begin(), times.end());
    return times;
}

// The first sound track decoded by ffmpeg to interleaved 16-bit samples.
inline std::vector<std::int16_t> pcm16(const fs::path& file) {
    const auto bytes = test::ffmpegRaw(file, "s16le");
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Average PSNR (dB) of the test file's pictures against the reference's, both
// decoded by ffmpeg as displayed, scaled to width × height and paired in order.
// Subsampled chroma is read left-sited, as written (the scale filter's own
// default is centred; its vertical default already matches). stored: compare
// the pictures as stored, unrotated; the tool turns 4:2:2 upright through a
// conversion of its own that reads chroma centred.
inline double psnr(const fs::path& reference, const fs::path& file, int width, int height, bool stored = false) {
    const std::string scale = "scale=" + std::to_string(width) + ":" + std::to_string(height) + ":in_h_chr_pos=0";
    const std::string graph = "[0:v]" + scale + ",format=yuv444p,settb=AVTB,setpts=N/TB[a];[1:v]" + scale +
                              ",format=yuv444p,settb=AVTB,setpts=N/TB[b];[a][b]psnr";
    std::vector<std::string> arguments = {test::ffmpegTool(), "-nostdin"};
    for (const fs::path* input : {&file, &reference}) {
        if (stored) arguments.push_back("-noautorotate");
        arguments.insert(arguments.end(), {"-i", input->string()});
    }
    arguments.insert(arguments.end(), {"-lavfi", graph, "-f", "null", "-"});
    auto result = test::runCommand(arguments);
    const auto at = result.standardError.find("average:");
    if (at == std::string::npos) return 0;
    const char* begin = result.standardError.c_str() + at + 8;
    if (std::string_view(begin, 3) == "inf") return 99;
    double value = 0;
    std::from_chars(begin, result.standardError.c_str() + result.standardError.size(), value);
    return value;
}

// An encoder for a producible movie codec at width × height.
inline MovieEncoder encoderFor(OutputCodec codec, std::int64_t width, std::int64_t height,
                               ProResVariant variant = ProResVariant::hq,
                               const std::optional<H264Settings>& h264 = H264Settings{},
                               const std::optional<ColorProperties>& color = std::nullopt) {
    MovieEncoder encoder;
    auto settings = videoSettings(codec, width, height, variant, h264, color);
    if (!settings) ADD_FAILURE() << "no writer settings";
    else encoder.videoSettings = *settings;
    encoder.fileType = fileType(codec);
    return encoder;
}

inline media::AssetRef open(const fs::path& file) { return media::Asset::open(file); }

// Encodes and returns the progress fractions reported.
inline std::vector<double> encode(const MovieEncoder& encoder, const fs::path& source, const fs::path& destination) {
    std::mutex mutex;
    std::vector<double> fractions;
    encoder.encode(open(source), destination, [&](double f) {
        std::lock_guard lock(mutex);
        fractions.push_back(f);
    }, {});
    return fractions;
}

}  // namespace fw::movietest

#pragma once
// Loudness test helpers: float PCM decoded by ffmpeg, measured by libebur128 as an independent reference.

#include "support/Probe.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace fw::test {

struct Pcm {
    std::vector<float> samples;  // interleaved
    int channels = 0;
    int sampleRate = 0;
    std::size_t frames() const { return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0; }
};

// The first sound track as float at its own rate and channels (FFmpeg's order); empty, failing, on failure.
inline Pcm decodePcm(const std::filesystem::path& file) {
    Pcm pcm;
    const Json stream = streamOf(probe(file, {"-select_streams", "a:0"}), "audio");
    if (stream.is_null()) {
        ADD_FAILURE() << "ffprobe failed on " << file;
        return pcm;
    }
    pcm.sampleRate = static_cast<int>(number(stream["sample_rate"]));
    pcm.channels = stream.value("channels", 0);
    const auto bytes = ffmpegRaw(file, "f32le");
    pcm.samples.resize(bytes.size() / sizeof(float));
    std::memcpy(pcm.samples.data(), bytes.data(), pcm.samples.size() * sizeof(float));
    return pcm;
}

// Six distinct tones on a 5.1 layout, a loud one on the LFE (an aevalsrc expression to complete
// with ":s=…:d=…:c=5.1"), and the roles libebur128 gives that layout's channels.
inline const std::string kSurroundTones =
    "aevalsrc=0.1*sin(2*PI*440*t)|0.1*sin(2*PI*550*t)|0.2*sin(2*PI*660*t)|"
    "0.9*sin(2*PI*50*t)|0.3*sin(2*PI*2000*t)|0.3*sin(2*PI*3000*t)";
inline const std::vector<int> kSurroundRoles = {EBUR128_LEFT,   EBUR128_RIGHT,         EBUR128_CENTER,
                                                EBUR128_UNUSED, EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND};

struct OracleResult {
    std::optional<double> integratedLUFS;
    double truePeakDb = -HUGE_VAL;
};

// libebur128 over the PCM; `map` gives each channel's role (EBUR128_LEFT, …), empty for the default.
inline OracleResult oracleMeasure(const Pcm& pcm, const std::vector<int>& map = {}) {
    OracleResult result;
    ebur128_state* st = ebur128_init(static_cast<unsigned>(pcm.channels), static_cast<unsigned long>(pcm.sampleRate),
                                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (!st) {
        ADD_FAILURE() << "ebur128_init failed";
        return result;
    }
    for (std::size_t c = 0; c < map.size(); ++c) ebur128_set_channel(st, static_cast<unsigned>(c), map[c]);
    ebur128_add_frames_float(st, pcm.samples.data(), pcm.frames());
    double lufs = 0;
    if (ebur128_loudness_global(st, &lufs) == EBUR128_SUCCESS && std::isfinite(lufs)) result.integratedLUFS = lufs;
    double peak = 0;
    for (int c = 0; c < pcm.channels; ++c) {
        double p = 0;
        ebur128_true_peak(st, static_cast<unsigned>(c), &p);
        peak = std::max(peak, p);
    }
    if (peak > 0) result.truePeakDb = 20.0 * std::log10(peak);
    ebur128_destroy(&st);
    return result;
}

}  // namespace fw::test

#include "pipeline/LoudnessMeter.h"

#include "LoudnessOracle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace fw {
namespace {

using test::decodePcm;
using test::oracleMeasure;
using test::Pcm;

std::vector<float> sine(double frequency, double amplitude, double seconds, int rate, int channels, double phase = 0) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate + phase);
        for (int c = 0; c < channels; ++c)
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = static_cast<float>(v);
    }
    return out;
}

// Integrated loudness of interleaved samples, fed in one piece.
std::optional<double> lufsOf(const std::vector<float>& samples, int channels, int rate) {
    LoudnessMeter meter(channels, rate);
    meter.add(samples.data(), samples.size());
    return meter.integratedLUFS();
}

struct Measured {
    std::optional<double> lufs, peakDb;
};

Measured measure(const Pcm& pcm) {
    LoudnessMeter meter(pcm.channels, pcm.sampleRate, LoudnessMeter::Measurements::loudnessAndTruePeak);
    meter.add(pcm.samples.data(), pcm.samples.size());
    return {meter.integratedLUFS(), meter.truePeakDb()};
}

// Our meter against libebur128 on the same decoded samples.
void expectAgreesWithOracle(const Pcm& pcm, const std::vector<int>& oracleMap = {}) {
    ASSERT_GT(pcm.frames(), 0u);
    auto ours = measure(pcm);
    auto reference = oracleMeasure(pcm, oracleMap);
    ASSERT_TRUE(reference.integratedLUFS);
    ASSERT_TRUE(ours.lufs);
    EXPECT_NEAR(*ours.lufs, *reference.integratedLUFS, 0.1);
    ASSERT_TRUE(ours.peakDb);
    EXPECT_NEAR(*ours.peakDb, reference.truePeakDb, 0.2);
}

TEST(LoudnessMeter, KWeightingFullScaleSinesAndGates) {
    const auto shelf = LoudnessMeter::kWeightingShelf(48000), highPass = LoudnessMeter::kWeightingHighPass(48000);
    const double actual[] = {shelf.b0,    shelf.b1,    shelf.b2,    shelf.a1,    shelf.a2,
                             highPass.b0, highPass.b1, highPass.b2, highPass.a1, highPass.a2};
    const double expected[] = {
        1.53512485958697,  -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585, 1.0, -2.0, 1.0,
        -1.99004745483398, 0.99007225036621};
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(actual[i], expected[i], i >= 5 && i < 8 ? 0 : 1e-9) << i;
    for (int rate : {48000, 44100, 32000}) {
        const auto mono = lufsOf(sine(1000, 1.0, 2.0, rate, 1), 1, rate);
        const auto stereo = lufsOf(sine(1000, 1.0, 2.0, rate, 2), 2, rate);
        ASSERT_TRUE(mono && stereo) << rate;
        EXPECT_NEAR(*mono, -3.01, 0.05) << rate;
        EXPECT_NEAR(*stereo, 0.0, 0.05) << rate;
    }
    auto tone = sine(1000, 0.5, 0.399, 48000, 2);
    LoudnessMeter shortMeter(2, 48000);
    shortMeter.add(tone.data(), tone.size());
    EXPECT_FALSE(shortMeter.integratedLUFS());
    // The fourth sub-block completes the first block; a partial fifth adds nothing.
    auto more = sine(1000, 0.5, 0.05, 48000, 2);
    shortMeter.add(more.data(), more.size());
    EXPECT_TRUE(shortMeter.integratedLUFS());
    std::vector<float> silence(48000 * 2, 0.0f);
    LoudnessMeter silent(2, 48000, LoudnessMeter::Measurements::loudnessAndTruePeak);
    silent.add(silence.data(), silence.size());
    EXPECT_FALSE(silent.integratedLUFS());
    EXPECT_FALSE(silent.truePeak());
    // -75 LUFS is below the absolute gate.
    EXPECT_FALSE(lufsOf(sine(1000, std::pow(10.0, -75.0 / 20.0), 2.0, 48000, 2), 2, 48000));
    // 3 s at -20 LUFS then 3 s at -40: the quiet part, over 10 LU under the mean, drops out.
    auto steps = sine(1000, std::pow(10.0, -20.0 / 20.0), 3.0, 48000, 2);
    const auto soft = sine(1000, std::pow(10.0, -40.0 / 20.0), 3.0, 48000, 2);
    steps.insert(steps.end(), soft.begin(), soft.end());
    const auto lufs = lufsOf(steps, 2, 48000);
    ASSERT_TRUE(lufs);
    EXPECT_NEAR(*lufs, -20.0, 0.3);
}

TEST(LoudnessMeter, ChunkingKeepsTheResultAndTruePeakFindsPeaksBetweenSamples) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    std::vector<float> samples(48000 * 3 * 3);
    for (auto& s : samples) s = noise(random);
    LoudnessMeter whole(3, 48000, LoudnessMeter::Measurements::loudnessAndTruePeak);
    whole.add(samples.data(), samples.size());
    LoudnessMeter pieces(3, 48000, LoudnessMeter::Measurements::loudnessAndTruePeak);
    std::size_t at = 0;
    std::uniform_int_distribution<std::size_t> piece(1, 5000);
    while (at < samples.size()) {
        const std::size_t n = std::min(piece(random) * 3, samples.size() - at);
        pieces.add(samples.data() + at, n);
        at += n;
    }
    ASSERT_TRUE(whole.integratedLUFS());
    EXPECT_DOUBLE_EQ(*whole.integratedLUFS(), *pieces.integratedLUFS());
    EXPECT_DOUBLE_EQ(*whole.truePeak(), *pieces.truePeak());
    // A trailing partial frame is dropped, not carried into the next call.
    LoudnessMeter ragged(3, 48000, LoudnessMeter::Measurements::loudnessAndTruePeak);
    for (std::size_t i = 0; i < samples.size(); i += 3000) {
        ragged.add(samples.data() + i, 3000);
        float junk[2] = {1.0f, 1.0f};
        ragged.add(junk, 2);
    }
    EXPECT_DOUBLE_EQ(*whole.integratedLUFS(), *ragged.integratedLUFS());
    EXPECT_DOUBLE_EQ(*whole.truePeak(), *ragged.truePeak());
    // fs/4 at 45 degrees: every sample is at 0.707 of the wave's real peak.
    auto wave = sine(12000, 1.0, 1.0, 48000, 1, std::numbers::pi / 4);
    LoudnessMeter meter(1, 48000, LoudnessMeter::Measurements::truePeak);
    meter.add(wave.data(), wave.size());
    ASSERT_TRUE(meter.truePeakDb());
    EXPECT_NEAR(*meter.truePeakDb(), 0.0, 0.3);
    EXPECT_FALSE(meter.integratedLUFS());
    // At 192 kHz and above there is no oversampling: the sample peak.
    std::vector<float> few{0.0f, 0.5f, -0.25f};
    LoudnessMeter high(1, 192000, LoudnessMeter::Measurements::truePeak);
    high.add(few.data(), few.size());
    EXPECT_NEAR(*high.truePeak(), 0.5, 1e-7);
}

TEST(LoudnessOracle, GeneratedSoundsAndSpeechAgreeWithLibebur128) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;  // ffmpeg's, the wave file appended
        int channels;
        std::vector<int> oracleMap;
    };
    const std::string tone = "0.0708*sin(2*PI*1000*t)";  // -23 LUFS on two channels
    const Case cases[] = {
        {"sine", {"-f", "lavfi", "-i", "aevalsrc=" + tone + "|" + tone + ":s=48000:d=5"}, 2, {}},
        {"pink with a quiet stretch, 44.1 kHz",
         {"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.6:seed=1:r=44100:d=8", "-f", "lavfi", "-i",
          "anoisesrc=color=pink:amplitude=0.6:seed=2:r=44100:d=8", "-filter_complex",
          "[0][1]amerge=inputs=2,volume='if(between(t,3,5),0.01,1)':eval=frame"},
         2,
         {}},
        {"5.1 with loud LFE and surrounds",
         {"-f", "lavfi", "-i", test::kSurroundTones + ":s=48000:d=4:c=5.1"},
         6,
         test::kSurroundRoles},
        {"mono noise, 96 kHz", {"-f", "lavfi", "-i", "anoisesrc=color=white:amplitude=0.3:seed=3:r=96000:d=3"}, 1, {}},
        {"intersample peaks", {"-f", "lavfi", "-i", "aevalsrc=0.9*sin(2*PI*11025*t+PI/4):s=44100:d=2"}, 1, {}}};
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto arguments = c.arguments;
        arguments.push_back((dir / "sound.wav").string());
        ASSERT_TRUE(test::ffmpeg(arguments));
        const Pcm pcm = decodePcm(dir / "sound.wav");
        ASSERT_EQ(pcm.channels, c.channels);
        expectAgreesWithOracle(pcm, c.oracleMap);
        if (&c == &cases[0]) {
            EXPECT_NEAR(*measure(pcm).lufs, -23.0, 0.05);
        }
    }
    // Speech, with pauses between words.
    auto file = dir / "speech.wav";
    auto result = test::runCommand({"espeak-ng", "-w", file.string(),
                                    "The quick brown fox jumps over the lazy dog. Loudness is measured in blocks "
                                    "of four hundred milliseconds, and pauses between words are gated away."});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    auto pcm = decodePcm(file);
    expectAgreesWithOracle(pcm);
}

}  // namespace
}  // namespace fw

#include "pipeline/LoudnessAnalyzer.h"

#include "LoudnessOracle.h"
#include "PipelineTestSupport.h"
#include "pipeline/AudioEncoder.h"
#include "platform/media/MediaError.h"

namespace fw {
namespace {

using LoudnessAnalyzerTest = pipelinetest::ScratchFolder;

TEST_F(LoudnessAnalyzerTest, FileMeasurementsAgreeWithTheReferenceWeightingEachSpeaker) {
    // AAC at 44.1 kHz and 5.1 FLAC, decoded by the reader, against libebur128 on ffmpeg's decode.
    auto stereo = make("pink.m4a", "anoisesrc=color=pink:amplitude=0.4:seed=5:r=44100:d=4",
                       {"-ac", "2", "-c:a", "aac", "-b:a", "192k"});
    auto surround = make("surround.flac", test::kSurroundTones + ":s=48000:d=3:c=5.1");
    for (const auto& file : {stereo, surround}) {
        SCOPED_TRACE(file.filename().string());
        auto pcm = test::decodePcm(file);
        auto reference = test::oracleMeasure(pcm, pcm.channels == 6 ? test::kSurroundRoles : std::vector<int>{});
        auto both = LoudnessAnalyzer::measure(file, std::nullopt, LoudnessMeter::Measurements::loudnessAndTruePeak);
        ASSERT_TRUE(both.integratedLUFS && reference.integratedLUFS);
        EXPECT_NEAR(*both.integratedLUFS, *reference.integratedLUFS, 0.1);
        ASSERT_TRUE(both.truePeakDb);
        EXPECT_NEAR(*both.truePeakDb, reference.truePeakDb, 0.2);
        EXPECT_EQ(LoudnessAnalyzer::integratedLUFS(file), both.integratedLUFS);
        EXPECT_EQ(LoudnessAnalyzer::truePeakDb(file), both.truePeakDb);
    }
    // A full-scale tone on the third channel: the centre of 3.0, the LFE of 2.1, a surround of quad.
    const std::string tone = "sin(2*PI*1000*t)";
    const auto file = [&](const std::string& layout, const std::string& channels) {
        return make(layout + ".flac", "aevalsrc=" + channels + ":s=48000:d=2:c=" + layout);
    };
    struct Case {
        const char* layout;
        std::string channels;
        double lufs;
        std::vector<int> roles;
    };
    for (const Case& c : {Case{"3.0", "0|0|" + tone, -3.01, {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER}},
                          Case{"quad",
                               "0|0|" + tone + "|0",
                               -3.01 + 1.5,
                               {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND}}}) {
        SCOPED_TRACE(c.layout);
        const auto source = file(c.layout, c.channels);
        const auto measured = LoudnessAnalyzer::integratedLUFS(source);
        const auto reference = test::oracleMeasure(test::decodePcm(source), c.roles);
        ASSERT_TRUE(measured && reference.integratedLUFS);
        EXPECT_NEAR(*measured, c.lufs, 0.1);
        EXPECT_NEAR(*measured, *reference.integratedLUFS, 0.1);
    }
    EXPECT_FALSE(LoudnessAnalyzer::integratedLUFS(file("2.1", "0|0|" + tone)));  // only the LFE carries sound
}

TEST_F(LoudnessAnalyzerTest, TrimLimitsTheMeasurementAndNothingToMeasureGivesNone) {
    // 3 s of -10 LUFS then 3 s of -30 LUFS (1 kHz, stereo).
    const std::string loud = "0.3162*sin(2*PI*1000*t)";
    const std::string quiet = "0.03162*sin(2*PI*1000*t)";
    const std::string wave = "if(lt(t\\,3)\\," + loud + "\\," + quiet + ")";  // commas escaped for lavfi
    auto file = make("steps.wav", "aevalsrc=" + wave + "|" + wave + ":s=48000:d=6");
    auto whole = LoudnessAnalyzer::integratedLUFS(file);
    auto first = LoudnessAnalyzer::integratedLUFS(file, TrimRange{0, 3});
    auto second = LoudnessAnalyzer::integratedLUFS(file, TrimRange{3, std::nullopt});
    ASSERT_TRUE(whole && first && second);
    EXPECT_NEAR(*first, -10.0, 0.1);
    EXPECT_NEAR(*second, -30.0, 0.1);
    EXPECT_NEAR(*whole, -10.0, 0.3);  // the quiet half is gated away
    auto peak = LoudnessAnalyzer::truePeakDb(file, TrimRange{3.5, 5.5});
    ASSERT_TRUE(peak);
    EXPECT_NEAR(*peak, 20 * std::log10(0.03162), 0.1);
    auto video = make("video.mp4", "testsrc2=size=64x64:rate=10:d=1", {"-c:v", "libx264"});
    EXPECT_FALSE(LoudnessAnalyzer::integratedLUFS(video));
    EXPECT_FALSE(LoudnessAnalyzer::truePeakDb(video));
    auto silence = make("silence.wav", "anullsrc=r=48000:cl=stereo", {"-t", "2"});
    EXPECT_FALSE(LoudnessAnalyzer::integratedLUFS(silence));
    EXPECT_FALSE(LoudnessAnalyzer::truePeakDb(silence));
    auto blip = make("short.wav", "sine=r=48000:d=0.3");
    EXPECT_FALSE(LoudnessAnalyzer::integratedLUFS(blip));
    EXPECT_TRUE(LoudnessAnalyzer::truePeakDb(blip));
    EXPECT_THROW(LoudnessAnalyzer::integratedLUFS(dir_ / "missing.wav"), media::MediaError);
    auto garbage = dir_ / "garbage.wav";
    std::ofstream(garbage) << "not a sound file";
    EXPECT_THROW(LoudnessAnalyzer::truePeakDb(garbage), media::MediaError);
    auto tone = make("tone.wav", "sine=r=48000:d=2");
    std::stop_source stop;
    stop.request_stop();
    const auto stopped = [&] { LoudnessAnalyzer::integratedLUFS(tone, std::nullopt, std::nullopt, stop.get_token()); };
    EXPECT_EQ(pipelinetest::encodingErrorOf(stopped).kind(), EncodingError::Kind::cancelled);
}

TEST_F(LoudnessAnalyzerTest, NormalisedOutputsLandOnTheTargetThroughEveryChannelMapping) {
    // Measured as the encoder will write it (mono copied to stereo, stereo mixed to mono, 5.1
    // folded), gained, encoded, then read back by libebur128 on ffmpeg's decode.
    constexpr double kTarget = -20.0;
    const auto mono = make("mono.wav", "anoisesrc=color=pink:amplitude=0.2:seed=3:r=48000:d=4");
    const auto stereo = make("stereo.wav", "aevalsrc=0.3*sin(2*PI*440*t)|0.1*sin(2*PI*1500*t):s=48000:d=4");
    const auto surround = make("surround.flac", test::kSurroundTones + ":s=48000:d=4:c=5.1");
    for (const auto& source : {mono, stereo, surround})
        for (int channels : {2, 1}) {
            SCOPED_TRACE(source.filename().string() + " to " + std::to_string(channels) + " channel(s)");
            const auto measured = LoudnessAnalyzer::integratedLUFS(source, std::nullopt, channels);
            ASSERT_TRUE(measured);
            AudioEncoder encoder;
            encoder.downmixMono = channels == 1;
            encoder.audioGain = LoudnessAnalyzer::gain(*measured, kTarget, 24);
            encoder.encode(source, dir_ / "normalised.m4a");
            const auto written = test::oracleMeasure(test::decodePcm(dir_ / "normalised.m4a"));
            ASSERT_TRUE(written.integratedLUFS);
            EXPECT_NEAR(*written.integratedLUFS, kTarget, 0.5);
        }
}

TEST(LoudnessAnalyzerGain, MovesTowardTheTargetWithinTheLimit) {
    // Measured, target, expected change in dB (0 for no usable measurement or target).
    const std::tuple<double, double, double> cases[] = {
        {-30.0, -16.0, 14.0},  {-50.0, -16.0, 24.0},       {10.0, -16.0, -24.0},      {-10.0, -16.0, -6.0},
        {-HUGE_VAL, -16.0, 0}, {std::nan(""), -16.0, 0.0}, {-20.0, std::nan(""), 0.0}};
    for (auto [measured, target, db] : cases)
        EXPECT_NEAR(LoudnessAnalyzer::gain(measured, target, 24), std::pow(10.0, db / 20),
                    db == 0 ? 0 : 1e-6 * std::pow(10.0, db / 20))
            << measured << " " << target;
}

}  // namespace
}  // namespace fw

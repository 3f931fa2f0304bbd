#include "pipeline/LoudnessAnalyzer.h"

#include "LoudnessOracle.h"
#include "model/EncodingError.h"
#include "platform/media/MediaError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace fw {
namespace {

class LoudnessAnalyzerTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    std::filesystem::path make(const std::string& name, const std::vector<std::string>& arguments) {
        auto file = dir_ / name;
        auto args = arguments;
        args.push_back(file.string());
        EXPECT_TRUE(test::ffmpeg(args));
        return file;
    }
};

TEST_F(LoudnessAnalyzerTest, FileMeasurementsAgreeWithTheReference) {
    // AAC at 44.1 kHz in M4A and 5.1 FLAC: decoded by the reader, compared
    // with libebur128 over the ffmpeg tool's decode of the same file.
    auto stereo = make("pink.m4a", {"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.4:seed=5:r=44100:d=4",
                                    "-ac", "2", "-c:a", "aac", "-b:a", "192k"});
    auto surround = make("surround.flac",
                         {"-f", "lavfi", "-i",
                          "aevalsrc=0.1*sin(2*PI*440*t)|0.1*sin(2*PI*550*t)|0.2*sin(2*PI*660*t)|"
                          "0.9*sin(2*PI*50*t)|0.3*sin(2*PI*2000*t)|0.3*sin(2*PI*3000*t):s=48000:d=3:c=5.1"});
    for (const auto& file : {stereo, surround}) {
        auto pcm = test::decodePcm(file);
        std::vector<int> map;
        if (pcm.channels == 6)
            map = {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED, EBUR128_LEFT_SURROUND,
                   EBUR128_RIGHT_SURROUND};
        auto reference = test::oracleMeasure(pcm, map);
        auto both = LoudnessAnalyzer::measure(file, std::nullopt, LoudnessMeter::Measurements::loudnessAndTruePeak);
        ASSERT_TRUE(both.integratedLUFS && reference.integratedLUFS) << file;
        EXPECT_NEAR(*both.integratedLUFS, *reference.integratedLUFS, 0.1) << file;
        ASSERT_TRUE(both.truePeakDb) << file;
        EXPECT_NEAR(*both.truePeakDb, reference.truePeakDb, 0.2) << file;
        EXPECT_EQ(LoudnessAnalyzer::integratedLUFS(file), both.integratedLUFS);
        EXPECT_EQ(LoudnessAnalyzer::truePeakDb(file), both.truePeakDb);
    }
}

TEST_F(LoudnessAnalyzerTest, ChannelsAreWeightedByTheirSpeakerNotTheirCount) {
    // A full-scale tone on the third channel. Three and four channels come in
    // more than one layout: it is the centre of 3.0 but the LFE of 2.1, and a
    // surround of quad.
    const std::string tone = "sin(2*PI*1000*t)";
    auto measure = [&](const std::string& layout, const std::string& channels) {
        auto file = make(layout + ".flac", {"-f", "lavfi", "-i", "aevalsrc=" + channels + ":s=48000:d=2:c=" + layout});
        return std::pair{file, LoudnessAnalyzer::integratedLUFS(file)};
    };
    auto [centreFile, centre] = measure("3.0", "0|0|" + tone);
    ASSERT_TRUE(centre);
    EXPECT_NEAR(*centre, -3.01, 0.1);
    auto centreReference =
        test::oracleMeasure(test::decodePcm(centreFile), {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER});
    ASSERT_TRUE(centreReference.integratedLUFS);
    EXPECT_NEAR(*centre, *centreReference.integratedLUFS, 0.1);

    auto [surroundFile, surround] = measure("quad", "0|0|" + tone + "|0");
    ASSERT_TRUE(surround);
    EXPECT_NEAR(*surround, -3.01 + 1.5, 0.1);
    auto surroundReference = test::oracleMeasure(
        test::decodePcm(surroundFile), {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND});
    ASSERT_TRUE(surroundReference.integratedLUFS);
    EXPECT_NEAR(*surround, *surroundReference.integratedLUFS, 0.1);

    EXPECT_FALSE(measure("2.1", "0|0|" + tone).second);  // only the LFE carries sound
}

TEST_F(LoudnessAnalyzerTest, TrimLimitsTheMeasurementToTheOutputsRange) {
    // 3 s of -10 LUFS then 3 s of -30 LUFS (1 kHz, stereo).
    const std::string loud = "0.3162*sin(2*PI*1000*t)";
    const std::string quiet = "0.03162*sin(2*PI*1000*t)";
    const std::string wave = "if(lt(t\\,3)\\," + loud + "\\," + quiet + ")";  // commas escaped for lavfi
    auto file = make("steps.wav", {"-f", "lavfi", "-i", "aevalsrc=" + wave + "|" + wave + ":s=48000:d=6"});
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
}

TEST_F(LoudnessAnalyzerTest, NothingToMeasure) {
    auto video = make("video.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x64:rate=10:d=1", "-c:v", "libx264"});
    EXPECT_FALSE(LoudnessAnalyzer::integratedLUFS(video));
    EXPECT_FALSE(LoudnessAnalyzer::truePeakDb(video));

    auto silence = make("silence.wav", {"-f", "lavfi", "-i", "anullsrc=r=48000:cl=stereo", "-t", "2"});
    EXPECT_FALSE(LoudnessAnalyzer::integratedLUFS(silence));
    EXPECT_FALSE(LoudnessAnalyzer::truePeakDb(silence));

    auto blip = make("short.wav", {"-f", "lavfi", "-i", "sine=r=48000:d=0.3"});
    EXPECT_FALSE(LoudnessAnalyzer::integratedLUFS(blip));
    EXPECT_TRUE(LoudnessAnalyzer::truePeakDb(blip));

    EXPECT_THROW(LoudnessAnalyzer::integratedLUFS(dir_ / "missing.wav"), media::MediaError);
    auto garbage = dir_ / "garbage.wav";
    std::ofstream(garbage) << "not a sound file";
    EXPECT_THROW(LoudnessAnalyzer::truePeakDb(garbage), media::MediaError);
}

TEST_F(LoudnessAnalyzerTest, StopRequestCancels) {
    auto file = make("tone.wav", {"-f", "lavfi", "-i", "sine=r=48000:d=2"});
    std::stop_source stop;
    stop.request_stop();
    try {
        LoudnessAnalyzer::integratedLUFS(file, std::nullopt, stop.get_token());
        FAIL() << "expected cancelled";
    } catch (const EncodingError& error) {
        EXPECT_EQ(error.kind(), EncodingError::Kind::cancelled);
    }
}

TEST(LoudnessAnalyzerGain, MovesTowardTheTargetWithinTheLimit) {
    EXPECT_NEAR(LoudnessAnalyzer::gain(-30, -16, 24), std::pow(10.0, 14.0 / 20), 1e-5);
    EXPECT_NEAR(LoudnessAnalyzer::gain(-50, -16, 24), std::pow(10.0, 24.0 / 20), 1e-4);
    EXPECT_NEAR(LoudnessAnalyzer::gain(10, -16, 24), std::pow(10.0, -24.0 / 20), 1e-6);
    EXPECT_NEAR(LoudnessAnalyzer::gain(-10, -16, 24), std::pow(10.0, -6.0 / 20), 1e-6);
    EXPECT_EQ(LoudnessAnalyzer::gain(-HUGE_VAL, -16, 24), 1.0f);
    EXPECT_EQ(LoudnessAnalyzer::gain(std::nan(""), -16, 24), 1.0f);
    EXPECT_EQ(LoudnessAnalyzer::gain(-20, std::nan(""), 24), 1.0f);
}

}  // namespace
}  // namespace fw

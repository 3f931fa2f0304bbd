#include "pipeline/AudioEncoder.h"

#include "PipelineTestSupport.h"
#include "pipeline/LoudnessAnalyzer.h"
#include "platform/media/MediaError.h"
#include "support/DamagedMedia.h"
#include "support/Outputs.h"

#include <atomic>
#include <thread>

namespace fw {
namespace {

using namespace pipelinetest;
using AudioEncoderTest = ScratchFolder;

// What ffprobe reads of an output that must hold one stream.
struct Written {
    std::string stream;  // codec, sample rate, channels
    double duration = 0, bitRate = 0;
    std::string brand;
};

Written written(const fs::path& file) {
    const Json probed = probe(file);
    const Json streams = probed.value("streams", Json::array());
    if (streams.size() != 1) {
        ADD_FAILURE() << "expected one stream in " << file;
        return {};
    }
    return {fieldsOf(streams[0], {"codec_name", "sample_rate", "channels"}), number(probed["format"]["duration"]),
            number(streams[0]["bit_rate"]), fieldsOf(probed["format"].value("tags", Json::object()), {"major_brand"})};
}

TEST_F(AudioEncoderTest, EncodesStereoAacWithProgress) {
    auto source = make("noise.wav", "anoisesrc=color=pink:amplitude=0.3:r=44100:d=3:seed=5", {"-ac", "2"});
    auto destination = dir_ / "out.m4a";
    std::mutex mutex;
    std::vector<double> fractions;
    AudioEncoder encoder;
    encoder.encode(source, destination, [&](double f) {
        std::lock_guard lock(mutex);
        fractions.push_back(f);
    });
    const Written out = written(destination);
    EXPECT_EQ(out.stream, "aac 48000 2");
    EXPECT_EQ(out.brand, "M4A ");
    EXPECT_NEAR(out.duration, 3.0, 0.05);
    EXPECT_NEAR(out.bitRate, 256000, 40000);
    ASSERT_GT(fractions.size(), 10u);
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_GE(fractions.front(), 0.0);
    // Only the output and the source in the folder: nothing staged is left.
    EXPECT_EQ(filesIn(dir_.path()), (std::vector<std::string>{"noise.wav", "out.m4a"}));
    // Level and loudness survive the trip through AAC.
    auto before = LoudnessAnalyzer::integratedLUFS(source);
    auto after = LoudnessAnalyzer::integratedLUFS(destination);
    ASSERT_TRUE(before && after);
    EXPECT_NEAR(*after, *before, 0.3);
}

TEST_F(AudioEncoderTest, TrimsDownmixesGainsAndResamplesOrRunsToTheEnd) {
    // 1 s at one level, then 3 s of L = 0.5 and R = 0.25 at 1 kHz.
    const std::string left = "if(lt(t\\,1)\\,0.05\\,0.5)*sin(2*PI*1000*t)";
    const std::string right = "if(lt(t\\,1)\\,0.05\\,0.25)*sin(2*PI*1000*t)";
    auto source = make("tone.wav", "aevalsrc=" + left + "|" + right + ":s=48000:d=4");
    auto destination = dir_ / "trimmed.m4a";
    AudioEncoder encoder;
    encoder.trim = TrimRange{1.5, 3.5};
    encoder.downmixMono = true;
    encoder.audioGain = 2.0f;
    encoder.sampleRate = 44100;
    std::atomic<double> first{-1}, last{-1};
    encoder.encode(source, destination, [&](double f) {
        double expected = -1;
        first.compare_exchange_strong(expected, f);
        last = f;
    });
    const Written out = written(destination);
    EXPECT_EQ(out.stream, "aac 44100 1");
    EXPECT_NEAR(out.duration, 2.0, 0.05);
    EXPECT_NEAR(out.bitRate, 160000, 30000);
    EXPECT_LT(first.load(), 0.1);
    EXPECT_EQ(last.load(), 1.0);
    // Mono (0.5 + 0.25) / 2 * 2 = 0.75 full-scale 1 kHz sine: -3.01 + 20 log10(0.75) LUFS.
    auto loudness = LoudnessAnalyzer::integratedLUFS(destination);
    ASSERT_TRUE(loudness);
    EXPECT_NEAR(*loudness, -3.01 + 20 * std::log10(0.75), 0.2);
    auto peak = LoudnessAnalyzer::truePeakDb(destination);
    ASSERT_TRUE(peak);
    EXPECT_NEAR(*peak, 20 * std::log10(0.75), 0.5);  // AAC overshoots a little at the cut
    auto shortSource = make("a.wav", "sine=r=22050:d=3");
    AudioEncoder openEnded;
    openEnded.sampleRate = 0;          // 48 kHz
    openEnded.trim = TrimRange{2, 1};  // an end before the start runs to the end of the file
    openEnded.encode(shortSource, dir_ / "a.m4a");
    const Written whole = written(dir_ / "a.m4a");
    EXPECT_EQ(whole.stream, "aac 48000 2");
    EXPECT_NEAR(whole.duration, 1.0, 0.05);
}

TEST_F(AudioEncoderTest, FailuresAndCancellingLeaveTheDestinationAlone) {
    auto video = make("video.mp4", "testsrc2=size=64x64:rate=10:d=1", {"-c:v", "libx264"});
    auto destination = dir_ / "existing.m4a";
    std::ofstream(destination) << "keep me";
    const auto noSound = encodingErrorOf([&] { AudioEncoder{}.encode(video, destination); });
    EXPECT_EQ(noSound.kind(), EncodingError::Kind::noAudioTrack);
    EXPECT_EQ(noSound.errorDescription(), "The source file has no audio track.");
    EXPECT_THROW(AudioEncoder{}.encode(dir_ / "missing.wav", destination), media::MediaError);
    auto source = make("b.wav", "sine=r=48000:d=1");
    EXPECT_EQ(encodingErrorOf([&] { AudioEncoder{}.encode(source, dir_ / "no-such-folder" / "b.m4a"); }).kind(),
              EncodingError::Kind::writerFailed);
    // A trim past the end reads nothing: that is a failure, not an empty file.
    AudioEncoder pastTheEnd;
    pastTheEnd.trim = TrimRange{5.0, std::nullopt};
    EXPECT_EQ(encodingErrorOf([&] { pastTheEnd.encode(source, destination); }).kind(),
              EncodingError::Kind::readerFailed);
    EXPECT_EQ(contents(destination), "keep me");
    EXPECT_EQ(filesIn(dir_.path()), (std::vector<std::string>{"b.wav", "existing.m4a", "video.mp4"}));
    auto longSource = make("long.wav", "anoisesrc=r=48000:d=120:seed=7", {"-ac", "2"});
    auto longDestination = dir_ / "long.m4a";
    std::stop_source stop;
    std::atomic<bool> started{false};
    std::thread canceller([&] {
        started.wait(false);
        stop.request_stop();
    });
    std::atomic<double> reached{0};
    const auto error = encodingErrorOf([&] {
        AudioEncoder{}.encode(
            longSource, longDestination,
            [&](double f) {
                reached = f;
                if (f > 0.05 && !started.exchange(true)) started.notify_all();
            },
            stop.get_token());
    });
    EXPECT_EQ(error.kind(), EncodingError::Kind::cancelled);
    started = true;  // releases the canceller if the encode ended without progress
    started.notify_all();
    canceller.join();
    EXPECT_LT(reached.load(), 1.0);
    EXPECT_FALSE(fs::exists(longDestination));
    EXPECT_EQ(filesIn(dir_.path()), (std::vector<std::string>{"b.wav", "existing.m4a", "long.wav", "video.mp4"}));
}

// FLAC states its length in its stream header (FLAC is no source the window takes, so the encoder is tried alone):
// cut at 40 % it fails as a WAV does.
TEST_F(AudioEncoderTest, AFlacCutShortOfItsStatedLengthFails) {
    std::vector<std::uint8_t> bytes = test::readFile(make("whole.flac", "sine=r=44100:d=20", {"-c:a", "flac"}));
    bytes.resize(bytes.size() * 4 / 10);
    test::writeFile(dir_ / "cut.flac", bytes);
    const std::string message =
        encodingErrorOf([&] { AudioEncoder{}.encode(dir_ / "cut.flac", dir_ / "out.m4a"); }).errorDescription();
    EXPECT_NEAR(test::stoppedAt(message, "cut.flac", "20.0"), 8.0, 0.5) << message;
    EXPECT_EQ(filesIn(dir_.path()), (std::vector<std::string>{"cut.flac", "whole.flac"}));
}

// A packet the AAC decoder refuses, early or near the end, is silence of its length: the whole file is encoded.
TEST_F(AudioEncoderTest, ARefusedPacketBecomesSilenceAndTheEncodeGoesOn) {
    auto source = make("song.m4a", "sine=frequency=440:sample_rate=48000:duration=6", {"-ac", "2", "-c:a", "aac"});
    for (const double damageAt : {2.0, 4.3}) {
        SCOPED_TRACE(damageAt);
        const fs::path damaged = dir_ / "damaged.m4a";
        ASSERT_GT(test::damagePackets(source, damaged, "audio", damageAt), 0);
        AudioEncoder{}.encode(damaged, dir_ / "out.m4a");
        EXPECT_NEAR(written(dir_ / "out.m4a").duration, 6.0, 0.05);
    }
}

TEST_F(AudioEncoderTest, RefusesToWriteOverItsOwnSource) {
    // A {name} template gives an .m4a source its own name back, also spelt another way.
    auto source = make("song.m4a", "sine=r=48000:d=1", {"-c:a", "aac"});
    fs::create_directory(dir_ / "sub");
    const std::string before = contents(source);
    for (const fs::path& destination : {source, dir_ / "sub" / ".." / "song.m4a"}) {
        const auto error = encodingErrorOf([&] { AudioEncoder{}.encode(source, destination); });
        EXPECT_EQ(error.errorDescription(), "Writing failed: the destination is the source file itself") << destination;
    }
    EXPECT_TRUE(contents(source) == before) << "the source was replaced";
    EXPECT_EQ(filesIn(dir_.path()), (std::vector<std::string>{"song.m4a", "sub"}));
}

TEST(AudioEncoderRates, SnapToTheNearestAacRate) {
    // A tie (46050) goes up.
    const std::pair<double, int> rates[] = {{0.0, 48000},     {-1.0, 48000},    {std::nan(""), 48000}, {44100.0, 44100},
                                            {50000.0, 48000}, {46050.0, 48000}, {192000.0, 96000},     {1000.0, 7350}};
    for (auto [asked, snapped] : rates) EXPECT_EQ(AudioEncoder::aacSampleRate(asked), snapped) << asked;
}

}  // namespace
}  // namespace fw

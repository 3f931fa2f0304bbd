#include "pipeline/AudioReaderOutput.h"

#include "PipelineTestSupport.h"
#include "support/Outputs.h"

namespace fw {
namespace {

using media::AudioSampleFormat;

struct Read {
    std::vector<float> samples;  // int16 output scaled to ±1
    int channels = 0;
    double sampleRate = 0;
    std::int16_t minWord = 0, maxWord = 0;
};

Read readAll(const std::filesystem::path& file, float gain, media::AudioOutputSettings settings) {
    Read result;
    auto asset = media::Asset::open(file);
    media::AssetReader reader(asset);
    auto output = AudioReaderOutput::make(reader, asset->tracks(media::MediaType::audio).at(0), gain, settings);
    EXPECT_TRUE(output);
    if (!output) return result;
    EXPECT_TRUE(reader.startReading());
    result.channels = output->outputFormat()->channelCount;
    EXPECT_EQ(output->outputFormat()->channelNames.size(), static_cast<std::size_t>(result.channels));
    result.sampleRate = output->outputFormat()->sampleRate;
    while (auto sample = output->copyNextSampleBuffer()) {
        EXPECT_EQ(sample->formatDescription()->channelCount, result.channels);
        EXPECT_EQ(static_cast<std::size_t>(sample->sampleCount()) * static_cast<std::size_t>(result.channels) *
                      static_cast<std::size_t>(media::bytesPerSample(settings.sampleFormat)),
                  sample->data().size());
        const auto bytes = sample->data();
        if (settings.sampleFormat == AudioSampleFormat::float32) {
            result.samples.resize(result.samples.size() + bytes.size() / 4);
            std::memcpy(result.samples.data() + result.samples.size() - bytes.size() / 4, bytes.data(), bytes.size());
        } else {
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
                std::int16_t w;
                std::memcpy(&w, bytes.data() + i, 2);
                result.minWord = std::min(result.minWord, w);
                result.maxWord = std::max(result.maxWord, w);
                result.samples.push_back(w / 32768.0f);
            }
        }
    }
    EXPECT_EQ(reader.status(), media::AssetReader::Status::completed);
    return result;
}

float channelPeak(const Read& read, int channel) {
    float peak = 0;
    for (std::size_t i = static_cast<std::size_t>(channel); i < read.samples.size();
         i += static_cast<std::size_t>(read.channels))
        peak = std::max(peak, std::fabs(read.samples[i]));
    return peak;
}

struct AudioReaderOutputTest : pipelinetest::ScratchFolder {
    std::filesystem::path wave(const std::string& name, const std::string& source) {
        return make(name, source, {"-c:a", "pcm_f32le"});
    }
};

TEST_F(AudioReaderOutputTest, GainMixingSaturationAndResampling) {
    auto file = wave("tone.wav", "aevalsrc=0.5*sin(2*PI*440*t)|0.25*sin(2*PI*440*t):s=48000:d=1");
    auto plain = readAll(file, 1.0f, {});
    auto halved = readAll(file, 0.5f, {});
    ASSERT_EQ(plain.channels, 2);
    ASSERT_EQ(plain.samples.size(), halved.samples.size());
    EXPECT_EQ(plain.samples.size(), 96000u);
    for (std::size_t i = 0; i < plain.samples.size(); i += 97)
        EXPECT_FLOAT_EQ(halved.samples[i], plain.samples[i] * 0.5f);
    // No clipping in float.
    auto loud = readAll(file, 4.0f, {});
    EXPECT_NEAR(channelPeak(loud, 0), 2.0f, 1e-3);
    const media::AudioOutputSettings mono{std::nullopt, 1};
    auto down = readAll(file, 1.0f, mono);
    ASSERT_EQ(down.channels, 1);
    EXPECT_NEAR(channelPeak(down, 0), 0.375f, 1e-3);
    auto downGained = readAll(file, 2.0f, mono);
    EXPECT_NEAR(channelPeak(downGained, 0), 0.75f, 2e-3);
    auto opposite = wave("opposite.wav", "aevalsrc=0.5*sin(2*PI*440*t)|-0.5*sin(2*PI*440*t):s=48000:d=1");
    EXPECT_LT(channelPeak(readAll(opposite, 1.0f, mono), 0), 1e-6f);
    auto single = wave("single.wav", "aevalsrc=0.5*sin(2*PI*440*t):s=48000:d=1");
    auto up = readAll(single, 1.0f, {std::nullopt, 2});
    ASSERT_EQ(up.channels, 2);
    EXPECT_NEAR(channelPeak(up, 0), 0.5f, 1e-3);
    EXPECT_NEAR(channelPeak(up, 1), 0.5f, 1e-3);
    // More channels go through the stereo downmix first.
    auto surround = wave("surround.wav", "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t)|0|0|0|0:s=48000:d=1:c=5.1");
    auto fromSurround = readAll(surround, 1.0f, mono);
    ASSERT_EQ(fromSurround.channels, 1);
    EXPECT_GT(channelPeak(fromSurround, 0), 0.1f);
    // Fronts and centre at -4 dBFS, mixed unscaled, put a quarter of the samples at full scale; mixed with headroom
    // they come out as loud as the ffmpeg tool's mix into 16 bits.
    const std::string tone = "0.631*sin(2*PI*440*t)|", fronts = tone + tone + tone;
    for (const auto& [name, layout, codec] :
         {std::tuple{"ac3.ts", fronts + "0|0|0:c=5.1", "ac3"}, {"wide.mkv", fronts + "0|0|0|0|0:c=7.1", "pcm_s16le"}})
        for (const auto source = make(name, "aevalsrc=" + layout + ":s=48000:d=1", {"-c:a", codec});
             int channels : {2, 1}) {
            SCOPED_TRACE(std::string(name) + " as " + std::to_string(channels));
            const auto read = readAll(source, 1.0f, {std::nullopt, channels, AudioSampleFormat::int16});
            EXPECT_LT(std::max<int>(read.maxWord, -read.minWord), 32767);
            EXPECT_NEAR(20 * std::log10(channelPeak(read, 0) * 32768 / test::soundPeak(source, channels)), 0, 1.0);
        }
    auto equal = wave("equal.wav", "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=48000:d=1");
    for (int channels : {2, 1}) {
        auto read = readAll(equal, 4.0f, {std::nullopt, channels, AudioSampleFormat::int16});
        ASSERT_EQ(read.channels, channels);
        EXPECT_EQ(read.maxWord, 32767);
        EXPECT_EQ(read.minWord, -32768);
        // A wrapped sample would show up as a sign flip next to a clipped one.
        for (std::size_t i = static_cast<std::size_t>(channels); i < read.samples.size(); ++i)
            EXPECT_LT(std::fabs(read.samples[i] - read.samples[i - static_cast<std::size_t>(channels)]), 0.5f);
    }
    auto cd = wave("cd.wav", "aevalsrc=0.5*sin(2*PI*440*t):s=44100:d=2");
    auto read = readAll(cd, 0.5f, {48000.0, 2});
    EXPECT_EQ(read.sampleRate, 48000);
    EXPECT_NEAR(static_cast<double>(read.samples.size()) / 2, 96000, 100);
    EXPECT_NEAR(channelPeak(read, 1), 0.25f, 2e-3);
}

}  // namespace
}  // namespace fw

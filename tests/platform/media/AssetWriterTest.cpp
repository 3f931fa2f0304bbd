#include "platform/media/Media.h"
#include "platform/media/MediaTestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <cstring>
#include <thread>

namespace fw::media {
namespace {

using nlohmann::json;

json probe(const std::filesystem::path& file, const std::vector<std::string>& extra = {}) {
    std::string text = fw::test::ffprobeJson(file, extra);
    EXPECT_FALSE(text.empty()) << "ffprobe could not read " << file;
    return text.empty() ? json::object() : json::parse(text);
}

const json* streamOfType(const json& info, const std::string& type, int nth = 0) {
    for (const auto& stream : info["streams"])
        if (stream.value("codec_type", "") == type && nth-- == 0) return &stream;
    return nullptr;
}

PixelBufferRef solidPicture(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a = 255) {
    auto picture = PixelBuffer::create(width, height, PixelFormat::bgra8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture->row(y) + 4 * x;
            p[0] = b, p[1] = g, p[2] = r, p[3] = a;
        }
    return picture;
}

SampleBufferRef pcmSamples(const std::vector<float>& interleaved, int channels, double rate, MediaTime time) {
    auto format = std::make_shared<FormatDescription>();
    format->mediaType = MediaType::audio;
    format->mediaSubtype = subtype::linearPCM;
    format->sampleRate = rate;
    format->channelCount = channels;
    format->sampleFormat = AudioSampleFormat::float32;
    std::vector<std::uint8_t> bytes(interleaved.size() * sizeof(float));
    std::memcpy(bytes.data(), interleaved.data(), bytes.size());
    int frames = static_cast<int>(interleaved.size()) / channels;
    return SampleBuffer::makeData(std::move(bytes), time, MediaTime(frames, static_cast<std::int32_t>(rate)), format,
                                  frames);
}

TEST(AssetWriter, ProResRoundTripKeepsFramesTimesAndColours) {
    auto path = test::mediaFolder() / "prores.mov";
    {
        AssetWriter writer(path, FileType::quickTimeMovie);
        VideoEncoderSettings settings;
        settings.codec = VideoCodec::proRes;
        settings.proResProfile = ProResProfile::fourByFour;
        settings.width = 64;
        settings.height = 48;
        settings.expectedFrameRate = 30;
        auto input = writer.addVideoInput(settings);
        ASSERT_TRUE(input);
        ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
        EXPECT_FALSE(writer.addVideoInput(settings)) << "inputs only before writing";
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(input->appendPixelBuffer(solidPicture(64, 48, 90, 40, 200, i < 15 ? 255 : 128), MediaTime(i, 30)));
        input->markAsFinished();
        ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
        EXPECT_EQ(writer.status(), AssetWriter::Status::completed);
    }
    auto info = probe(path);
    const json* video = streamOfType(info, "video");
    ASSERT_TRUE(video);
    EXPECT_EQ((*video)["codec_tag_string"], "ap4h");
    EXPECT_EQ((*video)["pix_fmt"], "yuva444p12le") << "4444 with alpha";
    EXPECT_EQ((*video)["nb_frames"], "30");

    auto asset = Asset::open(path);
    AssetReader reader(asset);
    auto output = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
    ASSERT_TRUE(reader.startReading());
    int count = 0;
    while (auto sample = output->copyNextSampleBuffer()) {
        EXPECT_NEAR(sample->presentationTime().seconds(), count / 30.0, 1e-6);
        const std::uint8_t* p = sample->imageBuffer()->row(24) + 4 * 32;
        EXPECT_NEAR(p[0], 90, 3);
        EXPECT_NEAR(p[1], 40, 3);
        EXPECT_NEAR(p[2], 200, 3);
        EXPECT_NEAR(p[3], count < 15 ? 255 : 128, 2);
        ++count;
    }
    EXPECT_EQ(count, 30);
}

TEST(AssetWriter, TranscodesPicturesAndSoundFromTwoPumpThreads) {
    auto asset = Asset::open(test::movieWithAudio());
    AssetReader reader(asset);
    auto videoOut = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
    auto audioOut = reader.addAudioOutput(asset->tracks(MediaType::audio)[0]);
    auto path = test::mediaFolder() / "transcoded.mp4";
    AssetWriter writer(path, FileType::mpeg4);
    VideoEncoderSettings settings;
    settings.codec = VideoCodec::h264;
    settings.width = 160;
    settings.height = 120;
    settings.profile = VideoProfile::high;
    settings.averageBitRate = 400000;
    settings.maxKeyFrameInterval = 15;
    settings.expectedFrameRate = 30;
    auto videoIn = writer.addVideoInput(settings);
    auto audioIn = writer.addAudioInput({AudioCodec::aac, 48000, 2, 128000});
    ASSERT_TRUE(videoIn && audioIn);
    EXPECT_FALSE(writer.addAudioInput({AudioCodec::pcm16, 48000, 2, 0})) << "PCM only in QuickTime movies";
    ASSERT_TRUE(reader.startReading());
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    writer.startSession(MediaTime::zero());
    std::atomic<bool> failed{false};
    auto pump = [&](AssetReaderOutput& from, AssetWriterInput& to) {
        while (auto sample = from.copyNextSampleBuffer())
            if (!to.appendSampleBuffer(*sample)) failed = true;
        to.markAsFinished();
    };
    std::thread videoPump(pump, std::ref(*videoOut), std::ref(*videoIn));
    std::thread audioPump(pump, std::ref(*audioOut), std::ref(*audioIn));
    videoPump.join();
    audioPump.join();
    EXPECT_FALSE(failed);
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    EXPECT_EQ(reader.status(), AssetReader::Status::completed);

    auto info = probe(path, {"-count_frames"});
    const json* video = streamOfType(info, "video");
    const json* audio = streamOfType(info, "audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ((*video)["codec_name"], "h264");
    EXPECT_EQ((*video)["profile"], "High");
    EXPECT_EQ((*video)["nb_read_frames"], "60");
    EXPECT_EQ((*video)["r_frame_rate"], "30/1");
    EXPECT_EQ((*audio)["codec_name"], "aac");
    EXPECT_EQ((*audio)["channels"], 2);
    EXPECT_NEAR(std::stod((*audio)["duration"].get<std::string>()), 2.0, 0.05);
    EXPECT_NEAR(std::stod(info["format"]["duration"].get<std::string>()), 2.0, 0.05);
}

TEST(AssetWriter, HevcMainTenFromTenBitPictures) {
    auto asset = Asset::open(test::solidColourMovie());
    AssetReader reader(asset);
    auto output = reader.addVideoOutput(asset->tracks(MediaType::video)[0], {PixelFormat::x420});
    ASSERT_TRUE(reader.startReading());
    auto path = test::mediaFolder() / "hevc10.mp4";
    AssetWriter writer(path, FileType::mpeg4);
    VideoEncoderSettings settings;
    settings.codec = VideoCodec::hevc;
    settings.profile = VideoProfile::main10;
    settings.width = 64;
    settings.height = 48;
    settings.expectedFrameRate = 25;
    settings.color = ColorTags{ColorPrimaries::bt2020, TransferFunction::aribSTDB67, YCbCrMatrix::bt2020};
    auto input = writer.addVideoInput(settings);
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    while (auto sample = output->copyNextSampleBuffer()) ASSERT_TRUE(input->appendSampleBuffer(*sample));
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    auto info = probe(path);
    const json* video = streamOfType(info, "video");
    ASSERT_TRUE(video);
    EXPECT_EQ((*video)["codec_name"], "hevc");
    EXPECT_EQ((*video)["codec_tag_string"], "hvc1");
    EXPECT_EQ((*video)["profile"], "Main 10");
    EXPECT_EQ((*video)["pix_fmt"], "yuv420p10le");
    EXPECT_EQ((*video)["color_primaries"], "bt2020");
    EXPECT_EQ((*video)["color_transfer"], "arib-std-b67");
    EXPECT_EQ((*video)["color_space"], "bt2020nc");
}

TEST(AssetWriter, PassthroughKeepsForeignSamplesAndTheirCodecType) {
    auto source = Asset::open(test::hapMovie());
    AssetReader reader(source);
    auto track = source->tracks(MediaType::video)[0];
    auto output = reader.addPassthroughOutput(track);
    ASSERT_TRUE(reader.startReading());
    auto path = test::mediaFolder() / "hap-copy.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    EXPECT_FALSE(AssetWriter(test::mediaFolder() / "x.mp4", FileType::mpeg4).addPassthroughVideoInput({subtype::hap1, 64, 48}));
    auto input = writer.addPassthroughVideoInput({track.formatDescriptions[0]->mediaSubtype, 64, 48});
    ASSERT_TRUE(input);
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    std::vector<std::vector<std::uint8_t>> originals;
    while (auto sample = output->copyNextSampleBuffer()) {
        originals.emplace_back(sample->data().begin(), sample->data().end());
        ASSERT_TRUE(input->appendSampleBuffer(*sample));
    }
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    auto info = probe(path, {"-count_frames"});
    const json* video = streamOfType(info, "video");
    ASSERT_TRUE(video);
    EXPECT_EQ((*video)["codec_tag_string"], "Hap1");
    EXPECT_EQ((*video)["codec_name"], "hap");
    EXPECT_EQ((*video)["nb_read_frames"], "15") << "FFmpeg's own decoder reads every copied frame";

    auto copy = Asset::open(path);
    AssetReader again(copy);
    auto copied = again.addPassthroughOutput(copy->tracks(MediaType::video)[0]);
    ASSERT_TRUE(again.startReading());
    std::size_t index = 0;
    while (auto sample = copied->copyNextSampleBuffer()) {
        ASSERT_LT(index, originals.size());
        EXPECT_TRUE(std::equal(sample->data().begin(), sample->data().end(), originals[index].begin(),
                               originals[index].end()))
            << "frame " << index << " changed";
        EXPECT_NEAR(sample->presentationTime().seconds(), index / 15.0, 1e-6);
        ++index;
    }
    EXPECT_EQ(index, originals.size());

    // A codec the container only knows by its tag keeps it too.
    auto dxvPath = test::mediaFolder() / "dxv.mov";
    AssetWriter dxvWriter(dxvPath, FileType::quickTimeMovie);
    auto dxvInput = dxvWriter.addPassthroughVideoInput({subtype::dxd3, 32, 16});
    ASSERT_TRUE(dxvWriter.startWriting()) << dxvWriter.errorDescription().value_or("");
    auto format = std::make_shared<FormatDescription>();
    format->mediaType = MediaType::video;
    format->mediaSubtype = subtype::dxd3;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(dxvInput->appendSampleBuffer(*SampleBuffer::makeData(std::vector<std::uint8_t>(300, std::uint8_t(i)),
                                                                         MediaTime(i, 10), MediaTime(1, 10), format)));
    ASSERT_TRUE(dxvWriter.finishWriting());
    auto dxvInfo = probe(dxvPath);
    ASSERT_TRUE(streamOfType(dxvInfo, "video"));
    EXPECT_EQ((*streamOfType(dxvInfo, "video"))["codec_tag_string"], "DXD3");
    EXPECT_EQ(fourCharCodeString(Asset::open(dxvPath)->tracks(MediaType::video)[0].formatDescriptions[0]->mediaSubtype),
              "DXD3");
}

}  // namespace
}  // namespace fw::media

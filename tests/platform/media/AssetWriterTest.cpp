#include "platform/media/Media.h"
#include "platform/media/MediaTestMedia.h"
#include "support/Pictures.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <type_traits>

namespace fw::media {
namespace {

using fw::test::fieldsOf;
using fw::test::probe;
using fw::test::solidPicture;
using fw::test::streamOf;
using test::readTrack;
using test::Samples;

// Interleaved PCM samples (float or int16) as one sample buffer.
template <typename Sample>
SampleBufferRef pcmSamples(const std::vector<Sample>& interleaved, int channels, double rate, MediaTime time) {
    auto format = std::make_shared<FormatDescription>();
    format->mediaType = MediaType::audio, format->mediaSubtype = subtype::linearPCM;
    format->sampleRate = rate, format->channelCount = channels;
    format->sampleFormat = std::is_same_v<Sample, float> ? AudioSampleFormat::float32 : AudioSampleFormat::int16;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(interleaved.data());
    const int frames = static_cast<int>(interleaved.size()) / channels;
    return SampleBuffer::makeData({bytes, bytes + interleaved.size() * sizeof(Sample)}, time,
                                  MediaTime(frames, static_cast<std::int32_t>(rate)), format, frames);
}

VideoEncoderSettings videoSettings(VideoCodec codec, int width, int height, double frameRate = 0,
                                   ProResProfile profile = ProResProfile::hq) {
    VideoEncoderSettings settings;
    settings.codec = codec, settings.width = width, settings.height = height, settings.expectedFrameRate = frameRate;
    settings.proResProfile = profile;
    return settings;
}

// A 32x32 ProRes picture input beside a mono 16-bit sound input that already
// holds 0.1 s: the pictures may run at most a second ahead of that sound.
struct PicturesBesideShortSound {
    AssetWriterInputRef video;
    AssetWriterInputRef audio;
    explicit PicturesBesideShortSound(AssetWriter& writer)
        : video(writer.addVideoInput(videoSettings(VideoCodec::proRes, 32, 32, 0, ProResProfile::proxy))),
          audio(writer.addAudioInput({AudioCodec::pcm16, 48000, 1, 0})) {
        EXPECT_TRUE(writer.startWriting());
        EXPECT_TRUE(
            audio->appendSampleBuffer(*pcmSamples(std::vector<float>(4800, 0.1f), 1, 48000, MediaTime::zero())));
    }
};

TEST(AssetWriter, ProResRoundTripKeepsFramesTimesAndColours) {
    auto path = test::mediaFolder() / "prores.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    const auto settings = videoSettings(VideoCodec::proRes, 64, 48, 30, ProResProfile::fourByFour);
    auto input = writer.addVideoInput(settings);
    ASSERT_TRUE(input);
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    EXPECT_FALSE(writer.addVideoInput(settings)) << "inputs only before writing";
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(input->appendPixelBuffer(solidPicture(64, 48, 90, 40, 200, i < 15 ? 255 : 128), MediaTime(i, 30)));
    input->markAsFinished();
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    EXPECT_EQ(writer.status(), AssetWriter::Status::completed);
    // 4444 with alpha.
    EXPECT_EQ(fieldsOf(streamOf(probe(path), "video"), {"codec_tag_string", "pix_fmt", "nb_frames"}),
              "ap4h yuva444p12le 30");

    const auto pictures = readTrack(path, MediaType::video);
    ASSERT_EQ(pictures.size(), 30u);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_NEAR(pictures[i]->presentationTime().seconds(), i / 30.0, 1e-6);
        const std::uint8_t* p = pictures[i]->imageBuffer()->row(24) + 4 * 32;
        const int expected[] = {90, 40, 200, i < 15 ? 255 : 128};
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(p[c], expected[c], c < 3 ? 3 : 2) << "frame " << i << " byte " << c;
    }
}

// 8-bit 4:2:0 pictures in the stream's matrix reach the codec as their own
// planes: a buffer its appender lets go of, which the pool hands out again and
// refills at once, still comes out as it was appended.
TEST(AssetWriter, PooledYCbCrPicturesComeOutAsAppendedThoughTheirBuffersReturnAtOnce) {
    auto path = test::mediaFolder() / "pooled-i420.mp4";
    AssetWriter writer(path, FileType::mpeg4);
    auto settings = videoSettings(VideoCodec::h264, 64, 48, 30);
    settings.color = ColorTags{};  // BT.709, as the pictures are
    auto input = writer.addVideoInput(settings);
    ASSERT_TRUE(input);
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    const auto pool = PixelBufferPool::create(64, 48, PixelFormat::i420, 1);
    constexpr int kFrames = 12;
    const auto lumaOf = [](int frame) { return 30 + 15 * frame; };
    for (int i = 0; i < kFrames; ++i) {
        PixelBufferRef picture = pool->get();
        for (int plane = 0; plane < 3; ++plane)
            for (int y = 0; y < picture->planeHeight(plane); ++y)
                std::memset(picture->row(y, plane), plane == 0 ? lumaOf(i) : 128,
                            static_cast<std::size_t>(picture->planeWidth(plane)));
        ASSERT_TRUE(input->appendPixelBuffer(picture, MediaTime(i, 30)));
    }
    input->markAsFinished();
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    const auto pictures = readTrack(path, MediaType::video);
    ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        // Video-range grey as BGRA.
        const double grey = (lumaOf(i) - 16) * 255.0 / 219.0;
        EXPECT_NEAR(pictures[static_cast<std::size_t>(i)]->imageBuffer()->row(24)[4 * 32], grey, 3) << "frame " << i;
    }
}

TEST(AssetWriter, PassthroughKeepsForeignSamplesAndTheirCodecType) {
    const auto originals = readTrack(test::hapMovie(), MediaType::video, Samples::stored);
    ASSERT_EQ(originals.size(), 15u);
    auto path = test::mediaFolder() / "hap-copy.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    EXPECT_FALSE(
        AssetWriter(test::mediaFolder() / "x.mp4", FileType::mpeg4).addPassthroughVideoInput({subtype::hap1, 64, 48}));
    const auto track = Asset::open(test::hapMovie())->tracks(MediaType::video)[0];
    auto input = writer.addPassthroughVideoInput({track.formatDescriptions[0]->mediaSubtype, 64, 48});
    ASSERT_TRUE(input);
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    for (std::size_t i = 0; i < originals.size(); ++i) {
        const auto& sample = *originals[i];
        EXPECT_FALSE(sample.imageBuffer());
        EXPECT_GT(sample.data().size(), 4u);
        EXPECT_EQ(fourCharCodeString(sample.formatDescription()->mediaSubtype), "Hap1");
        EXPECT_NEAR(sample.presentationTime().seconds(), i / 15.0, 1e-3);
        EXPECT_TRUE(sample.isKeyFrame());
        ASSERT_TRUE(input->appendSampleBuffer(sample));
    }
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    // FFmpeg's own decoder reads every copied frame.
    EXPECT_EQ(fieldsOf(streamOf(probe(path, {"-count_frames"}), "video"),
                       {"codec_tag_string", "codec_name", "nb_read_frames"}),
              "Hap1 hap 15");

    const auto copied = readTrack(path, MediaType::video, Samples::stored);
    ASSERT_EQ(copied.size(), originals.size());
    for (std::size_t i = 0; i < copied.size(); ++i) {
        const auto a = copied[i]->data(), b = originals[i]->data();
        EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << "frame " << i << " changed";
        EXPECT_NEAR(copied[i]->presentationTime().seconds(), i / 15.0, 1e-6);
    }

    // A codec the container only knows by its tag keeps it too.
    auto dxvPath = test::mediaFolder() / "dxv.mov";
    AssetWriter dxvWriter(dxvPath, FileType::quickTimeMovie);
    auto dxvInput = dxvWriter.addPassthroughVideoInput({subtype::dxd3, 32, 16});
    ASSERT_TRUE(dxvWriter.startWriting()) << dxvWriter.errorDescription().value_or("");
    auto format = std::make_shared<FormatDescription>();
    format->mediaType = MediaType::video, format->mediaSubtype = subtype::dxd3;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(dxvInput->appendSampleBuffer(*SampleBuffer::makeData(
            std::vector<std::uint8_t>(300, std::uint8_t(i)), MediaTime(i, 10), MediaTime(1, 10), format)));
    ASSERT_TRUE(dxvWriter.finishWriting());
    EXPECT_EQ(streamOf(probe(dxvPath), "video")["codec_tag_string"], "DXD3");
    EXPECT_EQ(fourCharCodeString(Asset::open(dxvPath)->tracks(MediaType::video)[0].formatDescriptions[0]->mediaSubtype),
              "DXD3");
}

TEST(AssetWriter, MetadataRotationAndTimecodeTrackReadBack) {
    auto path = test::mediaFolder() / "tagged.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    writer.setMetadata({{MetadataKey::title, "A Title"},
                        {MetadataKey::artist, "Somebody"},
                        {MetadataKey::comment, "note, with comma"},
                        {MetadataKey::copyright, "(c) nobody"},
                        {MetadataKey::description, "Described"},
                        {MetadataKey::artist, ""}});
    writer.setTimecode(3600LL * 25 + 5, 25);
    auto input = writer.addVideoInput(videoSettings(VideoCodec::proRes, 64, 48, 25, ProResProfile::lt),
                                      AffineTransform::rotation(90, 64, 48));
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(input->appendPixelBuffer(solidPicture(64, 48, 10, 20, 30), MediaTime(i, 25)));
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");

    // Under the QuickTime metadata keys readers show, and not under bare names they pass over.
    auto info = probe(path);
    for (const auto& [key, value] : {std::pair{"title", "A Title"},
                                     {"artist", "Somebody"},
                                     {"comment", "note, with comma"},
                                     {"copyright", "(c) nobody"},
                                     {"description", "Described"}}) {
        EXPECT_EQ(info["format"]["tags"].value(std::string("com.apple.quicktime.") + key, ""), value) << key;
        EXPECT_FALSE(info["format"]["tags"].contains(key)) << key;
    }
    EXPECT_EQ(fieldsOf(streamOf(info, "video"), {"codec_tag_string"}), "apcs");

    auto asset = Asset::open(path);
    EXPECT_EQ(asset->tracks(MediaType::video)[0].preferredTransform.rotationDegrees(), 90);
    EXPECT_EQ(asset->tracks(MediaType::video)[0].preferredTransform, AffineTransform::rotation(90, 64, 48));
    EXPECT_EQ(asset->tracks(MediaType::timecode).size(), 1u) << "the timecode track is read as one";
}

TEST(AssetWriter, PcmSoundSaturatesInsteadOfWrappingAround) {
    auto path = test::mediaFolder() / "pcm.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    auto input = writer.addAudioInput({AudioCodec::pcm16, 48000, 2, 0});
    ASSERT_TRUE(input);
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    // Frames: (2.0, -2.0), (0.5, -0.5), (1.0, -1.0), repeated for 0.1 s.
    std::vector<float> samples;
    for (int i = 0; i < 1600; ++i) samples.insert(samples.end(), {2.0f, -2.0f, 0.5f, -0.5f, 1.0f, -1.0f});
    ASSERT_TRUE(input->appendSampleBuffer(*pcmSamples(samples, 2, 48000, MediaTime::zero())));
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");

    EXPECT_EQ(fieldsOf(streamOf(probe(path), "audio"), {"codec_name", "sample_rate"}), "pcm_s16le 48000");
    const auto raw = fw::test::ffmpegRaw(path, "s16le");
    ASSERT_EQ(raw.size(), 1600u * 3 * 2 * 2);
    std::vector<std::int16_t> values(6);
    std::memcpy(values.data(), raw.data(), 12);
    EXPECT_EQ(values, (std::vector<std::int16_t>{32767, -32768, 16384, -16384, 32767, -32768}));
}

TEST(AssetWriter, SessionStartCutsWhatLiesBeforeIt) {
    // Frames every 0.1 s from 0 to 1.9 s, red rising by 10 a frame.
    struct Case {
        double sessionStart;
        double secondFrameTime;  // the frame of 1.1 s, on the output's clock
    };
    for (const Case c : {Case{1.05, 0.05},   // 1.0 is showing when the session starts: it opens the file
                         Case{1.0, 0.1}}) {  // 0.9 is dropped, 1.0 starts exactly on time
        SCOPED_TRACE(c.sessionStart);
        auto path = test::mediaFolder() / "session.mov";
        AssetWriter writer(path, FileType::quickTimeMovie);
        auto input = writer.addVideoInput(videoSettings(VideoCodec::proRes, 32, 32, 10, ProResProfile::proxy));
        ASSERT_TRUE(writer.startWriting());
        writer.startSession(MediaTime::fromSeconds(c.sessionStart, 600));
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(input->appendPixelBuffer(solidPicture(32, 32, 0, 0, std::uint8_t(i * 10)), MediaTime(i, 10)));
        ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
        const auto frames = readTrack(path, MediaType::video);
        ASSERT_EQ(frames.size(), 10u);
        const auto red = [&](int i) { return frames[i]->imageBuffer()->row(16)[4 * 16 + 2]; };
        EXPECT_NEAR(frames[0]->presentationTime().seconds(), 0.0, 1e-6);
        EXPECT_NEAR(red(0), 100, 3) << "the frame of 1.0 s opens the file";
        EXPECT_NEAR(frames[1]->presentationTime().seconds(), c.secondFrameTime, 1e-6);
        EXPECT_NEAR(red(1), 110, 3);
    }
}

TEST(AssetWriter, CancelReleasesABlockedAppendAndRemovesTheFile) {
    auto path = test::mediaFolder() / "cancelled.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    PicturesBesideShortSound inputs(writer);
    ASSERT_TRUE(std::filesystem::exists(path));
    std::atomic<int> appended{0};
    std::atomic<bool> refused{false};
    std::thread pump([&] {
        for (int i = 0; i < 100; ++i) {
            if (!inputs.video->appendPixelBuffer(solidPicture(32, 32, 1, 2, 3), MediaTime(i, 30))) {
                refused = true;
                break;
            }
            appended.fetch_add(1);
            appended.notify_all();
        }
        appended.store(1000);  // wakes the wait below however the pump ended
        appended.notify_all();
    });
    // Pictures up to a second past the sound's last start (31 of them) pass; the next one waits.
    for (int seen = appended.load(); seen < 31; seen = appended.load()) appended.wait(seen);
    EXPECT_EQ(appended.load(), 31) << "the pictures ran ahead of the sound";
    writer.cancelWriting();
    pump.join();
    EXPECT_TRUE(refused);
    EXPECT_EQ(writer.status(), AssetWriter::Status::cancelled);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(writer.finishWriting());
}

TEST(AssetWriter, FinishedInputNoLongerHoldsOthersBack) {
    auto path = test::mediaFolder() / "finished.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    PicturesBesideShortSound inputs(writer);
    inputs.audio->markAsFinished();
    for (int i = 0; i < 90; ++i)
        ASSERT_TRUE(inputs.video->appendPixelBuffer(solidPicture(32, 32, 1, 2, 3), MediaTime(i, 30)));
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    EXPECT_NEAR(Asset::open(path)->duration().seconds(), 3.0, 0.05);
}

// Once the sound has ended, the pictures after it reach the file as they are
// appended instead of waiting in the muxer's interleaving queue (seconds of
// large frames), and the file stays whole and in time order.
TEST(AssetWriter, EndedSoundHoldsNoPicturesBack) {
    // 30 uncompressed Hap frames of 150 kB, appended three times over.
    const auto frames = readTrack(test::generated("hap-640.mov", {"-f", "lavfi", "-i", "testsrc2=s=640x480:r=30:d=1",
                                                                  "-c:v", "hap", "-compressor", "none"}),
                                  MediaType::video, Samples::stored);
    ASSERT_EQ(frames.size(), 30u);
    const auto path = test::mediaFolder() / "sound-ends-first.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    writer.setTimecode(90, 30);
    const auto video = writer.addPassthroughVideoInput({subtype::hap1, 640, 480, 30});
    const auto audio = writer.addAudioInput({AudioCodec::pcm16, 48000, 1, 0});
    ASSERT_TRUE(video && audio && writer.startWriting()) << writer.errorDescription().value_or("");
    // Sound in tenths of a second ahead of the pictures, as a pump feeds it, ending at 0.5 s.
    int soundTenths = 0;
    std::uintmax_t before = 0, appended = 0, mostHeld = 0;
    for (int i = 0; i < 90; ++i) {
        for (; soundTenths < 5 && soundTenths * 3 <= i; ++soundTenths)
            ASSERT_TRUE(audio->appendSampleBuffer(
                *pcmSamples(std::vector<float>(4800, 0.1f), 1, 48000, MediaTime(soundTenths, 10))));
        if (soundTenths == 5 && before == 0) {
            audio->markAsFinished();
            before = std::filesystem::file_size(path);
        }
        const auto& frame = *frames[static_cast<std::size_t>(i % 30)];
        ASSERT_TRUE(video->appendSampleBuffer(*SampleBuffer::makeData({frame.data().begin(), frame.data().end()},
                                                                      MediaTime(i, 30), MediaTime(1, 30),
                                                                      frame.formatDescription())));
        if (before == 0) continue;
        appended += frame.data().size();
        const std::uintmax_t written = std::filesystem::file_size(path) - before;
        mostHeld = std::max(mostHeld, appended > written ? appended - written : 0);
    }
    // Only the latest picture waits (to be placed among the sound's last
    // packets), beside what the file's write buffer (256 kB) holds. Held back
    // by the ended sound, all of them would wait.
    EXPECT_LE(mostHeld, 2 * frames[0]->data().size() + 256 * 1024) << "frames held back behind the ended sound";
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");

    // Every frame decodes, the sound keeps its length, and the file reads in time order.
    const auto probed = probe(path, {"-count_frames", "-show_packets"});
    EXPECT_EQ(fieldsOf(streamOf(probed, "video"), {"codec_name", "nb_read_frames"}), "hap 90");
    EXPECT_NEAR(fw::test::number(streamOf(probed, "audio")["duration"]), 0.5, 1e-3);
    std::vector<std::pair<double, double>> placed;  // (position, time)
    int pictures = 0;
    for (const auto& packet : probed.value("packets", fw::test::Json::array())) {
        placed.emplace_back(fw::test::number(packet["pos"]), fw::test::number(packet["dts_time"]));
        pictures += packet.value("codec_type", "") == "video";
    }
    ASSERT_EQ(pictures, 90);
    std::sort(placed.begin(), placed.end());
    for (std::size_t i = 1; i < placed.size(); ++i)
        EXPECT_GE(placed[i].second, placed[i - 1].second) << "packet at byte " << placed[i].first;
    EXPECT_EQ(Asset::open(path)->tracks(MediaType::timecode).size(), 1u);
    const auto copied = readTrack(path, MediaType::video, Samples::stored);
    ASSERT_EQ(copied.size(), 90u);
    for (std::size_t i = 0; i < copied.size(); ++i) {
        const auto a = copied[i]->data(), b = frames[i % 30]->data();
        EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << "frame " << i << " changed";
    }
}

TEST(AssetWriter, BadSettingsAndOrderFailWithReasons) {
    AssetWriter odd(test::mediaFolder() / "odd.mp4", FileType::mpeg4);
    EXPECT_FALSE(odd.addVideoInput(videoSettings(VideoCodec::proRes, 64, 48))) << "ProRes needs QuickTime";
    EXPECT_FALSE(odd.addAudioInput({AudioCodec::pcm16, 48000, 2, 0})) << "PCM only in QuickTime movies";
    EXPECT_FALSE(AssetWriter(test::mediaFolder() / "x.m4a", FileType::appleM4A)
                     .addVideoInput(videoSettings(VideoCodec::h264, 64, 48)))
        << "no video in M4A";
    ASSERT_TRUE(odd.addVideoInput(videoSettings(VideoCodec::h264, 63, 47)));
    EXPECT_FALSE(odd.startWriting());
    EXPECT_EQ(odd.status(), AssetWriter::Status::failed);
    ASSERT_TRUE(odd.errorDescription());
    EXPECT_NE(odd.errorDescription()->find("libx264"), std::string::npos) << *odd.errorDescription();

    AssetWriter nowhere(test::mediaFolder() / "no-such-folder" / "x.mov", FileType::quickTimeMovie);
    ASSERT_TRUE(nowhere.addAudioInput({AudioCodec::pcm16, 48000, 2, 0}));
    EXPECT_FALSE(nowhere.startWriting());
    EXPECT_NE(nowhere.errorDescription().value_or("").find("x.mov"), std::string::npos);

    // A picture appended before the one before it fails the writer, encoded or stored as it is.
    auto stored = std::make_shared<FormatDescription>();
    stored->mediaType = MediaType::video, stored->mediaSubtype = subtype::hap1;
    const struct {
        const char* name;
        std::function<AssetWriterInputRef(AssetWriter&)> add;
        std::function<bool(AssetWriterInput&, MediaTime)> append;
        const char* reason;
    } orders[] = {
        {"encoded", [](AssetWriter& writer) { return writer.addVideoInput(videoSettings(VideoCodec::proRes, 32, 32)); },
         [](AssetWriterInput& input, MediaTime time) {
             return input.appendPixelBuffer(solidPicture(32, 32, 0, 0, 0), time);
         },
         "Pictures must be appended in increasing time order"},
        {"stored",
         [](AssetWriter& writer) {
             return writer.addPassthroughVideoInput({subtype::hap1, 32, 32});
         },
         [&stored](AssetWriterInput& input, MediaTime time) {
             return input.appendSampleBuffer(
                 *SampleBuffer::makeData(std::vector<std::uint8_t>(64, 1), time, MediaTime(1, 10), stored));
         },
         "Samples must be appended in increasing time order"},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(order.name);
        auto path = test::mediaFolder() / "order.mov";
        AssetWriter backwards(path, FileType::quickTimeMovie);
        auto input = order.add(backwards);
        ASSERT_TRUE(input && backwards.startWriting());
        EXPECT_TRUE(order.append(*input, MediaTime(2, 10)));
        EXPECT_FALSE(order.append(*input, MediaTime(1, 10)));
        EXPECT_EQ(backwards.status(), AssetWriter::Status::failed);
        EXPECT_EQ(backwards.errorDescription().value_or(""), order.reason);
        EXPECT_FALSE(order.append(*input, MediaTime(3, 10)));
        EXPECT_FALSE(backwards.finishWriting());
        backwards.cancelWriting();
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST(AssetWriter, LevelAndAnInputThatGotNothing) {
    auto path = test::mediaFolder() / "level.mp4";
    AssetWriter writer(path, FileType::mpeg4);
    auto settings = videoSettings(VideoCodec::h264, 64, 48);
    settings.profile = VideoProfile::main, settings.level = "3.1";
    auto video = writer.addVideoInput(settings);
    auto audio = writer.addAudioInput({AudioCodec::aac, 48000, 2, 0});
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(video->appendPixelBuffer(solidPicture(64, 48, 1, 2, 3), MediaTime(i, 30)));
    // The sound never gets a sample (a trim that holds none, say).
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    EXPECT_EQ(fieldsOf(streamOf(probe(path, {"-count_frames"}), "video"), {"profile", "level", "nb_read_frames"}),
              "Main 31 5");
}

TEST(AssetWriter, SixteenBitSoundPassesThroughUnchanged) {
    auto path = test::mediaFolder() / "s16.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    auto input = writer.addAudioInput({AudioCodec::pcm16, 48000, 2, 0});
    ASSERT_TRUE(writer.startWriting());
    writer.startSession(MediaTime(481, 48000));  // sound before it is cut, to the sample
    std::vector<std::int16_t> values;
    for (int i = 0; i < 2400; ++i) values.insert(values.end(), {static_cast<std::int16_t>(i * 13 - 15000), -32768});
    ASSERT_TRUE(input->appendSampleBuffer(*pcmSamples(values, 2, 48000, MediaTime::zero())));
    ASSERT_TRUE(writer.finishWriting());
    std::vector<std::int16_t> back;
    for (const auto& sample :
         readTrack(path, MediaType::audio, Samples::decoded, {std::nullopt, std::nullopt, AudioSampleFormat::int16})) {
        auto* v = reinterpret_cast<const std::int16_t*>(sample->data().data());
        back.insert(back.end(), v, v + sample->data().size() / 2);
    }
    EXPECT_EQ(back, std::vector<std::int16_t>(values.begin() + 2 * 481, values.end()));
}

TEST(AssetWriter, SoundTracksPumpedOneAfterAnotherBesidePictures) {
    // Two sound tracks fed in turn by one thread while another feeds the pictures:
    // the second track starts late and must neither stall nor be stalled for good.
    auto path = test::mediaFolder() / "two-tracks.mov";
    AssetWriter writer(path, FileType::quickTimeMovie);
    auto video = writer.addVideoInput(videoSettings(VideoCodec::proRes, 32, 32));
    auto first = writer.addAudioInput({AudioCodec::pcm16, 48000, 1, 0});
    auto second = writer.addAudioInput({AudioCodec::pcm16, 48000, 1, 0});
    ASSERT_TRUE(writer.startWriting());
    std::atomic<bool> failed{false};
    std::thread pictures([&] {
        for (int i = 0; i < 90; ++i)
            if (!video->appendPixelBuffer(solidPicture(32, 32, 1, 2, 3), MediaTime(i, 30))) failed = true;
        video->markAsFinished();
    });
    std::thread sound([&] {
        for (auto* input : {first.get(), second.get()}) {
            for (int block = 0; block < 30; ++block)
                if (!input->appendSampleBuffer(
                        *pcmSamples(std::vector<float>(4800, 0.25f), 1, 48000, MediaTime(block, 10))))
                    failed = true;
            input->markAsFinished();
        }
    });
    pictures.join();
    sound.join();
    EXPECT_FALSE(failed);
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");
    auto asset = Asset::open(path);
    ASSERT_EQ(asset->tracks(MediaType::audio).size(), 2u);
    for (const auto& track : asset->tracks(MediaType::audio))
        EXPECT_NEAR(track.timeRange.duration.seconds(), 3.0, 0.01);
}

// 10-bit 4:2:2 pictures go to ProRes 422 without a copy; each must still come out as it was when appended, though
// its pool hands the same memory out again at once for the next picture.
TEST(AssetWriter, TenBit422PicturesComeOutAsAppendedWhileTheirPoolHandsThemOutAgain) {
    auto path = test::mediaFolder() / "prores-x422.mov";
    constexpr int kWidth = 64, kHeight = 48, kFrames = 24;
    AssetWriter writer(path, FileType::quickTimeMovie);
    // Tagged with the pictures' own matrix (BT.709), so that no colour is re-expressed.
    auto settings = videoSettings(VideoCodec::proRes, kWidth, kHeight, 30);
    settings.color = ColorTags{};
    auto input = writer.addVideoInput(settings);
    ASSERT_TRUE(input);
    ASSERT_TRUE(writer.startWriting()) << writer.errorDescription().value_or("");
    auto pool = PixelBufferPool::create(kWidth, kHeight, PixelFormat::x422, 1);
    // Flat luma and chroma, a level of their own in each frame.
    auto levels = [](int frame) { return std::array<int, 3>{100 + 30 * frame, 300 + 15 * frame, 700 - 15 * frame}; };
    for (int i = 0; i < kFrames; ++i) {
        PixelBufferRef picture = pool->get();
        ASSERT_TRUE(picture);
        for (int plane = 0; plane < 3; ++plane)
            for (int y = 0; y < picture->planeHeight(plane); ++y)
                std::fill_n(picture->row<std::uint16_t>(y, plane), picture->planeWidth(plane),
                            static_cast<std::uint16_t>(levels(i)[plane]));
        ASSERT_TRUE(input->appendPixelBuffer(picture, MediaTime(i, 30)));
    }
    input->markAsFinished();
    ASSERT_TRUE(writer.finishWriting()) << writer.errorDescription().value_or("");

    auto asset = Asset::open(path);
    AssetReader reader(asset);
    auto output = reader.addVideoOutput(asset->tracks(MediaType::video).at(0), {PixelFormat::x422});
    ASSERT_TRUE(output && reader.startReading());
    int frame = 0;
    while (auto sample = output->copyNextSampleBuffer()) {
        const PixelBufferRef picture = sample->imageBuffer();
        for (int plane = 0; plane < 3; ++plane)
            EXPECT_NEAR(picture->row<std::uint16_t>(kHeight / 2, plane)[picture->planeWidth(plane) / 2],
                        levels(frame)[plane], 2)
                << "frame " << frame << ", plane " << plane;
        ++frame;
    }
    EXPECT_EQ(frame, kFrames);
}

}  // namespace
}  // namespace fw::media

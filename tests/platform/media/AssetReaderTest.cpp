#include "platform/media/Asset.h"
#include "platform/media/AssetReader.h"
#include "platform/media/MediaError.h"
#include "platform/media/MediaTestMedia.h"
#include "platform/media/PictureConversion.h"
#include "support/DamagedMedia.h"
#include "support/Outputs.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fw::media {
namespace {

using test::generated;
using test::hapMovie;
using test::movieWithAudio;
using test::solidColourMovie;

// The first half of `source`, copied to `name` in the media folder.
std::filesystem::path firstHalfOf(const std::filesystem::path& source, const std::string& name) {
    auto half = test::mediaFolder() / name;
    std::filesystem::copy_file(source, half);
    std::filesystem::resize_file(half, std::filesystem::file_size(source) / 2);
    return half;
}

// Loudest sample, first time and frame count of all the sound an output gives (or of what it gives until a sample
// ends past `until` seconds, then the rest drained on to `drained`).
struct Drained {
    double peak = 0, firstTime = -1;
    std::int64_t frames = 0;
    std::uint64_t hash = 14695981039346656037u;  // of the samples' bytes
};
Drained drain(AssetReaderOutput& output, double until = INFINITY, Drained drained = {}) {
    auto& [peak, firstTime, frames, hash] = drained;
    for (double reached = 0; reached <= until;) {
        auto sample = output.copyNextSampleBuffer();
        if (!sample) break;
        reached = (sample->presentationTime() + sample->duration()).seconds();
        const auto& format = *sample->formatDescription();
        EXPECT_EQ(format.mediaSubtype, subtype::linearPCM);
        EXPECT_EQ(sample->data().size(), static_cast<std::size_t>(sample->sampleCount() * format.bytesPerFrame()));
        if (firstTime < 0) firstTime = sample->presentationTime().seconds();
        frames += sample->sampleCount();
        for (const std::uint8_t byte : sample->data()) hash = (hash ^ byte) * 1099511628211u;
        for (std::size_t i = 0; i < sample->data().size() / bytesPerSample(format.sampleFormat); ++i) {
            double v = format.sampleFormat == AudioSampleFormat::float32
                           ? reinterpret_cast<const float*>(sample->data().data())[i]
                           : reinterpret_cast<const std::int16_t*>(sample->data().data())[i] / 32768.0;
            peak = std::max(peak, std::fabs(v));
        }
    }
    return drained;
}

TEST(Asset, RotationAndCoverPicture) {
    auto cover = generated("cover.png", {"-f", "lavfi", "-i", "color=c=blue:s=32x32", "-frames:v", "1"});
    auto rotated =
        generated("rotated.mp4", test::arguments("-f lavfi -i testsrc2=s=64x48:r=10:d=0.5 -i " + cover.string() +
                                                 " -map 0:v -map 1:v -c:v:0 libx264 -preset ultrafast "
                                                 "-c:v:1 png -disposition:v:1 attached_pic "
                                                 "-metadata:s:v:0 rotate=90"));
    const auto video = Asset::open(rotated)->tracks(MediaType::video);
    ASSERT_EQ(video.size(), 1u) << "the cover picture is not a track";
    EXPECT_EQ(video[0].naturalSize, (Size{64, 48}));
    // The muxer of the ffmpeg tool may or may not write the rotation; when it does, it reads back.
    const int degrees = video[0].preferredTransform.rotationDegrees();
    EXPECT_TRUE(degrees == 0 || degrees == 90 || degrees == 270) << degrees;
}

TEST(Asset, StillImagesNonMediaAndTruncatedFiles) {
    for (const char* name : {"still.png", "still.jpg"}) {
        auto asset = Asset::open(generated(name, {"-f", "lavfi", "-i", "color=c=red:s=32x24", "-frames:v", "1"}));
        EXPECT_TRUE(asset->isStillImage()) << name;
        EXPECT_TRUE(asset->tracks(MediaType::video).empty()) << name;
    }

    auto text = test::mediaFolder() / "notes.mov";
    std::ofstream(text) << "This is not a movie, only some words in a text file.\n";
    // Half an MP4 has no index: it is written last.
    const auto truncated = firstHalfOf(movieWithAudio(), "truncated.mp4");
    for (const auto& path : {text, truncated, test::mediaFolder() / "missing.mov"}) {
        try {
            Asset::open(path);
            ADD_FAILURE() << "opened " << path;
        } catch (const MediaError& error) {
            EXPECT_NE(std::string(error.what()).find(path.filename().string()), std::string::npos) << error.what();
            EXPECT_LT(error.code(), 0) << error.what();
        }
    }
}

// Open descriptors of this process.
int openFiles() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// The first reader takes over the file the asset probed, the next ones open it
// afresh, and both read the same pictures; an asset nobody read closes its file.
TEST(Asset, ReadersOfOneAssetSeeTheSamePicturesAndNoFileOutlivesIt) {
    const int before = openFiles();
    auto asset = Asset::open(movieWithAudio());
    std::array<std::vector<std::uint8_t>, 2> lastPictures;
    std::array<int, 2> frames{};
    for (int pass = 0; pass < 2; ++pass) {
        AssetReader reader(asset);
        auto output = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
        ASSERT_TRUE(output && reader.startReading());
        while (auto sample = output->copyNextSampleBuffer()) {
            const PixelBuffer& picture = *sample->imageBuffer();
            lastPictures[pass].assign(picture.data(), picture.data() + picture.stride() * picture.height());
            ++frames[pass];
        }
        EXPECT_EQ(reader.status(), AssetReader::Status::completed);
    }
    EXPECT_EQ(frames[0], 60);
    EXPECT_EQ(frames[1], frames[0]);
    EXPECT_EQ(lastPictures[1], lastPictures[0]);
    asset.reset();
    EXPECT_EQ(openFiles(), before);
    Asset::open(movieWithAudio());
    EXPECT_EQ(openFiles(), before) << "the probed file of an asset gone unread is closed";
}

TEST(Asset, TruncatedFastStartMovieFailsWhileReading) {
    auto source = generated("faststart.mov", {"-f", "lavfi", "-i", "testsrc2=s=160x120:r=30:d=2", "-c:v", "prores_ks",
                                              "-profile:v", "proxy", "-movflags", "+faststart"});
    auto asset = Asset::open(firstHalfOf(source, "faststart-cut.mov"));
    AssetReader reader(asset);
    auto output = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
    ASSERT_TRUE(output && reader.startReading());
    int frames = 0;
    for (; auto sample = output->copyNextSampleBuffer(); ++frames) EXPECT_LT(sample->presentationTime().seconds(), 1.5);
    EXPECT_LT(frames, 60);
    EXPECT_EQ(reader.status(), AssetReader::Status::failed);
    ASSERT_TRUE(reader.errorDescription());
    EXPECT_NE(reader.errorDescription()->find("faststart-cut.mov"), std::string::npos) << *reader.errorDescription();
}

TEST(AssetReader, DescribesTracksAndReadsEveryFrameAsBGRAInOrder) {
    auto asset = Asset::open(movieWithAudio());
    EXPECT_NEAR(asset->duration().seconds(), 2.0, 0.05);
    ASSERT_EQ(asset->tracks(MediaType::video).size(), 1u);
    ASSERT_EQ(asset->tracks(MediaType::audio).size(), 1u);
    const auto video = asset->tracks(MediaType::video)[0], audio = asset->tracks(MediaType::audio)[0];
    EXPECT_EQ(video.naturalSize, (Size{160, 120}));
    EXPECT_NEAR(video.nominalFrameRate.value_or(0), 30.0, 1e-6);
    EXPECT_TRUE(video.preferredTransform.isIdentity());
    ASSERT_EQ(video.formatDescriptions.size(), 1u);
    EXPECT_EQ(video.formatDescriptions[0]->mediaSubtype, fourCharCode("avc1"));
    EXPECT_EQ(video.formatDescriptions[0]->width, 160);
    EXPECT_EQ(audio.formatDescriptions[0]->mediaSubtype, fourCharCode("mp4a"));
    EXPECT_EQ(audio.formatDescriptions[0]->sampleRate, 48000);
    EXPECT_EQ(audio.formatDescriptions[0]->channelCount, 2);
    EXPECT_FALSE(audio.nominalFrameRate);
    AssetReader reader(asset);
    auto output = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
    ASSERT_TRUE(output);
    EXPECT_EQ(reader.status(), AssetReader::Status::unknown);
    EXPECT_EQ(output->copyNextSampleBuffer(), nullptr) << "nothing before startReading";
    ASSERT_TRUE(reader.startReading());
    int frames = 0;
    while (auto sample = output->copyNextSampleBuffer()) {
        ASSERT_TRUE(sample->imageBuffer());
        EXPECT_EQ(sample->imageBuffer()->format(), PixelFormat::bgra8);
        EXPECT_EQ(sample->imageBuffer()->width(), 160);
        EXPECT_EQ(sample->formatDescription()->mediaSubtype, subtype::bgra);
        EXPECT_NEAR(sample->presentationTime().seconds(), frames++ / 30.0, 1e-3);
        EXPECT_NEAR(sample->duration().seconds(), 1 / 30.0, 1e-3);
    }
    EXPECT_EQ(frames, 60);
    EXPECT_EQ(reader.status(), AssetReader::Status::completed);
    EXPECT_FALSE(reader.errorDescription());
}

TEST(AssetReader, PixelValuesAndTenBitOutput) {
    auto asset = Asset::open(solidColourMovie());
    const auto track = asset->tracks(MediaType::video)[0];
    AssetReader reader(asset);
    auto bgra = reader.addVideoOutput(track);
    auto x420 = reader.addVideoOutput(track, {PixelFormat::x420});
    ASSERT_TRUE(bgra && x420);
    ASSERT_TRUE(reader.startReading());
    auto picture = bgra->copyNextSampleBuffer();
    ASSERT_TRUE(picture);
    const std::uint8_t* pixel = picture->imageBuffer()->row(20) + 4 * 30;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel[c], (std::array{90, 40, 200})[c], 3) << "byte " << c;
    EXPECT_EQ(pixel[3], 255);

    auto ten = x420->copyNextSampleBuffer();
    ASSERT_TRUE(ten);
    const auto& buffer = *ten->imageBuffer();
    EXPECT_EQ(buffer.format(), PixelFormat::x420);
    EXPECT_EQ(ten->formatDescription()->mediaSubtype, subtype::x420);
    // BT.601 (small picture) video-range luma of (200, 40, 90): 16 + 219·(0.299·200 + 0.587·40 + 0.114·90)/255.
    double luma = (buffer.row<std::uint16_t>(10)[10] >> 6) / 4.0;
    EXPECT_NEAR(luma, 16 + 219 * (0.299 * 200 + 0.587 * 40 + 0.114 * 90) / 255, 2.0);
    EXPECT_EQ(buffer.row<std::uint16_t>(10)[10] & 0x3F, 0) << "P010 keeps the value in the top 10 bits";
}

// Pictures decoded from a source without alpha say they are opaque, so that nobody scans them for translucent pixels;
// a source with alpha (or a palette or packed RGB, which may bring it) never does, and its pictures still go over
// black where the output keeps no alpha.
TEST(AssetReader, SaysPicturesAreOpaqueOnlyWhenTheSourceHasNoAlpha) {
    const std::string translucent = "testsrc2=s=64x48:r=10:d=0.3,format=rgba,colorchannelmixer=aa=0.5";
    struct Row {
        std::string name;
        std::vector<std::string> arguments;
        bool opaque;
    };
    const Row rows[] = {
        {"yuv420.mp4",
         {"-f", "lavfi", "-i", "testsrc2=s=64x48:r=10:d=0.3", "-c:v", "libx264", "-pix_fmt", "yuv420p"},
         true},
        {"grey.mov", {"-f", "lavfi", "-i", "testsrc2=s=64x48:r=10:d=0.3", "-c:v", "ffv1", "-pix_fmt", "gray"}, true},
        {"yuva444.mov",
         {"-f", "lavfi", "-i", translucent, "-c:v", "prores_ks", "-profile:v", "4444", "-pix_fmt", "yuva444p10le"},
         false},
        {"argb.mov", {"-f", "lavfi", "-i", translucent, "-c:v", "qtrle", "-pix_fmt", "argb"}, false},
        {"rgb24.mov",
         {"-f", "lavfi", "-i", "testsrc2=s=64x48:r=10:d=0.3", "-c:v", "qtrle", "-pix_fmt", "rgb24"},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto pictures = test::readTrack(generated(row.name, row.arguments), MediaType::video);
        ASSERT_FALSE(pictures.empty());
        for (const auto& sample : pictures) {
            const PixelBufferRef picture = sample->imageBuffer();
            ASSERT_EQ(picture->knownOpaque(), row.opaque);
            int lowestAlpha = 255;
            for (int y = 0; y < picture->height(); ++y)
                for (int x = 0; x < picture->width(); ++x)
                    lowestAlpha = std::min<int>(lowestAlpha, picture->row(y)[4 * x + 3]);
            if (row.opaque) {
                ASSERT_EQ(lowestAlpha, 255);
            }
            const PixelBufferRef shown = composedOverBlack(picture);
            if (row.name == "yuva444.mov" || row.name == "argb.mov") {
                EXPECT_NEAR(lowestAlpha, 128, 2);
                ASSERT_NE(shown, picture);
                EXPECT_TRUE(shown->knownOpaque());
                EXPECT_EQ(shown->row(20)[4 * 30 + 3], 255);
                EXPECT_NEAR(shown->row(20)[4 * 30], picture->row(20)[4 * 30] * picture->row(20)[4 * 30 + 3] / 255.0,
                            1.0);
            } else {
                EXPECT_EQ(shown, picture);
            }
        }
    }
}

TEST(AssetReader, ReadsFloatAudioNativeAndConverted) {
    auto asset = Asset::open(movieWithAudio());
    const auto track = asset->tracks(MediaType::audio)[0];
    AssetReader reader(asset);
    auto native = reader.addAudioOutput(track);
    auto mono = reader.addAudioOutput(track, {16000.0, 1, AudioSampleFormat::float32});
    auto louder = reader.addAudioMixOutput(track, 2.0f, {std::nullopt, std::nullopt, AudioSampleFormat::int16});
    ASSERT_TRUE(native && mono && louder);
    EXPECT_FALSE(reader.addVideoOutput(track)) << "audio track as video";
    ASSERT_TRUE(reader.startReading());
    EXPECT_FALSE(reader.addAudioOutput(track)) << "outputs only before reading";

    // Pulled one after another: the demuxer keeps the other outputs' packets queued.
    const Drained nativeSound = drain(*native), monoSound = drain(*mono), louderSound = drain(*louder);
    EXPECT_EQ(native->outputFormat()->channelCount, 2);
    EXPECT_EQ(mono->outputFormat()->channelCount, 1);
    EXPECT_EQ(mono->outputFormat()->sampleRate, 16000);
    EXPECT_NEAR(nativeSound.frames / 48000.0, 2.0, 0.05);
    EXPECT_NEAR(monoSound.frames / 16000.0, 2.0, 0.05);
    EXPECT_NEAR(nativeSound.firstTime, 0.0, 0.03);
    // The sine plays at 1/8 of full scale, spread over two channels at -3 dB.
    EXPECT_NEAR(nativeSound.peak, 0.125 * std::sqrt(0.5), 0.015);
    EXPECT_NEAR(louderSound.peak / nativeSound.peak, 2.0, 0.01);
    EXPECT_EQ(reader.status(), AssetReader::Status::completed);
}

// Sound that turns from stereo to mono where two ADTS streams were joined end to end: the conversion is set up again
// for the new layout (read as the old one, the mono frames have no second channel), and both halves come out whole.
TEST(AssetReader, SoundThatTurnsMonoAtAJoinIsConvertedInItsNewLayout) {
    const auto piece = [](const char* channels) {
        return generated(std::string("piece") + channels + ".aac",
                         {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=1", "-ac", channels,
                          "-c:a", "aac", "-f", "adts"});
    };
    const auto joined = test::mediaFolder() / "stereo-then-mono.aac";
    {
        std::ofstream out(joined, std::ios::binary);
        for (const auto& part : {piece("2"), piece("1")}) out << std::ifstream(part, std::ios::binary).rdbuf();
    }
    auto asset = Asset::open(joined);
    AssetReader reader(asset);
    auto output = reader.addAudioOutput(asset->tracks(MediaType::audio).at(0));
    ASSERT_TRUE(output && reader.startReading());
    const Drained sound = drain(*output);
    EXPECT_EQ(output->outputFormat()->channelCount, 2);
    EXPECT_NEAR(sound.frames / 48000.0, 2.0, 0.05);
    EXPECT_EQ(reader.status(), AssetReader::Status::completed);
}

// Two outputs of each track, three sound packets and two picture packets damaged, pulled on four threads at once:
// each sound output conceals its three as silence of their length, each picture output leaves its two out, and the
// reader counts them all.
TEST(AssetReader, CountsWhatEveryOutputConcealsOrLeavesOutWhilePulledFromFourThreads) {
    const auto damagedSound = test::mediaFolder() / "damaged-sound.mp4", damaged = test::mediaFolder() / "damaged.mp4";
    ASSERT_GE(fw::test::damagePackets(movieWithAudio(), damagedSound, "audio", 0.5, 3), 0);
    ASSERT_GE(fw::test::damagePackets(damagedSound, damaged, "video", 1.0, 2), 0);
    auto asset = Asset::open(damaged);
    AssetReader reader(asset);
    const auto track = asset->tracks(MediaType::audio)[0], pictures = asset->tracks(MediaType::video)[0];
    const std::shared_ptr<AssetReaderOutput> outputs[] = {
        reader.addAudioOutput(track), reader.addAudioOutput(track, {16000.0, 1, AudioSampleFormat::float32}),
        reader.addVideoOutput(pictures), reader.addVideoOutput(pictures, {PixelFormat::i420, 1})};
    ASSERT_TRUE(outputs[0] && outputs[1] && outputs[2] && outputs[3] && reader.startReading());
    Drained drained[2];
    const auto pull = [](AssetReaderOutput* output) {
        while (output->copyNextSampleBuffer()) {}
    };
    std::thread other([&] { drained[1] = drain(*outputs[1]); }), first(pull, outputs[2].get()),
        second(pull, outputs[3].get());
    drained[0] = drain(*outputs[0]);
    for (std::thread* thread : {&other, &first, &second}) thread->join();
    EXPECT_NEAR(reader.concealedSoundSeconds(), 2 * 3 * 1024 / 48000.0, 0.002);
    EXPECT_NEAR(drained[0].frames / 48000.0, 2.0, 0.05);
    EXPECT_NEAR(drained[1].frames / 16000.0, 2.0, 0.05);
    EXPECT_EQ(reader.pictureTally().delivered, 2 * 58);
    EXPECT_EQ(reader.pictureTally().damaged, 2 * 2);
    EXPECT_EQ(reader.status(), AssetReader::Status::completed);
}

TEST(AssetReader, TimeRangeLimitsPicturesAndSound) {
    auto asset = Asset::open(movieWithAudio());
    AssetReader reader(asset);
    reader.setTimeRange({MediaTime::fromSeconds(0.5, 600), MediaTime::fromSeconds(1.0, 600)});
    auto video = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
    auto audio = reader.addAudioOutput(asset->tracks(MediaType::audio)[0]);
    ASSERT_TRUE(reader.startReading());
    std::vector<double> times;
    while (auto sample = video->copyNextSampleBuffer()) times.push_back(sample->presentationTime().seconds());
    ASSERT_EQ(times.size(), 30u);
    EXPECT_NEAR(times.front(), 0.5, 1e-3);
    EXPECT_NEAR(times.back(), 1.5 - 1 / 30.0, 1e-3);
    const Drained sound = drain(*audio);
    EXPECT_DOUBLE_EQ(sound.firstTime, 0.5);
    EXPECT_EQ(sound.frames, 48000);
    EXPECT_EQ(reader.status(), AssetReader::Status::completed);
}

TEST(AssetReader, PullsFromTwoThreadsWithoutStarvingEitherOutput) {
    auto asset = Asset::open(movieWithAudio());
    for (int round = 0; round < 3; ++round) {
        AssetReader reader(asset);
        auto video = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
        auto audio = reader.addAudioOutput(asset->tracks(MediaType::audio)[0]);
        ASSERT_TRUE(reader.startReading());
        // Round 1 holds the sound back until a second of pictures is in; round 2 the other way round.
        std::mutex mutex;
        std::condition_variable progressed;
        std::int64_t counts[2] = {0, 0};  // pictures, sound frames
        bool done[2] = {false, false};
        const std::int64_t ahead[2] = {30, 48000};
        const auto pull = [&](int own, AssetReaderOutput& output) {
            const int other = 1 - own;
            {
                std::unique_lock lock(mutex);
                progressed.wait(lock, [&] { return round != 2 - own || counts[other] >= ahead[other] || done[other]; });
            }
            while (auto sample = output.copyNextSampleBuffer()) {
                std::lock_guard lock(mutex);
                counts[own] += own == 0 ? 1 : sample->sampleCount();
                progressed.notify_all();
            }
            std::lock_guard lock(mutex);
            done[own] = true;
            progressed.notify_all();
        };
        std::thread videoThread(pull, 0, std::ref(*video)), audioThread(pull, 1, std::ref(*audio));
        videoThread.join();
        audioThread.join();
        EXPECT_EQ(counts[0], 60);
        EXPECT_NEAR(counts[1] / 48000.0, 2.0, 0.05);
        EXPECT_EQ(reader.status(), AssetReader::Status::completed);
    }
}

// Fails the test and cancels the reader where it is not stopped 30 s on (a row's pulls take about one): a pull that
// waits for what never comes then ends, rather than hanging the test.
std::jthread watchdogFor(AssetReader& reader) {
    return std::jthread([&reader](std::stop_token stop) {
        std::mutex mutex;
        std::unique_lock lock(mutex);
        if (std::condition_variable_any().wait_for(lock, stop, std::chrono::seconds(30), [] { return false; }) ||
            stop.stop_requested())
            return;
        ADD_FAILURE() << "the pulls still wait after 30 s";
        reader.cancelReading();
    });
}

// 15 s of noisy pictures (2 MB a second) beside sound that ends, pauses or starts late, both tracks pulled at once:
// reading for the sound queues a few seconds of pictures (the sound of an MP4 or Matroska file is read ahead on its
// own), not all of them.
TEST(AssetReader, ATrackThatEndsPausesOrStartsLateQueuesFewSecondsOfTheOthers) {
    const struct Row {
        const char* name;
        std::string file, sound, filter;
        double soundFrom, soundSeconds;  // a pause comes out as silence
        int seconds = 15;                // the noise stays 15 s, then a still picture
        double movedSoundAt = -1;        // sound blocks from there stored 20 s later: the file just before's sound
        int movedBlocks = 0;
    } rows[] = {
        {"MP4, sound ending after 1 s", "ends.mp4", "duration=1", "anull", 0, 1},
        {"MP4, sound from 12 s", "late.mp4", "duration=15", "atrim=12", 12, 3},
        {"Matroska, sound pausing from 1 s to 13 s", "pauses.mkv", "duration=15", "aselect='not(between(t,1,13))'", 0,
         15},
        // Read ahead, damaged times go out once, where the sound around them puts them; a run of them, once the
        // track's next seconds come back from it.
        {"Matroska, sound pausing from 1 s to 13 s, a block after it stored late", "pauses.mkv", "duration=15",
         "aselect='not(between(t,1,13))'", 0, 15, 15, 13.07, 1},
        {"Matroska, sound pausing from 1 s to 13 s, six blocks after it stored late", "pauses.mkv", "duration=15",
         "aselect='not(between(t,1,13))'", 0, 15, 15, 14, 6},
        {"MPEG-TS, sound ending after 1 s", "ends.ts", "duration=1", "anull", 0, 1},
        // Read ahead, its next packets tell a pause past a minute from a damaged time.
        {"Matroska, sound pausing from 1 s to 70 s", "long-pause.mkv", "duration=80", "aselect='not(between(t,1,70))'",
         0, 80, 80},
        // Read ahead, a run longer than the track's next packets read to tell it: the pictures beside it do.
        {"Matroska, 40 s, sound pausing from 1 s to 13 s", "pauses40.mkv", "duration=40",
         "aselect='not(between(t,1,13))'", 0, 40, 40},
        {"Matroska, 40 s, sound pausing from 1 s to 13 s, 23 s of blocks from 14 s stored late", "pauses40.mkv",
         "duration=40", "aselect='not(between(t,1,13))'", 0, 40, 40, 14, 1078},
    };
    std::uint64_t soundBefore = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto file = generated(
            row.file,
            {"-f", "lavfi", "-i",
             "testsrc2=s=320x240:r=25:d=" + std::to_string(row.seconds) + ",noise=alls=30:allf=t:enable='lt(t,15)'",
             "-f", "lavfi", "-i", "sine=sample_rate=48000:" + row.sound, "-af", row.filter, "-c:v", "libx264",
             "-preset", "ultrafast", "-qp", "12", "-c:a", "aac"});
        auto asset = Asset::open(row.movedSoundAt < 0
                                     ? file
                                     : fw::test::withBlocksMoved(file, test::mediaFolder() / "moved.mkv", "audio",
                                                                 row.movedSoundAt, row.movedBlocks, 20000));
        AssetReader reader(asset);
        auto video = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
        auto audio = reader.addAudioOutput(asset->tracks(MediaType::audio)[0]);
        ASSERT_TRUE(reader.startReading());
        const std::jthread watchdog = watchdogFor(reader);
        // Pulled once before the sound is: what is queued for an output not yet pulled is not bounded.
        int pictures = video->copyNextSampleBuffer() ? 1 : 0;
        Drained sound;
        if (row.movedSoundAt < 0) {
            std::thread pictureThread([&] {
                while (video->copyNextSampleBuffer()) ++pictures;
            });
            sound = drain(*audio);
            pictureThread.join();
        } else {
            // The sound read ahead past the damage; then the file read through it in its order.
            sound = drain(*audio, row.movedSoundAt + 0.5);
            while (video->copyNextSampleBuffer()) ++pictures;
            sound = drain(*audio, INFINITY, sound);
        }
        EXPECT_EQ(pictures, 25 * row.seconds);
        EXPECT_NEAR(sound.firstTime, row.soundFrom, 0.03);
        EXPECT_NEAR(sound.frames / 48000.0, row.soundSeconds, 0.05);
        if (row.movedSoundAt < 0) {
            soundBefore = sound.hash;
        } else {
            EXPECT_EQ(sound.hash, soundBefore) << "the sound differs from the undamaged file's";
        }
        EXPECT_EQ(reader.status(), AssetReader::Status::completed);
        // Five seconds of pictures, where all of them after the sound's end would be 28 MB.
        EXPECT_LE(reader.mostQueuedBytes(), 11'000'000u);
    }
}

TEST(AssetReader, CancelFromAnotherThreadUnblocksPulls) {
    auto asset = Asset::open(movieWithAudio());
    AssetReader reader(asset);
    auto video = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
    auto audio = reader.addAudioOutput(asset->tracks(MediaType::audio)[0]);
    ASSERT_TRUE(reader.startReading());
    ASSERT_TRUE(video->copyNextSampleBuffer());
    // The puller takes one more picture, then pulls again only once the reader is cancelled.
    std::atomic<int> after{0};
    std::atomic<bool> cancelled{false};
    std::thread puller([&] {
        if (video->copyNextSampleBuffer()) ++after;
        after.notify_all();
        cancelled.wait(false);
        while (video->copyNextSampleBuffer()) ++after;
    });
    after.wait(0);
    reader.cancelReading();
    cancelled = true;
    cancelled.notify_all();
    puller.join();
    EXPECT_EQ(after.load(), 1);
    EXPECT_EQ(reader.status(), AssetReader::Status::cancelled);
    EXPECT_EQ(audio->copyNextSampleBuffer(), nullptr);
    EXPECT_EQ(video->copyNextSampleBuffer(), nullptr);
}

// A 10 s movie cut between packets, its index whole: the demuxer meets a clean end of the file. Pictures alone are
// pulled; the sound is demuxed with them.
TEST(AssetReader, FileEndingShortOfItsStatedLengthFailsBeyondTheTailTolerance) {
    const auto ten = [](const char* name, const char* extension) {
        return generated(name, test::arguments(std::string("-f lavfi -i testsrc2=s=96x64:r=10:d=10 -f lavfi -i "
                                                           "sine=duration=10 -c:v libx264 -preset ultrafast -pix_fmt "
                                                           "yuv420p -c:a aac -movflags +faststart -f ") +
                                               extension));
    };
    const auto movie = ten("ten.mp4", "mp4"), stream = ten("ten.ts", "mpegts");
    // Without the index of its fragments at its end, the last fragment's samples end where the file does.
    const auto fragments = ten("ten-fragments.mp4", "mp4 -movflags frag_keyframe+empty_moov+skip_trailer");
    struct Row {
        const char* name;
        std::filesystem::path source;
        double cutSeconds;  // below 0: the whole file
        std::optional<TimeRange> range;
        double expectedSeconds;  // 0: the read completes
    };
    const auto from = [](double start, double length) {
        return TimeRange{MediaTime::fromSeconds(start), MediaTime::fromSeconds(length)};
    };
    const Row rows[] = {
        {"60 %", movie, 6, std::nullopt, 10},
        {"a range ending before the cut", movie, 3, from(0, 2.5), 0},
        {"a range starting before the cut", movie, 4, from(2, 6), 6},
        {"MPEG-TS, as long as what there is", stream, 3, std::nullopt, 0},
        {"an MP4 in fragments, whole", fragments, -1, std::nullopt, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto cut = test::mediaFolder() / ("cut" + row.source.extension().string());
        const double at = row.cutSeconds < 0 ? 0 : fw::test::cutBeforePacket(row.source, cut, "video", row.cutSeconds);
        if (row.cutSeconds < 0) cut = row.source;
        auto asset = Asset::open(cut);
        AssetReader reader(asset);
        if (row.range) reader.setTimeRange(*row.range);
        auto video = reader.addVideoOutput(asset->tracks(MediaType::video).at(0));
        ASSERT_TRUE(video && reader.startReading());
        while (video->copyNextSampleBuffer()) {}
        const auto fault = reader.sourceFault();
        EXPECT_EQ(reader.status(),
                  row.expectedSeconds > 0 ? AssetReader::Status::failed : AssetReader::Status::completed);
        if (row.expectedSeconds == 0) continue;
        ASSERT_TRUE(fault && fault->kind == SourceFault::Kind::endedEarly);
        EXPECT_NEAR(fault->reachedSeconds, at - (row.range ? row.range->start.seconds() : 0), 0.2);
        EXPECT_NEAR(fault->expectedSeconds, row.expectedSeconds, 0.05);
    }
}

// Two MPEG-TS recordings joined end to end, the second starting two frames before the first ends (its timestamps
// step back, its continuity counters break): reading goes on through the join, each picture later than the last.
TEST(AssetReader, JoinedMPEGTSRecordingsAreReadThroughTheJoin) {
    const auto piece = [](const char* name, const char* offset) {
        return generated(name, test::arguments(std::string("-f lavfi -i testsrc2=s=96x64:r=30:d=2 -c:v libx264 -preset "
                                                           "ultrafast -pix_fmt yuv420p -output_ts_offset ") +
                                               offset + " -f mpegts"));
    };
    auto joined = fw::test::readFile(piece("first.ts", "0"));
    const auto second = fw::test::readFile(piece("second.ts", "1.9333"));
    joined.insert(joined.end(), second.begin(), second.end());
    const auto file = test::mediaFolder() / "joined.ts";
    fw::test::writeFile(file, joined);
    const auto pictures = test::readTrack(file, MediaType::video);
    EXPECT_GE(pictures.size(), 116u);  // 120, less the second's frames before the first's end
    for (std::size_t i = 1; i < pictures.size(); ++i)
        ASSERT_GT(pictures[i]->presentationTime(), pictures[i - 1]->presentationTime()) << i;
    EXPECT_GT(pictures.back()->presentationTime().seconds(), 3.85);
}

}  // namespace
}  // namespace fw::media

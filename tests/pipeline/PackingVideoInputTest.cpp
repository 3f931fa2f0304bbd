// The packing video input on a real writer: frames packed out of order on workers come out in append order, pictures
// held stay within the bound, packers without alpha see pictures over black, and whatever cannot be packed fails the
// input with its reason.

#include "PipelineTestSupport.h"

#include "pipeline/PackingVideoInput.h"
#include "platform/media/AssetReader.h"
#include "platform/media/AssetWriter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace fw {
namespace {

using namespace pipelinetest;

constexpr int kSide = 16;

struct Rig {
    explicit Rig(const fs::path& file) : writer(file, media::FileType::quickTimeMovie) {}
    media::AssetWriter writer;
    media::AssetWriterInputRef stored = writer.addPassthroughVideoInput({media::subtype::hap1, kSide, kSide, 0});
};

// An opaque picture whose first byte carries its number.
media::PixelBufferRef numbered(int number) {
    auto picture = media::PixelBuffer::create(kSide, kSide, media::PixelFormat::bgra8);
    picture->clear();
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) picture->row(y)[4 * x + 3] = 255;
    picture->row(0)[0] = static_cast<std::uint8_t>(number);
    return picture;
}

TEST(PackingVideoInput, FramesLeaveInAppendOrderAndHeldPicturesStayWithinTheBound) {
    test::TempDir dir;
    Rig rig(dir / "packed.mov");
    constexpr std::size_t kInFlight = 3;
    constexpr int kFrames = 40;
    std::mutex mutex;
    std::vector<std::weak_ptr<media::PixelBuffer>> made;
    std::size_t mostHeld = 0;
    const auto count = [&] {
        std::lock_guard lock(mutex);
        mostHeld = std::max<std::size_t>(
            mostHeld, std::count_if(made.begin(), made.end(), [](const auto& p) { return !p.expired(); }));
    };
    // Frame n is 100 + n bytes long; the later frames pack faster, so they finish out of order.
    FramePacking packer{media::subtype::hap1, "Hap",
                        [&](const media::PixelBuffer& picture, std::vector<std::uint8_t>& frame) {
                            const int number = picture.row(0)[0];
                            count();
                            std::this_thread::sleep_for(std::chrono::milliseconds((kFrames - number) % 7));
                            frame.assign(100 + number, static_cast<std::uint8_t>(number));
                        }};
    PackingVideoInput input(rig.stored, packer, kSide, kSide, kInFlight);
    ASSERT_TRUE(rig.writer.startWriting());
    for (int n = 0; n < kFrames; ++n) {
        auto picture = numbered(n);
        {
            std::lock_guard lock(mutex);
            made.push_back(picture);
        }
        ASSERT_TRUE(input.appendPixelBuffer(picture, media::MediaTime(n, 25)));
    }
    input.markAsFinished();
    ASSERT_TRUE(rig.writer.finishWriting());
    EXPECT_FALSE(input.failure());

    // The one being appended, and those in flight.
    EXPECT_LE(mostHeld, kInFlight + 1);
    std::string sizes, expected;
    for (const auto& packet :
         probe(dir / "packed.mov", {"-show_entries", "packet=pts_time,size"}).value("packets", Json::array()))
        sizes += fieldsOf(packet, {"pts_time", "size"}) + " ";
    for (int n = 0; n < kFrames; ++n) {
        char time[16];
        std::snprintf(time, sizeof time, "%.6f", n / 25.0);
        expected += std::string(time) + " " + std::to_string(100 + n) + " ";
    }
    EXPECT_EQ(sizes, expected);
}

// A frame whose write is held up (here by the writer's pacing, beside sound last appended at 0) holds up neither
// the appends nor the packing of the frames after it, as far as the bound allows; they are written once it goes on.
TEST(PackingVideoInput, AppendsGoOnWhileAFrameWaitsToBeWritten) {
    test::TempDir dir;
    Rig rig(dir / "held.mov");
    const auto sound = rig.writer.addAudioInput({media::AudioCodec::pcm16, 48000, 1, 0});
    constexpr std::size_t kInFlight = 3;
    std::atomic<int> packed{0};
    FramePacking packer{media::subtype::hap1, "Hap",
                        [&](const media::PixelBuffer& picture, std::vector<std::uint8_t>& frame) {
                            packed.fetch_add(1);
                            frame.assign(100, picture.row(0)[0]);
                        }};
    PackingVideoInput input(rig.stored, packer, kSide, kSide, kInFlight);
    ASSERT_TRUE(sound && rig.writer.startWriting());
    auto format = std::make_shared<media::FormatDescription>();
    format->mediaType = media::MediaType::audio, format->mediaSubtype = media::subtype::linearPCM;
    format->sampleRate = 48000, format->channelCount = 1, format->sampleFormat = media::AudioSampleFormat::int16;
    ASSERT_TRUE(sound->appendSampleBuffer(*media::SampleBuffer::makeData(
        std::vector<std::uint8_t>(9600), media::MediaTime::zero(), media::MediaTime(1, 10), format, 4800)));

    // Frames up to a second past the sound (0 to 25 at 25 fps) are written; frame 26 waits, the three after it pack.
    constexpr int kHeld = 26, kFrames = kHeld + 1 + static_cast<int>(kInFlight);
    std::atomic<int> appended{0};
    std::thread pump([&] {
        for (int n = 0; n < kFrames; ++n) {
            if (!input.appendPixelBuffer(numbered(n), media::MediaTime(n, 25))) return;
            appended.fetch_add(1);
        }
    });
    for (int waited = 0; waited < 6000 && (appended.load() < kFrames || packed.load() < kFrames); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(appended.load(), kFrames) << "an append waited for a frame to be written";
    EXPECT_EQ(packed.load(), kFrames);
    sound->markAsFinished();  // the held frame goes on, and with it the pump if it was held too
    pump.join();
    input.markAsFinished();
    ASSERT_TRUE(rig.writer.finishWriting()) << rig.writer.errorDescription().value_or("");
    EXPECT_FALSE(input.failure());
    std::string bytes, expected;
    for (const auto& packet :
         probe(dir / "held.mov", {"-show_entries", "packet=codec_type,pts_time,size"}).value("packets", Json::array()))
        if (packet.value("codec_type", "") == "video") bytes += fieldsOf(packet, {"pts_time", "size"}) + " ";
    for (int n = 0; n < kFrames; ++n) {
        char time[16];
        std::snprintf(time, sizeof time, "%.6f", n / 25.0);
        expected += std::string(time) + " 100 ";
    }
    EXPECT_EQ(bytes, expected);
}

// A written frame's buffer serves a later frame once the writer lets go of it, never before: with the sound lagging,
// the writer holds the frames a while, and every stored frame keeps its own bytes.
TEST(PackingVideoInput, WrittenFramesLendTheirBuffersToLaterOnesOnlyOnceTheWriterLetsGo) {
    for (const bool soundLags : {false, true}) {
        SCOPED_TRACE(soundLags ? "sound lagging" : "no sound");
        test::TempDir dir;
        Rig rig(dir / "lent.mov");
        const auto sound = soundLags ? rig.writer.addAudioInput({media::AudioCodec::pcm16, 48000, 1, 0}) : nullptr;
        constexpr int kFrames = 30;
        std::atomic<int> reused{0}, packed{0};
        FramePacking packer{media::subtype::hap1, "Hap",
                            [&](const media::PixelBuffer& picture, std::vector<std::uint8_t>& frame) {
                                const int number = picture.row(0)[0];
                                if (frame.capacity() > 0) reused.fetch_add(1);
                                packed.fetch_add(1);
                                frame.assign(100 + number % 5, static_cast<std::uint8_t>(number));
                            }};
        PackingVideoInput input(rig.stored, packer, kSide, kSide, 2);
        ASSERT_TRUE(rig.writer.startWriting());
        if (sound) {
            auto format = std::make_shared<media::FormatDescription>();
            format->mediaType = media::MediaType::audio, format->mediaSubtype = media::subtype::linearPCM;
            format->sampleRate = 48000, format->channelCount = 1,
            format->sampleFormat = media::AudioSampleFormat::int16;
            ASSERT_TRUE(sound->appendSampleBuffer(*media::SampleBuffer::makeData(
                std::vector<std::uint8_t>(960), media::MediaTime::zero(), media::MediaTime(1, 100), format, 480)));
        }
        // With lagging sound the pump's appends stop a second past it until the sound ends.
        std::thread pump([&] {
            for (int n = 0; n < kFrames; ++n)
                if (!input.appendPixelBuffer(numbered(n), media::MediaTime(n, 25))) return;
        });
        if (sound) {
            // Held once frame 26 waits to be written, 27 and 28 are packed and 29 waits for room.
            for (int waited = 0; waited < 6000 && packed.load() < kFrames - 1; ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            sound->markAsFinished();
        }
        pump.join();
        input.markAsFinished();
        ASSERT_TRUE(rig.writer.finishWriting()) << rig.writer.errorDescription().value_or("");
        EXPECT_FALSE(input.failure());
        if (!sound) {
            EXPECT_GT(reused.load(), 0) << "written frames' buffers were never reused";
        }

        const auto asset = media::Asset::open(dir / "lent.mov");
        media::AssetReader reader(asset);
        const auto stored = reader.addPassthroughOutput(asset->tracks(media::MediaType::video).at(0));
        ASSERT_TRUE(stored && reader.startReading());
        int number = 0;
        for (; const auto sample = stored->copyNextSampleBuffer(); ++number) {
            const auto bytes = sample->data();
            ASSERT_EQ(bytes.size(), static_cast<std::size_t>(100 + number % 5)) << "frame " << number;
            EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == number; }))
                << "frame " << number << " holds another frame's bytes";
        }
        EXPECT_EQ(number, kFrames);
    }
}

// Frames of another size are refused end to end (TextureEncodersTest); here what reaches no packer or fails in one.
TEST(PackingVideoInput, WhatCannotBePackedFailsTheInputWithItsReason) {
    const auto packs = [](const media::PixelBuffer& picture, std::vector<std::uint8_t>& frame) {
        if (picture.row(0)[0] == 3) throw std::runtime_error("texture too large");
        frame = {1, 2, 3};
    };
    const std::pair<media::PixelBufferRef, const char*> rows[] = {
        {media::PixelBuffer::create(kSide, kSide, media::PixelFormat::x420),
         "Writing failed: a frame's pixels could not be read as 8-bit BGRA; nothing was packed"},
        {numbered(3), "Writing failed: could not pack Hap frame: texture too large"},
    };
    for (const auto& [last, message] : rows) {
        SCOPED_TRACE(message);
        test::TempDir dir;
        Rig rig(dir / "packed.mov");
        PackingVideoInput input(rig.stored, FramePacking{media::subtype::hap1, "Hap", packs}, kSide, kSide, 2);
        ASSERT_TRUE(rig.writer.startWriting());
        EXPECT_TRUE(input.appendPixelBuffer(numbered(1), media::MediaTime(0, 25)));
        // A refused picture fails at once; a packer's failure at the latest when the input finishes.
        if (input.appendPixelBuffer(last, media::MediaTime(1, 25))) input.markAsFinished();
        EXPECT_STREQ(encodingErrorOf([&] {
                         if (input.failure()) std::rethrow_exception(input.failure());
                     }).what(),
                     message);
        EXPECT_FALSE(input.appendPixelBuffer(numbered(5), media::MediaTime(2, 25))) << "nothing after a failure";
    }
}

}  // namespace
// A packer of frames without alpha is handed each picture as shown over black; one with alpha, the picture as it is.
TEST(PackingVideoInput, PackersWithoutAlphaSeeThePictureOverBlack) {
    for (const bool keepsAlpha : {false, true}) {
        SCOPED_TRACE(keepsAlpha ? "with alpha" : "without alpha");
        test::TempDir dir;
        Rig rig(dir / "packed.mov");
        std::vector<std::uint8_t> seen;
        const auto packs = [&](const media::PixelBuffer& picture, std::vector<std::uint8_t>& frame) {
            seen.assign(picture.row(0), picture.row(0) + 8);
            frame = {1};
        };
        PackingVideoInput input(rig.stored, FramePacking{media::subtype::hap1, "Hap", packs, keepsAlpha}, kSide, kSide,
                                1);
        // An opaque pixel, then (B, G, R) = (254, 97, 24) at alpha 128.
        auto picture = numbered(7);
        const std::uint8_t translucent[4] = {254, 97, 24, 128};
        std::memcpy(picture->row(0) + 4, translucent, 4);
        ASSERT_TRUE(rig.writer.startWriting());
        ASSERT_TRUE(input.appendPixelBuffer(picture, media::MediaTime(0, 25)));
        input.markAsFinished();
        ASSERT_TRUE(rig.writer.finishWriting());
        const std::vector<std::uint8_t> expected = keepsAlpha
                                                       ? std::vector<std::uint8_t>{7, 0, 0, 255, 254, 97, 24, 128}
                                                       : std::vector<std::uint8_t>{7, 0, 0, 255, 127, 49, 12, 255};
        EXPECT_EQ(seen, expected);
        // The source picture itself is left as it was.
        EXPECT_EQ(picture->row(0)[7], 128);
    }
}

}  // namespace fw

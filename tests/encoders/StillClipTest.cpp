// The still paths (Hap, DXV and the platform codecs' movies) through the encoders' own interface: what the command
// line cannot ask for (lengths and rates, ProRes variants, fitting modes, cancelling) and what must be refused before
// anything is written.

#include "encoders/DXVEncoder.h"
#include "encoders/HapEncoder.h"
#include "encoders/StillImageEncoder.h"
#include "model/EncodingError.h"
#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// 64 × 32, colour bands and alpha rising from left to right, fully opaque nowhere.
fs::path translucentPicture() {
    return test::generated(
        "translucent.png",
        {"-f", "lavfi", "-i", "nullsrc=s=64x32,format=rgba,geq=r='4*X':g='8*Y':b='128':a='64+2*X'", "-frames:v", "1"});
}

StillClip clipOf(double seconds, int frameRate, std::optional<IntSize> size = {}, ResizeMode mode = ResizeMode::fit) {
    StillClip clip;
    clip.target.size = size;
    clip.target.mode = mode;
    clip.durationSeconds = seconds;
    clip.frameRate = frameRate;
    return clip;
}

using Encode =
    std::function<void(const fs::path& destination, const ProgressCallback&, const PreviewCallback&, std::stop_token)>;

Encode hap(HapKind kind, const StillClip& clip, const fs::path& source = translucentPicture()) {
    return std::bind_front(&HapEncoder::encodeStillImage, HapStillRequest{kind, clip}, source);
}

Encode dxv(DXVKind kind, bool alpha, const StillClip& clip, const fs::path& source = translucentPicture()) {
    return std::bind_front(&DXVEncoder::encodeStillImage, DXVStillRequest{kind, alpha, false, clip}, source);
}

Encode movie(OutputCodec codec, const StillClip& clip, ProResVariant variant = ProResVariant::hq,
             const fs::path& source = translucentPicture()) {
    StillMovieRequest request;
    request.codec = codec;
    request.proResVariant = variant;
    request.clip = clip;
    return std::bind_front(&StillImageEncoder::encode, StillImageEncoder(request), source);
}

// N = max(whole part of length × rate, 1) frames at the clip's rate, in every kind and ProRes variant; progress climbs
// and ends with 1.0. The texture kinds count their track's time in frames (its timescale is the rate), report once a
// frame (1/N each) and once more at the end, and show one preview of the picture before the first frame.
TEST(StillClip, LengthAndRateGiveTheFrames) {
    struct Row {
        Encode encode;
        const char* video;      // tag, frames, rate, duration, and a texture kind's time base
        int progressCalls = 0;  // 0: a movie, reported as the movie encoder does
    };
    const Row rows[] = {
        {hap(HapKind::hapQ, clipOf(2.5, 24)), "HapY 60 24/1 2.500000 1/24", 61},
        {dxv(DXVKind::dxv2, false, clipOf(1.99, 10)), "DXDI 19 10/1 1.900000 1/10", 20},
        {hap(HapKind::hap, clipOf(0, 25)), "Hap1 1 25/1 0.040000 1/25", 2},
        {dxv(DXVKind::dxv3, true, clipOf(-3, 60)), "DXD3 1 60/1 0.016667 1/60", 2},
        {movie(OutputCodec::proRes, clipOf(2.5, 24), ProResVariant::proxy), "apco 60 24/1 2.500000"},
        {movie(OutputCodec::proRes, clipOf(1.99, 10), ProResVariant::lt), "apcs 19 10/1 1.900000"},
        {movie(OutputCodec::proRes, clipOf(0.01, 30), ProResVariant::standard), "apcn 1 30/1 0.033333"},
        {movie(OutputCodec::proRes, clipOf(-3, 60), ProResVariant::fourByFour), "ap4h 1 60/1 0.016667"},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.video);
        std::vector<double> progress;
        std::vector<std::pair<std::size_t, int>> previews;  // progress calls before, width
        row.encode(
            dir / "clip.mov", [&](double fraction) { progress.push_back(fraction); },
            [&](const PreviewFrame& frame) { previews.emplace_back(progress.size(), frame.image->width()); }, {});
        const test::Json video = test::streamOf(test::probe(dir / "clip.mov", {"-count_frames"}), "video");
        std::string fields = test::fieldsOf(video, {"codec_tag_string", "nb_read_frames", "r_frame_rate", "duration"});
        if (row.progressCalls != 0) fields += " " + test::fieldsOf(video, {"time_base"});
        EXPECT_EQ(fields, row.video);
        ASSERT_GE(progress.size(), 2u);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_DOUBLE_EQ(progress.back(), 1.0);
        if (row.progressCalls == 0) continue;
        EXPECT_EQ(previews, (std::vector<std::pair<std::size_t, int>>{{0, 64}}));
        EXPECT_EQ(static_cast<int>(progress.size()), row.progressCalls);
        EXPECT_DOUBLE_EQ(progress[progress.size() - 2], 1.0) << "the last frame reports the whole clip";
    }
}

// The background around a picture fitted into a box of another shape is opaque black, never whatever the buffer held,
// and a translucent picture is composited on black whatever the kind: alpha kinds write opaque frames.
TEST(StillClip, TheBackgroundIsClearedBeforeThePictureIsLaidOnIt) {
    const StillClip boxed = clipOf(0.1, 10, IntSize{64, 64}, ResizeMode::fit);
    test::TempDir dir;
    for (const Encode& encode : {dxv(DXVKind::dxv3, true, boxed), hap(HapKind::hapAlpha, boxed),
                                 hap(HapKind::hap, boxed), dxv(DXVKind::dxv2, false, boxed)}) {
        encode(dir / "clip.mov", {}, {}, {});
        const Bytes picture = test::ffmpegRaw(dir / "clip.mov", "rgba");
        ASSERT_EQ(picture.size(), 64u * 64 * 4);
        // The 16 rows above and below the picture (the loop skips the 32 between) are opaque black.
        for (std::size_t i = 0; i < picture.size(); i += i == 64 * 16 * 4 - 4 ? 64 * 32 * 4 + 4 : 4)
            ASSERT_EQ(Bytes(&picture[i], &picture[i] + 4), Bytes({0, 0, 0, 255})) << "byte " << i;
        // The translucent picture is there, made opaque.
        EXPECT_EQ(picture[(32 * 64 + 32) * 4 + 3], 255);
    }
}

// Refused requests and failures leave an earlier file at the destination as it was and nothing else behind.
TEST(StillClip, FailuresLeaveTheDestinationAsItWas) {
    test::TempDir dir;
    std::ofstream(dir / "notes.png") << "not a picture";
    struct Row {
        Encode encode;
        EncodingError::Kind kind;
        std::string message;
        bool stop = false;
    };
    const Row rows[] = {
        {hap(HapKind::hap, clipOf(5, 0)), EncodingError::Kind::writerFailed,
         "Writing failed: a still image clip needs a frame rate above 0, not 0"},
        {movie(OutputCodec::h264, clipOf(5, -30)), EncodingError::Kind::writerFailed,
         "Writing failed: a still image clip needs a frame rate above 0, not -30"},
        {hap(HapKind::hap, clipOf(std::nan(""), 30)), EncodingError::Kind::writerFailed,
         "Writing failed: a still image clip of nan s cannot be written"},
        {movie(OutputCodec::hevc, clipOf(-std::numeric_limits<double>::infinity(), 30)),
         EncodingError::Kind::writerFailed, "Writing failed: a still image clip of -inf s cannot be written"},
        {movie(OutputCodec::proRes, clipOf(1e12, 30)), EncodingError::Kind::writerFailed,
         "Writing failed: a still image clip of 1000000000000.00 s cannot be written"},
        {dxv(DXVKind::dxv2, false, clipOf(5, 30, IntSize{8000, 8000})), EncodingError::Kind::writerFailed,
         "Writing failed: DXV2 can't store 8000\u00D78000 frames \u2014 use DXV3 for resolutions beyond ~5K."},
        {hap(HapKind::hap, clipOf(5, 30), dir / "notes.png"), EncodingError::Kind::imageDecodeFailed,
         "The image could not be decoded. Could not read the image \u201cnotes.png\u201d"},
        {hap(HapKind::hap, clipOf(5, 30), dir / "missing.png"), EncodingError::Kind::imageDecodeFailed,
         "The image could not be decoded. Could not read the image \u201cmissing.png\u201d"},
        {movie(OutputCodec::proRes, clipOf(5, 30), ProResVariant::hq, dir / "notes.png"),
         EncodingError::Kind::imageDecodeFailed,
         "The image could not be decoded. Could not read the image \u201cnotes.png\u201d"},
        {movie(OutputCodec::hevcAlpha, clipOf(5, 30)), EncodingError::Kind::unsupportedCodec, "HEVC"},
        {dxv(DXVKind::dxv3, true, clipOf(5, 30)), EncodingError::Kind::cancelled, "The job was cancelled.", true},
        {movie(OutputCodec::h264, clipOf(60, 30)), EncodingError::Kind::cancelled, "The job was cancelled.", true},
    };
    std::ofstream(dir / "clip.mov") << "earlier output";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        std::stop_source stop;
        if (row.stop) stop.request_stop();
        const auto failure = test::failureOf([&] { row.encode(dir / "clip.mov", {}, {}, stop.get_token()); });
        EXPECT_EQ(failure.kind, row.kind);
        EXPECT_TRUE(failure.message.starts_with(row.message)) << failure.message;
        EXPECT_EQ(test::textOf(dir / "clip.mov"), "earlier output");
        EXPECT_EQ(test::entriesIn(dir.path()), 2) << "nothing staged";
    }
}

// DXV2 keeps a frame's payload size in 24 bits, and a DXT5 texture takes twice the bytes of a DXT1 one: the largest
// frames it takes, padded to 16, are 3312 × 4912 with alpha and 7504 × 4336 without (4 × 4 blocks a side more do not
// fit). DXV3 takes them all.
TEST(DXVEncoder, DXV2TakesFramesUpToTheLargestPayloadWithAndWithoutAlpha) {
    struct Row {
        bool alpha;
        std::int64_t width, height;
        bool fits;
    } rows[] = {
        {true, 3312, 4912, true},   {true, 3297, 4897, true},   {true, 3313, 4912, false},
        {true, 3312, 4913, false},  {false, 7504, 4336, true},  {false, 7489, 4321, true},
        {false, 7505, 4336, false}, {false, 7504, 4337, false}, {false, 3313, 4912, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.width << "x" << row.height << (row.alpha ? " alpha" : ""));
        const auto check = [&](DXVKind kind) { DXVEncoder::validateFrameSize(kind, row.alpha, row.width, row.height); };
        EXPECT_NO_THROW(check(DXVKind::dxv3));
        if (row.fits) {
            EXPECT_NO_THROW(check(DXVKind::dxv2));
            continue;
        }
        const auto failure = test::failureOf([&] { check(DXVKind::dxv2); });
        EXPECT_EQ(failure.kind, EncodingError::Kind::writerFailed);
        EXPECT_EQ(failure.message, "Writing failed: DXV2 can't store " + std::to_string(row.width) + "\u00D7" +
                                       std::to_string(row.height) +
                                       " frames \u2014 use DXV3 for resolutions beyond ~5K.");
    }
}

// A stop requested while the frames are written ends the clip before the next frame and removes what was written.
TEST(StillClip, AStopDuringTheFramesRemovesThePartialClip) {
    test::TempDir dir;
    std::stop_source stop;
    int frames = 0;
    const auto stopAtTen = [&](double) {
        if (++frames == 10) stop.request_stop();
    };
    EXPECT_THROW(hap(HapKind::hap, clipOf(60, 30))(dir / "clip.mov", stopAtTen, {}, stop.get_token()), EncodingError);
    EXPECT_EQ(frames, 10);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace fw

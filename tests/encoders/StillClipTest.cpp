// The Hap and DXV still paths through the encoders' own interface: what the command line cannot ask for (lengths and
// rates, fitting modes, cancelling) and what must be refused before anything is written.

#include "encoders/DXVEncoder.h"
#include "encoders/HapEncoder.h"
#include "model/EncodingError.h"
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
    return [=](const fs::path& destination, const ProgressCallback& progress, const PreviewCallback& preview,
               std::stop_token stop) {
        HapEncoder::encodeStillImage({kind, clip}, source, destination, progress, preview, stop);
    };
}

Encode dxv(DXVKind kind, bool alpha, const StillClip& clip, const fs::path& source = translucentPicture()) {
    return [=](const fs::path& destination, const ProgressCallback& progress, const PreviewCallback& preview,
               std::stop_token stop) {
        DXVEncoder::encodeStillImage({kind, alpha, false, clip}, source, destination, progress, preview, stop);
    };
}

// N = max(whole part of length × rate, 1) frames, frame i at i / rate; progress climbs by 1/N and ends with 1.0; one
// preview of the picture comes before the first frame.
TEST(StillClip, LengthAndRateGiveTheFrames) {
    struct Row {
        Encode encode;
        const char* video;  // tag, frames, rate, duration
        int progressCalls;
    };
    const Row rows[] = {
        {hap(HapKind::hapQ, clipOf(2.5, 24)), "HapY 60 24/1 2.500000", 61},
        {dxv(DXVKind::dxv2, false, clipOf(1.99, 10)), "DXDI 19 10/1 1.900000", 20},
        {hap(HapKind::hap, clipOf(0, 25)), "Hap1 1 25/1 0.040000", 2},
        {dxv(DXVKind::dxv3, true, clipOf(-3, 60)), "DXD3 1 60/1 0.016667", 2},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.video);
        std::vector<double> progress;
        std::vector<std::pair<std::size_t, int>> previews;  // progress calls before, width
        row.encode(
            dir / "clip.mov", [&](double fraction) { progress.push_back(fraction); },
            [&](const PreviewFrame& frame) { previews.emplace_back(progress.size(), frame.image->width()); }, {});
        EXPECT_EQ(previews, (std::vector<std::pair<std::size_t, int>>{{0, 64}}));
        EXPECT_EQ(test::fieldsOf(test::streamOf(test::probe(dir / "clip.mov", {"-count_frames"}), "video"),
                                 {"codec_tag_string", "nb_read_frames", "r_frame_rate", "duration"}),
                  row.video);
        ASSERT_EQ(static_cast<int>(progress.size()), row.progressCalls);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_DOUBLE_EQ(progress.back(), 1.0);
        EXPECT_DOUBLE_EQ(progress[progress.size() - 2], 1.0) << "the last frame reports the whole clip";
    }
}

// The background around a picture fitted into a box of another shape is opaque black, never whatever the buffer held,
// and a translucent picture is composited on black whatever the kind: alpha kinds write opaque frames.
TEST(StillClip, TheBackgroundIsClearedBeforeThePictureIsLaidOnIt) {
    struct Row {
        Encode encode;
        Bytes bar;  // RGBA of every pixel of the 16 rows above the picture
    };
    const StillClip boxed = clipOf(0.1, 10, IntSize{64, 64}, ResizeMode::fit);
    const Row rows[] = {
        {dxv(DXVKind::dxv3, true, boxed), {0, 0, 0, 255}},
        {hap(HapKind::hapAlpha, boxed), {0, 0, 0, 255}},
        {hap(HapKind::hap, boxed), {0, 0, 0, 255}},
        {dxv(DXVKind::dxv2, false, boxed), {0, 0, 0, 255}},
    };
    test::TempDir dir;
    for (const Row& row : rows) {
        row.encode(dir / "clip.mov", {}, {}, {});
        const Bytes picture = test::ffmpegRaw(dir / "clip.mov", "rgba");
        ASSERT_EQ(picture.size(), 64u * 64 * 4);
        Bytes bars(picture.begin(), picture.begin() + 64 * 16 * 4);
        bars.insert(bars.end(), picture.end() - 64 * 16 * 4, picture.end());
        for (std::size_t i = 0; i < bars.size(); i += 4)
            ASSERT_EQ(Bytes(bars.begin() + i, bars.begin() + i + 4), row.bar) << "byte " << i;
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
        {dxv(DXVKind::dxv3, false, clipOf(5, -30)), EncodingError::Kind::writerFailed,
         "Writing failed: a still image clip needs a frame rate above 0, not -30"},
        {hap(HapKind::hap, clipOf(std::nan(""), 30)), EncodingError::Kind::writerFailed,
         "Writing failed: a still image clip of nan s cannot be written"},
        {hap(HapKind::hapQ, clipOf(1e12, 30)), EncodingError::Kind::writerFailed,
         "Writing failed: a still image clip of 1000000000000.00 s cannot be written"},
        {dxv(DXVKind::dxv2, false, clipOf(5, 30, IntSize{8000, 8000})), EncodingError::Kind::writerFailed,
         "Writing failed: DXV2 can't store 8000\u00D78000 frames \u2014 use DXV3 for resolutions beyond ~5K."},
        {hap(HapKind::hap, clipOf(5, 30), dir / "notes.png"), EncodingError::Kind::imageDecodeFailed,
         "Could not read the image \u201cnotes.png\u201d"},
        {hap(HapKind::hap, clipOf(5, 30), dir / "missing.png"), EncodingError::Kind::imageDecodeFailed,
         "Could not read the image \u201cmissing.png\u201d"},
        {dxv(DXVKind::dxv3, true, clipOf(5, 30)), EncodingError::Kind::cancelled, "The job was cancelled.", true},
    };
    std::ofstream(dir / "clip.mov") << "earlier output";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        std::stop_source stop;
        if (row.stop) stop.request_stop();
        try {
            row.encode(dir / "clip.mov", {}, {}, stop.get_token());
            ADD_FAILURE() << "no error";
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.kind(), row.kind);
            EXPECT_TRUE(std::string(error.what()).starts_with(row.message)) << error.what();
        }
        EXPECT_EQ(test::readFile(dir / "clip.mov").size(), 14u);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "nothing staged";
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

// The Hap and DXV encoders' failures and cancellation on real small encodes: a refused frame or a stop leaves the
// destination as it was and nothing staged beside it.

#include "encoders/DXVEncoder.h"
#include "encoders/HapEncoder.h"
#include "model/EncodingError.h"
#include "support/Probe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stop_token>

namespace fw {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What `encode` throws; "no error" when it succeeds.
template <class Encode>
std::string messageOf(Encode encode) {
    try {
        encode();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

// Ten 160 × 90 pictures, then ten 192 × 108: PNG frames copied as they are, so the decoder makes both sizes.
fs::path changingSizeClip(const test::TempDir& dir) {
    const std::string frames = (dir / "f%02d.png").string();
    EXPECT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=0.4", "-start_number", "0", frames}));
    EXPECT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=192x108:r=25:d=0.4", "-start_number", "10", frames}));
    EXPECT_TRUE(test::ffmpeg({"-framerate", "25", "-i", frames, "-c:v", "copy", (dir / "sizes.mov").string()}));
    for (int n = 0; n < 20; ++n) fs::remove(dir / ((n < 10 ? "f0" : "f") + std::to_string(n) + ".png"));
    return dir / "sizes.mov";
}

// A frame whose size is not the track's is never packed at another size: the encode fails with the sizes and the
// earlier file at the destination is untouched. With a frame request the resizer fits every frame instead.
TEST(TextureEncoders, AFrameOfAnotherSizeFailsTheEncodeAndLeavesTheDestination) {
    test::TempDir dir;
    const fs::path source = changingSizeClip(dir);
    const fs::path destination = dir / "out.mov";
    std::ofstream(destination) << "earlier output";
    const auto asset = media::Asset::open(source);
    EXPECT_EQ(messageOf([&] { HapEncoder(HapRequest{}).encode(asset, destination, {}, {}); }),
              "Writing failed: a 192\u00D7108 frame reached the 160\u00D790 Hap track; frames are never packed at "
              "another size");
    EXPECT_EQ(contents(destination), "earlier output");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"out.mov", "sizes.mov"})) << "nothing staged is left";

    DXVRequest fitted;
    fitted.kind = DXVKind::dxv3;
    fitted.scaling.emplace();
    fitted.scaling->width = 320;
    fitted.scaling->height = 180;
    EXPECT_EQ(messageOf([&] { DXVEncoder(fitted).encode(asset, destination, {}, {}); }), "no error");
    EXPECT_EQ(test::fieldsOf(test::streamOf(test::probe(destination, {"-count_frames"}), "video"),
                             {"codec_tag_string", "width", "height", "nb_read_frames"}),
              "DXD3 320 180 20");
}

// A stop mid-encode ends it as cancelled: the staged output is removed and the destination is as it was.
TEST(TextureEncoders, ACancelledEncodeLeavesNothing) {
    test::TempDir dir;
    const fs::path source =
        test::generated("long.mp4", {"-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=8", "-c:v", "libx264", "-preset",
                                     "ultrafast", "-pix_fmt", "yuv420p"});
    fs::copy_file(source, dir / "long.mp4");
    const fs::path destination = dir / "out.mov";
    std::ofstream(destination) << "earlier output";
    const auto asset = media::Asset::open(dir / "long.mp4");
    for (const bool hap : {true, false}) {
        SCOPED_TRACE(hap ? "Hap" : "DXV");
        std::stop_source stop;
        double reached = 0;
        const ProgressCallback progress = [&](double fraction) {
            reached = std::max(reached, fraction);
            if (fraction > 0.25) stop.request_stop();
        };
        HapRequest hapQ;
        hapQ.kind = HapKind::hapQ;
        const auto encode = [&] {
            if (hap)
                HapEncoder(hapQ).encode(asset, destination, progress, {}, stop.get_token());
            else
                DXVEncoder(DXVRequest{}).encode(asset, destination, progress, {}, stop.get_token());
        };
        EXPECT_EQ(messageOf(encode), "The job was cancelled.");
        EXPECT_LT(reached, 0.9) << "stopped well before the end";
        EXPECT_EQ(contents(destination), "earlier output");
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"long.mp4", "out.mov"}));
    }
}

// DXV2 keeps its payload size in 24 bits, so frames whose worst-case payload would not fit are refused before
// anything is written; DXV3 takes them.
TEST(TextureEncoders, DXV2RefusesFramesItsHeaderCannotHold) {
    struct Row {
        DXVKind kind;
        bool alpha;
        int width, height;
        const char* message;
    };
    const Row rows[] = {
        {DXVKind::dxv2, false, 7680, 4320,
         "Writing failed: DXV2 can't store 7680\u00D74320 frames \u2014 use DXV3 for resolutions beyond ~5K."},
        {DXVKind::dxv2, true, 5120, 2880, "no error"},
        {DXVKind::dxv2, true, 5760, 3240,
         "Writing failed: DXV2 can't store 5760\u00D73240 frames \u2014 use DXV3 for resolutions beyond ~5K."},
        {DXVKind::dxv3, true, 7680, 4320, "no error"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(messageOf([&] { DXVEncoder::validateFrameSize(row.kind, row.alpha, row.width, row.height); }),
                  row.message)
            << row.width << "x" << row.height;
}

}  // namespace
}  // namespace fw

// The frame of the still routes through the encode the window and the command line share (encodeSource), for boxes
// only the window's settings reach: every still output is the box asked for, a side below 2 raised to 2, and one side
// more where the stored picture has 4:2:0 chroma.

#include "jobs/PlanExecutor.h"
#include "support/Outputs.h"
#include "support/Probe.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

namespace fs = std::filesystem;

TEST(StillFrame, EveryStillRouteKeepsTheAskedBox) {
    const fs::path photo =
        test::generated("box-photo.png", {"-f", "lavfi", "-i", "color=c=0xB0B0B0:size=160x120", "-frames:v", "1"});
    const fs::path movie = test::generated(
        "box-movie.mov", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=0.3", "-c:v", "libx264"});
    ASSERT_FALSE(photo.empty());
    ASSERT_FALSE(movie.empty());
    struct Row {
        OutputCodec codec;
        const char* extension;
        bool evenSides = false;
        const fs::path* source = nullptr;  // the photo when null
    };
    const Row rows[] = {
        {OutputCodec::png, "png"},
        {OutputCodec::jpeg, "jpg"},
        {OutputCodec::dpx, "dpx"},
        {OutputCodec::exr, "exr"},
        {OutputCodec::hap, "mov"},
        {OutputCodec::hapQ, "mov"},
        {OutputCodec::dxv2, "mov"},
        {OutputCodec::dxv3, "mov"},
        {OutputCodec::proRes, "mov"},
        {OutputCodec::h264, "mp4", true},
        {OutputCodec::png, "png", false, &movie},
        {OutputCodec::exr, "exr", false, &movie},
    };
    SourceEncodeOptions options;
    options.stillClipSeconds = 0.1;
    test::TempDir dir;
    for (const Row& row : rows) {
        const fs::path& source = row.source ? *row.source : photo;
        for (const IntSize box : {IntSize{101, 75}, IntSize{0, 100}, IntSize{-5, 3}}) {
            SCOPED_TRACE(std::string(rawValue(row.codec)) + " from " + source.filename().string() + " into " +
                         std::to_string(box.width) + "x" + std::to_string(box.height));
            ExportConfiguration configuration;
            configuration.codec = row.codec;
            configuration.resize = {true, box.width, box.height, ResizeMode::aspect};
            const fs::path output = dir / (std::string("out.") + row.extension);
            encodeSource(source, output, configuration, options, {}, {});
            // Every encode bounds the box first: each side at least 2.
            std::int64_t width = std::max<std::int64_t>(box.width, 2), height = std::max<std::int64_t>(box.height, 2);
            if (row.evenSides) width += width % 2, height += height % 2;
            const test::Json video = test::streamOf(test::probe(output), "video");
            EXPECT_EQ(test::fieldsOf(video, {"width", "height"}), std::to_string(width) + " " + std::to_string(height));
            fs::remove(output);
        }
    }
}

}  // namespace
}  // namespace fw

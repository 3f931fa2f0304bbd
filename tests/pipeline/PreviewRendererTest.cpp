#include "pipeline/PreviewRenderer.h"

#include "PipelineTestSupport.h"
#include "support/Pictures.h"

#include <atomic>
#include <thread>

namespace fw {
namespace {

using media::PixelBuffer;
using media::PixelFormat;
using Clock = PreviewThrottle::Clock;

using namespace pipelinetest;

Clock::time_point instant(double seconds) {
    return Clock::time_point{} + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

TEST(PreviewThrottle, LetsOnePreviewThroughPerIntervalAcrossThreads) {
    PreviewThrottle throttle(0.1);
    // 1000.17 is 0.05 after the last true, not after the last call; 999 is the clock going back; 1000.35 is
    // exactly one interval later.
    const std::pair<double, bool> calls[] = {{1000.00, true}, {1000.05, false}, {1000.12, true}, {1000.17, false},
                                             {1000.25, true}, {999.0, false},   {1000.35, true}};
    for (auto [seconds, emits] : calls) EXPECT_EQ(throttle.shouldEmit(instant(seconds)), emits) << seconds;
    PreviewThrottle fresh(0.1);
    EXPECT_TRUE(fresh.shouldEmit(instant(0)));
    PreviewThrottle shared(10.0);
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int j = 0; j < 1000; ++j)
                if (shared.shouldEmit()) ++granted;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(granted.load(), 1);
}

using test::solidPicture;

TEST(PreviewRenderer, ScalesTheLongerSideDownAveragingAreasByAlphaAndReadsHalfFloats) {
    struct Case {
        int width, height, expectedWidth, expectedHeight;
    };
    for (auto c : {Case{1920, 1080, 480, 270}, Case{1080, 1920, 270, 480}, Case{320, 240, 320, 240},
                   Case{480, 480, 480, 480}, Case{1001, 333, 480, 160}, Case{5000, 3, 480, 1}}) {
        auto image = PreviewRenderer::downscaledImage(*solidPicture(c.width, c.height, 10, 20, 30), 480);
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->format(), PixelFormat::bgra8);
        EXPECT_EQ(image->width(), c.expectedWidth);
        EXPECT_EQ(image->height(), c.expectedHeight);
        EXPECT_EQ(at(*image, image->width() - 1, image->height() - 1), (Bgra{10, 20, 30, 255}));
    }
    EXPECT_FALSE(PreviewRenderer::downscaledImage(*solidPicture(8, 8, 0, 0, 0), 0));
    EXPECT_FALSE(PreviewRenderer::downscaledImage(*solidPicture(8, 8, 0, 0, 0), std::nan("")));
    // One-pixel black and white columns average to grey; a colour edge stays sharp at 4:1.
    auto stripes = makeImage(960, 540, [](int x, int y) {
        const int v = x % 2 ? 255 : 0;
        return Bgra{v, v, y < 270 ? v : 255 - v, 255};
    });
    auto grey = PreviewRenderer::downscaledImage(*stripes, 480);
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->width(), 480);
    for (int x : {0, 17, 479}) {
        EXPECT_NEAR(grey->row(10)[4 * x], 128, 1);
        EXPECT_NEAR(grey->row(260)[4 * x + 2], 128, 1);
    }
    // Opaque red beside fully transparent green: the colour stays red, alpha halves.
    auto mixed = makeImage(2, 1, [](int x, int) { return x ? Bgra{0, 255, 0, 0} : Bgra{0, 0, 255, 255}; });
    auto half = PreviewRenderer::downscaledImage(*mixed, 1);
    ASSERT_TRUE(half);
    ASSERT_EQ(half->width(), 1);
    const Bgra blend = at(*half, 0, 0);
    EXPECT_EQ(blend, (Bgra{0, 0, 255, blend.a}));
    EXPECT_NEAR(blend.a, 128, 1);
    auto frame = PixelBuffer::create(64, 32, PixelFormat::rgbaHalf);
    // R 0.5, G 0.25, B 1.0, A 1.0 as IEEE half floats.
    const std::uint16_t rgba[4] = {0x3800, 0x3400, 0x3C00, 0x3C00};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) std::memcpy(frame->row(y) + 8 * x, rgba, 8);
    auto image = PreviewRenderer::downscaledImage(*frame, 16);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 16);
    EXPECT_EQ(image->height(), 8);
    EXPECT_EQ(at(*image, 5, 3), (Bgra{255, 64, 128, 255}));
}

// A YCbCr frame of each layout a pump may hold and ffmpeg's BT.709 conversion
// of it to BGRA give the same preview.
TEST(PreviewRenderer, YCbCrFramesMatchAnIndependentConversion) {
    struct Case {
        const char* rawFormat;
        PixelFormat format;
    };
    for (const Case c : {Case{"p010le", PixelFormat::x420}, Case{"yuv420p", PixelFormat::i420},
                         Case{"yuv422p10le", PixelFormat::x422}}) {
        SCOPED_TRACE(c.rawFormat);
        test::TempDir dir;
        const int w = 640, h = 360;
        const std::string raw = (dir / "frame.raw").string(), bgra = (dir / "frame.bgra").string();
        ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=1", "-frames:v", "1", "-pix_fmt",
                                  c.rawFormat, "-f", "rawvideo", raw}));
        ASSERT_TRUE(test::ffmpeg({"-f", "rawvideo", "-pix_fmt", c.rawFormat, "-s", "640x360", "-i", raw, "-vf",
                                  "scale=in_color_matrix=bt709:in_range=tv:flags=accurate_rnd+full_chroma_int",
                                  "-pix_fmt", "bgra", "-f", "rawvideo", bgra}));
        auto planar = pictureFromRaw(test::readFile(raw), w, h, c.format);
        auto reference = pictureFromRaw(test::readFile(bgra), w, h, PixelFormat::bgra8);
        ASSERT_TRUE(planar && reference);
        auto ours = PreviewRenderer::downscaledImage(*planar, 480);
        auto theirs = PreviewRenderer::downscaledImage(*reference, 480);
        ASSERT_TRUE(ours && theirs);
        ASSERT_EQ(ours->width(), 480);
        ASSERT_EQ(ours->height(), 270);
        double total = 0;
        int far = 0;
        for (int y = 0; y < 270; ++y)
            for (int x = 0; x < 480 * 4; ++x) {
                const int d = std::abs(ours->row(y)[x] - theirs->row(y)[x]);
                total += d;
                if (d > 24) ++far;
            }
        EXPECT_LT(total / (480.0 * 270 * 4), 1.0);
        // Chroma siting differs only along sharp colour edges.
        EXPECT_LT(far, 480 * 270 * 4 / 100) << total / (480.0 * 270 * 4);
    }
}

}  // namespace
}  // namespace fw

// FFmpeg's dxv decoder reads our high-quality frames: its planes (it outputs
// YCoCg as-is, so they are compared plane by plane) against the source's own
// luma, alpha and chroma, for odd sizes and 1080p.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "CodecTestImages.h"
#include "FFmpegDXVOracle.h"
#include "codecs/dxv/DXVHighQuality.h"

namespace fw::DXV {
namespace {

using test::psnrFromSquaredError;

struct PlanePSNR {
    double y = 0, alpha = 0, co = 0, cg = 0;
};

// FFmpeg's planes: Y, Cg (U), Co (V), A.
PlanePSNR compareWithSource(const test::BgraImage& image, const test::OracleFrame& decoded) {
    double y = 0, a = 0, co = 0, cg = 0;
    const int w = image.width, h = image.height;
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            const std::uint8_t* p = image.at(px, py);
            const int luma = (p[2] + 2 * p[1] + p[0] + 2) >> 2;
            y += std::pow(luma - *decoded.at(0, px, py), 2);
            a += std::pow(p[3] - *decoded.at(3, px, py), 2);
        }
    }
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int j = 0; j < ch; ++j) {
        for (int i = 0; i < cw; ++i) {
            int sumCo = 0, sumCg = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const std::uint8_t* p = image.at(std::min(2 * i + dx, w - 1), std::min(2 * j + dy, h - 1));
                    sumCo += p[2] - p[0];
                    sumCg += 2 * p[1] - p[2] - p[0];
                }
            const int expectCo = std::clamp((sumCo + 4) >> 3, -128, 127) + 128;
            const int expectCg = std::clamp((sumCg + 8) >> 4, -128, 127) + 128;
            cg += std::pow(expectCg - *decoded.at(1, i, j), 2);
            co += std::pow(expectCo - *decoded.at(2, i, j), 2);
        }
    }
    const std::size_t pixels = static_cast<std::size_t>(w) * h, chroma = static_cast<std::size_t>(cw) * ch;
    return {psnrFromSquaredError(y, pixels), psnrFromSquaredError(a, pixels), psnrFromSquaredError(co, chroma), psnrFromSquaredError(cg, chroma)};
}

TEST(DXVHighQualityOracle, FFmpegReadsOurFramesAtOddSizesAnd1080p) {
    for (const auto& [width, height] :
         std::vector<std::pair<int, int>>{{127, 71}, {1920, 1080}, {5, 3}, {1924, 1080}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const test::BgraImage image = test::makeImage(width, height, test::Pattern::photoLike, 7);
        const auto frame = hqCompressFrame(image.pixels.data(), image.stride, width, height, HQFormat::yg10);
        const auto decoded = test::ffmpegDecodeDXV(frame, width, height);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(decoded->format, AV_PIX_FMT_YUVA420P);
        const PlanePSNR quality = compareWithSource(image, *decoded);
        // A few pixels of busy content leave BC4 less room than a large picture.
        const double floor = width * height < 100 ? 30 : 44;
        EXPECT_GT(quality.y, floor);
        EXPECT_GT(quality.alpha, floor);
        EXPECT_GT(quality.co, floor);
        EXPECT_GT(quality.cg, floor);
        std::printf("psnr %dx%d: y %.1f alpha %.1f co %.1f cg %.1f\n", width, height, quality.y, quality.alpha,
                    quality.co, quality.cg);
    }
}

TEST(DXVHighQualityOracle, FFmpegReadsFramesWithoutAlpha) {
    const test::BgraImage image = test::makeImage(200, 120, test::Pattern::photoLike, 8);
    const auto frame = hqCompressFrame(image.pixels.data(), image.stride, 200, 120, HQFormat::ycg6);
    const auto decoded = test::ffmpegDecodeDXV(frame, 200, 120);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->format, AV_PIX_FMT_YUV420P);
}

}  // namespace
}  // namespace fw::DXV

#include "pipeline/DisplayOrientation.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace fw {
namespace {

using media::AffineTransform;
using media::PixelBuffer;
using media::PixelFormat;

// Every pixel (and chroma pair) holds its own coordinates, so that where it
// lands tells how it moved.
std::shared_ptr<PixelBuffer> numbered(int width, int height, PixelFormat format) {
    auto buffer = PixelBuffer::create(width, height, format);
    for (int plane = 0; plane < buffer->planeCount(); ++plane)
        for (int y = 0; y < buffer->planeHeight(plane); ++y)
            for (int x = 0; x < buffer->planeWidth(plane); ++x) {
                if (format == PixelFormat::x420 && plane == 0) buffer->row<std::uint16_t>(y, 0)[x] = std::uint16_t(y * 256 + x);
                else buffer->row<std::uint32_t>(y, plane)[x] = std::uint32_t(y << 16 | x);
            }
    return buffer;
}

std::pair<int, int> coordinates(const PixelBuffer& buffer, int plane, int x, int y) {
    if (buffer.format() == PixelFormat::x420 && plane == 0) {
        const int v = buffer.row<std::uint16_t>(y, 0)[x];
        return {v % 256, v / 256};
    }
    const std::uint32_t v = buffer.row<std::uint32_t>(y, plane)[x];
    return {int(v & 0xffff), int(v >> 16)};
}

TEST(FrameOrientation, UprightTransformsNeedNoTurning) {
    EXPECT_FALSE(FrameOrientation::make(AffineTransform::identity()));
    EXPECT_FALSE(FrameOrientation::make({1, 0, 0, 1, 12, 40}));  // a translation alone
    ASSERT_TRUE(FrameOrientation::make(AffineTransform::rotation(90, 16, 8)));
    EXPECT_TRUE(FrameOrientation::make(AffineTransform::rotation(90, 16, 8))->swapsSides());
    EXPECT_FALSE(FrameOrientation::make(AffineTransform::rotation(180, 16, 8))->swapsSides());
}

TEST(FrameOrientation, PixelsLandWhereTheTransformPutsThem) {
    // Quarter turns and mirrors, each against the transform applied to pixel
    // centres; planes of both formats, odd sizes included.
    struct Case {
        AffineTransform transform;
        const char* name;
    };
    for (auto [width, height] : {std::pair{8, 6}, std::pair{7, 5}}) {
        const Case cases[] = {{AffineTransform::rotation(90, width, height), "90"},
                              {AffineTransform::rotation(180, width, height), "180"},
                              {AffineTransform::rotation(270, width, height), "270"},
                              {{-1, 0, 0, 1, double(width), 0}, "mirror"},
                              {{0, 1, 1, 0, 0, 0}, "mirror and turn"}};
        for (const auto& c : cases) {
            for (auto format : {PixelFormat::bgra8, PixelFormat::x420}) {
                SCOPED_TRACE(std::string(c.name) + (format == PixelFormat::x420 ? " x420 " : " bgra8 ") +
                             std::to_string(width) + "x" + std::to_string(height));
                auto orientation = FrameOrientation::make(c.transform);
                ASSERT_TRUE(orientation);
                auto source = numbered(width, height, format);
                auto turned = orientation->apply(*source);
                ASSERT_TRUE(turned);
                const auto [shownWidth, shownHeight] = orientation->displayedSize(width, height);
                ASSERT_EQ(turned->width(), shownWidth);
                ASSERT_EQ(turned->height(), shownHeight);
                const auto& t = c.transform;
                // Luma and BGRA exactly; chroma by plane size, which follows the same rule.
                for (int plane = 0; plane < turned->planeCount(); ++plane) {
                    const int pw = source->planeWidth(plane), ph = source->planeHeight(plane);
                    for (int y = 0; y < ph; ++y)
                        for (int x = 0; x < pw; ++x) {
                            // Pixel centre through the linear part, then shifted into the picture.
                            const double cx = x + 0.5, cy = y + 0.5;
                            double X = t.a * cx + t.c * cy, Y = t.b * cx + t.d * cy;
                            const int outWidth = turned->planeWidth(plane), outHeight = turned->planeHeight(plane);
                            if (t.a < 0 || t.c < 0) X += outWidth;
                            if (t.b < 0 || t.d < 0) Y += outHeight;
                            EXPECT_EQ(coordinates(*turned, plane, int(X), int(Y)), std::pair(x, y));
                        }
                }
            }
        }
    }
}

TEST(FrameOrientation, OtherFormatsAreRefused) {
    auto orientation = FrameOrientation::make(AffineTransform::rotation(90, 4, 4));
    auto half = PixelBuffer::create(4, 4, PixelFormat::rgbaHalf);
    EXPECT_EQ(orientation->apply(*half), nullptr);
}

}  // namespace
}  // namespace fw

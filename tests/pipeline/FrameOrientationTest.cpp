#include "pipeline/FrameOrientation.h"

#include "PipelineTestSupport.h"
#include "pipeline/FrameResizer.h"

#include <array>
#include <cstdint>
#include <cstdlib>

namespace fw {
namespace {

using namespace pipelinetest;
using media::AffineTransform;
using media::PixelBuffer;
using media::PixelBufferRef;
using media::PixelFormat;

// Every sample different, alpha included, within x420's video range.
PixelBufferRef varied(int width, int height, PixelFormat format) {
    if (format == PixelFormat::bgra8)
        return makeImage(width, height, [](int x, int y) {
            Bgra colour = unique(x, y);
            colour.a = 255 - (x * y) % 97;
            return colour;
        });
    return makeX420(
        width, height, [](int x, int y) { return 64 + (x * 37 + y * 11) % 876; },
        [](int j, int y) {
            return Chroma{300 + (j * 53 + y * 19) % 400, 700 - (j * 13 + y * 41) % 400};
        });
}

// The frame as displayed: each plane's sample centres through the linear part, shifted back into the plane.
PixelBufferRef upright(const PixelBuffer& stored, const AffineTransform& t) {
    const bool swaps = t.a == 0;
    auto turned = PixelBuffer::create(swaps ? stored.height() : stored.width(),
                                      swaps ? stored.width() : stored.height(), stored.format());
    for (int plane = 0; plane < stored.planeCount(); ++plane) {
        const std::size_t bytes = stored.format() == PixelFormat::x420 && plane == 0 ? 2 : 4;
        for (int y = 0; y < stored.planeHeight(plane); ++y)
            for (int x = 0; x < stored.planeWidth(plane); ++x) {
                double X = t.a * (x + 0.5) + t.c * (y + 0.5), Y = t.b * (x + 0.5) + t.d * (y + 0.5);
                if (X < 0) X += turned->planeWidth(plane);
                if (Y < 0) Y += turned->planeHeight(plane);
                std::memcpy(turned->row<std::uint8_t>(int(Y), plane) + bytes * int(X),
                            stored.row<std::uint8_t>(y, plane) + bytes * x, bytes);
            }
    }
    return turned;
}

// The largest difference between two pictures' samples: bytes of bgra8, 10-bit codes of x420.
int largestDifference(const PixelBuffer& a, const PixelBuffer& b) {
    int largest = 0;
    for (int plane = 0; plane < a.planeCount(); ++plane)
        for (int y = 0; y < a.planeHeight(plane); ++y) {
            if (a.format() == PixelFormat::bgra8) {
                for (int i = 0; i < a.width() * 4; ++i)
                    largest = std::max(largest, std::abs(a.row(y)[i] - b.row(y)[i]));
                continue;
            }
            const int samples = a.planeWidth(plane) * (plane == 0 ? 1 : 2);
            for (int i = 0; i < samples; ++i)
                largest = std::max(largest, std::abs((a.row<std::uint16_t>(y, plane)[i] >> 6) -
                                                     (b.row<std::uint16_t>(y, plane)[i] >> 6)));
        }
    return largest;
}

TEST(FrameOrientation, ResizerTurnsAsAnUprightCopyWould) {
    EXPECT_FALSE(FrameOrientation::make(AffineTransform::identity()));
    EXPECT_FALSE(FrameOrientation::make({1, 0, 0, 1, 12, 40}));  // a translation alone
    ASSERT_TRUE(FrameOrientation::make(AffineTransform::rotation(90, 16, 8)));
    EXPECT_TRUE(FrameOrientation::make(AffineTransform::rotation(90, 16, 8))->swapsSides());
    EXPECT_FALSE(FrameOrientation::make(AffineTransform::rotation(180, 16, 8))->swapsSides());
    // Given the display transform, the resizer makes what resizing an upright copy makes: eight orientations,
    // geometries that crop, flip and turn, up and down, bgra8 and x420, with a LUT (x420 to RGB before scaling).
    struct Geometry {
        const char* name;
        GeometrySettings settings;
        int width, height;
        ResizeMode mode;
    };
    GeometrySettings cropFlipTurn;
    cropFlipTurn.cropEnabled = true;
    cropFlipTurn.cropX = 0.1, cropFlipTurn.cropY = 0.2, cropFlipTurn.cropWidth = 0.7, cropFlipTurn.cropHeight = 0.65;
    cropFlipTurn.flipHorizontal = true;
    cropFlipTurn.rotation = Rotation::r90;
    GeometrySettings flipHalfTurn;
    flipHalfTurn.flipVertical = true;
    flipHalfTurn.rotation = Rotation::r270;
    const Geometry geometries[] = {{"none, down", {}, 20, 14, ResizeMode::fit},
                                   {"crop flip turn, up", cropFlipTurn, 61, 45, ResizeMode::aspect},
                                   {"flip turn, fill", flipHalfTurn, 30, 30, ResizeMode::fill}};
    PreparedFilters lut;
    lut.cube = CubeLUT{2, {0, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 1,    1, 0, 1,  //
                           0, 0, 1, 1, 1, 0, 1, 1, 0, 1, 1, 1, 0.5f, 1, 1, 1}};
    constexpr int kWidth = 37, kHeight = 22;
    for (const bool swaps : {false, true})
        for (const int signX : {1, -1})
            for (const int signY : {1, -1}) {
                const AffineTransform transform = swaps ? AffineTransform{0, double(signY), double(signX), 0, 0, 0}
                                                        : AffineTransform{double(signX), 0, 0, double(signY), 0, 0};
                const auto orientation = FrameOrientation::make(transform);
                for (const Geometry& g : geometries)
                    for (const auto format : {PixelFormat::bgra8, PixelFormat::x420})
                        for (const PreparedFilters* filters : std::array<const PreparedFilters*, 2>{nullptr, &lut}) {
                            const bool tenBit = format == PixelFormat::x420;
                            SCOPED_TRACE(std::string(g.name) + (tenBit ? " x420" : " bgra8") + (filters ? " lut" : "") +
                                         " swaps " + std::to_string(swaps) + " x " + std::to_string(signX) + " y " +
                                         std::to_string(signY));
                            const auto stored = varied(kWidth, kHeight, format);
                            FrameResizer folded(g.width, g.height, g.mode, filters, 25, g.settings, tenBit, false,
                                                orientation);
                            FrameResizer plain(g.width, g.height, g.mode, filters, 25, g.settings, tenBit, false);
                            const auto expected = plain.resized(*upright(*stored, transform), 0);
                            const auto actual = folded.resized(*stored, 0);
                            ASSERT_TRUE(expected && actual);
                            // Rows running down the upright picture filter in the other order: off by one at most.
                            EXPECT_LE(largestDifference(*actual, *expected), swaps ? 1 : 0);
                        }
            }
}

}  // namespace
}  // namespace fw

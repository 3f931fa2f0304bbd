#include "pipeline/FrameOrientation.h"

#include "PipelineTestSupport.h"
#include "pipeline/FrameResizer.h"
#include "support/PictureShape.h"

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

// A track whose natural size carries a pixel aspect (the media layer puts it on the width) is shown at that shape:
// fit, fill and pixelPerfect place the picture at its displayed shape, on whichever upright axis follows stored x.
TEST(FrameOrientation, PixelAspectPlacesThePictureAtItsDisplayedShape) {
    constexpr int kStoredWidth = 40, kStoredHeight = 30;
    struct Case {
        const char* name;
        double naturalWidth;  // over 40 stored columns
        AffineTransform transform;
        ResizeMode mode;
        int width, height;
        bool stripe;  // only stored columns 10...19 bright, else all of it
        int left, top, right, bottom;
    };
    const AffineTransform none = AffineTransform::identity();
    const AffineTransform turned = AffineTransform::rotation(90, kStoredWidth, kStoredHeight);
    const Case cases[] = {
        {"square pixels, fit", 40, none, ResizeMode::fit, 100, 100, false, 0, 13, 100, 88},
        // Shown 80 × 30: 100 × 37.5 centred.
        {"wide pixels, fit", 80, none, ResizeMode::fit, 100, 100, false, 0, 31, 100, 69},
        // Shown 30 × 80 once turned: the stretch follows stored x onto displayed y.
        {"wide pixels turned, fit", 80, turned, ResizeMode::fit, 100, 100, false, 31, 0, 69, 100},
        // Shown 20 × 30, at 1:1 in the middle.
        {"narrow pixels, pixel perfect", 20, none, ResizeMode::pixelPerfect, 100, 100, false, 40, 35, 60, 65},
        // Shown 80 × 30 and scaled by 2 to cover 60 × 60: stored columns 10...19 land on -10...30.
        {"wide pixels, fill", 80, none, ResizeMode::fill, 60, 60, true, 0, 0, 30, 60},
        // The output was sized to the shape: covered whatever the pixels.
        {"wide pixels, aspect", 80, none, ResizeMode::aspect, 100, 50, false, 0, 0, 100, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        media::AssetTrack track;
        track.mediaType = media::MediaType::video;
        track.naturalSize = {c.naturalWidth, double(kStoredHeight)};
        track.preferredTransform = c.transform;
        auto stored = std::make_shared<media::FormatDescription>();
        stored->mediaType = media::MediaType::video;
        stored->width = kStoredWidth;
        stored->height = kStoredHeight;
        track.formatDescriptions.push_back(stored);

        const auto picture = makeImage(kStoredWidth, kStoredHeight, [&](int x, int) {
            return !c.stripe || (x >= 10 && x < 20) ? Bgra{255, 255, 255, 255} : kBlack;
        });
        FrameResizer resizer(c.width, c.height, c.mode, nullptr, 25, std::nullopt, false, false,
                             FrameOrientation::of(track));
        const auto out = resizer.resized(*picture, 0);
        ASSERT_TRUE(out);
        const auto bounds = test::brightBounds(out->data(), out->width(), out->height(), 4, out->stride());
        ASSERT_TRUE(bounds);
        EXPECT_NEAR(bounds->left, c.left, 1) << *bounds;
        EXPECT_NEAR(bounds->top, c.top, 1) << *bounds;
        EXPECT_NEAR(bounds->right, c.right, 1) << *bounds;
        EXPECT_NEAR(bounds->bottom, c.bottom, 1) << *bounds;
    }
    // A pixel aspect that means nothing counts as square.
    for (const double aspect : {0.0, -2.0, std::nan(""), HUGE_VAL}) EXPECT_FALSE(FrameOrientation::make(none, aspect));
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

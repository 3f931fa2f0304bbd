// The integer path for 8-bit 4:2:x agrees with the float path within one code on every channel; the vector
// path from BGRA writes the float path's bytes, and the one-pass widening of 8-bit 4:2:0 to 10-bit 4:2:2 its
// values exactly, with every vector unit.
// Round trips through the picture conversions move no mean: a source decoded to bgra8 or x420 and converted to each
// layout a writer feeds its encoder comes back with the mean Y, Cb and Cr it had, over a ramp and over colour bars.
#include "platform/media/PictureConversion.h"
#include "platform/media/PictureConversion_internal.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace fw::media {
namespace {

// Wide enough that the last column, whose chroma is the last sample's repeated, weighs little in the mean.
constexpr int kWidth = 1024, kHeight = 64;

// Planes owning their memory, 8-bit (one byte a sample) or deeper (16-bit words).
struct OwnedPlanes {
    YCbCrPlanes view;
    std::array<std::vector<std::uint8_t>, 4> memory;

    OwnedPlanes(int bitDepth, int shiftX, int shiftY, bool alpha) {
        view.width = kWidth;
        view.height = kHeight;
        view.bitDepth = bitDepth;
        view.chromaShiftX = shiftX;
        view.chromaShiftY = shiftY;
        const int bytes = bitDepth > 8 ? 2 : 1;
        for (int plane = 0; plane < (alpha ? 4 : 3); ++plane) {
            const bool chroma = plane == 1 || plane == 2;
            const int w = chroma ? kWidth >> shiftX : kWidth, h = chroma ? kHeight >> shiftY : kHeight;
            memory[plane].assign(static_cast<std::size_t>(w * h * bytes), 0);
            view.planes[plane] = memory[plane].data();
            view.strides[plane] = w * bytes;
        }
    }
    int width(int plane) const { return plane == 1 || plane == 2 ? kWidth >> view.chromaShiftX : kWidth; }
    int height(int plane) const { return plane == 1 || plane == 2 ? kHeight >> view.chromaShiftY : kHeight; }
    double at(int plane, int x, int y) const {
        const std::uint8_t* row = view.planes[plane] + y * view.strides[plane];
        return view.bitDepth > 8 ? reinterpret_cast<const std::uint16_t*>(row)[x] : row[x];
    }
    void set(int plane, int x, int y, double value) {
        std::uint8_t* row = view.planes[plane] + y * view.strides[plane];
        const long code = std::lround(value);
        if (view.bitDepth > 8)
            reinterpret_cast<std::uint16_t*>(row)[x] = static_cast<std::uint16_t>(code);
        else
            row[x] = static_cast<std::uint8_t>(code);
    }
    // Mean of a plane in 8-bit codes.
    double mean(int plane) const {
        double sum = 0;
        for (int y = 0; y < height(plane); ++y)
            for (int x = 0; x < width(plane); ++x) sum += at(plane, x, y);
        return sum / (width(plane) * height(plane)) / (1 << (view.bitDepth - 8));
    }
};

// BT.709 Y, Cb, Cr in 8-bit codes (unrounded) of R, G, B in 0…1.
std::array<double, 3> ycbcr(double r, double g, double b) {
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    return {16 + 219 * y, 128 + 224 * (b - y) / 1.8556, 128 + 224 * (r - y) / 1.5748};
}

// A 4:2:0 source: a grey ramp over the top half and a smooth colour field below it, or 75% colour bars.
OwnedPlanes source(bool bars, int bitDepth) {
    OwnedPlanes p(bitDepth, 1, 1, false);
    const double scale = 1 << (bitDepth - 8);
    auto colour = [&](int x, int y) -> std::array<double, 3> {
        if (bars) {
            const int bar = x / 128;
            return ycbcr(0.75 * (bar == 0 || bar == 1 || bar == 4 || bar == 5),
                         0.75 * (bar == 0 || bar == 1 || bar == 2 || bar == 3),
                         0.75 * (bar == 0 || bar == 2 || bar == 4 || bar == 6));
        }
        if (y < kHeight / 2) return {16 + 219.0 * x / (kWidth - 1), 128, 128};
        return ycbcr(0.15 + 0.7 * x / kWidth, 0.8 - 0.6 * y / kHeight, 0.25 + 0.5 * (x + y) / (kWidth + kHeight));
    };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const auto c = colour(x, y);
            p.set(0, x, y, c[0] * scale);
            if (x % 2 == 0 && y % 2 == 0)
                for (int i = 1; i <= 2; ++i) p.set(i, x / 2, y / 2, c[i] * scale);
        }
    return p;
}

struct Layout {
    const char* codec;
    int bitDepth, shiftX, shiftY;
    bool alpha;
};

TEST(PictureConversion, RoundTripsKeepTheMeanOnEveryPathIntoEveryWriterLayout) {
    const Layout layouts[] = {{"H.264 and HEVC", 8, 1, 1, false},
                              {"HEVC Main 10", 10, 1, 1, false},
                              {"ProRes 422", 10, 1, 0, false},
                              {"ProRes 4444", 10, 0, 0, true}};
    for (const Layout& layout : layouts)
        for (bool tenBitPath : {false, true})
            for (bool bars : {false, true}) {
                // The 8-bit path starts from 8-bit pictures, the 10-bit one from 10-bit pictures (at 8-bit
                // precision where they end in 8 bits, so that only the conversions can move a mean).
                OwnedPlanes from = source(bars, tenBitPath ? 10 : 8);
                if (tenBitPath && layout.bitDepth == 8)
                    for (int plane = 0; plane < 3; ++plane)
                        for (int y = 0; y < from.height(plane); ++y)
                            for (int x = 0; x < from.width(plane); ++x)
                                from.set(plane, x, y, 4 * std::round(from.at(plane, x, y) / 4));
                OwnedPlanes to(layout.bitDepth, layout.shiftX, layout.shiftY, layout.alpha);
                if (tenBitPath) {
                    auto picture = PixelBuffer::create(kWidth, kHeight, PixelFormat::x420);
                    YCbCrPlanes x420 = planesOf(*picture);
                    convertPlanes(from.view, x420);
                    convertPlanes(x420, to.view);
                } else {
                    auto picture = PixelBuffer::create(kWidth, kHeight, PixelFormat::bgra8);
                    convertToBgra(from.view, YCbCrMatrix::bt709, *picture);
                    convertFromBgra(*picture, YCbCrMatrix::bt709, to.view);
                }
                const double tolerance = layout.bitDepth == 8 ? 0.1 : 0.25 / 4;  // in 8-bit codes
                for (int plane = 0; plane < 3; ++plane)
                    EXPECT_NEAR(to.mean(plane), from.mean(plane), tolerance)
                        << layout.codec << (tenBitPath ? ", 10-bit path" : ", 8-bit path")
                        << (bars ? ", bars" : ", ramp") << ", plane " << plane;
                if (layout.alpha) {
                    EXPECT_EQ(to.mean(3), 1023.0 / 4) << layout.codec;
                }
            }
}

struct IntegerCase {
    const char* picture;
    int width, height, chromaShiftY;
    bool random, fullRange;
    YCbCrMatrix matrix;
};

TEST(PictureConversion, IntegerPathForEightBitChromaSubsamplingMatchesTheFloatPath) {
    const IntegerCase cases[] = {{"4:2:0 ramp", 64, 16, 1, false, false, YCbCrMatrix::bt709},
                                 {"4:2:0 random, odd sides", 131, 37, 1, true, false, YCbCrMatrix::bt709},
                                 {"4:2:0 random, BT.601 full range", 130, 36, 1, true, true, YCbCrMatrix::smpte170m},
                                 {"4:2:2 random, odd sides, BT.2020", 77, 9, 0, true, false, YCbCrMatrix::bt2020},
                                 {"4:2:2 ramp, full range", 64, 16, 0, false, true, YCbCrMatrix::bt709},
                                 {"4:2:0 one pixel", 1, 1, 1, true, false, YCbCrMatrix::bt709}};
    std::mt19937 random(5);
    for (const IntegerCase& c : cases) {
        // Rows padded past the picture, as decoders lay them out.
        YCbCrPlanes planes;
        planes.width = c.width;
        planes.height = c.height;
        planes.bitDepth = 8;
        planes.chromaShiftY = c.chromaShiftY;
        planes.fullRange = c.fullRange;
        std::array<std::vector<std::uint8_t>, 3> memory;
        for (int plane = 0; plane < 3; ++plane) {
            const int w = plane == 0 ? c.width : (c.width + 1) / 2;
            const int h = plane == 0 ? c.height : (c.height + c.chromaShiftY) >> c.chromaShiftY;
            planes.strides[plane] = w + 13;
            memory[plane].resize(static_cast<std::size_t>(planes.strides[plane] * h));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    // Every code from 0 to 255 along the ramps, chroma crossing luma's slope; or anything at all.
                    const int ramp =
                        plane == 0 ? (x * 255 / std::max(w - 1, 1) + y) % 256 : (255 - x * 4 + y * 8) & 255;
                    memory[plane][y * planes.strides[plane] + x] =
                        static_cast<std::uint8_t>(c.random ? random() & 255 : ramp);
                }
            planes.planes[plane] = memory[plane].data();
        }
        ASSERT_TRUE(detail::takesFixedPointPath(planes)) << c.picture;
        auto integer = PixelBuffer::create(c.width, c.height, PixelFormat::bgra8);
        auto floating = PixelBuffer::create(c.width, c.height, PixelFormat::bgra8);
        detail::convertToBgraInFixedPoint(planes, c.matrix, *integer);
        detail::convertToBgraInFloat(planes, c.matrix, *floating);
        int largest = 0, differing = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < 4 * c.width; ++x) {
                const int difference = std::abs(integer->row(y)[x] - floating->row(y)[x]);
                largest = std::max(largest, difference);
                differing += difference != 0;
            }
        EXPECT_LE(largest, 1) << c.picture;
        // Only values within a few hundredths of a half may round the other way.
        EXPECT_LE(differing, c.width * c.height * 4 / 20) << c.picture;
        // Every vector unit this processor has writes the portable loop's bytes.
        auto portable = PixelBuffer::create(c.width, c.height, PixelFormat::bgra8);
        detail::convertToBgraInFixedPoint(planes, c.matrix, *portable, VectorUnit::portable);
        for (auto unit : {VectorUnit::sse2, VectorUnit::avx2}) {
            if (unit > widestVectorUnit()) continue;
            auto vector = PixelBuffer::create(c.width, c.height, PixelFormat::bgra8);
            detail::convertToBgraInFixedPoint(planes, c.matrix, *vector, unit);
            for (int y = 0; y < c.height; ++y)
                ASSERT_EQ(std::memcmp(vector->row(y), portable->row(y), 4 * static_cast<std::size_t>(c.width)), 0)
                    << c.picture << " unit " << int(unit) << " row " << y;
        }
    }
}

struct FromBgraCase {
    const char* picture;
    int width, height, bitDepth, chromaShiftY;
    bool translucent;
    YCbCrMatrix matrix;
};

TEST(PictureConversion, VectorPathFromBgraWritesTheFloatPathsBytes) {
    if (widestVectorUnit() != VectorUnit::avx2) GTEST_SKIP() << "no AVX2";
    const FromBgraCase cases[] = {
        {"ProRes 422, 1080p-wide rows", 1920, 4, 10, 0, false, YCbCrMatrix::bt709},
        {"ProRes 422, odd sides", 131, 37, 10, 0, false, YCbCrMatrix::bt709},
        {"ProRes 422, translucent, BT.601", 33, 7, 10, 0, true, YCbCrMatrix::smpte170m},
        {"4:2:2 12-bit, one vector and a bit", 17, 3, 12, 0, false, YCbCrMatrix::bt2020},
        {"H.264 4:2:0, odd sides", 77, 9, 8, 1, false, YCbCrMatrix::bt709},
        {"H.264 4:2:0, translucent", 48, 16, 8, 1, true, YCbCrMatrix::bt709},
        {"HEVC Main 10 4:2:0, odd sides", 35, 11, 10, 1, false, YCbCrMatrix::bt709},
        {"4:2:0 one pixel", 1, 1, 8, 1, false, YCbCrMatrix::bt709},
        {"4:2:2 narrower than a vector", 7, 2, 10, 0, false, YCbCrMatrix::bt709},
    };
    std::mt19937 random(9);
    for (const FromBgraCase& c : cases) {
        SCOPED_TRACE(c.picture);
        auto picture = PixelBuffer::create(c.width, c.height, PixelFormat::bgra8);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < 4 * c.width; ++x)
                picture->row(y)[x] = x % 4 == 3 && !c.translucent ? 255 : static_cast<std::uint8_t>(random() & 255);
        // Both into planes padded past their rows with a mark that must stay.
        struct Written {
            YCbCrPlanes planes;
            std::array<std::vector<std::uint8_t>, 3> memory;
        } reference, vector;
        for (Written* written : {&reference, &vector}) {
            YCbCrPlanes& planes = written->planes;
            planes.width = c.width;
            planes.height = c.height;
            planes.bitDepth = c.bitDepth;
            planes.chromaShiftY = c.chromaShiftY;
            const int bytes = c.bitDepth > 8 ? 2 : 1;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane == 0 ? c.width : (c.width + 1) / 2;
                const int h = plane == 0 ? c.height : (c.height + c.chromaShiftY) >> c.chromaShiftY;
                planes.strides[plane] = (w + 9) * bytes;
                written->memory[plane].assign(static_cast<std::size_t>(planes.strides[plane] * h), 0xA5);
                planes.planes[plane] = written->memory[plane].data();
            }
        }
        ASSERT_TRUE(detail::takesVectorPathFromBgra(vector.planes));
        detail::convertFromBgraInFloat(*picture, c.matrix, reference.planes);
        detail::convertFromBgraInAvx2(*picture, c.matrix, vector.planes);
        for (int plane = 0; plane < 3; ++plane)
            EXPECT_EQ(vector.memory[plane], reference.memory[plane]) << "plane " << plane;
    }
}

struct WideningCase {
    const char* picture;
    int width, height;
    enum { random, ramp, stripes } content;
};

TEST(PictureConversion, WideningEightBit420ToTenBit422GivesTheFloatPathsValuesWithEveryVectorUnit) {
    // Odd sides leave a last chroma column and row of their own; stripes of 0 and 255 push the bicubic rows past
    // both ends of the range; widths from 1 to past two vectors leave every length of loop tail.
    const WideningCase cases[] = {{"1080p-like random", 1920, 20, WideningCase::random},
                                  {"random, odd sides", 131, 37, WideningCase::random},
                                  {"stripes, odd sides", 77, 9, WideningCase::stripes},
                                  {"stripes, two vectors and a tail", 70, 6, WideningCase::stripes},
                                  {"ramp", 64, 16, WideningCase::ramp},
                                  {"three by three", 3, 3, WideningCase::random},
                                  {"one pixel", 1, 1, WideningCase::random},
                                  {"one row", 45, 1, WideningCase::stripes}};
    std::mt19937 random(17);
    for (const WideningCase& c : cases) {
        const int chromaWidth = (c.width + 1) / 2, chromaHeight = (c.height + 1) / 2;
        // Rows padded past the picture, as decoders and encoders lay them out.
        YCbCrPlanes from;
        from.width = c.width;
        from.height = c.height;
        std::array<std::vector<std::uint8_t>, 3> memory;
        for (int plane = 0; plane < 3; ++plane) {
            const int w = plane == 0 ? c.width : chromaWidth, h = plane == 0 ? c.height : chromaHeight;
            from.strides[plane] = w + 13;
            memory[plane].resize(static_cast<std::size_t>(from.strides[plane] * h));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < from.strides[plane]; ++x) {
                    const int value = c.content == WideningCase::random ? static_cast<int>(random() & 255)
                                      : c.content == WideningCase::ramp ? (x * 4 + y * 7) & 255
                                                                        : (y % 2 == (x / 3) % 2 ? 255 : 0);
                    memory[plane][y * from.strides[plane] + x] = static_cast<std::uint8_t>(value);
                }
            from.planes[plane] = memory[plane].data();
        }
        auto floating = PixelBuffer::create(c.width, c.height, PixelFormat::x422);
        const YCbCrPlanes reference = planesOf(*floating);
        ASSERT_TRUE(detail::takesWideningPath(from, reference)) << c.picture;
        detail::convertPlanesInFloat(from, reference);
        for (auto unit : {VectorUnit::portable, VectorUnit::sse2, VectorUnit::avx2}) {
            if (unit > widestVectorUnit()) continue;
            auto widened = PixelBuffer::create(c.width, c.height, PixelFormat::x422);
            detail::widenTo422(from, planesOf(*widened), unit);
            for (int plane = 0; plane < 3; ++plane) {
                const std::size_t bytes = 2 * static_cast<std::size_t>(plane == 0 ? c.width : chromaWidth);
                for (int y = 0; y < c.height; ++y)
                    ASSERT_EQ(std::memcmp(widened->row(y, plane), floating->row(y, plane), bytes), 0)
                        << c.picture << ", unit " << int(unit) << ", plane " << plane << ", row " << y;
            }
        }
    }
}

}  // namespace
}  // namespace fw::media

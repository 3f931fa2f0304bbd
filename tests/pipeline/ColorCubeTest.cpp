#include "pipeline/raster/ColorCube.h"

// The raster layer sits below the user's filters, so its headers never bring
// them in: were pipeline/Filters.h included above, this would redefine a type.
namespace fw {
enum class FilterCorner { notTheFiltersOne };
}

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

namespace fw::raster {
namespace {

CubeLUT curvedCube(int n) {
    CubeLUT lut;
    lut.dimension = n;
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                float fr = r / float(n - 1), fg = g / float(n - 1), fb = b / float(n - 1);
                lut.data.insert(lut.data.end(), {std::sqrt(fr), fg * fb, 1.2f * fb - 0.1f, 1.0f});
            }
    lut.domainMin = {0.0f, 0.1f, 0.0f};
    lut.domainMax = {1.0f, 0.9f, 1.5f};
    return lut;
}

// The wide kernels (AVX2 when the machine has it) and the portable ones agree at every pixel count, alpha kept.
TEST(ColorCube, KernelsAgreeAndSixteenBitLookupIsSmooth) {
    const CubeLUT lut = curvedCube(17);
    ColorCube fastest(lut), portable(lut, ColorCube::Kernels::portable);
    std::mt19937 random(3);
    for (int count : {1, 2, 7, 64}) {
        const auto agree = [&](auto sample, int tolerance) {
            std::vector<decltype(sample)> a(4 * count);
            for (auto& v : a) v = static_cast<decltype(sample)>(random());
            const auto original = a;
            auto b = a;
            fastest.apply(a.data(), count);
            portable.apply(b.data(), count);
            for (int i = 0; i < 4 * count; ++i) ASSERT_NEAR(a[i], b[i], tolerance) << count << " " << i;
            for (int i = 3; i < 4 * count; i += 4) ASSERT_EQ(a[i], original[i]);
        };
        agree(std::uint8_t{}, 1);
        agree(std::uint16_t{}, 2);
    }
    // Input one 16-bit step apart gives output a few steps apart: no 8-bit quantisation on the way.
    CubeLUT smoothLut = curvedCube(33);
    for (auto kernels : {ColorCube::Kernels::fastest, ColorCube::Kernels::portable}) {
        ColorCube cube(smoothLut, kernels);
        std::vector<std::uint16_t> ramp;
        for (int v = 30000; v < 30400; ++v) ramp.insert(ramp.end(), {0, 0, static_cast<std::uint16_t>(v), 65535});
        cube.apply(ramp.data(), 400);
        std::set<int> reds;
        for (int i = 0; i < 400; ++i) reds.insert(ramp[4 * i + 2]);
        EXPECT_GT(reds.size(), 150u);  // sqrt's slope here is about 0.5
        for (int i = 1; i < 400; ++i) EXPECT_LE(std::abs(ramp[4 * i + 2] - ramp[4 * i - 2]), 2);
    }
}

}  // namespace
}  // namespace fw::raster

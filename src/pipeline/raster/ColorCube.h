#pragma once
// A CubeLUT made ready for per-pixel use: trilinear lookup on the pixel values
// as stored (gamma-encoded, which is what .cube files are written for), with
// the file's input domain folded into per-channel index tables.
// Thread-safety: immutable after construction; apply from any thread.

#include "pipeline/raster/CubeLUT.h"

#include <array>
#include <cstdint>
#include <vector>

namespace fw::raster {

class ColorCube {
public:
    enum class Kernels { fastest, portable };
    // REQUIRES: lut.dimension >= 2 and lut.data.size() == dimension³ · 4
    // (what CubeLUT::parse guarantees).
    explicit ColorCube(const CubeLUT& lut, Kernels kernels = Kernels::fastest);

    // In place on straight-alpha B, G, R, A pixels; alpha is kept.
    void apply(std::uint8_t* pixels, int count) const;
    void apply(std::uint16_t* pixels, int count) const;
    // In place on premultiplied pixels: colours are unpremultiplied around the lookup.
    template <class T>
    void applyPremultiplied(T* pixels, int count) const;

    struct Axis {
        std::int32_t offset;  // in floats from the table's start
        float fraction;
    };

private:
    // Channel 0 red, 1 green, 2 blue; value in 0...1.
    Axis axis(int channel, float value) const;
    friend struct CubeKernels;

    int dimension_;
    std::array<std::int32_t, 3> stride_;  // floats between neighbours along red, green, blue
    std::array<float, 3> scale_;          // index = value · scale + bias
    std::array<float, 3> bias_;
    std::vector<float> table_;                // dimension³ entries of (b, g, r, 0), finite
    std::array<std::vector<Axis>, 3> axes8_;  // 256 entries per channel for 8-bit input
    bool wide_ = false;                       // the processor has AVX2 and FMA: two pixels per step
};

// Kernels for processors with AVX2 and FMA (ColorCubeWide.cpp), chosen once
// per cube (codecs/VectorUnit.h). Same results as the portable ones up to
// float rounding.
struct CubeKernels {
    static void apply(const ColorCube& cube, std::uint8_t* pixels, int count);
    static void apply(const ColorCube& cube, std::uint16_t* pixels, int count);
};

}  // namespace fw::raster

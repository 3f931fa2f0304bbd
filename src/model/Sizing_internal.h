#pragma once
// Conversions from floating-point sizes to whole pixels shared by the sizing
// code. Sides are clamped to ±2^31 so no later product or even step overflows;
// NaN becomes 0 (and is then raised to the minimum side by the caller).

#include <cmath>
#include <cstdint>

namespace fw::sizing {

inline constexpr double kMaximumSide = 2147483648.0;  // 2^31

// Drops the fraction (towards zero) after clamping.
inline std::int64_t truncatedPixels(double value) {
    if (std::isnan(value)) return 0;
    if (value > kMaximumSide) value = kMaximumSide;
    if (value < -kMaximumSide) value = -kMaximumSide;
    return static_cast<std::int64_t>(value);
}

// Nearest whole number, halves away from zero, after clamping.
inline std::int64_t roundedPixels(double value) {
    if (std::isnan(value)) return 0;
    return truncatedPixels(std::round(value));
}

}  // namespace fw::sizing

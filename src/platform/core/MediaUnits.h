#pragma once
// Units the whole system agrees on when it turns seconds and rates into media
// values.

#include <cstdint>

namespace fw {

// Times made from seconds count in 1/600 s, which divides evenly by the common
// frame rates (24, 25, 30, 50, 60).
inline constexpr std::int32_t kSecondsTimescale = 600;

// Sound is written at 48 kHz unless another rate is asked for.
inline constexpr double kDefaultSampleRate = 48000;

}  // namespace fw

#pragma once
// Units the whole system agrees on when it turns seconds and rates into media
// values.

#include <cstdint>

namespace fw {

// Times made from seconds count in 1/600 s, which divides evenly by the common
// frame rates (24, 25, 30, 50, 60).
inline constexpr std::int32_t kSecondsTimescale = 600;

// Ticks per second for the frames of a track at `framesPerSecond`: 1/600 s,
// as every time made from seconds, up to 60 fps; above that
// max(kSecondsTimescale, 100 × the rate rounded), so that frames faster than
// 600 fps keep distinct times; at most 100 000 000. A rate that is not a
// number counts as 60 fps or below.
constexpr std::int32_t frameTimescale(double framesPerSecond) {
    if (!(framesPerSecond > 60)) return kSecondsTimescale;
    if (framesPerSecond >= 1'000'000) return 100'000'000;
    const auto hundredfold = static_cast<std::int32_t>(framesPerSecond + 0.5) * 100;
    return hundredfold > kSecondsTimescale ? hundredfold : kSecondsTimescale;
}

// How far short of its expected length (seconds) a read of a source may end
// and still count as whole: 2 % of the length, at least 2 s, and at most half
// of it, so that a short source missing most of itself is not taken as whole.
constexpr double sourceTailToleranceSeconds(double expectedSeconds) {
    const double tolerance = 0.02 * expectedSeconds > 2.0 ? 0.02 * expectedSeconds : 2.0;
    return tolerance < expectedSeconds / 2 ? tolerance : expectedSeconds / 2;
}

// Sound is written at 48 kHz unless another rate is asked for.
inline constexpr double kDefaultSampleRate = 48000;

}  // namespace fw

#pragma once
// The ranges numeric settings are held to before they reach an encoder. The
// window's fields store whatever was typed (NaN, infinity, 1e300) and the
// command line takes any whole number; every output's plan
// (jobs/OutputPlan.h), and every trim and still duration the coordinator
// hands on, passes through here first, so both get the same result and no
// such value is ever converted to an integer.
// Thread-safety: pure functions.

#include "model/ExportConfiguration.h"

#include <cstdint>
#include <optional>

namespace fw::SettingsBounds {

inline constexpr std::int64_t kLargestSide = 16384;  // pixels, the writers' limit
inline constexpr double kSmallestBitrateMbps = 0.1;
inline constexpr double kLargestBitrateMbps = 2000;
inline constexpr std::int64_t kLargestKeyFrameInterval = 100000;  // frames
inline constexpr double kLargestFrameRate = 1000;                 // frames per second
inline constexpr double kLongestSeconds = 1e7;                    // trims and still durations, about 115 days
inline constexpr double kShortestStillSeconds = 0.1;
inline constexpr double kDefaultStillSeconds = 5;

// Bit rate into [kSmallestBitrateMbps, kLargestBitrateMbps] (NaN gives the
// default 12), crush into [0, 1] (NaN gives 0), key-frame interval into
// [1, kLargestKeyFrameInterval].
H264Settings bounded(H264Settings settings);
// Sides into [2, kLargestSide].
ResizeSettings bounded(ResizeSettings settings);
// A frame rate that is not a finite number above 0 turns conversion off; a
// larger one is lowered to kLargestFrameRate.
GeometrySettings bounded(GeometrySettings settings);
// Points into [0, kLongestSeconds] (NaN gives 0); an end that is not finite
// means to the end of the source.
TrimRange bounded(TrimRange trim);
// All of the above applied to one output's configuration.
ExportConfiguration bounded(ExportConfiguration configuration);

// Seconds into [kShortestStillSeconds, kLongestSeconds]; NaN gives kDefaultStillSeconds.
double stillDuration(double seconds);

}  // namespace fw::SettingsBounds

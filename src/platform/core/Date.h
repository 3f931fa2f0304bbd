#pragma once
// Wall-clock instants stored as seconds since 2001-01-01 00:00:00 UTC, the
// date form of every stored file.

#include <chrono>

namespace fw {

using Date = std::chrono::system_clock::time_point;

// 978307200 s lie between the Unix epoch and 2001-01-01 00:00:00 UTC.
inline constexpr double kReferenceDateUnixSeconds = 978307200.0;

double secondsSinceReferenceDate(Date date);
// To the nearest microsecond; a non-finite count reads as the reference date,
// one beyond the clock's range (about 1677 to 2262) as its nearest end.
Date dateFromReferenceSeconds(double seconds);

}  // namespace fw

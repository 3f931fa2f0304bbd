#pragma once
// The remaining-time estimate of a run and its countdown text, shown by the
// progress displays.
// Thread-safety: pure functions, safe from any thread.

#include <optional>
#include <string>

namespace fw::ProgressEstimate {

// Estimated seconds left for a run that is `progress` (0 to 1) done after
// `elapsedSeconds`: elapsed / progress - elapsed, never below 0. nullopt at
// 1 % or less done, at 100 %, or with no time elapsed.
std::optional<double> remaining(double progress, double elapsedSeconds);

// "m:ss" under an hour, "h:mm:ss" from an hour on (hours do not wrap at 24),
// after rounding to whole seconds with halves away from zero; "--:--" for a
// negative or non-finite value, and for values too large to count in seconds.
std::string formatCountdown(double seconds);

}  // namespace fw::ProgressEstimate

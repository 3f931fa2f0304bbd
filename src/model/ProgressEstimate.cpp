#include "model/ProgressEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace fw::ProgressEstimate {

namespace {
std::string twoDigits(std::int64_t value) {
    std::string text = std::to_string(value);
    return value < 10 ? "0" + text : text;
}
}  // namespace

std::optional<double> remaining(double progress, double elapsedSeconds) {
    if (!(progress > 0.01 && progress < 1.0 && elapsedSeconds > 0)) return std::nullopt;
    return std::max(elapsedSeconds / progress - elapsedSeconds, 0.0);
}

std::string formatCountdown(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "--:--";
    const double rounded = std::round(seconds);
    // 2^63 seconds and beyond cannot be counted; no caller passes such values.
    if (rounded >= 9.2233720368547758e18) return "--:--";
    const auto total = static_cast<std::int64_t>(rounded);
    if (total < 3600) return std::to_string(total / 60) + ":" + twoDigits(total % 60);
    return std::to_string(total / 3600) + ":" + twoDigits(total % 3600 / 60) + ":" + twoDigits(total % 60);
}

}  // namespace fw::ProgressEstimate

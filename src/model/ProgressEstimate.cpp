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

std::optional<double> reached(double seconds, double startSeconds, double durationSeconds) {
    if (!(durationSeconds > 0) || !std::isfinite(seconds) || !std::isfinite(startSeconds)) return std::nullopt;
    return std::clamp((seconds - startSeconds) / durationSeconds, 0.0, 1.0);
}

double work(double timelineSeconds, std::size_t outputCount) {
    constexpr double kLeastSeconds = 0.1;
    const double seconds = timelineSeconds >= kLeastSeconds ? timelineSeconds : kLeastSeconds;
    return seconds * static_cast<double>(std::max<std::size_t>(outputCount, 1));
}

double overallProgress(std::span<const JobWork> jobs) {
    double known = 0;
    std::size_t knownCount = 0;
    for (const auto& job : jobs)
        if (job.work && std::isfinite(*job.work) && *job.work > 0) {
            known += *job.work;
            ++knownCount;
        }
    const double unknownWeight = knownCount > 0 ? known / static_cast<double>(knownCount) : 1.0;
    double total = 0, done = 0;
    for (const auto& job : jobs) {
        const double weight = job.work && std::isfinite(*job.work) && *job.work > 0 ? *job.work : unknownWeight;
        total += weight;
        done += weight * job.progress;
    }
    return total > 0 ? done / total : 0.0;
}

std::optional<double> remaining(double progress, double elapsedSeconds) {
    if (!(progress > 0.01 && progress < 1.0 && elapsedSeconds > 0)) return std::nullopt;
    return std::max(elapsedSeconds / progress - elapsedSeconds, 1.0);
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

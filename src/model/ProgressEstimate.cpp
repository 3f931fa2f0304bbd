#include "model/ProgressEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace fw::ProgressEstimate {

std::optional<double> reached(double seconds, double startSeconds, double durationSeconds) {
    if (!(durationSeconds > 0) || !std::isfinite(seconds) || !std::isfinite(startSeconds)) return std::nullopt;
    return std::clamp((seconds - startSeconds) / durationSeconds, 0.0, 1.0);
}

namespace {

std::string twoDigits(std::int64_t value) {
    std::string text = std::to_string(value);
    return value < 10 ? "0" + text : text;
}

constexpr double kLeastSeconds = 0.1;
constexpr double kHDPixels = 1920.0 * 1080.0;
constexpr double kUsualFrameRate = 30;

double positiveOr(double value, double fallback) { return std::isfinite(value) && value > 0 ? value : fallback; }

bool isKnown(const std::optional<double>& work) { return work && std::isfinite(*work) && *work > 0; }

// Each job's weight: its work, or the mean of the known ones.
std::vector<double> weights(std::span<const JobWork> jobs) {
    double known = 0;
    std::size_t knownCount = 0;
    for (const auto& job : jobs)
        if (isKnown(job.work)) {
            known += *job.work;
            ++knownCount;
        }
    const double unknownWeight = knownCount > 0 ? known / static_cast<double>(knownCount) : 1.0;
    std::vector<double> result;
    result.reserve(jobs.size());
    for (const auto& job : jobs) result.push_back(isKnown(job.work) ? *job.work : unknownWeight);
    return result;
}

// A job's pace when `side` jobs run side by side, against its pace alone.
double sharedPace(std::size_t side) { return 1.0 / std::sqrt(static_cast<double>(std::max<std::size_t>(side, 1))); }

// How many jobs ran side by side over the run so far, as steps: from each
// moment on, until the next, with the time a job had up to each moment
// counted at its shared pace (the integral of sharedPace over the run).
class SideBySide {
public:
    SideBySide(std::span<const JobWork> jobs, double now) {
        std::vector<std::pair<double, int>> changes;  // moment, jobs begun (+1) or ended (-1)
        for (const auto& job : jobs) {
            if (!job.beganSeconds) continue;
            changes.emplace_back(std::clamp(*job.beganSeconds, 0.0, now), +1);
            if (job.endedSeconds) changes.emplace_back(std::clamp(*job.endedSeconds, 0.0, now), -1);
        }
        std::sort(changes.begin(), changes.end());
        double at = 0, counted = 0;
        int side = 0;
        for (const auto& [moment, change] : changes) {
            counted += (moment - at) * (side > 0 ? sharedPace(static_cast<std::size_t>(side)) : 0.0);
            at = moment;
            side += change;
            moments_.push_back(at);
            counted_.push_back(counted);
            side_.push_back(side);
        }
    }
    // The time a job had from `from` to `to`, counted at its shared pace.
    double countedBetween(double from, double to) const { return countedAt(to) - countedAt(from); }

private:
    double countedAt(double moment) const {
        const auto after = std::upper_bound(moments_.begin(), moments_.end(), moment);
        if (after == moments_.begin()) return 0;
        const auto index = static_cast<std::size_t>(std::distance(moments_.begin(), after) - 1);
        const int side = side_[index];
        return counted_[index] +
               (moment - moments_[index]) * (side > 0 ? sharedPace(static_cast<std::size_t>(side)) : 0.0);
    }

    std::vector<double> moments_, counted_;
    std::vector<int> side_;
};

// The time to finish `left` (each job's work to go, in seconds at its pace
// alone), the first `running` of them under way, the rest started in order
// as places free up, `places` at most side by side.
double timeToFinish(std::vector<double> left, std::size_t running, std::size_t places) {
    std::vector<double> active(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(running));
    std::size_t next = running;
    double time = 0;
    while (!active.empty() || next < left.size()) {
        while (active.size() < places && next < left.size()) active.push_back(left[next++]);
        const double soonest = *std::min_element(active.begin(), active.end());
        time += soonest / sharedPace(active.size());
        std::vector<double> still;
        for (const double each : active)
            if (each - soonest > 1e-9) still.push_back(each - soonest);
        active = std::move(still);
    }
    return time;
}

}  // namespace

double outputWork(const SourceMeasure& source, double seconds, bool stillClip) {
    const double length = seconds >= kLeastSeconds ? seconds : kLeastSeconds;
    const double pixels = positiveOr(source.pixels, kHDPixels);
    switch (source.kind) {
    case SourceMeasure::Kind::sound: return length * kHDPixels;
    case SourceMeasure::Kind::still:
        return stillClip ? pixels * std::max(std::floor(length * kUsualFrameRate), 1.0) : pixels;
    case SourceMeasure::Kind::movie: break;
    }
    return pixels * length * positiveOr(source.frameRate, kUsualFrameRate);
}

double overallProgress(std::span<const JobWork> jobs) {
    const std::vector<double> weight = weights(jobs);
    double total = 0, done = 0;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        total += weight[index];
        done += weight[index] * jobs[index].progress;
    }
    return total > 0 ? done / total : 0.0;
}

std::optional<double> remaining(double progress, double elapsedSeconds) {
    if (!(progress > 0.01 && progress < 1.0 && elapsedSeconds > 0)) return std::nullopt;
    return std::max(elapsedSeconds / progress - elapsedSeconds, 1.0);
}

std::optional<double> remaining(std::span<const JobWork> jobs, double elapsedSeconds, std::size_t jobsAtOnce) {
    if (!(elapsedSeconds > 0)) return std::nullopt;
    const std::vector<double> weight = weights(jobs);
    const SideBySide side(jobs, elapsedSeconds);
    const auto progressOf = [&](std::size_t index) {
        const double progress = jobs[index].progress;
        return std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    };
    const auto hadOf = [&](std::size_t index) {
        const JobWork& job = jobs[index];
        return std::max(side.countedBetween(*job.beganSeconds, job.endedSeconds.value_or(elapsedSeconds)), 0.0);
    };
    // The pace of all the work done so far: work per second of a job alone.
    double done = 0, had = 0;
    for (std::size_t index = 0; index < jobs.size(); ++index)
        if (jobs[index].beganSeconds) {
            done += progressOf(index) * weight[index];
            had += hadOf(index);
        }
    if (!(done > 0 && had > 0)) return std::nullopt;
    const double pace = done / had;

    // What is left of each job, running ones first, in seconds alone.
    std::vector<double> left;
    std::size_t running = 0;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        const JobWork& job = jobs[index];
        if (!job.beganSeconds || job.endedSeconds || progressOf(index) >= 1) continue;
        const double ownHad = hadOf(index), ownDone = progressOf(index) * weight[index];
        const double ownPace = ownDone > 0 && ownHad > 0 ? ownDone / ownHad : pace;
        left.push_back((1 - progressOf(index)) * weight[index] / ownPace);
        ++running;
    }
    for (std::size_t index = 0; index < jobs.size(); ++index)
        if (!jobs[index].beganSeconds && !jobs[index].endedSeconds) left.push_back(weight[index] / pace);
    return std::max(timeToFinish(std::move(left), running, std::max<std::size_t>(jobsAtOnce, 1)), 1.0);
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

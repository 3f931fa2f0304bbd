#pragma once
// How far a run of jobs has come, the time it has left, and the countdown
// text the progress displays show. The one place where jobs are weighed.
// Thread-safety: pure functions, safe from any thread.

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace fw::ProgressEstimate {

// How far one encode has come when it has read to `seconds` of a range that
// starts at `startSeconds` and lasts `durationSeconds`: clamped to [0, 1];
// none when the length is unknown (not above 0) or the time not a number.
// Every encoder reports its progress through here.
std::optional<double> reached(double seconds, double startSeconds, double durationSeconds);

// One job as the estimate sees it.
struct JobWork {
    // What the job has to do (work()); none when not known yet. A job of
    // unknown work weighs as the mean of the known ones, or 1 when none is known,
    // so that a queue nobody measured counts every job alike.
    std::optional<double> work;
    double progress = 0;  // of the job, 0 to 1
};

// The work of a job: its length on the timeline in seconds (for a still, the
// length of the clip made of it) times its number of outputs. Lengths below
// a tenth of a second, or not numbers, count as a tenth.
double work(double timelineSeconds, std::size_t outputCount);

// The share of the jobs' work that is done: each job's progress weighed by
// its work, unbounded as the jobs report it (the displays bound it); 0
// without jobs.
double overallProgress(std::span<const JobWork> jobs);

// Estimated seconds left for a run that is `progress` (0 to 1) done after
// `elapsedSeconds`: elapsed / progress - elapsed, and at least one second, so
// that the countdown never shows 0:00 while work remains. nullopt at 1 % or
// less done, at 100 %, or with no time elapsed.
std::optional<double> remaining(double progress, double elapsedSeconds);

// "m:ss" under an hour, "h:mm:ss" from an hour on (hours do not wrap at 24),
// after rounding to whole seconds with halves away from zero; "--:--" for a
// negative or non-finite value, and for values too large to count in seconds.
std::string formatCountdown(double seconds);

}  // namespace fw::ProgressEstimate

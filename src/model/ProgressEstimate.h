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

// A source as the estimate weighs it: what its encode has to go through.
struct SourceMeasure {
    enum class Kind { movie, sound, still };
    Kind kind = Kind::movie;
    double seconds = 0;    // a movie's or a sound's length; unused for a still
    double frameRate = 0;  // a movie's frames a second; 0: unknown (counted as 30)
    double pixels = 0;     // a movie's or a still's picture, width × height; 0: unknown (counted as 1080p)
};

// The work of one output of `source`, in pixels to go through:
//   movie: its pixels × its frames in `seconds` (the output's length, trim applied);
//   sound: what one 1080p picture costs for each second of sound: sound
//     alone costs a small fraction of pictures of the same length;
//   still: its pixels once, or once for each frame of a clip of `seconds`
//     at 30 frames a second when the output makes such a clip (`stillClip`).
// Lengths below a tenth of a second, or not numbers, count as a tenth.
double outputWork(const SourceMeasure& source, double seconds, bool stillClip);

// One job of a run as the estimate sees it.
struct JobWork {
    // What the job has to do (the outputWork of its outputs); none when not
    // known yet. A job of unknown work weighs as the mean of the known ones,
    // or 1 when none is known, so that a queue nobody measured counts every
    // job alike.
    std::optional<double> work;
    double progress = 0;  // of the job, 0 to 1
    // Seconds into the run when the job began and when it ended; none while
    // it has not.
    std::optional<double> beganSeconds;
    std::optional<double> endedSeconds;
};

// The share of the jobs' work that is done: each job's progress weighed by
// its work, unbounded as the jobs report it (the displays bound it); 0
// without jobs.
double overallProgress(std::span<const JobWork> jobs);

// Estimated seconds left for a run whose progress (0 to 1) is `progress`
// after `elapsedSeconds`, at the pace it has kept: elapsed / progress -
// elapsed, and at least one second, so that the countdown never shows 0:00
// while work remains. nullopt at 1 % or less done, at 100 %, or with no
// time elapsed.
std::optional<double> remaining(double progress, double elapsedSeconds);

// Estimated seconds left for the run of `jobs`, in the order it starts them,
// `elapsedSeconds` after it started, with at most `jobsAtOnce` side by side.
// The pace comes from the run itself: each running job goes on at the pace
// it has kept, and a waiting one takes its work at the pace of all the work
// done so far. Jobs side by side share the machine: n of them each go at
// 1/sqrt(n) of a job's pace alone (a job alone cannot use every core, n jobs
// do not get n machines), and the time each job has had is counted that
// way. A job that ended is done, whatever its progress. At least one
// second; nullopt with no time elapsed, or before any work is done.
std::optional<double> remaining(std::span<const JobWork> jobs, double elapsedSeconds, std::size_t jobsAtOnce);

// "m:ss" under an hour, "h:mm:ss" from an hour on (hours do not wrap at 24),
// after rounding to whole seconds with halves away from zero; "--:--" for a
// negative or non-finite value, and for values too large to count in seconds.
std::string formatCountdown(double seconds);

}  // namespace fw::ProgressEstimate

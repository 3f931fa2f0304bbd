// What a job weighs in its run (the pixels its encode goes through; a sound
// or a still by its own small cost) and the time a run has left, from the
// pace its jobs keep side by side.

#include "model/ProgressEstimate.h"

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace fw {
namespace {

using Measure = ProgressEstimate::SourceMeasure;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(ProgressEstimate, AnOutputWeighsWhatItsEncodeGoesThrough) {
    // One second of 1080p at 30 frames a second.
    const double second = ProgressEstimate::outputWork({Measure::Kind::movie, 0, 30, 1920 * 1080}, 1, false);
    const struct Row {
        const char* name;
        Measure source;
        double seconds;
        bool stillClip;
        double seconds1080p30;  // expected, in seconds of 1080p at 30 frames a second
    } rows[] = {
        {"10 s of 1080p", {Measure::Kind::movie, 10, 30, 1920 * 1080}, 10, false, 10},
        {"trimmed to 4 s", {Measure::Kind::movie, 10, 30, 1920 * 1080}, 4, false, 4},
        {"10 s of 4K", {Measure::Kind::movie, 10, 30, 3840 * 2160}, 10, false, 40},
        {"5 s at 60 frames a second", {Measure::Kind::movie, 5, 60, 1920 * 1080}, 5, false, 10},
        {"a movie nothing is known of but its length", {Measure::Kind::movie, 10, 0, 0}, 10, false, 10},
        {"30 s of sound", {Measure::Kind::sound, 30, 0, 0}, 30, false, 1},
        {"a 1080p still as one picture", {Measure::Kind::still, 0, 0, 1920 * 1080}, 5, false, 1.0 / 30},
        {"a 1080p still as a 5 s clip", {Measure::Kind::still, 0, 0, 1920 * 1080}, 5, true, 5},
        {"a sound of no known length", {Measure::Kind::sound, 0, 0, 0}, kNaN, false, 0.1 / 30},
    };
    for (const Row& row : rows)
        EXPECT_NEAR(ProgressEstimate::outputWork(row.source, row.seconds, row.stillClip) / second, row.seconds1080p30,
                    1e-9)
            << row.name;
}

ProgressEstimate::JobWork job(double work, double progress, std::optional<double> began = std::nullopt,
                              std::optional<double> ended = std::nullopt) {
    ProgressEstimate::JobWork each;
    each.work = work;
    each.progress = progress;
    each.beganSeconds = began;
    each.endedSeconds = ended;
    return each;
}

TEST(ProgressEstimate, TimeLeftFollowsThePaceOfTheRunAndOfEachJob) {
    const double root2 = std::sqrt(2.0), root3 = std::sqrt(3.0);
    const struct Row {
        const char* name;
        std::vector<ProgressEstimate::JobWork> jobs;
        double elapsed;
        std::size_t atOnce;
        std::optional<double> expected;
    } rows[] = {
        {"a job alone keeps its pace", {job(1, 0.25, 0)}, 10, 1, 30},
        {"a waiting job goes at the pace of the work done", {job(1, 1, 0, 10), job(2, 0)}, 10, 1, 20},
        {"jobs wait for a free place", {job(1, 0.5, 0), job(1, 0), job(1, 0)}, 10, 1, 50},
        {"jobs side by side share the machine", {job(1, 0.5, 0), job(1, 0), job(1, 0)}, 10, 3, 10 * root3 + 10 * root2},
        // Each had 10 s at 1/sqrt(2) of its pace alone; the second, alone
        // after the first ends, goes faster.
        {"a job left alone speeds up", {job(1, 0.5, 0), job(2, 0.25, 0)}, 10, 2, 10 + 10 * root2},
        {"an ended job is done whatever its progress", {job(1, 0.3, 0, 5), job(1, 0.5, 5)}, 10, 1, 5},
        {"a sound done at once does not hurry the movie",
         {job(0.01, 1, 0, 0.5), job(10, 0.1, 0)},
         10,
         2,
         9 * (0.5 / root2 + 9.5)},
        {"never below a second while work remains", {job(1, 0.999, 0)}, 100, 1, 1},
        {"nothing done yet", {job(1, 0, 0)}, 5, 1, std::nullopt},
        {"no time elapsed", {job(1, 0.5, 0)}, 0, 1, std::nullopt},
    };
    for (const Row& row : rows) {
        const std::optional<double> left = ProgressEstimate::remaining(row.jobs, row.elapsed, row.atOnce);
        ASSERT_EQ(left.has_value(), row.expected.has_value()) << row.name;
        if (left) {
            EXPECT_NEAR(*left, *row.expected, 1e-6) << row.name;
        }
    }
}

}  // namespace
}  // namespace fw

// The writer's pacing driven from one thread per track, as the pumps drive it: tracks that start late, pause or end
// early all reach their end, and no track passes further than the lead allows past where the others got to. A pacing
// that deadlocks hangs here until ctest's time-out.

#include "platform/media/InterleavePacer_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fw::media::detail {
namespace {

constexpr double kLead = 1.0;

// Sample times from `from` up to (not past) `to`, `step` apart.
std::vector<double> times(double from, double to, double step) {
    std::vector<double> result;
    for (int i = 0; from + i * step <= to + 1e-9; ++i) result.push_back(from + i * step);
    return result;
}

std::vector<double> joined(std::vector<double> first, const std::vector<double>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// One thread per entry of `threads`, each pumping its tracks one after another (a track: its sample times). Thread 0
// begins first; the others begin once its first sample has passed, and it goes on once they have begun too, so that
// the tracks start as the pumps of one encode do: all within the first samples.
class PacedRun {
public:
    explicit PacedRun(std::vector<std::vector<std::vector<double>>> threads) : threads_(std::move(threads)) {
        for (const auto& tracks : threads_)
            for (const auto& track : tracks) {
                tracks_.push_back({track});
                pacer_.addTrack();
            }
    }

    void run() {
        std::vector<std::thread> running;
        std::size_t firstTrack = 0;
        for (std::size_t thread = 0; thread < threads_.size(); ++thread) {
            running.emplace_back([this, thread, firstTrack] { pump(thread, firstTrack); });
            firstTrack += threads_[thread].size();
        }
        for (auto& thread : running) thread.join();
        for (std::size_t track = 0; track < tracks_.size(); ++track)
            EXPECT_EQ(tracks_[track].passed, tracks_[track].times.size()) << "track " << track;
    }

private:
    struct Track {
        std::vector<double> times;
        std::size_t passed = 0;
        std::size_t announced = 0;  // the sample it waits with, or last passed
        bool finishing = false;
    };

    void pump(std::size_t thread, std::size_t firstTrack) {
        if (thread > 0) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return leaderBegun_; });
            ++othersBegun_;
            changed_.notify_all();
        }
        for (std::size_t track = firstTrack; track < firstTrack + threads_[thread].size(); ++track) {
            for (std::size_t sample = 0; sample < tracks_[track].times.size(); ++sample) {
                const std::vector<bool> begunBefore = announce(track, sample);
                ASSERT_TRUE(pacer_.waitToAppend(track, tracks_[track].times[sample]));
                passed(track, sample, begunBefore);
                if (thread == 0 && track == 0 && sample == 0) leaderGoesOn();
            }
            {
                std::lock_guard lock(mutex_);
                tracks_[track].finishing = true;
            }
            pacer_.finish(track);
        }
    }

    // Which other tracks had passed a sample before this one waits: those the pacer then holds it against.
    std::vector<bool> announce(std::size_t track, std::size_t sample) {
        std::lock_guard lock(mutex_);
        tracks_[track].announced = sample;
        std::vector<bool> begun;
        for (const Track& other : tracks_) begun.push_back(other.passed > 0);
        return begun;
    }

    // The sample passed at most the lead beyond each other running track: beyond the sample that track waited with
    // or passed last, which is at or past where the pacer saw it.
    void passed(std::size_t track, std::size_t sample, const std::vector<bool>& begunBefore) {
        std::lock_guard lock(mutex_);
        const double seconds = tracks_[track].times[sample];
        for (std::size_t other = 0; other < tracks_.size(); ++other) {
            const Track& held = tracks_[other];
            if (other == track || !begunBefore[other] || held.finishing) continue;
            EXPECT_LE(seconds, held.times[held.announced] + kLead + 1e-9)
                << "track " << track << " at " << seconds << " s ran ahead of track " << other;
        }
        tracks_[track].passed = sample + 1;
    }

    void leaderGoesOn() {
        std::unique_lock lock(mutex_);
        leaderBegun_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return othersBegun_ + 1 == threads_.size(); });
    }

    std::vector<std::vector<std::vector<double>>> threads_;
    InterleavePacer pacer_{kLead};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Track> tracks_;
    bool leaderBegun_ = false;
    std::size_t othersBegun_ = 0;
};

TEST(InterleavePacer, TracksThatStartLatePauseOrEndEarlyAllReachTheirEnd) {
    const auto sound = times(0, 6, 0.021);  // about 1024 samples at 48 kHz
    const auto pictures = times(0, 6, 0.04);
    struct Row {
        const char* name;
        std::vector<std::vector<std::vector<double>>> threads;
    };
    const Row rows[] = {
        {"pictures from 3 s beside sound from 0", {{sound}, {times(3, 6, 0.04)}}},
        {"sound from 3 s beside pictures from 0", {{pictures}, {times(3, 6, 0.021)}}},
        {"pictures pausing 3 s while the sound goes on", {{sound}, {joined(times(0, 2, 0.04), times(5, 6, 0.04))}}},
        {"pictures from 60 s", {{times(0, 61, 0.021)}, {times(60, 61, 0.04)}}},
        {"two recordings joined with a gap in both tracks",
         {{joined(times(0, 2, 0.04), times(5, 7, 0.04))}, {joined(times(0, 2, 0.021), times(5, 7, 0.021))}}},
        {"sound that ends after 1 s", {{pictures}, {times(0, 1, 0.021)}}},
        {"pictures that end after 1 s", {{sound}, {times(0, 1, 0.04)}}},
        {"two sound tracks pumped in turn, the second from 3 s", {{pictures}, {sound, times(3, 6, 0.021)}}},
        {"three tracks starting at 0, 2 and 4 s", {{pictures}, {times(2, 6, 0.021)}, {times(4, 6, 0.021)}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Each round lets the threads meet in another order.
        for (int round = 0; round < 20; ++round) PacedRun(row.threads).run();
    }
}

// Step by step: a track that waits with a later sample holds the others back only that far, and is let through once
// they come within the lead of it.
TEST(InterleavePacer, AWaitingTrackLetsTheOthersRunUpToItsNextSample) {
    InterleavePacer pacer(kLead);
    const std::size_t first = pacer.addTrack(), second = pacer.addTrack();
    ASSERT_TRUE(pacer.waitToAppend(first, 0));
    std::mutex mutex;
    std::condition_variable changed;
    double announced = 0;  // the second's sample about to be waited with
    int passed = 0;
    std::thread other([&] {
        for (double seconds : times(0, 12, 0.5)) {
            {
                std::lock_guard lock(mutex);
                announced = seconds;
                changed.notify_all();
            }
            ASSERT_TRUE(pacer.waitToAppend(second, seconds));
            std::lock_guard lock(mutex);
            ++passed;
        }
    });
    {
        // Up to 1 s past the first's 0 s: 0, 0.5 and 1 s pass, 1.5 s waits.
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return announced == 1.5; });
        EXPECT_EQ(passed, 3);
    }
    // The first's next sample lies at 10 s: the second runs up to 11 s, and the first goes on once it is past 9 s.
    ASSERT_TRUE(pacer.waitToAppend(first, 10));
    {
        std::unique_lock lock(mutex);
        EXPECT_GE(announced, 9.0);
        changed.wait(lock, [&] { return announced == 11.5; });
        EXPECT_EQ(passed, 23);
    }
    pacer.finish(first);
    other.join();
    EXPECT_EQ(passed, 25);
}

}  // namespace
}  // namespace fw::media::detail

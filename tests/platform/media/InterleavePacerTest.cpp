// The writer's pacing driven from one thread per track, as the pumps drive it: tracks that start late, pause or end
// early all reach their end, and no track passes further than the lead allows past where the others got to. A pacing
// that deadlocks hangs here until ctest's time-out.

#include "platform/media/InterleavePacer_internal.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <latch>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fw::media::detail {
namespace {

constexpr double kLead = 1.0;

using Track = std::vector<double>;  // its sample times

// Sample times from `from` up to (not past) `to`, `step` apart; then those of `more`.
Track times(double from, double to, double step, const Track& more = {}) {
    Track result;
    for (int i = 0; from + i * step <= to + 1e-9; ++i) result.push_back(from + i * step);
    result.insert(result.end(), more.begin(), more.end());
    return result;
}

// One thread per entry of `threads`, each pumping its tracks one after another. Thread 0 passes its first sample
// before the others start, and goes on once they have: the tracks start as the pumps of one encode do. With
// `expectFirst`, each thread's first track is expected at its first sample up front, as the encoder does. Each sample
// passes at most the lead beyond every other track that had begun (or was expected) and not finished, measured from
// the sample that track waits with or passed last (at or past where the pacer saw it).
void pace(const std::vector<std::vector<Track>>& threads, bool expectFirst) {
    struct Seen {
        double frontier = 0;
        bool holds = false, finishing = false;
    };
    InterleavePacer pacer(kLead);
    std::vector<Seen> seen;
    for (const auto& tracks : threads)
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            const std::size_t track = pacer.addTrack();
            seen.emplace_back();
            if (i > 0 || !expectFirst || tracks[i].empty()) continue;
            pacer.expectFirst(track, tracks[i].front());
            seen[track] = {tracks[i].front(), true, false};
        }
    std::mutex mutex;
    std::latch leaderBegun(1), allBegun(std::ptrdiff_t(threads.size()));
    const auto pump = [&](std::size_t thread, std::size_t track) {
        bool leading = thread == 0;
        if (!leading) leaderBegun.wait(), allBegun.count_down();
        for (const Track& times : threads[thread]) {
            for (double seconds : times) {
                std::vector<Seen> before;
                {
                    std::lock_guard lock(mutex);
                    seen[track].frontier = seconds;
                    before = seen;
                }
                ASSERT_TRUE(pacer.waitToAppend(track, seconds));
                {
                    std::lock_guard lock(mutex);
                    for (std::size_t other = 0; other < seen.size(); ++other)
                        if (other != track && before[other].holds && !seen[other].finishing) {
                            EXPECT_LE(seconds, seen[other].frontier + kLead + 1e-9)
                                << "track " << track << " ran ahead of track " << other;
                        }
                    seen[track].holds = true;
                }
                if (leading) leading = false, leaderBegun.count_down(), allBegun.arrive_and_wait();
            }
            {
                std::lock_guard lock(mutex);
                seen[track].finishing = true;
            }
            pacer.finish(track++);
        }
    };
    std::vector<std::jthread> running;
    for (std::size_t thread = 0, track = 0; thread < threads.size(); track += threads[thread++].size())
        running.emplace_back(pump, thread, track);
}

TEST(InterleavePacer, TracksThatStartLatePauseOrEndEarlyAllReachTheirEnd) {
    const Track sound = times(0, 6, 0.021), pictures = times(0, 6, 0.04);  // sound: 1024 samples at 48 kHz
    const struct Row {
        const char* name;
        std::vector<std::vector<Track>> threads;
    } rows[] = {
        {"pictures from 3 s beside sound from 0", {{sound}, {times(3, 6, 0.04)}}},
        {"sound from 3 s beside pictures from 0", {{pictures}, {times(3, 6, 0.021)}}},
        {"pictures pausing 3 s while the sound goes on", {{sound}, {times(0, 2, 0.04, times(5, 6, 0.04))}}},
        {"pictures from 60 s", {{times(0, 61, 0.021)}, {times(60, 61, 0.04)}}},
        {"two recordings joined with a gap in both tracks",
         {{times(0, 2, 0.04, times(5, 7, 0.04))}, {times(0, 2, 0.021, times(5, 7, 0.021))}}},
        {"sound that ends after 1 s", {{pictures}, {times(0, 1, 0.021)}}},
        {"pictures that end after 1 s", {{sound}, {times(0, 1, 0.04)}}},
        {"two sound tracks pumped in turn, the second from 3 s", {{pictures}, {sound, times(3, 6, 0.021)}}},
        {"three tracks starting at 0, 2 and 4 s", {{pictures}, {times(2, 6, 0.021)}, {times(4, 6, 0.021)}}},
    };
    for (const Row& row : rows)
        for (bool expectFirst : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (expectFirst ? ", first tracks expected" : ""));
            // The threads meet in another order each time.
            for (int round = 0; round < 20; ++round) pace(row.threads, expectFirst);
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
    const auto passedBeforeWaitingWith = [&](double seconds) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return announced == seconds; });
        return passed;
    };
    // Up to 1 s past the first's 0 s: 0, 0.5 and 1 s pass, 1.5 s waits.
    EXPECT_EQ(passedBeforeWaitingWith(1.5), 3);
    // The first's next sample lies at 10 s: it goes on once the second is past 9 s, which runs up to 11 s.
    ASSERT_TRUE(pacer.waitToAppend(first, 10));
    {
        std::lock_guard lock(mutex);
        EXPECT_GE(announced, 9.0);
    }
    EXPECT_EQ(passedBeforeWaitingWith(11.5), 23);
    pacer.finish(first);
    other.join();
    EXPECT_EQ(passed, 25);
}

// A track still to deliver its first sample (its first pictures being decoded and compressed) holds the others within
// the lead of where that sample is expected, until the sample comes or the track ends without one.
TEST(InterleavePacer, ATrackStillToDeliverItsFirstSampleHoldsTheOthers) {
    const Track others = times(0, 12, 0.5);
    const struct Row {
        const char* name;
        double expectedAt;
        std::optional<double> first;  // none: the track ends without a sample
        int passedWhileExpected;      // of the other track's samples, before the first one comes
        int passedOnceItCame;
    } rows[] = {
        {"expected at 0, coming at 0", 0, 0.0, 3, 3},
        {"expected at 3 s, starting late", 3, 3.0, 9, 9},
        {"expected at 0, coming at 5 s", 0, 5.0, 3, 13},
        {"expected at 0, ending without a sample", 0, std::nullopt, 3, 25},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        InterleavePacer pacer(kLead);
        const std::size_t expected = pacer.addTrack(), other = pacer.addTrack();
        pacer.expectFirst(expected, row.expectedAt);
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t waiting = 0;  // the other's sample about to be waited with
        int passed = 0;
        std::thread pump([&] {
            for (std::size_t i = 0; i < others.size(); ++i) {
                {
                    std::lock_guard lock(mutex);
                    waiting = i;
                    changed.notify_all();
                }
                ASSERT_TRUE(pacer.waitToAppend(other, others[i]));
                std::lock_guard lock(mutex);
                ++passed;
            }
        });
        // The count passed once the other waits with the sample after it.
        const auto passedOnceWaitingAfter = [&](int count) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return waiting >= static_cast<std::size_t>(count); });
            return passed;
        };
        EXPECT_EQ(passedOnceWaitingAfter(row.passedWhileExpected), row.passedWhileExpected);
        if (row.first) {
            ASSERT_TRUE(pacer.waitToAppend(expected, *row.first));
            EXPECT_EQ(passedOnceWaitingAfter(row.passedOnceItCame), row.passedOnceItCame);
        }
        pacer.finish(expected);
        pump.join();
        EXPECT_EQ(passed, 25);
    }
}

}  // namespace
}  // namespace fw::media::detail

// The writer's pacing driven from one thread per track, as the pumps drive it: tracks that start late, pause or end
// early, or whose encoder holds samples back, all reach their end, and no track passes further than the lead allows
// past where the others got to in the file. A pacing that deadlocks hangs here until ctest's time-out.

#include "platform/media/InterleavePacer_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <latch>
#include <limits>
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

// How long the muxer lets one track's packets wait for the others' before it writes them anyway (the writer's).
constexpr double kMuxerDelay = 4.0;

// The muxer's interleaving: packets wait until every track still to end has one waiting, or until they span more
// than kMuxerDelay; the earliest goes first. What it writes is the file.
class Muxer {
public:
    explicit Muxer(std::size_t tracks) : waiting_(tracks), ended_(tracks, false) {}

    void arrive(std::size_t track, double seconds) {
        waiting_[track].push_back(seconds);
        write(false);
    }
    void end(std::size_t track) {
        ended_[track] = true;
        write(false);
    }
    // How far a packet of one of the `among` tracks lies, in file order, ahead of one of another of them written
    // after it.
    double mostLeadInFileOrder(const std::vector<bool>& among) {
        write(true);
        std::vector<double> earliestAfter(waiting_.size(), std::numeric_limits<double>::infinity());
        double most = 0;
        for (auto packet = file_.rbegin(); packet != file_.rend(); ++packet) {
            if (!among[packet->first]) continue;
            for (std::size_t other = 0; other < waiting_.size(); ++other)
                if (other != packet->first) most = std::max(most, packet->second - earliestAfter[other]);
            earliestAfter[packet->first] = std::min(earliestAfter[packet->first], packet->second);
        }
        return most;
    }

private:
    void write(bool all) {
        for (;;) {
            std::optional<std::size_t> first;
            double latest = -std::numeric_limits<double>::infinity();
            bool everyTrack = true;
            for (std::size_t track = 0; track < waiting_.size(); ++track) {
                if (waiting_[track].empty()) {
                    everyTrack = everyTrack && ended_[track];
                    continue;
                }
                if (!first || waiting_[track].front() < waiting_[*first].front()) first = track;
                latest = std::max(latest, waiting_[track].back());
            }
            if (!first || !(all || everyTrack || latest - waiting_[*first].front() > kMuxerDelay)) return;
            file_.emplace_back(*first, waiting_[*first].front());
            waiting_[*first].pop_front();
        }
    }

    std::vector<std::deque<double>> waiting_;
    std::vector<bool> ended_;
    std::vector<std::pair<std::size_t, double>> file_;  // (track, time)
};

// The media reader's queues as the pumps meet them: the file holds every track's samples in time order. A pull takes
// its track's next sample from its queue, else reads the file on, filing each sample with its track; it waits instead
// while a bounded track (one pumped from the start) has more than 2 s queued, and tells the pacer so until a sample
// comes for it.
class Reader {
public:
    Reader(const std::vector<Track>& tracks, std::vector<bool> bounded, InterleavePacer& pacer)
        : queues_(tracks.size()), bounded_(std::move(bounded)), told_(tracks.size()), pacer_(pacer) {
        for (std::size_t track = 0; track < tracks.size(); ++track)
            for (double seconds : tracks[track]) file_.emplace_back(seconds, track);
        std::stable_sort(file_.begin(), file_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }

    std::optional<double> pull(std::size_t track) {
        std::unique_lock lock(mutex_);
        for (std::deque<double>& queue = queues_[track];;) {
            if (!queue.empty() || read_ == file_.size()) {
                tell(track, false);
                if (queue.empty()) return std::nullopt;
                const double seconds = queue.front();
                queue.pop_front();
                changed_.notify_all();
                return seconds;
            }
            bool othersFull = false;
            for (std::size_t other = 0; other < queues_.size(); ++other)
                othersFull = othersFull || (other != track && bounded_[other] && !queues_[other].empty() &&
                                            queues_[other].back() - queues_[other].front() > 2);
            if (othersFull) {
                tell(track, true);
                changed_.wait(lock);
                continue;
            }
            const auto [seconds, owner] = file_[read_++];
            queues_[owner].push_back(seconds);
            tell(owner, false);
        }
    }

private:
    // Under the lock, so that what is told comes in order.
    void tell(std::size_t track, bool waiting) {
        if (told_[track] == waiting) return;
        told_[track] = waiting;
        pacer_.setSourceWaiting(track, waiting);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<double, std::size_t>> file_;  // (time, track)
    std::size_t read_ = 0;
    std::vector<std::deque<double>> queues_;
    std::vector<bool> bounded_, told_;
    InterleavePacer& pacer_;
};

// One thread per entry of `threads`, each pumping its tracks one after another. Thread 0 passes its first sample
// before the others start, and goes on once they have: the tracks start as the pumps of one encode do. With
// `expectFirst`, each thread's first track is expected at its first sample up front, as the encoder does. The
// tracks of a thread with an entry in `held` go through an encoder that holds that many samples until later ones push
// them out (and the rest at the track's end). Each sample of a track without one passes at most the lead beyond every
// other track that had begun (or was expected) and not finished, measured from the sample that track waits with or
// passed last (at or past where the pacer saw it); and what reaches the muxer comes out in time order, within the lead.
// The samples come through a Reader, which bounds the queues of the threads marked in `bounded`; a track whose pull
// waits for the others then holds nobody back, and only the file's order is checked.
void pace(const std::vector<std::vector<Track>>& threads, bool expectFirst, const std::vector<std::size_t>& held = {},
          const std::vector<bool>& bounded = {}) {
    struct Seen {
        double frontier = 0;
        bool holds = false, finishing = false;
    };
    InterleavePacer pacer(kLead);
    std::vector<Seen> seen;
    std::vector<bool> expected, boundedTracks;
    std::vector<Track> all;
    for (std::size_t thread = 0; thread < threads.size(); ++thread)
        for (std::size_t i = 0; i < threads[thread].size(); ++i) {
            const auto& tracks = threads[thread];
            const std::size_t track = pacer.addTrack();
            seen.emplace_back();
            expected.push_back(false);
            all.push_back(tracks[i]);
            boundedTracks.push_back(thread < bounded.size() && bounded[thread]);
            if (i > 0 || !expectFirst || tracks[i].empty()) continue;
            pacer.expectFirst(track, tracks[i].front());
            seen[track] = {tracks[i].front(), true, false};
            expected[track] = true;
        }
    Reader reader(all, boundedTracks, pacer);
    std::mutex mutex;
    Muxer muxer(seen.size());
    std::latch leaderBegun(1), allBegun(std::ptrdiff_t(threads.size()));
    const auto pump = [&](std::size_t thread, std::size_t track) {
        const std::size_t holding = thread < held.size() ? held[thread] : 0;
        bool leading = thread == 0;
        if (!leading) leaderBegun.wait(), allBegun.count_down();
        for (std::size_t left = threads[thread].size(); left > 0; --left) {
            std::deque<double> encoding;
            const auto written = [&] {
                {
                    std::lock_guard lock(mutex);
                    muxer.arrive(track, encoding.front());
                }
                encoding.pop_front();
                pacer.release(track);
            };
            while (const std::optional<double> next = reader.pull(track)) {
                const double seconds = *next;
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
                        if (holding == 0 && bounded.empty() && other != track && before[other].holds &&
                            !seen[other].finishing) {
                            EXPECT_LE(seconds, seen[other].frontier + kLead + 1e-9)
                                << "track " << track << " ran ahead of track " << other;
                        }
                    seen[track].holds = true;
                }
                pacer.hold(track, seconds);
                encoding.push_back(seconds);
                while (encoding.size() > holding) written();
                if (leading) leading = false, leaderBegun.count_down(), allBegun.arrive_and_wait();
            }
            while (!encoding.empty()) written();
            {
                std::lock_guard lock(mutex);
                seen[track].finishing = true;
                muxer.end(track);
            }
            pacer.finish(track++);
        }
    };
    {
        std::vector<std::jthread> running;
        for (std::size_t thread = 0, track = 0; thread < threads.size(); track += threads[thread++].size())
            running.emplace_back(pump, thread, track);
    }
    // Only the tracks expected from the start hold the others from their first sample on.
    EXPECT_LE(muxer.mostLeadInFileOrder(expected), kLead + 1e-9);
}

TEST(InterleavePacer, TracksThatStartLatePauseOrEndEarlyAllReachTheirEnd) {
    const Track sound = times(0, 6, 0.021), pictures = times(0, 6, 0.04);  // sound: 1024 samples at 48 kHz
    const struct Row {
        const char* name;
        std::vector<std::vector<Track>> threads;
        std::vector<std::size_t> held = {};  // per thread: samples its encoder holds
        std::vector<bool> bounded = {};      // per thread: the reader queues 2 s of it (large samples)
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
        // An encoder holding 40 or 60 pictures (1.6 or 2.4 s): the sound waits for what reaches the file, and the
        // appends that push the held pictures out go on while it waits.
        {"pictures held by their encoder", {{sound}, {pictures}}, {0, 60}},
        {"pictures held by their encoder, pausing 8 s while the sound goes on",
         {{times(0, 12, 0.021)}, {times(0, 2, 0.04, times(10, 12, 0.04))}},
         {0, 40}},
        {"pictures held by their encoder, pausing 30 s",
         {{times(0, 34, 0.021)}, {times(0, 2, 0.04, times(32, 34, 0.04))}},
         {0, 40}},
        {"pictures held by their encoder from 3 s", {{sound}, {times(3, 6, 0.04)}}, {0, 60}},
        {"both tracks held by encoders, the sound 8 deep, both pausing",
         {{times(0, 2, 0.04, times(9, 11, 0.04))}, {times(0, 3, 0.021, times(8, 11, 0.021))}},
         {40, 8}},
        // The pull of a track that ends, pauses or starts late waits for the pictures' queue to go down.
        {"sound ending after 1 s, the pictures' queue bounded", {{times(0, 30, 0.04)}, {times(0, 1, 0.021)}}, {}, {1}},
        {"sound pausing from 1 s to 25 s, the pictures' queue bounded",
         {{times(0, 30, 0.04)}, {times(0, 1, 0.021, times(25, 30, 0.021))}},
         {},
         {1}},
        {"sound from 20 s, the pictures' queue bounded", {{times(0, 30, 0.04)}, {times(20, 30, 0.021)}}, {}, {1}},
        {"pictures held by their encoder, the sound ending after 1 s, their queue bounded",
         {{times(0, 1, 0.021)}, {times(0, 30, 0.04)}},
         {0, 60},
         {0, 1}},
        {"pictures pausing from 2 s to 20 s, both queues bounded",
         {{times(0, 30, 0.021)}, {times(0, 2, 0.04, times(20, 30, 0.04))}},
         {},
         {1, 1}},
        {"two sound tracks in turn, the first ending after 1 s, the pictures' queue bounded",
         {{times(0, 30, 0.04)}, {times(0, 1, 0.021), times(0, 30, 0.021)}},
         {},
         {1}},
    };
    for (const Row& row : rows)
        for (bool expectFirst : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (expectFirst ? ", first tracks expected" : ""));
            // The threads meet in another order each time.
            for (int round = 0; round < 20; ++round) pace(row.threads, expectFirst, row.held, row.bounded);
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

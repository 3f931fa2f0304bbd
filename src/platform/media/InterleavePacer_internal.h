#pragma once
// Internal to fw_media: how far the inputs of one writer may run apart in
// media time, so that the muxer holds little and the file comes out
// interleaved.
//
// Each track has a frontier: the latest time it has appended or waits to
// append. It appends nothing before its frontier. A track whose encoder holds
// samples back (lookahead, B-frames, frame threads) has not reached the file
// with them yet: its position is the earliest sample it holds (hold/release),
// else its frontier. A track may append at t while t is at most maxLead past
// the position of every other running track, except tracks that wait and lie
// no further back than itself. A track that waits moves its frontier to the
// time it waits with first: it then holds the others back only that far, and
// one whose next sample lies far ahead (a late start, a pause in its
// pictures) lets them run up to it, once what its encoder held from before
// has reached the file.
// A track that is still to deliver its first sample holds the others at the
// time that sample is expected, once told (expectFirst): decoding and
// compressing the first pictures takes a while, and the sound would run
// seconds ahead meanwhile. A track that has neither waited nor been expected
// (pumped after another) or has finished holds nobody back.
//
// No wait lasts for ever while the tracks keep moving: of the tracks that
// wait, the one with the earliest position is held by none of the others that
// wait (a waiting track holds only tracks whose position lies after its own),
// only by tracks that are running (decoding, reading, or encoding what they
// hold on to the file, which waits for nobody) and so move on. A track whose
// encoder holds samples is thus never held by the tracks that wait for those
// samples: its next appends are what brings them out.
// An expected track counts as running: expect only a track that is pumped
// from the start and reaches its first sample whatever the others do.
//
// The reader queues only a few seconds for a track being read: a pull for
// another waits while that queue is full, for the first track to take from
// it. The waiting track's next sample lies beyond what the others have been
// handed (its track ended or pauses, or its next sample lies further on in
// the file), so while its source waits so (setSourceWaiting) it holds nobody
// back, unless it also waits to append (a read-ahead still has samples for
// it). The tracks whose queues are full are thus never held by it: they
// drain, and its pull reads on. A track whose pull waits has nothing queued,
// so no pull waits for it in turn.
//
// Thread-safety: every member may be called from any thread; each track
// waits from one thread at a time. stop() releases every wait, for good.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace fw::media::detail {

class InterleavePacer {
public:
    explicit InterleavePacer(double maxLeadSeconds) : maxLeadSeconds_(maxLeadSeconds) {}
    InterleavePacer(const InterleavePacer&) = delete;
    InterleavePacer& operator=(const InterleavePacer&) = delete;

    // A new track, running but not yet begun; returns its number.
    std::size_t addTrack();
    // Blocks until `track` may append a sample at `seconds` (finite). False,
    // at once or when released, once stop() was called.
    bool waitToAppend(std::size_t track, double seconds);
    // Before `track` first waits: its first sample lies at `seconds` (or, late
    // or paused, after it), so the others go at most maxLead past it until it
    // waits or finishes. Nothing once it has waited or finished.
    void expectFirst(std::size_t track, double seconds);
    // `track` handed its sample at `seconds` (after its last wait) to an
    // encoder that has not yet written it: it holds the others there until
    // release(). Samples are held in the order they were appended.
    void hold(std::size_t track, double seconds);
    // The earliest sample `track` holds reached the file.
    void release(std::size_t track);
    // While `waiting`, `track`'s source waits for the others to take what
    // was read for them: it holds nobody back unless it waits to append.
    void setSourceWaiting(std::size_t track, bool waiting);
    // `track` appends no more and holds nobody back.
    void finish(std::size_t track);
    void stop();

private:
    struct Track {
        bool begun = false;
        bool expected = false;
        bool finished = false;
        bool waiting = false;        // in waitToAppend
        bool sourceWaiting = false;  // setSourceWaiting
        double frontierSeconds = 0;
        std::deque<double> heldSeconds;  // in increasing order

        double position() const {
            return heldSeconds.empty() ? frontierSeconds : std::min(heldSeconds.front(), frontierSeconds);
        }
    };
    // REQUIRES: mutex_ held.
    bool mayAppend(std::size_t track, double seconds) const;

    const double maxLeadSeconds_;
    std::mutex mutex_;
    std::condition_variable moved_;
    std::vector<Track> tracks_;
    bool stopped_ = false;
};

}  // namespace fw::media::detail

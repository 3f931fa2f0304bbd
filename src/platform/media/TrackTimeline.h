#pragma once
// Internal to fw_media: what each stored time of a file read means. Every
// packet of a read file passes through one Timelines, which gives each track
// a timeline of its own and decides, seeing a few packets ahead, whether a
// time follows on, jumps (a pause, a lost signal, a join of recordings, a
// clock that wrapped or started again) or lies out of line (a damaged time
// the track's next packets contradict). The sound's finer clock (jitter,
// drift, drop-outs against the samples themselves) is the SoundClock, which
// the sound output runs on its decoded frames.
//
// Pure bookkeeping over numbers: no file, no decoder. Not thread-safe; the
// reader calls it under its lock.

#include "platform/media/FFmpeg_internal.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace fw::media::detail {

// A packet whose time steps back from the one before it in its stream, or
// jumps past its end, as where two recordings were joined, the signal was
// lost or the track paused: its opaque field points here.
inline constexpr char kTimeJumped = 0;
inline bool timeJumped(const AVPacket& packet) { return packet.opaque == &kTimeJumped; }
// A packet whose stored time lay out of line, and was given the one its
// track's line implies: it says nothing of where its samples lie.
inline constexpr char kOutOfLine = 0;
inline bool outOfLine(const AVPacket& packet) { return packet.opaque == &kOutOfLine; }

// Timestamps are exact to a few milliseconds where a container states them; a
// jump past the end of what came before by more than this is a gap.
inline constexpr std::int64_t kLargestSeamlessJump = AV_TIME_BASE / 10;

// What the timelines know of one stream of the file.
struct StreamTiming {
    AVMediaType kind = AVMEDIA_TYPE_UNKNOWN;
    AVRational timeBase{1, AV_TIME_BASE};
    // Bits of the container's clock (33 in MPEG-TS and MPEG-PS); 64 when it does not wrap.
    int wrapBits = 64;
    // The asset's zero in the stream's time base.
    std::int64_t start = 0;
    // An output reads the stream: only those tell how far reading came.
    bool read = false;
};

// Where the other tracks' packets stored beside a packet in the file lie
// (AV_TIME_BASE, the asset's timeline): within `within` either side of `at`;
// `at` is AV_NOPTS_VALUE where that is unknown.
struct OthersBeside {
    std::int64_t at = AV_NOPTS_VALUE;
    std::int64_t within = 0;
};

// One track's line: a packet whose time jumps far from the line of the
// packets before it keeps that time only when the track's packets after it
// go on from there; otherwise (they go on from the line before, or do not
// move on at all) it lies out of line and takes the time the line implies.
// A picture's showing time out of line takes the place its neighbours leave
// free: where pictures come reordered, the one showing time among theirs
// that keeps them in their showing order, on a tick of its own; where none
// is free (its neighbours' times are lost too), none, and the picture shows
// after the one the decoder gives out before it. Pictures and sound alone
// keep a line. Holds no packets: it is shown those ahead.
class TrackTimeline {
public:
    // How many of the track's packets after one are looked at.
    static constexpr std::size_t kLookAhead = 4;

    // `doubtfulSpan`: how much of the track after a jump is seen before it is
    // taken as real (AV_TIME_BASE).
    TrackTimeline(StreamTiming timing, std::int64_t doubtfulSpan) : timing_(timing), doubtfulSpan_(doubtfulSpan) {}

    // Settles the packet's times, seeing the track's next packets `ahead`
    // (in order); `last`: no others will follow them. Where it jumps and a
    // few seconds of the track after it are not yet known, it may wait for
    // them (`mayWait`): false, and nothing settled. `others`: where the
    // other tracks' packets stored just after it in the file lie.
    bool settle(AVPacket& packet, const std::vector<const AVPacket*>& ahead, bool last, bool mayWait = false,
                OthersBeside others = {});
    // The furthest end the stored times found out of line gave (stored time;
    // AV_NOPTS_VALUE before the first).
    std::int64_t furthestOutOfLine() const { return furthestOutOfLine_; }
    // How far the track's line moves a packet not yet settled whose stored
    // (decode) time is `stamp`: while the track's times are off its line, one
    // nearer where they went than its line is moved as they were (stored
    // time; 0 otherwise).
    std::int64_t offLineShift(std::int64_t stamp) const;

private:
    void remember(const AVPacket& packet);
    void noteOutOfLine(AVPacket& packet);
    bool goesOnFrom(std::int64_t stamp, const std::vector<const AVPacket*>& ahead) const;
    bool showsInLine(const AVPacket& picture, std::int64_t shown) const;
    bool showsInLine(const AVPacket& picture) const { return showsInLine(picture, picture.pts); }
    bool comesBack(std::int64_t stamp, const std::vector<const AVPacket*>& ahead) const;
    bool showsOnFrom(const AVPacket& packet, const std::vector<const AVPacket*>& ahead) const;
    void settleShowing(AVPacket& packet, std::int64_t storedShowing, bool moved,
                       const std::vector<const AVPacket*>& ahead, bool last);
    bool showingTaken(std::int64_t shown, const std::vector<const AVPacket*>& ahead) const;
    std::int64_t freeShowingTime(const AVPacket& packet, const std::vector<const AVPacket*>& ahead) const;
    std::int64_t micros(std::int64_t ticks) const;
    // Further from the asset's zero than any recording reaches (a damaged time).
    bool beyondReach(std::int64_t stamp) const;
    // A jump to `stamp` takes the track far from the other tracks beside it,
    // which it kept with before.
    bool leavesOthers(std::int64_t stamp, OthersBeside others) const;
    std::int64_t step() const;
    std::int64_t delay() const;
    bool damagedLength(std::int64_t duration, std::int64_t step) const;

    StreamTiming timing_;
    std::int64_t doubtfulSpan_;
    // The line so far: the last packet settled (stored time) and its end,
    // and the last few steps between packets and delays of showing after
    // decoding.
    std::int64_t lineStamp_ = AV_NOPTS_VALUE;
    std::int64_t lineEnd_ = AV_NOPTS_VALUE;
    std::int64_t storedEnd_ = AV_NOPTS_VALUE;  // as its stored length says
    bool lineShowing_ = false;                 // made of showing times alone
    std::deque<std::int64_t> steps_;
    std::deque<std::int64_t> delays_;
    // The showing times of the last pictures settled (none where unknown),
    // and whether the track's pictures come reordered (shown in another
    // order than decoded).
    std::deque<std::int64_t> shown_;
    bool reorders_ = false;
    // The last packet was out of line, and where its stored time ended; where
    // the last jump the track's packets confirmed landed (stored times).
    bool offLine_ = false;
    std::int64_t rejectedEnd_ = AV_NOPTS_VALUE;
    std::int64_t offLineBy_ = 0;  // how far that packet was moved
    std::int64_t landing_ = AV_NOPTS_VALUE;
    std::int64_t sinceLanding_ = AV_NOPTS_VALUE;  // the furthest stored end since
    std::int64_t furthestOutOfLine_ = AV_NOPTS_VALUE;
};

// The timelines of every stream of one file read. Where recordings are joined
// end to end (MPEG-TS, MPEG-PS) the clock starts again with each: the packets'
// times are moved to continue where the previous recording ended, a jump
// either way is marked (timeJumped), a pause of one track while another runs
// on keeps its time, and a clock that wrapped runs on. Pictures stored there
// without a time of their own are spread over the time between their timed
// neighbours. Packets go out in the order they were filed, each once its
// track's next few are known (a few seconds where it jumps), or once
// kMostPending (kMostInDoubt) wait.
class Timelines {
public:
    using Deliver = std::function<void(PacketPtr)>;
    static constexpr std::size_t kMostPending = 64;
    // While a track's jump is in doubt, a few seconds of it wait; at most
    // this many packets of the file, and this many bytes (a few seconds of
    // the largest pictures).
    static constexpr std::size_t kMostInDoubt = 16 * kMostPending;
    static constexpr std::size_t kMostInDoubtBytes = 24 << 20;

    // joinsRecordings: the container's clock may start again or jump (MPEG-TS,
    // MPEG-PS). `deliver` takes each packet at its place in time, in order.
    Timelines(std::vector<StreamTiming> streams, bool joinsRecordings, Deliver deliver);

    // A packet just read.
    void file(PacketPtr packet);
    // Whether packets of the stream filed are still held back here.
    bool holds(std::size_t index) const;
    // A packet of the stream read ahead of the file's order, which the caller
    // delivers itself (REQUIRES: !holds(its stream)), settled seeing the
    // track's next packets `ahead` as settle does: the track's line goes on
    // from it, and the file's own reading passes over it. Where it jumps and
    // `mayWait`, false and nothing settled: a few seconds more of the track
    // will tell. `others`: where the other tracks would have it lie, as far
    // as the caller knows.
    bool passedAhead(AVPacket& packet, const std::vector<const AVPacket*>& ahead, bool last, bool mayWait,
                     OthersBeside others = {});
    // Reading is over (the end of the file, a failure): everything held goes
    // out; a packet filed after this goes out at once.
    void finish();
    // As far as the pictures and sound delivered reach (AV_TIME_BASE, the
    // asset's timeline); AV_NOPTS_VALUE before the first.
    std::int64_t recordingsReached() const { return recordingsReached_; }
    // As far as the stored times found out of line in the tracks read reached
    // (AV_TIME_BASE, the asset's timeline): a length the file states from
    // them is no length its sound and pictures have. AV_NOPTS_VALUE when none.
    std::int64_t outOfLineReached() const;

private:
    // Per stream: the last stored decode time filed and which recording it
    // belongs to. Per recording: how far its times are moved (AV_TIME_BASE).
    struct StreamClock {
        std::int64_t lastStamp = AV_NOPTS_VALUE;
        std::int64_t lastEnd = AV_NOPTS_VALUE;  // lastStamp plus that packet's duration
        std::size_t recording = 0;
        // The last jump far ahead (stored times, AV_TIME_BASE), and while it
        // is in doubt, the track's packets from it on, not yet delivered.
        std::int64_t jumpFrom = 0;
        std::int64_t jumpTo = 0;
        // How far back its stored times move to follow on from before that
        // jump, and how far they are moved since its clock jumped alone.
        std::int64_t backToLine = 0;
        std::int64_t ownShift = 0;
        std::int64_t reachedAtJump = AV_NOPTS_VALUE;  // recordingsReached_ then
        std::vector<PacketPtr> held;
        std::int64_t heldLength = 0;  // AV_TIME_BASE
        // Where the track's recording before its last jump ahead ended (stored
        // time) and which it was: a picture decoded after the first one past
        // the jump but shown before it belongs there; which of `held` those are.
        std::int64_t leftEnd = AV_NOPTS_VALUE;
        std::size_t leftRecording = 0;
        std::vector<std::size_t> heldLeftBehind;
        // What is held are the track's first packets, behind the others.
        bool startedBehind = false;
        // A picture's packet, until the next one tells whether its times are its own.
        PacketPtr keptBack;
        // The last pictures stored without a time of their own (the library
        // counts one frame on from the picture before), until the next timed
        // picture tells whether they fit before it; and the decode time of the
        // picture passed on before them.
        std::deque<PacketPtr> untimed;
        std::int64_t passedOn = AV_NOPTS_VALUE;
    };
    enum class OtherTracks { none, behind, ranOn };
    // What a track's jump far ahead turned out to be: the start of the next
    // recording, a pause, its own clock jumping alone, or a run of damaged
    // times the track came back from (the last two are damage).
    enum class Jump { newRecording, pause, ownClock, run };

    bool isPicture(std::size_t index) const { return streams_[index].kind == AVMEDIA_TYPE_VIDEO; }
    std::int64_t micros(std::size_t index, std::int64_t ticks) const {
        return av_rescale_q(ticks, streams_[index].timeBase, AV_TIME_BASE_Q);
    }

    // A picture's packet once it is known whether its times are its own:
    // pictures without a time of their own wait for the next that has one.
    void fileTimed(PacketPtr packet);
    void passUntimed(std::size_t index);
    // Through the track's own timeline, in the order filed, then across joins.
    void settle(PacketPtr packet);
    void settleReady(bool all);
    void deliver(PacketPtr packet);
    // Everything held goes out (its order kept: the pictures kept back, then each track's look-ahead, then what waits on a jump in doubt).
    void releaseAll();
    // Where the other tracks that keep a line lie just after the first
    // pending packet in the file (AV_TIME_BASE, the asset's timeline).
    std::int64_t othersAfterFirst() const;
    // Moves the packet's times across joins and marks jumps. False when the
    // packet was taken to wait until the other tracks tell whether its track
    // paused or a recording began; it is delivered then.
    bool continueAcrossJoins(PacketPtr& packet);
    OtherTracks otherTracks(std::size_t index) const;
    // The other tracks of its recording ran on from where the track jumped,
    // yet got nowhere near where it jumped to.
    bool jumpedAlone(std::size_t index) const;
    // A held jump's meaning: its own clock's when it jumped alone, else `otherwise`.
    Jump heldJump(std::size_t index, Jump otherwise) const;
    // The track follows on from before its jump, `jumped` its first packet
    // after it: from then on (`lasting`), or until it came back.
    void followOwnClock(AVPacket& jumped, bool lasting = true);
    // The packet, held after its track's jump, steps back to where the track
    // would have got to had it not jumped (stored time, AV_TIME_BASE).
    bool cameBack(std::size_t index, std::int64_t at) const;
    // A track's first packet, at `at` (stored time, AV_TIME_BASE), belongs to
    // the latest recording the other tracks have got to. True when it lies
    // behind where they have got to in it.
    bool joinLatestRecording(std::size_t index, std::int64_t at);
    // Where the stream's clock has got to (stored time, AV_TIME_BASE).
    std::int64_t clockReached(std::size_t index) const;
    // The stream's next recording begins with `first`, read when the pictures
    // and sound had reached `reached`.
    void startRecording(std::size_t index, const AVPacket& first, std::int64_t reached);
    void wrapClock(std::size_t index);
    void moveToRecording(AVPacket& packet) const;
    void moveToRecording(AVPacket& packet, std::size_t recording) const;
    // Delivers the packets held after a jump in doubt, as it turned out.
    void releaseHeld(std::size_t index, Jump jump);

    std::vector<StreamTiming> streams_;
    bool joinsRecordings_;
    Deliver deliver_;
    std::vector<TrackTimeline> tracks_;
    std::deque<PacketPtr> pending_;
    std::size_t pendingBytes_ = 0;
    std::vector<std::size_t> pendingOf_;
    std::vector<StreamClock> clocks_;
    std::vector<std::int64_t> recordingShifts_{0};
    std::int64_t recordingsReached_ = AV_NOPTS_VALUE;
    bool finished_ = false;
};

// The clock of sound whose stored times are its clock, on its decoded frames
// (times and lengths in output samples): where each frame lies. A frame's
// place is the counted place of its samples moved by the level of the
// distances between stored and counted places around it (the median, and the
// mean of those near it), so that stored times that jitter move nothing, one
// that strays alone is passed over, and a drift moves the place as slowly as
// it drifts. It looks kReach frames either side where the stored times are
// exact (to a millisecond), kLongReach where they jitter. A drop-out (a gap)
// or an overlap moves every frame after it by the same amount, where jitter
// does not last: where the level of the frames from one on stands apart from
// the level before it by more than kTolerance, and by more than their jitter
// could, and the change sets in at that frame, it is a step, and lies where
// the frames from it on put it. Where only every few frames have a stored
// time of their own, only those tell; and where the times are otherwise
// exact, a move back the other way nearby says they jitter after all. A frame
// marked as a jump (a join, a pause) further than a seamless one starts the
// count again.
class SoundClock {
public:
    static constexpr std::size_t kReach = 8;
    static constexpr std::size_t kLongReach = 64;
    // How many placed frames the clock remembers: where only every few frames
    // have a stored time of their own, enough to tell how those jitter.
    static constexpr std::size_t kRemembered = 4 * kLongReach;
    // Steps smaller than this (5 ms at 48 kHz) close up.
    static constexpr double kToleranceSeconds = 0.005;
    static constexpr double kMostAheadSeconds = 3;

    struct Place {
        double at = 0;      // where the frame's first sample lies
        bool step = false;  // it does not follow on from the frame before
    };

    explicit SoundClock(int rate)
        : rate_(rate),
          tolerance_(kToleranceSeconds * rate),
          seamless_(double(kLargestSeamlessJump) * rate / AV_TIME_BASE) {}

    // A decoded frame at `stored` (none when it has no time), `length` samples long.
    void add(std::optional<double> stored, double length, bool jumped);
    // Whether the first frame not yet placed can be: as many frames after it
    // are known as the clock looks ahead (past kReach, no more than
    // kMostAheadSeconds of them), or `ending`.
    bool ready(bool ending) const;
    // Places the first frame not yet placed.
    Place place();

private:
    struct Frame {
        double counted;                // where it lies when every frame follows on
        std::optional<double> offset;  // its stored place less `counted`
        std::size_t segment;           // frames between two jumps or steps
    };
    // How far the offsets around the frame move from one stored time to the
    // next: how many move by more than a quarter of kTolerance, how many of
    // those come back as far, and where more than a few do, the middle of the
    // moves, about the spread of their jitter (0 where the times are exact).
    struct Moves {
        double jitter = 0;
        std::size_t far = 0, back = 0;
    };
    Moves moves(std::size_t index) const;
    // How many frames after the first not yet placed the clock looks at:
    // kReach where the stored times around it are exact, kLongReach where
    // they jitter, and twice that where they move, but too seldom yet to tell
    // steps from jitter.
    std::size_t lookAhead() const;
    // The frames of the index's segment at most `reach` before and after it.
    std::pair<std::size_t, std::size_t> around(std::size_t index, std::size_t reach) const;
    // The level of the offsets of frames [from, to), how many it took (and of
    // those, how many do not merely count on from the one before) and the sum
    // of their squared distances from it; none when none has an offset.
    struct Level {
        double at = 0, squares = 0;
        std::size_t count = 0, stored = 0;
    };
    std::optional<Level> level(std::size_t from, std::size_t to, double jitter) const;
    // Where a step sets in at or after the frame, seeing frames [from, to).
    std::optional<std::size_t> stepAhead(std::size_t index, std::size_t from, std::size_t to, double jitter) const;

    double rate_, tolerance_, seamless_;
    std::deque<Frame> frames_;  // kRemembered placed, then those waiting
    std::size_t next_ = 0;      // the first frame not yet placed
    double counted_ = 0;
    std::size_t segment_ = 0;
    std::optional<double> lastMiddle_;
    std::optional<double> lastOffset_;  // of the last frame added with a time
};

}  // namespace fw::media::detail

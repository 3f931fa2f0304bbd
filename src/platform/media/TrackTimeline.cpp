#include "platform/media/TrackTimeline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <utility>

namespace fw::media::detail {

namespace {

// Pictures come in decoding order, shown up to this many steps of the line
// away from where the line has got to.
constexpr std::int64_t kReorderSteps = 8;
// A packet's length past this many steps of its line, and past a minute, is
// out of proportion.
constexpr std::int64_t kLongestSteps = 64;
constexpr std::int64_t kLongestLength = 60LL * AV_TIME_BASE;
// A jump further than this that no packet after it confirms lies out of line.
constexpr std::int64_t kLongestUnconfirmedJump = 60LL * AV_TIME_BASE;
// No recording reaches further from its zero than this; past what 64 bits of
// microseconds hold, a time counts as this far (so that sums of it hold too).
constexpr std::int64_t kFurthestTime = 366LL * 24 * 3600 * AV_TIME_BASE;
constexpr std::int64_t kBeyondMicros = std::numeric_limits<std::int64_t>::max() / 4;
// How much of the track after a jump is seen before it is taken as real; a
// Matroska cluster whose time is damaged lasts up to 5 s. Where recordings
// are joined (MPEG-TS, MPEG-PS) a jump is judged across the tracks too, and
// what follows it held for longer there.
constexpr std::int64_t kDoubtfulSpan = 8LL * AV_TIME_BASE;
constexpr std::int64_t kDoubtfulSpanAtJoins = 3LL * AV_TIME_BASE;
// Writers interleave tracks by time: a track's packets lie within this of the
// others' stored around them.
constexpr std::int64_t kLongestInterleave = 2LL * AV_TIME_BASE;
// How many steps and delays the line remembers, and how many showing times:
// enough that the pictures shown around one were all decoded since.
constexpr std::size_t kRemembered = 8;
constexpr std::size_t kShownRemembered = 2 * kReorderSteps;

std::int64_t storedStamp(const AVPacket& packet) { return packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts; }

std::vector<std::int64_t> stampsFrom(std::int64_t stamp, const std::vector<const AVPacket*>& ahead) {
    std::vector<std::int64_t> stamps{stamp};
    for (const AVPacket* next : ahead) stamps.push_back(storedStamp(*next));
    return stamps;
}

std::int64_t middleOf(std::deque<std::int64_t> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void keepLast(std::deque<std::int64_t>& values, std::int64_t value, std::size_t most = kRemembered) {
    values.push_back(value);
    if (values.size() > most) values.pop_front();
}

// Whether the stamp `i` lies more than a quarter step from every other: on a
// tick of its own, not stuck at one time with another.
bool alone(const std::vector<std::int64_t>& stamps, std::size_t i, std::int64_t step) {
    for (std::size_t j = 0; j < stamps.size(); ++j)
        if (j != i && stamps[j] != AV_NOPTS_VALUE && std::abs(stamps[j] - stamps[i]) <= step / 4) return false;
    return true;
}

}  // namespace

std::int64_t TrackTimeline::micros(std::int64_t ticks) const {
    const std::int64_t micros = av_rescale_q(ticks, timing_.timeBase, AV_TIME_BASE_Q);
    if (micros != AV_NOPTS_VALUE || ticks == AV_NOPTS_VALUE) return std::clamp(micros, -kBeyondMicros, kBeyondMicros);
    return ticks > 0 ? kBeyondMicros : -kBeyondMicros;
}

bool TrackTimeline::beyondReach(std::int64_t stamp) const {
    // In halves: the difference of two stored times need not fit.
    return stamp != AV_NOPTS_VALUE && std::abs(micros(stamp / 2 - timing_.start / 2)) > kFurthestTime / 2;
}

bool TrackTimeline::leavesOthers(std::int64_t stamp, OthersBeside others) const {
    if (others.at == AV_NOPTS_VALUE || lineEnd_ == AV_NOPTS_VALUE) return false;
    // Times on a clock that wraps are apart by the shorter way round.
    const std::int64_t period = timing_.wrapBits < 63 ? micros(std::int64_t{1} << timing_.wrapBits) : 0;
    const auto apart = [&](std::int64_t ticks) {
        std::int64_t by = micros(ticks / 2 - timing_.start / 2) - others.at / 2;
        if (period > 0) by = (by % (period / 2) + period / 2 + period / 4) % (period / 2) - period / 4;
        return std::abs(by) > kLongestInterleave / 2 + others.within / 2;
    };
    return apart(stamp) && !apart(lineEnd_);
}

std::int64_t TrackTimeline::offLineShift(std::int64_t stamp) const {
    // In halves: the difference of two stored times need not fit.
    const bool goesOn = offLine_ && stamp != AV_NOPTS_VALUE && rejectedEnd_ != AV_NOPTS_VALUE &&
                        std::abs(stamp / 2 - rejectedEnd_ / 2) < std::abs(offLineBy_ / 4);
    return goesOn ? offLineBy_ : 0;
}

std::int64_t TrackTimeline::step() const { return middleOf(steps_); }

bool TrackTimeline::damagedLength(std::int64_t duration, std::int64_t step) const {
    return step > 0 && duration > kLongestSteps * step && micros(duration) > kLongestLength;
}

std::int64_t TrackTimeline::delay() const { return middleOf(delays_); }

bool TrackTimeline::settle(AVPacket& packet, const std::vector<const AVPacket*>& farAhead, bool last, bool mayWait,
                           OthersBeside others) {
    const std::vector<const AVPacket*> ahead(farAhead.begin(),
                                             farAhead.begin() + std::min<std::ptrdiff_t>(farAhead.size(), kLookAhead));
    const std::int64_t stamp = storedStamp(packet);
    const std::int64_t storedShowing = packet.pts;
    if (packet.dts != AV_NOPTS_VALUE && lineShowing_) {
        // A line of showing times alone (pictures stored without their decode
        // times, as a demuxer gives the first few it cannot guess them for)
        // says nothing of the decode times after it: the line starts again.
        steps_.clear();
        lineStamp_ = lineEnd_ = AV_NOPTS_VALUE;
    }
    // A length far out of proportion that the packets after it contradict,
    // standing stuck a tick or so apart from where it ends (as a muxer leaves
    // those after a packet moved on), is damaged: a pause would have them go
    // on a step apart.
    if (const std::int64_t step = this->step(); stamp != AV_NOPTS_VALUE && lineEnd_ != AV_NOPTS_VALUE && step > 0 &&
                                                lineEnd_ - lineStamp_ > kLongestSteps * step && !ahead.empty()) {
        const std::vector<std::int64_t> stamps = stampsFrom(stamp, ahead);
        bool stuck = true;
        for (std::size_t i = 0; i < stamps.size(); ++i) stuck = stuck && !alone(stamps, i, step);
        if (stuck) lineEnd_ = lineStamp_ + step;
    }
    const std::int64_t step = this->step();
    const bool showing = timing_.kind == AVMEDIA_TYPE_VIDEO && packet.pts != AV_NOPTS_VALUE &&
                         packet.dts != AV_NOPTS_VALUE && !delays_.empty() && step > 0;
    const bool inDoubt = mayWait && !last && micros(static_cast<std::int64_t>(farAhead.size()) * step) < doubtfulSpan_;
    // So does a showing time far from its decode time that the next few
    // pictures confirm.
    if (inDoubt && showing && !showsInLine(packet) && showsOnFrom(packet, ahead)) return false;
    bool moved = false;
    if (stamp != AV_NOPTS_VALUE && lineEnd_ != AV_NOPTS_VALUE && step > 0) {
        // Pictures reordered, or shown later than they are decoded, may stray
        // from the line by a few steps; and while the track is off its line,
        // every step away from it is judged.
        const std::int64_t reorder = std::max(kLargestSeamlessJump, kReorderSteps * micros(step));
        const bool reordered = packet.dts == AV_NOPTS_VALUE && timing_.kind == AVMEDIA_TYPE_VIDEO;
        const std::int64_t jump = micros(stamp - lineEnd_);
        // A jump far past where pictures may stray is not taken before a
        // few seconds of the track after it are seen to go on from it.
        const bool far = std::abs(jump) > 2 * reorder;
        const std::int64_t judged = offLine_ ? micros(step) / 2 : reordered ? reorder : kLargestSeamlessJump;
        // Nothing yet after it (the track's next packets lie far on in the
        // file) neither confirms nor contradicts it, unless it jumps further
        // than any pause a file keeps; when nothing will, only the packet
        // before it can, by ending there (a long last picture).
        const bool endsThere = !offLine_ && std::abs(micros(stamp - storedEnd_)) <= kLargestSeamlessJump;
        bool confirmed = ahead.empty() ? (!last && std::abs(jump) <= kLongestUnconfirmedJump) || endsThere
                                       : goesOnFrom(stamp, ahead) && !(far && comesBack(stamp, farAhead));
        // However long a run of such times goes on from itself, the other
        // tracks stored beside it tell it is damaged: writers interleave by
        // time, and a real pause of one track has the others run on to it.
        confirmed = confirmed && !beyondReach(stamp) && !(far && leavesOthers(stamp, others));
        // What goes on from a time found out of line is out of line too; and
        // so is a step back to a tick or so after where the track last jumped
        // to: its times are stuck there (as where only every few packets
        // store one, and the library counts on between). A clock started
        // again lands where it did before, not after.
        const bool followsOutOfLine = offLine_ && rejectedEnd_ != AV_NOPTS_VALUE &&
                                      std::abs(micros(stamp - rejectedEnd_)) <= kLargestSeamlessJump;
        const bool backToLanding =
            landing_ != AV_NOPTS_VALUE && stamp < sinceLanding_ && stamp > landing_ && stamp - landing_ < step;
        // A time out of reach, or that overflows, is damaged whatever follows it.
        const bool jumps = std::abs(jump) > judged || beyondReach(stamp);
        const bool stuck = jumps && (followsOutOfLine || backToLanding);
        // A run of damaged times (a Matroska cluster's) goes on from itself as
        // a jump does: the track's next few seconds tell, coming back or not.
        if (far && confirmed && !stuck && inDoubt) return false;
        if (jumps && (backToLanding || (confirmed && !stuck))) landing_ = sinceLanding_ = stamp;
        if ((!jumps || confirmed) && !stuck) {
            offLine_ = false;
            offLineBy_ = 0;
        } else {
            noteOutOfLine(packet);
            rejectedEnd_ = stamp + std::max<std::int64_t>(packet.duration, 0);
            moved = true;
            // The line before implies where it lies: on from the packet before.
            const std::int64_t by = offLineBy_ = lineEnd_ - stamp;
            if (packet.dts != AV_NOPTS_VALUE) packet.dts += by;
            if (packet.pts != AV_NOPTS_VALUE) packet.pts += by;
            // A length that jumps with it is no more its own.
            if (packet.duration <= step / 4 || damagedLength(packet.duration, step)) packet.duration = step;
        }
    }
    if (stamp != AV_NOPTS_VALUE && landing_ != AV_NOPTS_VALUE)
        sinceLanding_ = std::max(sinceLanding_, stamp + std::max<std::int64_t>(packet.duration, 0));
    if (showing) settleShowing(packet, storedShowing, moved, farAhead, last);
    remember(packet);
    return true;
}

bool TrackTimeline::showsInLine(const AVPacket& picture, std::int64_t shown) const {
    const std::int64_t reorder = std::max(kLargestSeamlessJump, kReorderSteps * micros(step()));
    return std::abs(micros(shown - picture.dts - delay())) <= reorder;
}

void TrackTimeline::settleShowing(AVPacket& packet, std::int64_t storedShowing, bool moved,
                                  const std::vector<const AVPacket*>& farAhead, bool last) {
    const std::vector<const AVPacket*> ahead(farAhead.begin(),
                                             farAhead.begin() + std::min<std::ptrdiff_t>(farAhead.size(), kLookAhead));
    const std::int64_t usual = delay();
    const auto inLine = [&](std::int64_t shown) { return showsInLine(packet, shown); };
    // A run of damaged showing times ends where the pictures after it show
    // near their decode times again, and those stay on the line before (after
    // a lost signal, they are decoded after the jump too).
    const auto showsBack = std::any_of(farAhead.begin(), farAhead.end(), [&](const AVPacket* next) {
        return next->pts != AV_NOPTS_VALUE && next->dts != AV_NOPTS_VALUE && showsInLine(*next, next->pts) &&
               std::abs(next->dts - packet.dts) < std::abs(next->dts - packet.pts);
    });
    if (!moved) {
        if (inLine(packet.pts) ||
            (!beyondReach(packet.pts) && (ahead.empty() ? !last : showsOnFrom(packet, ahead) && !showsBack)))
            return;
    } else if (inLine(storedShowing) && !showingTaken(storedShowing, ahead)) {
        // Only its decode time lay out of line (as a demuxer guesses them
        // from the showing times around), and its showing time is its own.
        packet.pts = storedShowing;
        return;
    } else if (!reorders_ && inLine(packet.pts)) {
        // Moved along with its decode time, it shows in its order.
        return;
    }
    noteOutOfLine(packet);
    packet.pts = reorders_ ? freeShowingTime(packet, ahead) : packet.dts + usual;
}

bool TrackTimeline::showingTaken(std::int64_t shown, const std::vector<const AVPacket*>& ahead) const {
    const auto near = [&](std::int64_t other) {
        return other != AV_NOPTS_VALUE && std::abs(other - shown) < step() / 2;
    };
    return std::any_of(shown_.begin(), shown_.end(), near) ||
           std::any_of(ahead.begin(), ahead.end(), [&](const AVPacket* next) { return near(next->pts); });
}

std::int64_t TrackTimeline::freeShowingTime(const AVPacket& packet, const std::vector<const AVPacket*>& ahead) const {
    // The pictures decoded around it show around where it does, each on a
    // step of the line: where one step among theirs, and only one, is left
    // free, it shows there. Where more are (those decoded after the
    // look-ahead show later than its own, or others' times are lost too), or
    // the pictures before it do not all tell theirs, which is its own is
    // unknown.
    const std::int64_t step = this->step();
    if (std::any_of(shown_.end() - std::min<std::ptrdiff_t>(shown_.size(), kReorderSteps), shown_.end(),
                    [](std::int64_t shown) { return shown == AV_NOPTS_VALUE; }))
        return AV_NOPTS_VALUE;
    const std::int64_t expected = packet.dts + delay();
    const auto near = [&](std::int64_t shown) {
        return shown != AV_NOPTS_VALUE && std::abs(shown - expected) <= kReorderSteps * step;
    };
    std::vector<std::int64_t> taken;
    std::copy_if(shown_.begin(), shown_.end(), std::back_inserter(taken), near);
    // Those after it stuck at one time tell nothing.
    for (const AVPacket* next : ahead)
        if (near(next->pts) && std::none_of(ahead.begin(), ahead.end(), [&](const AVPacket* other) {
                return other != next && std::abs(other->pts - next->pts) <= step / 4;
            }))
            taken.push_back(next->pts);
    std::sort(taken.begin(), taken.end());
    std::int64_t free = AV_NOPTS_VALUE;
    for (std::size_t i = 1; i < taken.size(); ++i) {
        if (taken[i] - taken[i - 1] <= step + step / 2) continue;
        if (free != AV_NOPTS_VALUE || taken[i] - taken[i - 1] > 2 * step + step / 2) return AV_NOPTS_VALUE;
        free = taken[i - 1] + step;
    }
    return free;
}

void TrackTimeline::remember(const AVPacket& packet) {
    const std::int64_t stamp = storedStamp(packet);
    if (stamp == AV_NOPTS_VALUE) return;
    if (lineStamp_ != AV_NOPTS_VALUE && stamp > lineStamp_)
        keepLast(steps_, stamp - lineStamp_);
    else if (lineStamp_ == AV_NOPTS_VALUE && packet.duration > 0)
        keepLast(steps_, packet.duration);
    if (packet.pts != AV_NOPTS_VALUE && packet.dts != AV_NOPTS_VALUE) keepLast(delays_, packet.pts - packet.dts);
    if (timing_.kind == AVMEDIA_TYPE_VIDEO) {
        reorders_ =
            reorders_ || (packet.pts != AV_NOPTS_VALUE &&
                          std::any_of(shown_.begin(), shown_.end(), [&](auto shown) { return shown > packet.pts; }));
        keepLast(shown_, packet.pts, kShownRemembered);
    }
    // A length far out of proportion with the steps of the line (a damaged
    // one, or one that reaches over a pause) does not move the line on: the
    // next packet tells.
    const std::int64_t step = this->step();
    lineStamp_ = stamp;
    lineShowing_ = packet.dts == AV_NOPTS_VALUE;
    storedEnd_ = stamp + std::max<std::int64_t>(packet.duration, 0);
    lineEnd_ = damagedLength(packet.duration, step) ? stamp + step : storedEnd_;
}

void TrackTimeline::noteOutOfLine(AVPacket& packet) {
    offLine_ = true;
    if (!timeJumped(packet)) packet.opaque = const_cast<char*>(&kOutOfLine);
    const std::int64_t end = std::max(packet.pts, packet.dts) + std::max<std::int64_t>(packet.duration, 0);
    if (furthestOutOfLine_ == AV_NOPTS_VALUE || end > furthestOutOfLine_) furthestOutOfLine_ = end;
}

bool TrackTimeline::goesOnFrom(std::int64_t stamp, const std::vector<const AVPacket*>& ahead) const {
    // Most of the packets after it lie nearer where the jump leads than the
    // line before, each on a tick of its own: not stuck at one time (where a
    // demuxer guesses decode times from showing times stuck at one, a guess
    // may stray from it).
    const std::int64_t step = this->step();
    const std::vector<std::int64_t> stamps = stampsFrom(stamp, ahead);
    std::size_t timed = 0, onFrom = 0;
    for (std::size_t i = 1; i < stamps.size(); ++i) {
        if (stamps[i] == AV_NOPTS_VALUE) continue;
        ++timed;
        const auto steps = static_cast<std::int64_t>(i);
        const std::int64_t onNew = stamp + steps * step, onOld = lineEnd_ + steps * step;
        if (std::abs(stamps[i] - onNew) < std::abs(stamps[i] - onOld) && alone(stamps, i, step)) ++onFrom;
    }
    return timed > 0 && 2 * onFrom > timed;
}

bool TrackTimeline::comesBack(std::int64_t stamp, const std::vector<const AVPacket*>& ahead) const {
    // One of the packets after it steps back by as far as it jumped (a clock
    // that wraps steps back further), or most stand still, or all from some
    // point on to the last seen (as a muxer leaves those after a run moved on,
    // its times never back before the run's end).
    const std::int64_t jump = stamp - lineEnd_, step = this->step();
    const std::int64_t within =
        std::max(av_rescale_q(kLargestSeamlessJump, AV_TIME_BASE_Q, timing_.timeBase), kReorderSteps * step);
    std::size_t timed = 0, still = 0, stillSince = 0;
    for (const AVPacket* next : ahead) {
        const std::int64_t at = storedStamp(*next);
        if (at == AV_NOPTS_VALUE) continue;
        const std::int64_t by = at - stamp;
        if (std::abs(by - (step - jump)) <= within && std::abs(by - (step - jump)) < std::abs(by - step)) return true;
        ++timed;
        const bool stands = std::abs(at - stamp) <= step / 4;
        still += stands;
        stillSince = stands ? stillSince + 1 : 0;
        stamp = at;
    }
    return 2 * still > timed || stillSince >= kLookAhead;
}

bool TrackTimeline::showsOnFrom(const AVPacket& packet, const std::vector<const AVPacket*>& ahead) const {
    // Pictures stored across a jump show after it: most of those after this
    // one then show, or are decoded, near where it shows, each on a tick of
    // its own, and move on from there. A run stuck at one time is no line
    // going on, and one picture near it alone may be as damaged as it is.
    const std::int64_t reach = std::abs(packet.pts - packet.dts - delay()) / 2;
    const std::int64_t quarter = step() / 4;
    std::int64_t furthest = AV_NOPTS_VALUE;
    std::size_t timed = 0, near = 0;
    for (const AVPacket* next : ahead) {
        if (next->pts == AV_NOPTS_VALUE && next->dts == AV_NOPTS_VALUE) continue;
        ++timed;
        bool on = false;
        for (const auto time : {&AVPacket::pts, &AVPacket::dts}) {
            const std::int64_t at = next->*time;
            const auto stuckWith = [&](const AVPacket* other) {
                return other != next && other->*time != AV_NOPTS_VALUE && std::abs(other->*time - at) <= quarter;
            };
            if (at == AV_NOPTS_VALUE || std::abs(at - packet.pts) >= reach ||
                std::any_of(ahead.begin(), ahead.end(), stuckWith))
                continue;
            on = true;
            furthest = std::max(furthest, at);
        }
        near += on;
    }
    return 2 * near > timed && furthest - packet.pts >= static_cast<std::int64_t>(ahead.size()) * quarter;
}

void SoundClock::add(std::optional<double> stored, double length, bool jumped) {
    // A time that steps back or on no further than a seamless jump (jitter
    // around the end of a stored packet of several frames) is for the clock
    // to judge.
    const std::optional<double> offset = stored ? std::optional(*stored - counted_) : std::nullopt;
    if (jumped && !frames_.empty() && !(offset && lastOffset_ && std::abs(*offset - *lastOffset_) <= seamless_))
        ++segment_;
    frames_.push_back({counted_, offset, segment_});
    counted_ += length;
    if (offset) lastOffset_ = offset;
}

std::pair<std::size_t, std::size_t> SoundClock::around(std::size_t index, std::size_t reach) const {
    const std::size_t segment = frames_[index].segment;
    std::size_t before = 0, after = 0;
    while (before < reach && before < index && frames_[index - before - 1].segment == segment) ++before;
    while (after < reach && index + after + 1 < frames_.size() && frames_[index + after + 1].segment == segment)
        ++after;
    return {before, after};
}

namespace {

// Stored times closer than this (in samples) to counting on from the frame
// before count on from it: the demuxer gave them so, from the time of a
// stored packet that holds several frames.
constexpr double kCountedOn = 1;
// Fewer far moves back than this are times that stray alone.
constexpr std::size_t kFarMoves = 3;

}  // namespace

SoundClock::Moves SoundClock::moves(std::size_t index) const {
    // Jitter moves the level from one stored time to the next and back again;
    // a drop-out or an overlap moves it once and for good. Where the level
    // comes back far, again and again, the middle of the moves is the
    // jitter's; a few times coming back (a time that strays alone) are none.
    const auto [before, after] = around(index, kRemembered);
    std::vector<double> moves;
    Moves found;
    double last = 0;
    for (std::size_t i = index - before + 1; i <= index + after; ++i) {
        const auto &offset = frames_[i].offset, &previous = frames_[i - 1].offset;
        if (!offset || !previous || std::abs(*offset - *previous) <= kCountedOn) continue;
        const double move = *offset - *previous;
        found.far += std::abs(move) > tolerance_ / 4;
        found.back += move * last < 0 && std::min(std::abs(move), std::abs(last)) > tolerance_ / 4;
        moves.push_back(std::abs(move));
        last = move;
    }
    if (found.back < kFarMoves) return found;
    const auto middle = moves.begin() + static_cast<std::ptrdiff_t>(moves.size() / 2);
    std::nth_element(moves.begin(), middle, moves.end());
    found.jitter = *middle;
    return found;
}

bool SoundClock::ready(bool ending) const {
    if (next_ >= frames_.size()) return false;
    const std::size_t known = frames_.size() - next_;  // the frame and those after it
    return ending ||
           (known > kReach && (known > lookAhead() || counted_ - frames_[next_].counted > kMostAheadSeconds * rate_));
}

std::size_t SoundClock::lookAhead() const {
    const Moves found = moves(next_);
    return found.far == 0 ? kReach : found.back < kFarMoves ? 2 * kLongReach : kLongReach;
}

std::optional<SoundClock::Level> SoundClock::level(std::size_t from, std::size_t to, double jitter) const {
    // The median, and the mean of those within several times the jitter of
    // it: where the times are exact, the median itself; where they jitter,
    // all but a time that strays alone, which tells their level better than
    // the median would.
    std::vector<double> offsets;
    for (std::size_t i = from; i < to; ++i)
        if (frames_[i].offset) offsets.push_back(*frames_[i].offset);
    if (offsets.empty()) return std::nullopt;
    std::vector<double> sorted = offsets;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double median = *middle;
    Level level;
    const auto taken = [&](double offset) { return std::abs(offset - median) <= 8 * jitter; };
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        if (!taken(offsets[i])) continue;
        level.at += offsets[i], ++level.count;
        level.stored += i == 0 || std::abs(offsets[i] - offsets[i - 1]) > kCountedOn;
    }
    level.at /= static_cast<double>(level.count);
    for (const double offset : offsets)
        if (taken(offset)) level.squares += (offset - level.at) * (offset - level.at);
    return level;
}

std::optional<std::size_t> SoundClock::stepAhead(std::size_t index, std::size_t from, std::size_t to,
                                                 double jitter) const {
    // Where the frames part the most into two levels, for as many frames as
    // each side holds (a time that strays alone moves little)...
    double total = 0, sum = 0, most = 0;
    std::size_t all = 0, count = 0, split = index;
    for (std::size_t i = from; i < to; ++i)
        if (frames_[i].offset) total += *frames_[i].offset, ++all;
    for (std::size_t i = from; i < to; ++i) {
        if (!frames_[i].offset) continue;
        if (i >= index && count > 0) {
            const auto left = static_cast<double>(count), right = static_cast<double>(all - count);
            const double parted =
                std::abs(sum / left - (total - sum) / right) * std::sqrt(left * right / (left + right));
            if (parted > most) most = parted, split = i;
        }
        sum += *frames_[i].offset, ++count;
    }
    // ... is a step where their levels lie apart by more than kTolerance and
    // by more than seven times what the jitter around them leaves uncertain.
    // Where they jitter, a few stored times either side may happen to lie
    // apart: it takes several.
    const std::optional<Level> before = level(from, split, jitter), after = level(split, to, jitter);
    if (!before || !after || (jitter > 0 && std::min(before->stored, after->stored) < 2 * kReach)) return std::nullopt;
    const double apart = std::abs(after->at - before->at);
    // Frames counted on from one stored time vary with it: only the stored
    // times tell.
    const auto counts = static_cast<double>(before->count + after->count);
    const double spread =
        std::sqrt((before->squares + after->squares) / std::max(counts - 2, 1.0) *
                  (1.0 / static_cast<double>(before->stored) + 1.0 / static_cast<double>(after->stored)));
    if (apart <= tolerance_ || apart <= 7 * spread) return std::nullopt;
    // Where the times are exact, a far move back nearby says they jitter
    // after all, too seldom yet to show it otherwise.
    if (jitter == 0) {
        const auto [back, on] = around(split, 2 * kLongReach);
        const double toward = after->at - before->at;
        for (std::size_t i = split - back + 1; i <= split + on; ++i)
            if (const auto& offset = frames_[i].offset, &previous = frames_[i - 1].offset;
                offset && previous && (*offset - *previous) * toward < 0 &&
                std::abs(*offset - *previous) > tolerance_ / 4)
                return std::nullopt;
    }
    return split;
}

SoundClock::Place SoundClock::place() {
    const std::size_t index = next_;
    const double jitter = moves(index).jitter;
    const std::size_t reach = jitter > 0 ? kLongReach : kReach;
    auto [before, after] = around(index, reach);
    bool step = index > 0 && frames_[index - 1].segment != frames_[index].segment;
    // A step needs a few frames after it to stand on: one in the last few
    // frames before the end or a jump closes up.
    const std::optional<std::size_t> ahead = step || before == 0 || after < kReach
                                                 ? std::nullopt
                                                 : stepAhead(index, index - before, index + after + 1, jitter);
    if (ahead == index) {
        // The frames from it on make a segment of their own.
        for (std::size_t i = index; i < frames_.size(); ++i) ++frames_[i].segment;
        ++segment_;
        step = true;
        before = 0;
    } else if (ahead) {
        after = *ahead - index - 1;
    }
    // Where the times are exact, as far either side as the frame's segment
    // reaches back, so that a drift moves it no more than it drifts (the
    // first of a segment lies where it is stored); near its end, where fewer
    // frames are known after it, as far back as before, so that one stored
    // time does not stand alone (a step in the last few frames closes up).
    // Where they jitter, as far as the segment goes, up to the reach, and not
    // over a step ahead.
    const std::optional<Level> found =
        level(index - before, index + 1 + (reach == kReach ? std::min(before, after) : after), jitter);
    const double offset = found ? found->at : lastMiddle_.value_or(0);
    Place placed{frames_[index].counted + offset, step};
    lastMiddle_ = offset;
    ++next_;
    while (next_ > kRemembered) {
        frames_.pop_front();
        --next_;
    }
    return placed;
}

Timelines::Timelines(std::vector<StreamTiming> streams, bool joinsRecordings, Deliver deliver)
    : streams_(std::move(streams)), joinsRecordings_(joinsRecordings), deliver_(std::move(deliver)) {
    for (const StreamTiming& stream : streams_)
        tracks_.emplace_back(stream, joinsRecordings_ ? kDoubtfulSpanAtJoins : kDoubtfulSpan);
    clocks_.resize(streams_.size());
    pendingOf_.resize(streams_.size());
}

void Timelines::file(PacketPtr read) {
    const std::size_t index = static_cast<std::size_t>(read->stream_index);
    if (index >= streams_.size()) return;
    if (joinsRecordings_ && isPicture(index)) {
        // No two pictures show at once. Where two in a row carry the same
        // times, the first began in the stored packet before, its start code
        // split across the two, and was given the second's: it goes without,
        // and shows after the picture before it.
        PacketPtr& keptBack = clocks_[index].keptBack;
        if (keptBack && read->pts != AV_NOPTS_VALUE && read->pts == keptBack->pts && read->dts == keptBack->dts)
            keptBack->pts = keptBack->dts = AV_NOPTS_VALUE;
        std::swap(keptBack, read);
        if (read) fileTimed(std::move(read));
    } else {
        settle(std::move(read));
    }
    if (finished_) releaseAll();
}

namespace {

// How many pictures without a time of their own wait for the next timed one.
constexpr std::size_t kUntimedHeld = 32;

}  // namespace

void Timelines::fileTimed(PacketPtr read) {
    const std::size_t index = static_cast<std::size_t>(read->stream_index);
    StreamClock& clock = clocks_[index];
    if (read->pts == AV_NOPTS_VALUE && read->dts != AV_NOPTS_VALUE) {
        clock.untimed.push_back(std::move(read));
        if (clock.untimed.size() <= kUntimedHeld) return;
        read = std::move(clock.untimed.front());
        clock.untimed.pop_front();
        clock.passedOn = read->dts;
        settle(std::move(read));
        return;
    }
    const std::int64_t next = storedStamp(*read);
    if (next != AV_NOPTS_VALUE && !clock.untimed.empty()) {
        // Counted on a frame at a time, the pictures without a time run into
        // the next one that has its own (one frame too many since the last
        // timed one): they are spread over the time there is between them.
        const std::deque<PacketPtr>& untimed = clock.untimed;
        const std::int64_t before = clock.passedOn != AV_NOPTS_VALUE
                                        ? clock.passedOn
                                        : untimed.front()->dts - std::max<std::int64_t>(untimed.front()->duration, 1);
        if (untimed.back()->dts >= next && before < next &&
            micros(index, untimed.back()->dts - next) < kLargestSeamlessJump) {
            const auto count = static_cast<std::int64_t>(untimed.size()) + 1;
            for (std::size_t i = 0; i < untimed.size(); ++i)
                untimed[i]->dts = before + (next - before) * static_cast<std::int64_t>(i + 1) / count;
        }
    }
    passUntimed(index);
    if (next != AV_NOPTS_VALUE) clock.passedOn = next;
    settle(std::move(read));
}

void Timelines::passUntimed(std::size_t index) {
    while (!clocks_[index].untimed.empty()) {
        PacketPtr read = std::move(clocks_[index].untimed.front());
        clocks_[index].untimed.pop_front();
        clocks_[index].passedOn = read->dts;
        settle(std::move(read));
    }
}

void Timelines::settle(PacketPtr read) {
    ++pendingOf_[static_cast<std::size_t>(read->stream_index)];
    pendingBytes_ += static_cast<std::size_t>(std::max(read->size, 0));
    pending_.push_back(std::move(read));
    settleReady(false);
}

void Timelines::settleReady(bool all) {
    while (!pending_.empty()) {
        AVPacket& first = *pending_.front();
        const auto index = static_cast<std::size_t>(first.stream_index);
        const bool keepsLine = streams_[index].kind == AVMEDIA_TYPE_VIDEO || streams_[index].kind == AVMEDIA_TYPE_AUDIO;
        if (keepsLine) {
            if (!all && pendingOf_[index] <= TrackTimeline::kLookAhead && pending_.size() <= kMostPending) return;
            std::vector<const AVPacket*> ahead;
            for (auto next = pending_.begin() + 1; next != pending_.end(); ++next)
                if ((*next)->stream_index == first.stream_index) ahead.push_back(next->get());
            const bool mayWait = !all && pending_.size() <= kMostInDoubt && pendingBytes_ <= kMostInDoubtBytes;
            if (!tracks_[index].settle(first, ahead, all, mayWait, {othersAfterFirst()})) return;
        }
        --pendingOf_[index];
        PacketPtr settled = std::move(pending_.front());
        pending_.pop_front();
        pendingBytes_ -= static_cast<std::size_t>(std::max(settled->size, 0));
        if (continueAcrossJoins(settled)) deliver(std::move(settled));
    }
}

std::int64_t Timelines::othersAfterFirst() const {
    // The few stored next after it in the file, the middle of them: one
    // damaged time among them tells nothing.
    const int own = pending_.front()->stream_index;
    std::deque<std::int64_t> times;
    for (auto next = pending_.begin() + 1; next != pending_.end() && times.size() <= TrackTimeline::kLookAhead;
         ++next) {
        const auto index = static_cast<std::size_t>((*next)->stream_index);
        // Where it shows: a decode time may be counted on through a lost signal.
        // A track whose times are in a run found damaged lies where its line
        // puts it.
        std::int64_t stamp = (*next)->pts != AV_NOPTS_VALUE ? (*next)->pts : (*next)->dts;
        if ((*next)->stream_index == own || stamp == AV_NOPTS_VALUE ||
            (streams_[index].kind != AVMEDIA_TYPE_VIDEO && streams_[index].kind != AVMEDIA_TYPE_AUDIO))
            continue;
        stamp += tracks_[index].offLineShift(storedStamp(**next));
        // In halves, as the track's own are compared: the difference need not fit.
        const std::int64_t half = micros(index, stamp / 2 - streams_[index].start / 2);
        times.push_back(2 * (half == AV_NOPTS_VALUE ? kBeyondMicros : std::clamp(half, -kBeyondMicros, kBeyondMicros)));
    }
    return times.empty() ? AV_NOPTS_VALUE : middleOf(times);
}

void Timelines::deliver(PacketPtr read) {
    const std::size_t index = static_cast<std::size_t>(read->stream_index);
    const StreamTiming& stream = streams_[index];
    if (const std::int64_t stamp = read->pts != AV_NOPTS_VALUE ? read->pts : read->dts;
        stream.read && stamp != AV_NOPTS_VALUE &&
        (stream.kind == AVMEDIA_TYPE_VIDEO || stream.kind == AVMEDIA_TYPE_AUDIO)) {
        const std::int64_t end = micros(index, stamp + std::max<std::int64_t>(read->duration, 0) - stream.start);
        if (recordingsReached_ == AV_NOPTS_VALUE || end > recordingsReached_) recordingsReached_ = end;
    }
    deliver_(std::move(read));
}

std::int64_t Timelines::outOfLineReached() const {
    std::int64_t furthest = AV_NOPTS_VALUE;
    for (std::size_t index = 0; index < tracks_.size(); ++index)
        if (const std::int64_t end = tracks_[index].furthestOutOfLine(); streams_[index].read && end != AV_NOPTS_VALUE)
            furthest = std::max(furthest, micros(index, end - streams_[index].start));
    return furthest;
}

bool Timelines::holds(std::size_t index) const {
    if (index >= streams_.size()) return false;
    const StreamClock& clock = clocks_[index];
    return pendingOf_[index] > 0 || clock.keptBack || !clock.untimed.empty() || !clock.held.empty();
}

bool Timelines::passedAhead(AVPacket& packet, const std::vector<const AVPacket*>& ahead, bool last, bool mayWait,
                            OthersBeside others) {
    const auto index = static_cast<std::size_t>(packet.stream_index);
    return index >= tracks_.size() || tracks_[index].settle(packet, ahead, last, mayWait, others);
}

void Timelines::finish() {
    finished_ = true;
    releaseAll();
}

void Timelines::releaseAll() {
    for (std::size_t index = 0; index < clocks_.size(); ++index) {
        if (PacketPtr last = std::move(clocks_[index].keptBack)) fileTimed(std::move(last));
        passUntimed(index);
    }
    settleReady(true);
    for (std::size_t index = 0; index < clocks_.size(); ++index)
        if (!clocks_[index].held.empty())
            releaseHeld(index, heldJump(index, clocks_[index].startedBehind ? Jump::pause : Jump::newRecording));
}

}  // namespace fw::media::detail

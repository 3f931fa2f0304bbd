// Where recordings were joined end to end (MPEG-TS, MPEG-PS), the clock starts
// again with each, or jumps: which packets begin a recording, pause a track or
// wrap the clock, and how far each recording's times are moved.

#include "platform/media/TrackTimeline.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace fw::media::detail {

namespace {

// A step back in time longer than this is a recording of its own joined on,
// not an overlap of the same one.
constexpr std::int64_t kLongestOverlap = AV_TIME_BASE;
// How far behind a join can leave one track's reading of the others.
constexpr std::int64_t kLongestGap = 10 * AV_TIME_BASE;
// A jump forward of every track past this is a recording of its own too: a
// clock that was not started again (kept as a gap, it would freeze the picture
// for as long). A shorter one, as where the signal was lost and the clock ran
// on, or one in a track while another runs on, is a pause and keeps its time.
constexpr std::int64_t kLongestLostSignal = 60 * AV_TIME_BASE;

std::int64_t storedStamp(const AVPacket& packet) { return packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts; }

void moveTimes(AVPacket& packet, std::int64_t by) {
    if (packet.pts != AV_NOPTS_VALUE) packet.pts += by;
    if (packet.dts != AV_NOPTS_VALUE) packet.dts += by;
}

// Whether a track that got to `reached` ran on through a jump of another
// from `from` to `to`, rather than stopping where the other jumped: it got
// halfway, or further than any join could leave it behind.
bool ranOn(std::int64_t reached, std::int64_t from, std::int64_t to) {
    return reached - from > std::min((to - from) / 2, kLongestGap);
}

}  // namespace

std::int64_t Timelines::clockReached(std::size_t index) const { return micros(index, clocks_[index].lastEnd); }

bool Timelines::jumpedAlone(std::size_t index) const {
    const StreamClock& clock = clocks_[index];
    std::int64_t reached = AV_NOPTS_VALUE;
    for (std::size_t other = 0; other < clocks_.size(); ++other) {
        const StreamClock& theirs = clocks_[other];
        if (other != index && theirs.lastEnd != AV_NOPTS_VALUE && theirs.recording == clock.recording &&
            theirs.held.empty())
            reached = std::max(reached, clockReached(other));
    }
    return reached != AV_NOPTS_VALUE && reached - clock.jumpFrom > kLongestOverlap &&
           clock.jumpTo - reached > kLongestLostSignal;
}

Timelines::OtherTracks Timelines::otherTracks(std::size_t index) const {
    const StreamClock& clock = clocks_[index];
    OtherTracks others = OtherTracks::none;
    for (std::size_t other = 0; other < clocks_.size(); ++other) {
        const StreamClock& theirs = clocks_[other];
        // One already in a later recording has its clock started again, and
        // one whose jump is still in doubt has jumped too.
        if (other == index || theirs.lastEnd == AV_NOPTS_VALUE || theirs.recording != clock.recording ||
            !theirs.held.empty())
            continue;
        if (ranOn(clockReached(other), clock.jumpFrom, clock.jumpTo)) return OtherTracks::ranOn;
        others = OtherTracks::behind;
    }
    return others;
}

bool Timelines::joinLatestRecording(std::size_t index, std::int64_t at) {
    std::optional<std::size_t> latest;
    std::int64_t reached = AV_NOPTS_VALUE;
    for (std::size_t other = 0; other < clocks_.size(); ++other) {
        const StreamClock& theirs = clocks_[other];
        if (other == index || theirs.lastEnd == AV_NOPTS_VALUE || !theirs.held.empty()) continue;
        if (latest && theirs.recording < *latest) continue;
        if (latest && theirs.recording > *latest) reached = AV_NOPTS_VALUE;
        latest = theirs.recording;
        reached = std::max(reached, clockReached(other));
    }
    if (!latest) return false;
    clocks_[index].recording = *latest;
    return reached - at > kLargestSeamlessJump;
}

void Timelines::startRecording(std::size_t index, const AVPacket& first, std::int64_t reached) {
    StreamClock& clock = clocks_[index];
    if (++clock.recording < recordingShifts_.size()) return;
    // The first packet of the next recording read: it starts where reading
    // had got to then, and the other tracks keep their place to it.
    const std::int64_t start = first.pts != AV_NOPTS_VALUE ? first.pts : storedStamp(first);
    const std::int64_t at = micros(index, start - streams_[index].start);
    recordingShifts_.push_back(reached == AV_NOPTS_VALUE ? 0 : reached - at);
}

void Timelines::wrapClock(std::size_t index) {
    StreamClock& clock = clocks_[index];
    const std::int64_t before = recordingShifts_[clock.recording];
    if (++clock.recording < recordingShifts_.size()) return;
    recordingShifts_.push_back(before + micros(index, std::int64_t{1} << streams_[index].wrapBits));
}

void Timelines::moveToRecording(AVPacket& packet) const {
    const std::size_t index = static_cast<std::size_t>(packet.stream_index);
    if (index < clocks_.size()) moveToRecording(packet, clocks_[index].recording);
}

void Timelines::moveToRecording(AVPacket& packet, std::size_t recording) const {
    const std::size_t index = static_cast<std::size_t>(packet.stream_index);
    const std::int64_t shift = recordingShifts_[recording];
    if (shift == 0) return;
    const std::int64_t moved = av_rescale_q(shift, AV_TIME_BASE_Q, streams_[index].timeBase);
    if (packet.pts != AV_NOPTS_VALUE) packet.pts += moved;
    if (packet.dts != AV_NOPTS_VALUE) packet.dts += moved;
}

void Timelines::releaseHeld(std::size_t index, Jump jump) {
    StreamClock& clock = clocks_[index];
    std::vector<PacketPtr> held = std::move(clock.held);
    const std::vector<std::size_t> leftBehind = std::move(clock.heldLeftBehind);
    clock.held.clear();
    clock.heldLeftBehind.clear();
    clock.heldLength = 0;
    clock.startedBehind = false;
    if (jump == Jump::newRecording) startRecording(index, *held.front(), clock.reachedAtJump);
    if (jump == Jump::ownClock || jump == Jump::run) {
        followOwnClock(*held.front(), jump == Jump::ownClock);
        for (std::size_t i = 1; i < held.size(); ++i)
            if (std::find(leftBehind.begin(), leftBehind.end(), i) == leftBehind.end())
                moveTimes(*held[i], clock.backToLine);
        clock.lastStamp += clock.backToLine;
        clock.lastEnd += clock.backToLine;
    }
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (std::find(leftBehind.begin(), leftBehind.end(), i) != leftBehind.end())
            moveToRecording(*held[i], clock.leftRecording);
        else
            moveToRecording(*held[i]);
        deliver(std::move(held[i]));
    }
}

void Timelines::followOwnClock(AVPacket& jumped, bool lasting) {
    StreamClock& clock = clocks_[jumped.stream_index];
    if (lasting) clock.ownShift += clock.backToLine;
    moveTimes(jumped, clock.backToLine);
    if (timeJumped(jumped)) jumped.opaque = nullptr;
}

bool Timelines::cameBack(std::size_t index, std::int64_t at) const {
    const StreamClock& clock = clocks_[index];
    const std::int64_t online = clock.jumpFrom + clockReached(index) - clock.jumpTo;
    return !clock.startedBehind && clock.jumpTo - at > kLongestLostSignal && std::abs(at - online) <= kLongestGap;
}

Timelines::Jump Timelines::heldJump(std::size_t index, Jump otherwise) const {
    return !clocks_[index].startedBehind && jumpedAlone(index) ? Jump::ownClock : otherwise;
}

bool Timelines::continueAcrossJoins(PacketPtr& packet) {
    if (!joinsRecordings_) return true;
    const std::size_t index = static_cast<std::size_t>(packet->stream_index);
    StreamClock& clock = clocks_[index];
    const auto micros = [&](std::int64_t ticks) { return this->micros(index, ticks); };
    // A track whose clock jumped alone runs on from where it had got to.
    moveTimes(*packet, clock.ownShift);
    const AVMediaType kind = streams_[index].kind;
    const int wrapBits = streams_[index].wrapBits;
    // A picture shown further after its decode time than pictures are ever
    // reordered comes after a jump that its decode time, counted on by the
    // encoder through a lost signal, does not show: its showing time tells
    // where it lies, and it shows that one recording runs on across the jump.
    const bool acrossJump = kind == AVMEDIA_TYPE_VIDEO && packet->pts != AV_NOPTS_VALUE &&
                            packet->dts != AV_NOPTS_VALUE && micros(packet->pts - packet->dts) > kLongestGap;
    if (acrossJump) packet->dts = AV_NOPTS_VALUE;
    std::int64_t stamp = storedStamp(*packet);
    // And the pictures decoded after it but shown before the jump belong to
    // the recording before.
    const bool leftBehind = kind == AVMEDIA_TYPE_VIDEO && clock.leftEnd != AV_NOPTS_VALUE && stamp != AV_NOPTS_VALUE &&
                            stamp < clock.lastStamp && std::abs(micros(stamp - clock.leftEnd)) <= kLargestSeamlessJump;
    // A track that steps back by as far as it jumped was neither paused nor
    // in a new recording (whose clock would not come back): the run between
    // takes the times its line implies, and what follows keeps its own.
    if (!clock.held.empty() && !leftBehind && stamp != AV_NOPTS_VALUE && cameBack(index, micros(stamp)))
        releaseHeld(index, Jump::run);
    if (!clock.held.empty()) {
        if (leftBehind) {
            clock.heldLeftBehind.push_back(clock.held.size());
            clock.held.push_back(std::move(packet));
            return false;
        }
        // What follows a jump in doubt waits with it, for as long as the
        // track runs no further than a join could leave the others behind,
        // by its times or by the length of what waits (times stuck after a
        // jump move on no further).
        if (stamp != AV_NOPTS_VALUE) {
            clock.lastStamp = stamp;
            clock.lastEnd = stamp + std::max<std::int64_t>(packet->duration, 0);
        }
        clock.heldLength += micros(std::max<std::int64_t>(packet->duration, 0));
        clock.held.push_back(std::move(packet));
        if (micros(clock.lastEnd) - clock.jumpTo > kLongestGap || clock.heldLength > kLongestGap)
            releaseHeld(index, heldJump(index, Jump::newRecording));
        return false;
    }
    if (stamp == AV_NOPTS_VALUE) return true;
    // Subtitles and data come and go; only pictures and sound keep a clock.
    if (kind != AVMEDIA_TYPE_VIDEO && kind != AVMEDIA_TYPE_AUDIO) return true;
    if (leftBehind) {
        moveToRecording(*packet, clock.leftRecording);
        return true;
    }
    const bool back = clock.lastStamp != AV_NOPTS_VALUE && stamp < clock.lastStamp;
    if (clock.lastStamp == AV_NOPTS_VALUE && joinLatestRecording(index, micros(stamp))) {
        // The track's first packet, behind where the others have got to: a
        // recording joined on that brings a track of its own, or only one
        // stored late. The others' next packets tell: they start again too,
        // or run on.
        clock.jumpFrom = clock.jumpTo = micros(stamp);
        clock.startedBehind = true;
        clock.lastStamp = stamp;
        clock.lastEnd = stamp + std::max<std::int64_t>(packet->duration, 0);
        clock.reachedAtJump = recordingsReached_;
        clock.held.push_back(std::move(packet));
        return false;
    }
    const bool ahead = clock.lastEnd != AV_NOPTS_VALUE && micros(stamp - clock.lastEnd) > kLargestSeamlessJump;
    const std::size_t recording = clock.recording;
    // A step back by more than half the clock's range is its wrap (a 33-bit
    // clock at 90 kHz wraps every 26.5 hours): the recording runs on. The
    // library counts on across a wrap only in the first recording.
    const bool wrapped = back && wrapBits < 63 && clock.lastStamp - stamp > (std::int64_t{1} << (wrapBits - 1));
    bool newRecording = false;
    if (wrapped) {
        wrapClock(index);
    } else if (back || ahead) {
        packet->opaque = const_cast<char*>(&kTimeJumped);
        if (ahead) {
            clock.leftEnd = clock.lastEnd;
            clock.leftRecording = recording;
        }
        if (back) {
            newRecording = micros(clock.lastStamp - stamp) > kLongestOverlap;
            if (newRecording) clock.leftEnd = AV_NOPTS_VALUE;
        } else if (micros(stamp - clock.lastEnd) > kLongestLostSignal && !acrossJump) {
            // A new recording only when every track jumps; one jumping while
            // another runs on has paused, unless the others never come near
            // where it jumped to: then its clock jumped alone. Which it is
            // shows when the others either jump too or run on.
            clock.jumpFrom = micros(clock.lastEnd);
            clock.jumpTo = micros(stamp);
            clock.backToLine = clock.lastEnd - stamp;
            const bool alone = jumpedAlone(index);
            switch (otherTracks(index)) {
            case OtherTracks::ranOn: break;
            case OtherTracks::none: newRecording = true; break;
            case OtherTracks::behind:
                // Even once the file is read through: the others' packets
                // still to settle may jump too.
                clock.lastStamp = stamp;
                clock.lastEnd = stamp + std::max<std::int64_t>(packet->duration, 0);
                clock.reachedAtJump = recordingsReached_;
                clock.held.push_back(std::move(packet));
                return false;
            }
            if (alone && !newRecording) {
                followOwnClock(*packet);
                stamp = storedStamp(*packet);
            }
        }
        if (newRecording) {
            // Those whose jump was in doubt jumped with this one, and before it.
            for (std::size_t other = 0; other < clocks_.size(); ++other)
                if (other != index && !clocks_[other].held.empty() && clocks_[other].recording == recording)
                    releaseHeld(other, Jump::newRecording);
            startRecording(index, *packet, recordingsReached_);
        }
    }
    clock.lastStamp = stamp;
    clock.lastEnd = stamp + std::max<std::int64_t>(packet->duration, 0);
    moveToRecording(*packet);
    // Running on through the jumps in doubt of the others in its recording,
    // this track shows them to be pauses.
    for (std::size_t other = 0; other < clocks_.size(); ++other) {
        const StreamClock& theirs = clocks_[other];
        if (other == index || theirs.held.empty() || theirs.recording != recording) continue;
        if (ranOn(clockReached(index), theirs.jumpFrom, theirs.jumpTo))
            releaseHeld(other, heldJump(other, Jump::pause));
    }
    return true;
}

}  // namespace fw::media::detail

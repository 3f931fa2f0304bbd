#include "platform/media/InterleavePacer_internal.h"

namespace fw::media::detail {

std::size_t InterleavePacer::addTrack() {
    std::lock_guard lock(mutex_);
    tracks_.emplace_back();
    return tracks_.size() - 1;
}

bool InterleavePacer::mayAppend(std::size_t track, double seconds) const {
    const double own = tracks_[track].position();
    for (std::size_t other = 0; other < tracks_.size(); ++other) {
        const Track& held = tracks_[other];
        if (other == track || !(held.begun || held.expected) || held.finished) continue;
        // One whose pull waits for the others to take what was read for them
        // has its next sample beyond theirs.
        if (held.sourceWaiting && !held.waiting) continue;
        // A track that waits holds this one only from behind it: one waiting
        // for what this one's encoder holds must not hold the appends that
        // bring it out. One on its way to its next sample holds it as it is.
        const double at = held.position();
        if ((at < own || !held.waiting) && seconds > at + maxLeadSeconds_) return false;
    }
    return true;
}

bool InterleavePacer::waitToAppend(std::size_t track, double seconds) {
    std::unique_lock lock(mutex_);
    Track& own = tracks_.at(track);
    // The frontier moves before the wait: a track that waits with its next
    // sample must not hold the others behind its previous one.
    if (!own.begun || seconds > own.frontierSeconds) {
        own.begun = true;
        own.frontierSeconds = seconds;
    }
    own.waiting = true;
    moved_.notify_all();
    moved_.wait(lock, [&] { return stopped_ || mayAppend(track, seconds); });
    own.waiting = false;
    return !stopped_;
}

void InterleavePacer::expectFirst(std::size_t track, double seconds) {
    std::lock_guard lock(mutex_);
    Track& own = tracks_.at(track);
    if (own.begun || own.finished) return;
    own.expected = true;
    own.frontierSeconds = seconds;
    moved_.notify_all();
}

void InterleavePacer::hold(std::size_t track, double seconds) {
    std::lock_guard lock(mutex_);
    tracks_.at(track).heldSeconds.push_back(seconds);
}

void InterleavePacer::release(std::size_t track) {
    {
        std::lock_guard lock(mutex_);
        auto& held = tracks_.at(track).heldSeconds;
        if (held.empty()) return;
        held.pop_front();
    }
    moved_.notify_all();
}

void InterleavePacer::setSourceWaiting(std::size_t track, bool waiting) {
    {
        std::lock_guard lock(mutex_);
        tracks_.at(track).sourceWaiting = waiting;
    }
    moved_.notify_all();
}

void InterleavePacer::finish(std::size_t track) {
    {
        std::lock_guard lock(mutex_);
        Track& own = tracks_.at(track);
        own.finished = true;
        own.heldSeconds.clear();
    }
    moved_.notify_all();
}

void InterleavePacer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    moved_.notify_all();
}

}  // namespace fw::media::detail

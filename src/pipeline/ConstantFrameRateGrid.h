#pragma once
// Re-times transformed frames onto a constant-frame-rate grid.
//
// Each grid time g receives the latest source frame whose time is at most g: a
// grid time is filled only once a source frame later than it arrives, and then
// with the frame held at that moment. Faster sources are thinned, slower ones
// have frames repeated (the same frame handed out at several grid times). The
// grid starts at the later of the start time and the first frame's time and
// advances by repeated addition of the interval, so the times drift the way
// accumulated doubles do (1/20 s steps land slightly below exact multiples);
// callers depend on that. At the end of the source the held frame goes out
// once, at the next grid time.
//
// With no target rate (or one that is not above 0) the grid is off and every
// frame goes out at its own time.
//
// Frames whose time is not finite are dropped: such a time cannot be placed,
// and filling the grid up to it would never end.
//
// Frame is any copyable handle (a PixelBufferRef in the pump). Thread-safety:
// none; one pump owns one grid.

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>
#include <utility>

namespace fw {

template <class Frame>
class ConstantFrameRateGrid {
public:
    struct Entry {
        Frame buffer;
        double time = 0;
    };

    // startSeconds: source time at which the read range starts.
    ConstantFrameRateGrid(double startSeconds, std::optional<double> targetFrameRate)
        : nextGridTime_(startSeconds),
          frameInterval_(targetFrameRate && *targetFrameRate > 0 ? 1.0 / *targetFrameRate : 0.0) {}

    bool isOn() const { return frameInterval_ > 0; }
    double frameInterval() const { return frameInterval_; }
    double nextGridTime() const { return nextGridTime_; }

    // A transformed source frame at source time t. Afterwards, take what is
    // due with nextPending() until it returns nothing.
    void add(Frame frame, double t) {
        if (!std::isfinite(t)) return;
        if (!isOn()) {
            pendingFrames_.push_back(Entry{std::move(frame), t});
            return;
        }
        if (!heldFrame_) {
            nextGridTime_ = std::max(nextGridTime_, t);
        } else {
            while (nextGridTime_ < t) {
                pendingFrames_.push_back(Entry{*heldFrame_, nextGridTime_});
                nextGridTime_ = nextGridTime_ + frameInterval_;
            }
        }
        heldFrame_ = std::move(frame);
    }

    // The oldest frame due for writing, first in first out.
    std::optional<Entry> nextPending() {
        if (pendingFrames_.empty()) return std::nullopt;
        Entry entry = std::move(pendingFrames_.front());
        pendingFrames_.pop_front();
        return entry;
    }

    // At the end of the source: the held frame at the next grid time, once.
    // Nothing when the grid is off or no frame was held.
    std::optional<Entry> finish() {
        if (!isOn() || !heldFrame_) return std::nullopt;
        Entry entry{std::move(*heldFrame_), nextGridTime_};
        heldFrame_.reset();
        return entry;
    }

private:
    std::deque<Entry> pendingFrames_;
    std::optional<Frame> heldFrame_;
    double nextGridTime_;
    double frameInterval_;
};

}  // namespace fw

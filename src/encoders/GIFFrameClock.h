#pragma once
// Which source frames of a movie become GIF frames, and how long each is
// shown.
//
// Taking: slots lie at whole multiples of the frame interval from the first
// frame taken; a source frame is taken when its time reaches the first slot
// after the frame taken before it. So at most `frameRate` frames a second are
// taken, a slower source keeps every frame, and slot times are products, never
// running sums, so they do not drift. A time within a thousandth of an
// interval below a slot counts as reaching it: 5/30 s meets 2/12 s however the
// two were rounded.
//
// Showing: a GIF frame stands from its own source time to the next taken
// frame's (the last one to the end of the source), so a 10 fps source plays at
// its own speed in a 12 fps GIF. Delays are whole hundredths of a second,
// taken as differences of the times from the first frame rounded to
// hundredths: however many frames, they add up to the rounded length of the
// whole, never drifting from it.
//
// Thread-safety: a plain value; one encode owns one.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace fw {

class GIFFrameClock {
public:
    // REQUIRES: frameRate finite and above 0.
    explicit GIFFrameClock(double frameRate) : interval_(1.0 / frameRate) {}

    double interval() const { return interval_; }

    // True when the source frame at `seconds` is taken; it then counts as the
    // last frame taken. REQUIRES: seconds finite; frames in presentation order.
    bool takes(double seconds) {
        const double tolerance = interval_ * 1e-3;
        if (!origin_) {
            origin_ = seconds;
            nextSlot_ = 1;
            return true;
        }
        if (seconds + tolerance < *origin_ + nextSlot_ * interval_) return false;
        nextSlot_ = std::floor((seconds - *origin_ + tolerance) / interval_) + 1;
        return true;
    }

    // Hundredths of a second from the first frame taken to `seconds`, rounded;
    // 0 before it or before any frame was taken, and held below 2^53.
    std::int64_t hundredthsAt(double seconds) const {
        if (!origin_ || !(seconds > *origin_)) return 0;
        return static_cast<std::int64_t>(std::min(std::round((seconds - *origin_) * 100.0), kLargestHundredths));
    }

    // The delay of a frame at `from` followed by one at `to`, in hundredths.
    std::int64_t delayHundredths(double from, double to) const { return hundredthsAt(to) - hundredthsAt(from); }

private:
    static constexpr double kLargestHundredths = 9007199254740992.0;  // 2^53

    double interval_;
    std::optional<double> origin_;
    double nextSlot_ = 0;  // a count of intervals; a double, so a huge time cannot overflow it
};

}  // namespace fw

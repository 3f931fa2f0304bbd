#pragma once
// Live preview images of the frames an encode is processing: a throttle that
// lets at most one preview through per interval, and a renderer that turns a
// frame into a small bgra8 image.

#include "platform/media/PixelBuffer.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace fw {

// One preview image handed to an encoder's preview callback. The image is a
// bgra8 buffer that nobody writes to any more; share it freely.
struct PreviewFrame {
    std::shared_ptr<const media::PixelBuffer> image;
};

// Decides whether a preview may be emitted now. Thread-safe: several pumps may
// share one throttle, and two callers never both get true within one interval.
class PreviewThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // `intervalSeconds` is the least time between two previews (encoders use 0.1).
    explicit PreviewThrottle(double intervalSeconds) : interval_(intervalSeconds) {}

    // True when at least the interval has passed since the last true answer
    // (always true the first time); a true answer records `now`. A `now` before
    // the last recorded time answers false.
    bool shouldEmit(Clock::time_point now);
    bool shouldEmit() { return shouldEmit(Clock::now()); }

private:
    std::mutex mutex_;
    const double interval_;
    std::optional<Clock::time_point> last_;
};

class PreviewRenderer {
public:
    // A bgra8 copy of `frame` scaled down by area averaging so that its longer
    // side is at most `maxDimension` pixels (encoders pass 480); frames already
    // that small keep their size (a preview is never enlarged). Sizes round to
    // the nearest pixel, at least 1. Reads bgra8 (straight alpha, averaged
    // weighted by alpha), x420, i420 and x422 (video range, in their own matrix)
    // and rgbaHalf (values 0…1).
    // nullptr when maxDimension is not a positive number or memory runs out.
    // Thread-safe: keeps no state; `frame` must not be written meanwhile.
    static media::PixelBufferRef downscaledImage(const media::PixelBuffer& frame, double maxDimension);

    static constexpr double kMaxDimension = 480;
};

}  // namespace fw

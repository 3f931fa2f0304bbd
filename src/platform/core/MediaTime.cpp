#include "platform/core/MediaTime.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace fw {

namespace {

constexpr __int128 kLargest = std::numeric_limits<std::int64_t>::max();
constexpr __int128 kSmallest = std::numeric_limits<std::int64_t>::min();

std::int64_t saturate(__int128 value) { return static_cast<std::int64_t>(std::clamp(value, kSmallest, kLargest)); }

// Halves away from zero. REQUIRES: denominator > 0.
__int128 roundDivide(__int128 numerator, __int128 denominator) {
    const __int128 half = denominator / 2;
    return numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
}

// -1, 0 or +1 for negative infinity, a numeric time and positive infinity.
int infinitySign(const MediaTime& time) { return time.isPositiveInfinity() ? 1 : time.isNegativeInfinity() ? -1 : 0; }

MediaTime combine(const MediaTime& a, const MediaTime& b, int sign) {
    if (!a.isValid() || !b.isValid()) return MediaTime::invalid();
    const int left = infinitySign(a), right = sign * infinitySign(b);
    if (left != 0 || right != 0) {
        if (left != 0 && right != 0 && left != right) return MediaTime::invalid();
        return (left != 0 ? left : right) > 0 ? MediaTime::positiveInfinity() : MediaTime::negativeInfinity();
    }
    const std::int64_t lcm =
        std::lcm(static_cast<std::int64_t>(a.timescale()), static_cast<std::int64_t>(b.timescale()));
    const std::int32_t scale = lcm <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(lcm)
                                                                               : std::max(a.timescale(), b.timescale());
    const MediaTime x = a.convertScale(scale), y = b.convertScale(scale);
    const __int128 sum = static_cast<__int128>(x.value()) + sign * static_cast<__int128>(y.value());
    if (sum > kLargest || sum < kSmallest) return MediaTime::invalid();
    return MediaTime(static_cast<std::int64_t>(sum), scale);
}

}  // namespace

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t timescale) {
    if (timescale <= 0 || std::isnan(seconds)) return invalid();
    if (std::isinf(seconds)) return seconds > 0 ? positiveInfinity() : negativeInfinity();
    // 9.2e18 is the largest round double below 2^63, so the cast is defined.
    constexpr double kLimit = 9.2e18;
    return MediaTime(static_cast<std::int64_t>(std::clamp(std::round(seconds * timescale), -kLimit, kLimit)),
                     timescale);
}

double MediaTime::seconds() const {
    switch (kind_) {
    case Kind::numeric: return static_cast<double>(value_) / timescale_;
    case Kind::positiveInfinity: return std::numeric_limits<double>::infinity();
    case Kind::negativeInfinity: return -std::numeric_limits<double>::infinity();
    case Kind::invalid: break;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

MediaTime MediaTime::convertScale(std::int32_t timescale) const {
    if (timescale <= 0) return invalid();
    if (!isNumeric() || timescale == timescale_) return *this;
    return MediaTime(saturate(roundDivide(static_cast<__int128>(value_) * timescale, timescale_)), timescale);
}

std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
    if (!a.isValid() || !b.isValid()) return a.isValid() <=> b.isValid();
    if (!a.isNumeric() || !b.isNumeric()) return infinitySign(a) <=> infinitySign(b);
    const __int128 left = static_cast<__int128>(a.value_) * b.timescale_;
    const __int128 right = static_cast<__int128>(b.value_) * a.timescale_;
    return left <=> right;
}

MediaTime operator+(const MediaTime& a, const MediaTime& b) { return combine(a, b, 1); }
MediaTime operator-(const MediaTime& a, const MediaTime& b) { return combine(a, b, -1); }

}  // namespace fw

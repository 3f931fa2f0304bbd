#include "platform/media/MediaTime.h"

#include <cmath>
#include <limits>
#include <numeric>

namespace fw::media {

namespace {

std::int64_t roundDivide(__int128 numerator, __int128 denominator) {
    // Halves away from zero; denominator > 0.
    __int128 half = denominator / 2;
    __int128 q = numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
    if (q > std::numeric_limits<std::int64_t>::max()) return std::numeric_limits<std::int64_t>::max();
    if (q < std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(q);
}

MediaTime combine(const MediaTime& a, const MediaTime& b, int sign) {
    if (!a.isValid() || !b.isValid()) return MediaTime::invalid();
    if (a.isPositiveInfinity() || b.isPositiveInfinity()) {
        if (sign < 0 && b.isPositiveInfinity()) return MediaTime::invalid();
        return MediaTime::positiveInfinity();
    }
    std::int64_t lcm = std::lcm(static_cast<std::int64_t>(a.timescale()), static_cast<std::int64_t>(b.timescale()));
    std::int32_t scale = lcm <= std::numeric_limits<std::int32_t>::max()
                             ? static_cast<std::int32_t>(lcm)
                             : std::max(a.timescale(), b.timescale());
    MediaTime x = a.convertScale(scale), y = b.convertScale(scale);
    __int128 v = static_cast<__int128>(x.value()) + sign * static_cast<__int128>(y.value());
    if (v > std::numeric_limits<std::int64_t>::max() || v < std::numeric_limits<std::int64_t>::min())
        return MediaTime::invalid();
    return MediaTime(static_cast<std::int64_t>(v), scale);
}

}  // namespace

MediaTime MediaTime::fromSeconds(double seconds, std::int32_t preferredTimescale) {
    if (preferredTimescale <= 0 || std::isnan(seconds)) return invalid();
    if (seconds == std::numeric_limits<double>::infinity()) return positiveInfinity();
    double scaled = std::round(seconds * preferredTimescale);
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) return invalid();
    return MediaTime(static_cast<std::int64_t>(scaled), preferredTimescale);
}

double MediaTime::seconds() const {
    if (!isValid()) return std::numeric_limits<double>::quiet_NaN();
    if (isPositiveInfinity()) return std::numeric_limits<double>::infinity();
    return static_cast<double>(value_) / timescale_;
}

MediaTime MediaTime::convertScale(std::int32_t timescale) const {
    if (!isNumeric() || timescale <= 0) return timescale <= 0 ? invalid() : *this;
    if (timescale == timescale_) return *this;
    return MediaTime(roundDivide(static_cast<__int128>(value_) * timescale, timescale_), timescale);
}

std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
    if (!a.isValid() || !b.isValid()) return a.isValid() <=> b.isValid();
    if (a.isPositiveInfinity() || b.isPositiveInfinity())
        return a.isPositiveInfinity() <=> b.isPositiveInfinity();
    __int128 left = static_cast<__int128>(a.value_) * b.timescale_;
    __int128 right = static_cast<__int128>(b.value_) * a.timescale_;
    return left <=> right;
}

MediaTime operator+(const MediaTime& a, const MediaTime& b) { return combine(a, b, 1); }
MediaTime operator-(const MediaTime& a, const MediaTime& b) { return combine(a, b, -1); }

}  // namespace fw::media

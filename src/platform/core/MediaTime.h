#pragma once
// Rational media time: value / timescale seconds, plus the invalid time and
// the two infinities that open ranges use. Times made from seconds count in
// kSecondsTimescale unless a caller asks for another timescale.
// Plain values; safe to copy between threads.

#include <compare>
#include <cstdint>

#include "platform/core/MediaUnits.h"

namespace fw {

class MediaTime {
public:
    // The invalid time.
    constexpr MediaTime() = default;
    // REQUIRES: timescale > 0 (a non-positive timescale gives the invalid time).
    constexpr MediaTime(std::int64_t value, std::int32_t timescale)
        : value_(value), timescale_(timescale), kind_(timescale > 0 ? Kind::numeric : Kind::invalid) {}

    static constexpr MediaTime zero() { return MediaTime(0, 1); }
    static constexpr MediaTime invalid() { return MediaTime(); }
    static constexpr MediaTime positiveInfinity() { return infinity(Kind::positiveInfinity); }
    static constexpr MediaTime negativeInfinity() { return infinity(Kind::negativeInfinity); }
    // Nearest value at `timescale`, halves away from zero. NaN or a timescale
    // of 0 or less gives the invalid time; ±inf the matching infinity; finite
    // values beyond the 64-bit range saturate, as convertScale does.
    static MediaTime fromSeconds(double seconds, std::int32_t timescale = kSecondsTimescale);

    std::int64_t value() const { return value_; }
    std::int32_t timescale() const { return timescale_; }
    bool isValid() const { return kind_ != Kind::invalid; }
    bool isPositiveInfinity() const { return kind_ == Kind::positiveInfinity; }
    bool isNegativeInfinity() const { return kind_ == Kind::negativeInfinity; }
    // Valid and finite.
    bool isNumeric() const { return kind_ == Kind::numeric; }

    // NaN for the invalid time, ±inf for the infinities.
    double seconds() const;
    // The same time at another timescale, rounded to nearest (halves away from
    // zero) and saturating at the 64-bit range. Invalid and infinite times stay
    // as they are; a timescale of 0 or less gives the invalid time.
    MediaTime convertScale(std::int32_t timescale) const;

    // Ordering by the time meant, not its spelling (1/2 == 300/600): the
    // invalid time first (equal to itself), then negative infinity, the
    // numeric times, positive infinity.
    friend std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b);
    friend bool operator==(const MediaTime& a, const MediaTime& b) { return (a <=> b) == 0; }

    // Invalid if either side is invalid or the result leaves the 64-bit range;
    // an infinity absorbs numeric values, opposite infinities cancel to the
    // invalid time. Mixed timescales are added at their least common multiple
    // when that fits, else at the larger one.
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b);
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b);

private:
    enum class Kind : std::uint8_t { invalid, numeric, positiveInfinity, negativeInfinity };
    static constexpr MediaTime infinity(Kind kind) {
        MediaTime time(0, 1);
        time.kind_ = kind;
        return time;
    }

    std::int64_t value_ = 0;
    std::int32_t timescale_ = 0;
    Kind kind_ = Kind::invalid;
};

struct TimeRange {
    MediaTime start = MediaTime::zero();
    MediaTime duration = MediaTime::positiveInfinity();

    // start + duration; positive infinity for an open range.
    MediaTime end() const { return start + duration; }
    // The range from zero to the end of whatever is read.
    static TimeRange everything() { return {}; }
    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

}  // namespace fw

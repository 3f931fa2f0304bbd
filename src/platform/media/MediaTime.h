#pragma once
// Rational media time: value / timescale seconds, with the invalid and the
// positive-infinity times that the reader and writer use for open ranges.
// Plain values; safe to copy between threads.

#include <compare>
#include <cstdint>

namespace fw::media {

class MediaTime {
public:
    // The invalid time.
    constexpr MediaTime() = default;
    // REQUIRES: timescale > 0 (a non-positive timescale gives the invalid time).
    constexpr MediaTime(std::int64_t value, std::int32_t timescale)
        : value_(value), timescale_(timescale), flags_(timescale > 0 ? kValid : 0) {}

    static constexpr MediaTime zero() { return MediaTime(0, 1); }
    static constexpr MediaTime invalid() { return MediaTime(); }
    static constexpr MediaTime positiveInfinity() {
        MediaTime t(0, 1);
        t.flags_ = kValid | kPositiveInfinity;
        return t;
    }
    // Nearest value at the preferred timescale (halves away from zero). A NaN
    // gives the invalid time, +inf positive infinity; -inf and values out of
    // range give the invalid time. REQUIRES: preferredTimescale > 0.
    static MediaTime fromSeconds(double seconds, std::int32_t preferredTimescale);

    std::int64_t value() const { return value_; }
    std::int32_t timescale() const { return timescale_; }
    bool isValid() const { return flags_ & kValid; }
    bool isPositiveInfinity() const { return (flags_ & kValid) && (flags_ & kPositiveInfinity); }
    // Valid and finite.
    bool isNumeric() const { return isValid() && !isPositiveInfinity(); }

    // NaN for the invalid time, +inf for positive infinity.
    double seconds() const;
    // The same time at another timescale, rounded to nearest (halves away from
    // zero). Invalid and infinite times stay as they are.
    MediaTime convertScale(std::int32_t timescale) const;

    // Ordering: numeric times by value; positive infinity after every numeric
    // time; the invalid time compares equal to itself and before everything else.
    friend std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b);
    friend bool operator==(const MediaTime& a, const MediaTime& b) { return (a <=> b) == 0; }

    // Invalid if either side is invalid; infinity absorbs numeric values
    // (infinity minus infinity is invalid). Mixed timescales are added at
    // their least common multiple when that fits, else at the larger one.
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b);
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b);

private:
    static constexpr std::uint8_t kValid = 1;
    static constexpr std::uint8_t kPositiveInfinity = 2;
    std::int64_t value_ = 0;
    std::int32_t timescale_ = 0;
    std::uint8_t flags_ = 0;
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

}  // namespace fw::media

#pragma once
// Rational media time (value / timescale), as the movie paths stamp samples.
// Times made from seconds use timescale 600 unless a path says otherwise.
// Thread-safety: plain values.

#include <cmath>
#include <cstdint>
#include <limits>

namespace fw {

struct MediaTime {
    enum class Kind { invalid, numeric, positiveInfinity, negativeInfinity };

    std::int64_t value = 0;
    std::int32_t timescale = 0;
    Kind kind = Kind::invalid;

    static constexpr std::int32_t kDefaultTimescale = 600;

    static constexpr MediaTime zero() { return {0, 1, Kind::numeric}; }
    static constexpr MediaTime invalid() { return {}; }
    static constexpr MediaTime positiveInfinity() { return {0, 0, Kind::positiveInfinity}; }
    static constexpr MediaTime negativeInfinity() { return {0, 0, Kind::negativeInfinity}; }
    static constexpr MediaTime make(std::int64_t value, std::int32_t timescale) {
        return timescale > 0 ? MediaTime{value, timescale, Kind::numeric} : invalid();
    }

    // Nearest value at `timescale`, halves away from zero. NaN or a timescale
    // of 0 or less gives invalid; infinities give the matching infinity; values
    // beyond the 64-bit range are clamped.
    static MediaTime fromSeconds(double seconds, std::int32_t timescale = kDefaultTimescale) {
        if (std::isnan(seconds) || timescale <= 0) return invalid();
        if (std::isinf(seconds)) return seconds > 0 ? positiveInfinity() : negativeInfinity();
        double scaled = std::round(seconds * timescale);
        constexpr double kLimit = 9.2e18;
        if (scaled > kLimit) scaled = kLimit;
        if (scaled < -kLimit) scaled = -kLimit;
        return {static_cast<std::int64_t>(scaled), timescale, Kind::numeric};
    }

    bool isValid() const { return kind != Kind::invalid; }
    bool isNumeric() const { return kind == Kind::numeric; }
    bool isPositiveInfinity() const { return kind == Kind::positiveInfinity; }

    // NaN when invalid, ±infinity for the infinities.
    double seconds() const {
        switch (kind) {
        case Kind::numeric: return static_cast<double>(value) / timescale;
        case Kind::positiveInfinity: return std::numeric_limits<double>::infinity();
        case Kind::negativeInfinity: return -std::numeric_limits<double>::infinity();
        case Kind::invalid: break;
        }
        return std::numeric_limits<double>::quiet_NaN();
    }

    // Same kind and, for numeric times, the same value and timescale (1/2 and
    // 300/600 are different representations and compare unequal).
    bool operator==(const MediaTime&) const = default;
};

struct MediaTimeRange {
    MediaTime start = MediaTime::zero();
    MediaTime duration = MediaTime::positiveInfinity();
    bool operator==(const MediaTimeRange&) const = default;
};

}  // namespace fw

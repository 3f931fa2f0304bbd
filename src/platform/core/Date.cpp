#include "platform/core/Date.h"

#include <cmath>
#include <cstdint>

namespace fw {

double secondsSinceReferenceDate(Date date) {
    using namespace std::chrono;
    auto us = duration_cast<microseconds>(date.time_since_epoch()).count();
    return static_cast<double>(us) / 1e6 - kReferenceDateUnixSeconds;
}

Date dateFromReferenceSeconds(double seconds) {
    using namespace std::chrono;
    if (!std::isfinite(seconds)) seconds = 0;
    // The clock counts nanoseconds in 64 bits (about 1677 to 2262); a stored
    // date outside that range is clamped to its ends, whole microseconds.
    constexpr auto kLatest = duration_cast<microseconds>(Date::max().time_since_epoch()).count();
    constexpr auto kEarliest = duration_cast<microseconds>(Date::min().time_since_epoch()).count();
    const double us = (seconds + kReferenceDateUnixSeconds) * 1e6;
    // Each end lies between two neighbouring doubles, so a count strictly inside
    // the end's nearest double rounds to an integer within the end.
    std::int64_t count;
    if (us >= static_cast<double>(kLatest))
        count = kLatest;
    else if (us <= static_cast<double>(kEarliest))
        count = kEarliest;
    else
        count = std::llround(us);
    return Date(duration_cast<system_clock::duration>(microseconds(count)));
}

}  // namespace fw

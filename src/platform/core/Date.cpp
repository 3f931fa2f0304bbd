#include "platform/core/Date.h"

#include <cmath>

namespace fw {

double secondsSinceReferenceDate(Date date) {
    using namespace std::chrono;
    auto us = duration_cast<microseconds>(date.time_since_epoch()).count();
    return static_cast<double>(us) / 1e6 - kReferenceDateUnixSeconds;
}

Date dateFromReferenceSeconds(double seconds) {
    using namespace std::chrono;
    if (!std::isfinite(seconds)) seconds = 0;
    auto us = std::llround((seconds + kReferenceDateUnixSeconds) * 1e6);
    return Date(duration_cast<system_clock::duration>(microseconds(us)));
}

}  // namespace fw

#pragma once
// What the progress displays (the preview's progress row, the ring) show of
// a batch, read from the coordinator in one place so both say the same.
//
// Threads: the GUI thread (it reads the coordinator).

#include <QString>

namespace fw {
class EncodingCoordinator;
}

namespace fw::ui {

// `fraction` bounded to 0…1; NaN reads as 0.
double boundedFraction(double fraction);
// The fraction as a whole percentage, halves away from zero, 0 to 100; but
// 100 only once the fraction is whole: work still going on (99.5 %) reads 99.
// A non-finite or out-of-range fraction never reaches the integer conversion.
int wholePercent(double fraction);

struct ProgressSummary {
    double fraction = 0;  // boundedFraction(overallProgress())
    int percent = 0;      // wholePercent(overallProgress())
    int finished = 0;     // jobs of the whole queue that are finished
    int total = 0;        // jobs in the queue, whatever their state
    bool running = false;
    bool anyFinished = false;
    bool cancelling = false;  // running, cancelled, the workers not yet stopped
    // "Cancelling…" while cancelling; else "estimating…" without an estimate
    // below 100 %, else the countdown ("1:15", "1:00:00", "0:00" at 100 %).
    QString countdown;
};

// Now is the coordinator's clock.
ProgressSummary summarizeProgress(const EncodingCoordinator& coordinator);

}  // namespace fw::ui

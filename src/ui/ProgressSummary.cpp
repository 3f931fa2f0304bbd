#include "ui/ProgressSummary.h"

#include "coordinator/EncodingCoordinator.h"
#include "model/ProgressEstimate.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace fw::ui {

double boundedFraction(double fraction) {
    if (std::isnan(fraction)) return 0;
    return std::clamp(fraction, 0.0, 1.0);
}

int wholePercent(double fraction) {
    const double bounded = boundedFraction(fraction);
    const int percent = int(std::round(bounded * 100));
    return bounded < 1 ? std::min(percent, 99) : percent;
}

ProgressSummary summarizeProgress(const EncodingCoordinator& coordinator) {
    ProgressSummary summary;
    const double progress = coordinator.overallProgress();
    summary.fraction = boundedFraction(progress);
    summary.percent = wholePercent(progress);
    summary.running = coordinator.isRunning();
    for (const auto& job : coordinator.jobs())
        if (job->status() == EncodeJob::Status::finished) ++summary.finished;
    summary.total = int(coordinator.jobs().size());
    summary.anyFinished = summary.finished > 0;
    std::optional<double> remaining = coordinator.estimatedTimeRemaining(coordinator.services().clock());
    // At 100 % there is nothing left to estimate: the countdown has run out.
    if (!remaining && summary.percent == 100) remaining = 0;
    summary.cancelling = summary.running && coordinator.isCancelling();
    summary.countdown = summary.cancelling ? QCoreApplication::translate("ProgressSummary", "Cancelling…")
                        : remaining        ? QString::fromStdString(ProgressEstimate::formatCountdown(*remaining))
                                           : QStringLiteral("estimating…");
    return summary;
}

}  // namespace fw::ui

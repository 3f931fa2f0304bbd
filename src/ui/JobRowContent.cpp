#include "ui/JobRowContent.h"

#include "model/EncodeResult.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace fw::ui {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("JobRow", text); }

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

double boundedProgress(double progress) { return std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0; }

std::optional<UploadBadge> uploadBadge(const EncodeJob& job) {
    switch (job.uploadState()) {
    case EncodeJob::UploadState::none: return std::nullopt;
    case EncodeJob::UploadState::uploading:
        return UploadBadge{"arrow.up.circle", tr("Uploading…"), RowTint::accent, {}};
    case EncodeJob::UploadState::uploaded: return UploadBadge{"checkmark.icloud", tr("Uploaded"), RowTint::green, {}};
    case EncodeJob::UploadState::failed: {
        const auto message = job.uploadMessage();
        return UploadBadge{"exclamationmark.icloud", tr("Upload failed"), RowTint::red,
                           message ? fromUtf8(*message) : tr("Upload failed")};
    }
    }
    return std::nullopt;
}

// The row's state in words, after the name: what its symbol, its line and
// its dimming show.
QString spokenState(const JobRowContent& row, EncodeJob::Status status) {
    QStringList parts{row.name};
    switch (row.line) {
    case JobRowContent::Line::progress: parts << tr("Encoding") + QLatin1Char(' ') + row.percentage; break;
    case JobRowContent::Line::error:
        parts << (row.lineText == tr("Failed") ? row.lineText : tr("Failed: %1").arg(row.lineText));
        break;
    case JobRowContent::Line::output:
        parts << tr("Done");
        if (row.lineText != tr("Done")) parts << row.lineText;
        if (row.badge) parts << row.badge->text;
        break;
    case JobRowContent::Line::status:
        parts << row.lineText;
        if (!row.outputsSummary.isEmpty()) parts << row.outputsSummary.mid(2);  // without the "· "
        break;
    }
    if (row.dimmed && status != EncodeJob::Status::finished) parts << tr("left out of the next run");
    return parts.join(QStringLiteral(", "));
}

}  // namespace

int progressPercent(double progress) {
    // The small allowance keeps 0.29 at 29 % despite 0.29 × 100 = 28.999….
    return static_cast<int>(std::floor(boundedProgress(progress) * 100 + 1e-9));
}

QString outputsSummary(const std::vector<JobOutputSpec>& outputs) {
    if (outputs.empty()) return {};
    QStringList names;
    for (const auto& output : outputs) names << fromUtf8(output.name);
    const QString count = QLocale().toString(static_cast<qlonglong>(outputs.size()));
    const QString noun = outputs.size() == 1 ? tr("output") : tr("outputs");
    return QStringLiteral("· %1 %2: %3").arg(count, noun, names.join(QStringLiteral(", ")));
}

JobRowContent JobRowContent::of(const EncodeJob& job, bool showControls, bool cancelling) {
    using Status = EncodeJob::Status;
    JobRowContent row;
    const Status status = job.status();
    row.dimmed = !job.enabled();
    row.showsToggle = showControls;
    row.toggleOn = job.enabled();
    row.name = fromUtf8(job.fileName());

    switch (status) {
    case Status::waiting:
        row.statusSymbol = "clock";
        row.statusTint = RowTint::secondary;
        break;
    case Status::encoding:
        row.statusSymbol = "gearshape.2";
        row.statusTint = RowTint::accent;
        break;
    case Status::finished:
        row.statusSymbol = "checkmark.circle.fill";
        row.statusTint = RowTint::green;
        break;
    case Status::failed:
        row.statusSymbol = "exclamationmark.circle.fill";
        row.statusTint = RowTint::red;
        break;
    case Status::cancelled:
        row.statusSymbol = "minus.circle";
        row.statusTint = RowTint::secondary;
        break;
    }

    switch (status) {
    case Status::encoding:
        row.line = Line::progress;
        row.progress = boundedProgress(job.progress());
        row.percentage = QLocale().toString(progressPercent(job.progress())) + QLatin1Char('%');
        break;
    case Status::failed: {
        row.line = Line::error;
        const auto message = job.errorMessage();
        row.lineText = message ? fromUtf8(*message) : tr("Failed");
        break;
    }
    case Status::finished: {
        row.line = Line::output;
        const auto output = job.outputURL();
        row.lineText = output ? fromUtf8(output->filename().string()) : tr("Done");
        if (const std::string note = damageNote(job.damage()); !note.empty()) {
            row.lineNote = QStringLiteral(" (") + fromUtf8(note) + QLatin1Char(')');
            row.lineText += row.lineNote;
        }
        row.badge = uploadBadge(job);
        break;
    }
    case Status::waiting:
    case Status::cancelled:
        row.line = Line::status;
        row.lineText = status == Status::waiting ? tr("Waiting") : tr("Cancelled");
        row.outputsSummary = ui::outputsSummary(job.outputs());
        break;
    }

    if (cancelling && (status == Status::encoding || status == Status::waiting)) {
        row.statusSymbol = "minus.circle";
        row.statusTint = RowTint::secondary;
        row.line = Line::status;
        row.progress = 0;
        row.percentage.clear();
        row.lineText = tr("Cancelling…");
    }
    row.accessibleText = spokenState(row, status);

    if (!showControls || status == Status::encoding) return row;
    if (status == Status::finished && job.outputURL())
        row.buttons.push_back({RowControl::reveal, "magnifyingglass.circle", RowTint::accent,
                               tr("Show the exported file in the file manager")});
    if (status != Status::waiting)
        row.buttons.push_back({RowControl::retry, "arrow.clockwise.circle", RowTint::accent,
                               status == Status::finished ? tr("Encode this file again") : tr("Retry this file")});
    row.buttons.push_back({RowControl::outputsMenu, "slider.horizontal.3", RowTint::secondary,
                           tr("Set this file to one preset, or add multiple outputs")});
    row.buttons.push_back({RowControl::remove, "xmark.circle.fill", RowTint::secondary, {}});
    return row;
}

}  // namespace fw::ui

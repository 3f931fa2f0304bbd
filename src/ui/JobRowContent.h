#pragma once
// What one row of the queue shows for a job: the decisions of the row
// (status symbol and tint, status line, percentage, upload badge, which
// controls and their help texts) as a plain value, so the painter only draws
// and the tests read the decisions without pixels.

#include "model/EncodeJob.h"
#include "ui/RowTints.h"

#include <QString>

#include <string_view>
#include <vector>

namespace fw::ui {

// The row's clickable parts, in their order on screen.
enum class RowControl { enabledToggle, reveal, retry, outputsMenu, remove };

struct RowButton {
    RowControl control;
    std::string_view symbol;
    RowTint tint;
    QString help;
};

struct UploadBadge {
    std::string_view symbol;
    QString text;
    RowTint tint;
    QString help;  // empty: none
};

struct JobRowContent {
    enum class Line { progress, error, output, status };

    bool dimmed = false;  // a disabled job: the whole row at reduced opacity
    bool showsToggle = false;
    bool toggleOn = false;
    std::string_view statusSymbol;
    RowTint statusTint = RowTint::secondary;
    QString name;
    Line line = Line::status;
    double progress = 0;  // 0 to 1, finite
    // The error, the output's name (or "Done") with any damageNote
    // in brackets, or the status word.
    QString lineText;
    // The bracketed note that ends lineText, if any: kept whole when the
    // output's name has to be shortened.
    QString lineNote;
    // "· 2 outputs: Web, Archive" for a waiting or cancelled job with outputs of its own.
    QString outputsSummary;
    std::optional<UploadBadge> badge;
    QString percentage;  // "42%" while encoding, else empty
    std::vector<RowButton> buttons;
    // What a screen reader reads for the row: the name, then its state in
    // words ("clip.mov, Failed: Disk full").
    QString accessibleText;

    // showControls: false while a batch runs (no toggle, buttons or menu).
    // cancelling: the job belongs to a cancelled batch whose workers are
    // stopping; encoding or still waiting, it then reads "Cancelling…".
    static JobRowContent of(const EncodeJob& job, bool showControls, bool cancelling = false);
};

// The whole percent of a progress fraction, truncated, within 0 to 100; a
// value that is not a finite number gives 0.
int progressPercent(double progress);

// "· 1 output: Web", "· 2 outputs: Web, Archive"; empty without outputs.
QString outputsSummary(const std::vector<JobOutputSpec>& outputs);

}  // namespace fw::ui

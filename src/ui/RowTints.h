#pragma once
// The colours of a list row's parts, one choice for every list of rows (the
// queue's jobs, the history's records): the name in the text colour,
// captions faded as far as they still read, a state in green or red, a
// button or the progress in the accent. Each is drawn toward the text colour
// where needed to stand out on every background the row lies on (the list's
// surface, the current row's wash, the selection): symbols at
// kSymbolContrast, text at kReadableContrast. Where the text colour itself
// does not read there (white on a light selection), black or white does.
//
// Threads: plain values; any thread.

#include <QColor>
#include <QPalette>

#include <span>
#include <vector>

namespace fw::ui {

enum class RowTint { primary, secondary, accent, green, red };

// A symbol in `tint` (a state's mark, a button, the progress bar) on `backgrounds`.
QColor rowSymbolColor(RowTint tint, const QPalette& palette, std::span<const QColor> backgrounds);
// Text in `tint` on `backgrounds`.
QColor rowTextColor(RowTint tint, const QPalette& palette, std::span<const QColor> backgrounds);

// The accent wash of the keyboard's current row, laid over the list.
QColor currentRowWash(const QPalette& palette);
// What a row of a list showing `surfaces` lies on: each surface bare and
// under the current row's wash.
std::vector<QColor> rowBackgrounds(const QPalette& palette, std::span<const QColor> surfaces);

}  // namespace fw::ui

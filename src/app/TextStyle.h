#pragma once
// The few text styles the secondary windows share (title, headline, caption,
// …) as sizes relative to the desktop's own font, and the secondary and
// tertiary text colours, so that every window scales with the user's font.

#include <QColor>
#include <QPixmap>

#include <functional>
#include <string_view>

class QLabel;

namespace fw::app {

enum class TextRole { largeTitle, title, title3, headline, body, callout, subheadline, caption };
enum class TextTone { primary, secondary, tertiary };

// Text in `tone` on `palette`'s window or a tab page: secondary and
// tertiary text faded only as far as it still reads at 4.5:1.
QColor textColour(const QPalette& palette, TextTone tone);

// Text in `tint` (an error's red) on `palette`'s window or a tab page, drawn
// toward the window's text colour as far as it must be to read at 4.5:1.
QColor tintedTextColour(const QPalette& palette, const QColor& tint);

// Sets the label's font for `role` (bold when `bold`, else the role's own
// weight) and its text colour for `tone`.
void applyTextStyle(QLabel* label, TextRole role, TextTone tone = TextTone::primary, bool bold = false);
// Same for a label in a colour made from the palette (a red error text).
// Links in either read at 4.5:1 on the window. The colours are made anew
// when the palette changes.
void applyTextStyle(QLabel* label, TextRole role, std::function<QColor(const QPalette&)> colour, bool bold = false);

// The named symbol drawn in one colour, `size` pixels square.
QPixmap tintedSymbol(std::string_view symbolName, int size, const QColor& colour);

}  // namespace fw::app

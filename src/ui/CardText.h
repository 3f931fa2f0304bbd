#pragma once
// The small pieces the settings cards repeat: help captions, row titles,
// dividers, a titled control row and the cards' tint colours. Looks only; no
// setting is read or written here.

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QString>

#include <string>
#include <string_view>

namespace fw::ui {

// The tints the cards' notices and badges use.
namespace Tint {
inline const QColor red{255, 59, 48};
inline const QColor orange{255, 149, 0};
inline const QColor yellow{230, 180, 0};
inline const QColor green{52, 199, 89};
inline const QColor teal{48, 176, 199};
}  // namespace Tint

// A help text under a control: smaller, secondary colour, wrapped onto as
// many lines as it needs. `smaller`: the smallest caption size.
QLabel* makeCaption(const QString& text, QWidget* parent, bool smaller = false);
// A section title: semibold.
QLabel* makeHeading(const QString& text, QWidget* parent);
// A thin horizontal line.
QFrame* makeDivider(QWidget* parent);
// `title` at the leading edge, `control` taking the rest of the row.
QWidget* makeTitledRow(const QString& title, QWidget* control, QWidget* parent);
// A one-line caption with a symbol before it, both in `tint` (a warning; the
// text deepened where the tint alone would be hard to read).
QWidget* makeTintedNote(std::string_view symbolName, const QColor& tint, const QString& text, QWidget* parent);
// `widget`'s text (its `role`) in the secondary colour, readable on a card,
// made anew when the palette changes.
void followSecondaryText(QWidget* widget, QPalette::ColorRole role = QPalette::WindowText);
// A user's text (a preset's name) as a menu item or button shows it written:
// "&" doubled, so it is not taken for a shortcut mark.
QString menuText(const std::string& text);

}  // namespace fw::ui

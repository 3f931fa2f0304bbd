#pragma once
// What the windows make from the application's palette as they are built (a
// style sheet's colours, a caption's faded text colour, a glass card's
// disabled ink, a symbol drawn into a picture) is fixed once it is set. The
// desktop may switch between light and dark while a window is open: Qt then
// gives the new palette to what inherits it, but not to what was set from the
// old one, nor to any widget under a style sheet (which keeps the palette it
// had when the sheet was set). Everything made from the palette is therefore
// set through here: made now, and made anew from the new palette once the
// windows have taken it (after the events Qt posts for the change).
//
// Threads: the GUI thread only (a QApplication exists).

#include <QColor>
#include <QPalette>
#include <QString>

#include <functional>

class QWidget;

namespace fw::ui {

// What of a widget is made from the palette; made anew in this order. A
// surface's palette (a glass card's disabled ink) comes first: the widgets
// on it inherit it. Style sheets next: set again, a sheet gives the widgets
// under it the palette of what they lie on. Then text colours, set on
// whatever the sheets left; then pictures made with colours (symbols, a
// link's rich text), which may read those text colours.
enum class PaletteUse { surface, styleSheet, colours, picture };

// Calls `make` with the application's palette now, and again each time that
// palette changes while `widget` lives. A widget has one maker for each use:
// a later one replaces it (a badge showing another tier, a chevron turned).
void followPalette(QWidget* widget, PaletteUse use, std::function<void(const QPalette&)> make);

// `widget`'s style sheet, made by `sheet` from the palette. Fixed sheets are
// set so too: setting a sheet again is what gives the widgets under it the
// new palette.
void followStyleSheet(QWidget* widget, std::function<QString(const QPalette&)> sheet);
void followStyleSheet(QWidget* widget, const QString& sheet);

// `widget`'s colour `role` (its text, by default), made by `colour`.
void followColour(QWidget* widget, std::function<QColor(const QPalette&)> colour,
                  QPalette::ColorRole role = QPalette::WindowText);

}  // namespace fw::ui

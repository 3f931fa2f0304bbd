#pragma once
// Rows the advanced settings cards share, over CardText's looks: switches,
// one-word captions, groups that a switch shows and hides, plain rows, and
// file rows. Main thread only, like every widget.

#include "ui/CardText.h"

#include <QString>

#include <initializer_list>

class QAbstractButton;
class QCheckBox;
class QVBoxLayout;

namespace fw::ui {

class ElidedLabel;

// A switch-style toggle named `objectName` (tests and bindings find it by name).
QCheckBox* makeSwitch(const QString& text, const QString& objectName, QWidget* parent);
// A caption on one line (a field's unit or letter); `secondary` false keeps
// the ordinary text colour.
QLabel* makeShortCaption(const QString& text, QWidget* parent, bool secondary = true);
// A borderless container whose rows a switch shows or hides; its layout has
// no margins and `spacing` between rows.
QWidget* makeGroup(QWidget* parent, int spacing);
QVBoxLayout* groupLayout(QWidget* group);
// A horizontal row of `items`, a stretch for each nullptr; no margins. A
// control (not a button, which names itself) is named by the label just
// before it, or else by the label just after it.
QWidget* makeRow(QWidget* parent, std::initializer_list<QWidget*> items, int spacing = -1);

// Puts the Tab stops inside `root` (the outermost focusable widgets, in the
// order they were added to their parents) right after `after`, which must
// take Tab focus itself. Widgets made once the window is up otherwise land
// wherever Qt puts them in the window's Tab order, away from where they show.
void placeTabStopsAfter(QWidget* after, QWidget* root);

// A file row: a small glass "Choose …" button beside the chosen file's name
// ("None" while nothing is chosen), and under them a line for a short error
// that stays hidden until showError().
struct FileRow {
    QWidget* widget = nullptr;
    QAbstractButton* choose = nullptr;
    ElidedLabel* name = nullptr;
    QLabel* error = nullptr;

    // An empty name shows "None".
    void showName(const QString& fileName) const;
    // An empty text hides the error line.
    void showError(const QString& message) const;
};
// Its children are named `objectName` + "Choose", "Name" and "Error".
FileRow makeFileRow(const QString& buttonText, const QString& objectName, QWidget* parent);

}  // namespace fw::ui

#pragma once
// What a screen reader reads for the window's controls: each control is
// named by the label the window shows beside it, never by its value or by a
// placeholder that typing hides.
//
// Threads: the GUI thread only.

#include <QString>

class QLabel;
class QWidget;

namespace fw::ui {

// `control` takes `title` (a shown label's or card's text, "&" marks
// dropped) as its accessible name.
void nameAfter(QWidget* control, const QString& title);
// `label` is `control`'s label: the control takes its text as its name, and
// the label points screen readers at the control.
void pairLabel(QLabel* label, QWidget* control);

// Combo boxes read as their name their label (a buddy label, or the name
// given them), and as their value and their text the item chosen: readers
// over AT-SPI take a combo box's choice from its text, and hear a new
// choice as that text changing. (Qt's own reads the item as the name on
// Linux, which such readers do not take as the choice.) Takes effect for the
// whole application; calls after the first change nothing. Each window with
// combo boxes calls it as it is built.
void useLabelledComboBoxes();

}  // namespace fw::ui

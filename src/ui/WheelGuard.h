#pragma once
// Keeps the mouse wheel from changing settings behind the user's back: over
// a combo box, spin box or slider inside a scrolling area the wheel always
// scrolls the area, focus or not (a control keeps focus after a click, and
// the user scrolling the column past it never means to change it); these
// controls change by click and keyboard. The wheel never gives them focus.
// One application-wide event filter does it for every window, cards built
// later included.
//
// Threads: the GUI thread only (a QApplication must exist).

namespace fw::ui {

// Installs the filter on the application; later calls do nothing.
void installWheelGuard();

}  // namespace fw::ui

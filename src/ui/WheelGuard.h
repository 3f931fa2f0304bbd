#pragma once
// Keeps the mouse wheel from changing settings behind the user's back: a
// combo box, spin box or slider inside a scrolling area takes the wheel only
// while it has keyboard focus; otherwise the area around it scrolls. The
// wheel never gives these controls focus (a click or Tab does). One
// application-wide event filter does it for every window, cards built later
// included.
//
// Threads: the GUI thread only (a QApplication must exist).

namespace fw::ui {

// Installs the filter on the application; later calls do nothing.
void installWheelGuard();

}  // namespace fw::ui

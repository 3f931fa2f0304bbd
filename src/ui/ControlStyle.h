#pragma once
// Controls whose edges read on the glass cards and on the window, in dark
// palettes as in light ones. Qt's Fusion style (what a desktop that names no
// style gets, the GTK platform theme included) draws a control's edge a fixed
// step darker than the window colour; in a dark palette that is darker than
// the cards, and the boxes of check boxes and the frames of fields, lists,
// spin boxes, buttons and sliders all but vanish. Wrapped here, Fusion draws
// those edges in controlEdge() (Glass.h) and everything else as it would.
//
// Threads: the GUI thread only.

namespace fw::ui {

// Wraps the application's style when it is Fusion; any other style is the
// desktop's own choice and stays as it is. Calls after the first change
// nothing. Each glass card, and each window with controls on other surfaces
// (Settings), calls it as it is built.
void useReadableControlEdges();

}  // namespace fw::ui

#pragma once
// Manners every secondary window shares (Settings, History, the Manual,
// About, Welcome): it opens centred over the main window, where a plain
// window manager would put it in a corner, and Esc closes it. The main
// window itself opens centred on its screen.
//
// Thread-safety: GUI thread only.

class QWidget;

namespace fw::app {

// Places `window`, not yet shown, centred over `anchor` (over its screen when
// `anchor` is hidden), inside that screen's available area with its frame:
// a window taller or wider than that is made smaller, down to its minimum
// size; below that its top-left corner (the title bar) stays reachable.
void centreOver(QWidget& window, const QWidget& anchor);
// Places `window`, not yet shown, centred on its screen (the main window at
// launch), inside the screen's available area as above. Its frame is not
// known before it is shown: once the window manager has framed it, it is
// fitted again, once.
void centreOnScreen(QWidget& window);

// From now on Esc (with no modifier), when no control inside `window` takes
// it, closes `window`.
void closeOnEscape(QWidget& window);

}  // namespace fw::app

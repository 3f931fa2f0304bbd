#pragma once
// Manners every secondary window shares (Settings, History, the Manual,
// About, Welcome): it opens centred over the main window, where a plain
// window manager would put it in a corner, and Esc closes it.
//
// Thread-safety: GUI thread only.

class QWidget;

namespace fw::app {

// Places `window`, not yet shown, centred over `anchor` (over its screen when
// `anchor` is hidden), kept inside that screen's available area: the title
// bar stays reachable when the window is taller than the screen.
void centreOver(QWidget& window, const QWidget& anchor);

// From now on Esc (with no modifier), when no control inside `window` takes
// it, closes `window`.
void closeOnEscape(QWidget& window);

}  // namespace fw::app

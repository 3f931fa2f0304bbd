#pragma once
// Controls whose edges read on the glass cards and on the window, in dark
// palettes as in light ones. Qt's Fusion style (what a desktop that names no
// style gets, the GTK platform theme included) draws a control's edge a fixed
// step darker than the window colour; in a dark palette that is darker than
// the cards, and the boxes of check boxes and the frames of fields, lists,
// spin boxes, buttons and sliders all but vanish. Wrapped here, Fusion draws
// those edges in controlEdge() (Glass.h) and everything else as it would,
// and a field's placeholder reads at 4.5:1 on the field.
//
// The wrapped style also rings the control that has the keyboard focus: a
// band of focusRing() (Glass.h), 2 pixels wide, just outside the control and
// above its neighbours. Fusion's own hint (a faint tint) hardly shows, and
// buttons drawn by a style sheet show none. A pane that scrolls (a page of
// text, not a list), which often fills its window, has the band just inside
// its frame instead. The ring comes with focus given by Tab, Shift+Tab or a
// shortcut, and with Tab pressed on a window's only stop. Each window keeps
// its ring while another is active: it comes back with the focus from a
// menu, the menu bar, a dialog or another window. It goes with a click or
// with focus the program moves. While the menu bar holds the keys with no
// menu open, its title that has them is marked as an open menu's is. A
// control drawn with rounded corners sets their radius in the property
// kFocusRingRadius, and the ring follows them.
//
// Threads: the GUI thread only.

#include <QPointer>
#include <QWidget>

namespace fw::ui {

// The ring's width, all of it outside the control: what lies beside a
// control needs this much room for it to show whole.
inline constexpr int kFocusRingWidth = 2;
// The property (an int, in pixels) in which a control gives the radius of its
// rounded corners; absent, the ring's corners are slightly rounded.
inline constexpr char kFocusRingRadius[] = "focusRingRadius";

// Wraps the application's style when it is Fusion, and starts the ring
// following the keyboard focus in every window; any other style is the
// desktop's own choice and stays as it is. Calls after the first change
// nothing. Each glass card, and each window with controls on other surfaces
// (Settings), calls it as it is built.
void useReadableControlEdges();

// Whether the ring is on `control` now. A control handing its focus on
// hands the ring with it by giving the focus for Qt::TabFocusReason.
bool showsFocusRing(const QWidget& control);

// A window's focus kept across what may take it (a dialog it opens): restore()
// activates the window and gives the focus back to the control that had it,
// ringed as it was; when that control has gone or cannot take the focus now,
// to the next control in the Tab order that can.
class KeptFocus {
public:
    explicit KeptFocus(QWidget* window);
    void restore() const;

private:
    QPointer<QWidget> window_;
    QPointer<QWidget> control_;
    bool ringed_ = false;
};

}  // namespace fw::ui

#pragma once
// The window tests' application: a QApplication on Qt's offscreen platform
// (set before it is made, with no desktop named and no platform theme), so
// the suites run without a display.

#include "DesktopPalette.h"

#include <QColor>
#include <QString>

#include <string>
#include <vector>

class QAbstractButton;
class QImage;
class QLabel;
class QLineEdit;
class QPixmap;
class QRect;
class QWidget;

namespace fw::test {

// Lets queued signals and deferred deletions run.
void processEvents();

// How far a drawing stands out: the largest contrast ratio between
// `background` and a pixel of `ink` laid over it (its transparent pixels
// count as background). 1 for an empty picture.
double inkContrast(const QPixmap& ink, const QColor& background);
// The same for the pixels of `image` inside `area`.
double inkContrast(const QImage& image, const QRect& area, const QColor& background);
// How far `control`'s edge stands out from `surface` in `drawn`, the grab of
// its window: the largest contrast with `surface` in the part that shows
// where the control is. That is the box of a check box or radio button (give
// it unchecked), the weaker of a slider's handle and its track beyond the
// handle, and the top band of anything else (a field, a list, a button).
double controlEdgeContrast(const QImage& drawn, const QWidget& control, const QColor& surface);

// The contrast of `label`'s text, links included, as its window draws it on
// what shows just left of the label; measured in a large font, so that the
// ink shows whole and not only in the blended edges of thin strokes.
double textContrast(QLabel& label);
// The same for `field`'s placeholder (the field empty) on the field.
double placeholderContrast(QLineEdit& field);

// A button drawn under the pointer, held down, focused by Tab (its window
// active) or disabled.
enum class ButtonState { plain, hovered, pressed, focused, disabled };
// The contrast of `button`'s label in `state` as its window draws it, on
// the face beside it: the right half inside its edge, where an accent
// button's label lies clear of its symbol.
double labelContrast(QAbstractButton& button, ButtonState state);

// The focusable controls shown in `window` that a screen reader cannot name
// by what the window shows, each as "objectName (class): why": a name that is
// empty, that is no visible label's, button's, title's or the control's own
// tool tip's text, that is a combo box's value, or that a field has only
// from its placeholder; a segment whose picker has no such name.
std::vector<std::string> controlsNamedBadly(QWidget& window);

// The pixels of `before` and `after` (pictures of the same place) that
// differ by 3:1 or more: what a change, such as a focus ring, shows of itself.
int strongChanges(const QImage& before, const QImage& after);
// What `widget`'s window shows of `widget` and `margin` pixels around it
// (inside the window).
QImage grabAround(const QWidget& widget, int margin);

}  // namespace fw::test

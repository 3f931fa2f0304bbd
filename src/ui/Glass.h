#pragma once
// The window's surface look: translucent rounded panels ("glass cards") and
// the two button styles. Painted by us so that every desktop theme shows the
// same shapes.
//
// Threads: the GUI thread only.

#include <QColor>
#include <QFrame>

#include <array>

class QAbstractButton;

namespace fw::ui {

inline constexpr int kCardCornerRadius = 22;

// A panel with the glass background; lay its content out in it as in any
// QFrame. The content is neither clipped nor padded: padding is the caller's.
// The first card makes the application's controls draw edges that read on
// glass (ControlStyle.h). Disabled text on the card takes
// disabledTextOnGlass() of the application's palette, made anew when that
// palette changes (FollowPalette.h).
class GlassCard : public QFrame {
    Q_OBJECT

public:
    // A radius of 0 gives square corners.
    explicit GlassCard(QWidget* parent = nullptr, int cornerRadius = kCardCornerRadius);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int cornerRadius_;
};

// The lightest face a tab page (Settings) or a Fusion control shows: the
// button colour lightened, by a quarter at most (in a dark palette).
QColor lightestFace(const QPalette& palette);

// The main window's wash, top to bottom: the window colour, fading to the
// window colour with a hint of the accent.
QColor washTop(const QPalette& palette);
QColor washBottom(const QPalette& palette);
// What a glass card shows where it lies over the top and over the bottom of
// the wash: the colours text on a card is read against.
std::array<QColor, 2> glassBackgrounds(const QPalette& palette);

// Secondary text (captions, help, status words) on a glass card: the text
// colour faded to about `alpha`, never below a contrast of 4.5:1.
QColor secondaryTextOnGlass(const QPalette& palette, double alpha = 0.6);
// The ink of disabled text and symbols (a setting held while a batch runs, a
// greyed button): the palette's disabled text colour, drawn toward the text
// colour where needed to read at kDisabledContrast on a glass card, the
// window's wash and a control's face.
QColor disabledTextOnGlass(const QPalette& palette);
// A tint as text on a glass card, deepened (or, in a dark palette, lightened)
// where needed to read at 4.5:1. `fillAlpha`: the text lies on a band of the
// tint itself at this opacity (a badge), laid over the card.
QColor tintTextOnGlass(const QColor& tint, const QPalette& palette, double fillAlpha = 0);
// A tint as a symbol on a glass card (a job's state, a warning), drawn toward
// the text colour where needed to stand out at kSymbolContrast.
QColor tintSymbolOnGlass(const QColor& tint, const QPalette& palette);
// The edge of a control (a check box's box, the frame of a field, a list, a
// slider, a segmented picker or a push button), opaque: the card's colour
// drawn toward the text colour just far enough to stand out at
// kControlEdgeContrast from a glass card, the bare window or its wash and a
// tab page alike.
QColor controlEdge(const QPalette& palette);
// The ring around the control that has the keyboard focus (ControlStyle.h):
// the accent, drawn toward the text colour where needed to stand out at
// kControlEdgeContrast from everything controlEdge() does and from that edge
// itself, so that it never reads as a thicker edge.
QColor focusRing(const QPalette& palette);

// The ordinary secondary button style (every action-bar button but Encode,
// the cards' choose buttons): a lightly filled button bordered in
// controlEdge(). `small`: the small control size. Marks the button with the
// property "glass".
void applyGlassButton(QAbstractButton* button, bool small = false);
// The accent-filled style of the main action (Encode). Marks the button with
// the property "glassProminent". Size, frame and label stay the caller's.
// Disabled, the accent fades and the label stays legible (kDisabledContrast).
void applyGlassProminentButton(QAbstractButton* button);
// The colour of a prominent button's label and symbol, enabled or disabled.
QColor prominentButtonText(const QPalette& palette, bool enabled);

// One segment of a segmented picker (a row of checkable buttons laid side
// by side, one chosen): lightly filled like a glass button, the chosen one
// filled with the accent, in light and dark palettes alike. `position`
// rounds the row's outer corners.
enum class SegmentPosition { first, middle, last };
void applySegmentStyle(QAbstractButton* segment, SegmentPosition position);

// Both styles make a push button neither default nor auto-default: Return
// in a text field never presses it. All three are made anew from the
// application's palette whenever it changes (the desktop turning dark while
// the window is open).

}  // namespace fw::ui

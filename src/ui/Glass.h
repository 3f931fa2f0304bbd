#pragma once
// The window's surface look: translucent rounded panels ("glass cards") and
// the two button styles. Painted by us so that every desktop theme shows the
// same shapes.

#include <QFrame>

class QAbstractButton;

namespace fw::ui {

inline constexpr int kCardCornerRadius = 22;

// A panel with the glass background; lay its content out in it as in any QFrame.
class GlassCard : public QFrame {
    Q_OBJECT

public:
    explicit GlassCard(QWidget* parent = nullptr, int cornerRadius = kCardCornerRadius);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int cornerRadius_;
};

// The ordinary secondary button style (every action-bar button but Encode,
// the cards' choose buttons). `small`: the small control size.
void applyGlassButton(QAbstractButton* button, bool small = false);
// The accent-filled style of the main action (Encode).
void applyGlassProminentButton(QAbstractButton* button);

}  // namespace fw::ui

#include "app/SecondaryWindow.h"

#include <QEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace fw::app {

namespace {

// Moves `rect` inside `area`; its top-left edge wins where it cannot fit.
QRect keptInside(QRect rect, const QRect& area) {
    rect.moveRight(std::min(rect.right(), area.right()));
    rect.moveBottom(std::min(rect.bottom(), area.bottom()));
    rect.moveLeft(std::max(rect.left(), area.left()));
    rect.moveTop(std::max(rect.top(), area.top()));
    return rect;
}

class EscapeCloses final : public QObject {
public:
    explicit EscapeCloses(QWidget& window) : QObject(&window), window_(window) {}

protected:
    // Sees the key when it reaches the window: a control inside that uses
    // Esc (an open list, a field's completer) has taken it by then.
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Escape || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        window_.close();
        return true;
    }

private:
    QWidget& window_;
};

}  // namespace

void centreOver(QWidget& window, const QWidget& anchor) {
    window.ensurePolished();
    if (!window.testAttribute(Qt::WA_Resized)) window.adjustSize();
    const QScreen* screen = anchor.screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    // move() places the frame; the anchor's own frame stands in for the one
    // the window gets when it is shown.
    const QPoint frame = anchor.isVisible() ? anchor.geometry().topLeft() - anchor.frameGeometry().topLeft() : QPoint();
    QRect placed(QPoint(), window.size() + QSize(2 * frame.x(), frame.y() + frame.x()));
    placed.moveCenter(anchor.isVisible() || area.isEmpty() ? anchor.frameGeometry().center() : area.center());
    if (!area.isEmpty()) placed = keptInside(placed, area);
    window.move(placed.topLeft());
}

// Hidden, the window is its own anchor: its screen's centre.
void centreOnScreen(QWidget& window) { centreOver(window, window); }

void closeOnEscape(QWidget& window) { window.installEventFilter(new EscapeCloses(window)); }

}  // namespace fw::app

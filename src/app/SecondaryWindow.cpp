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

// The frame's share of a window's outer size, as far as it is known yet.
QSize frameExtent(const QWidget& window) {
    return window.isVisible() ? window.frameGeometry().size() - window.size() : QSize();
}

// Shrinks `window` so that it and a frame of `frame` fit in `area`, never
// below its minimum size.
void fitInside(QWidget& window, const QSize& frame, const QRect& area) {
    if (area.isEmpty()) return;
    const QSize fitted = window.size().boundedTo(area.size() - frame).expandedTo(window.minimumSize());
    if (fitted != window.size()) window.resize(fitted);
}

// A window's frame is known only once the window manager has put it round
// the shown window: then the window is fitted and placed inside the screen
// again, once.
class FitOnceFramed final : public QObject {
public:
    explicit FitOnceFramed(QWidget& window) : QObject(&window), window_(window) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::Move && type != QEvent::Resize && type != QEvent::WindowActivate) return false;
        if (!window_.isVisible()) return false;
        const QScreen* screen = window_.screen();
        const QRect area = screen ? screen->availableGeometry() : QRect();
        const bool framed = !frameExtent(window_).isEmpty();
        if (framed && !area.isEmpty() && !area.contains(window_.frameGeometry())) {
            fitInside(window_, frameExtent(window_), area);
            window_.move(
                keptInside(QRect(window_.frameGeometry().topLeft(), window_.size() + frameExtent(window_)), area)
                    .topLeft());
        }
        // By the first activation the window manager has framed it, if it frames at all.
        if (framed || type == QEvent::WindowActivate) deleteLater();
        return false;
    }

private:
    QWidget& window_;
};

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
    const QSize frameSize(2 * frame.x(), frame.y() + frame.x());
    fitInside(window, frameSize, area);
    QRect placed(QPoint(), window.size() + frameSize);
    placed.moveCenter(anchor.isVisible() || area.isEmpty() ? anchor.frameGeometry().center() : area.center());
    if (!area.isEmpty()) placed = keptInside(placed, area);
    window.move(placed.topLeft());
}

// Hidden, the window is its own anchor: its screen's centre.
void centreOnScreen(QWidget& window) {
    centreOver(window, window);
    if (!window.isVisible()) window.installEventFilter(new FitOnceFramed(window));
}

void closeOnEscape(QWidget& window) { window.installEventFilter(new EscapeCloses(window)); }

}  // namespace fw::app

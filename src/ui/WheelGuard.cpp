#include "ui/WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QSlider>
#include <QWheelEvent>

namespace fw::ui {

namespace {

bool takesValuesFromTheWheel(const QObject* object) {
    return qobject_cast<const QComboBox*>(object) || qobject_cast<const QAbstractSpinBox*>(object) ||
           qobject_cast<const QSlider*>(object);
}

QAbstractScrollArea* enclosingScrollArea(QWidget* widget) {
    for (QWidget* parent = widget->parentWidget(); parent && !parent->isWindow(); parent = parent->parentWidget())
        if (auto* area = qobject_cast<QAbstractScrollArea*>(parent)) return area;
    return nullptr;
}

class WheelGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type != QEvent::Polish && type != QEvent::Wheel) || !takesValuesFromTheWheel(watched)) return false;
        auto* control = static_cast<QWidget*>(watched);
        if (type == QEvent::Polish) {
            // Qt gives WheelFocus controls focus before they see the wheel.
            if (control->focusPolicy() == Qt::WheelFocus) control->setFocusPolicy(Qt::StrongFocus);
            return false;
        }
        QAbstractScrollArea* area = enclosingScrollArea(control);
        if (!area) return false;
        const auto* wheel = static_cast<QWheelEvent*>(event);
        QWidget* viewport = area->viewport();
        QWheelEvent scroll(viewport->mapFromGlobal(wheel->globalPosition()), wheel->globalPosition(),
                           wheel->pixelDelta(), wheel->angleDelta(), wheel->buttons(), wheel->modifiers(),
                           wheel->phase(), wheel->inverted(), wheel->source(), wheel->pointingDevice());
        QCoreApplication::sendEvent(viewport, &scroll);
        return true;
    }
};

}  // namespace

void installWheelGuard() {
    static QPointer<WheelGuard> guard;
    if (guard || !QCoreApplication::instance()) return;
    guard = new WheelGuard(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(guard);
}

}  // namespace fw::ui

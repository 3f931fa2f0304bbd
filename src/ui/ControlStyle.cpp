#include "ui/ControlStyle.h"

#include "ui/Glass.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFocusFrame>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <algorithm>
#include <type_traits>

namespace fw::ui {

namespace {

constexpr auto kFusion = QLatin1String("fusion");
// Fusion's edge is the window colour darker() by this factor; a check box's
// is then lighter() by the second.
constexpr int kFusionEdgeStep = 140;
constexpr int kFusionCheckBoxStep = 110;
// The corner radius of a control that names none (Fusion rounds its frames by about this).
constexpr int kPlainCornerRadius = 2;

class ReadableEdgeStyle final : public QProxyStyle {
public:
    ReadableEdgeStyle() : QProxyStyle(QStyleFactory::create(kFusion)) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const auto draw = [&](const QStyleOption* adjusted) {
            QProxyStyle::drawPrimitive(element, adjusted, painter, widget);
        };
        switch (element) {
        case PE_IndicatorCheckBox:
            drawWithEdge<QStyleOptionButton, QStyleOptionViewItem>(option, draw, kFusionCheckBoxStep);
            return;
        case PE_IndicatorRadioButton:
        case PE_FrameLineEdit:
        case PE_PanelButtonCommand:
            // A tool button's panel comes with its option cut down to a plain one.
            drawWithEdge<QStyleOptionButton, QStyleOptionFrame, QStyleOptionToolButton, QStyleOption>(option, draw);
            return;
        default: draw(option);
        }
    }

    // The focus ring is a QFocusFrame (KeyboardFocusRing): drawn above the
    // control's neighbours, not clipped by the card it lies on, and unmasked,
    // so that its rounded corners may lie inside the control's bounds.
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_FocusFrame_AboveWidget) return 1;
        if (hint == SH_FocusFrame_Mask) return 0;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_FocusFrameHMargin || metric == PM_FocusFrameVMargin) return kFocusRingWidth;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* frame = qobject_cast<const QFocusFrame*>(widget);
        if (element != CE_FocusFrame || !frame || !frame->widget())
            return QProxyStyle::drawControl(element, option, painter, widget);
        // Around the control's corners, as a painter path rounds them (never
        // more than half its height or width).
        const QWidget* control = frame->widget();
        const QVariant named = control->property(kFocusRingRadius);
        const int corner = std::min(named.isValid() ? named.toInt() : kPlainCornerRadius,
                                    std::min(control->width(), control->height()) / 2);
        const double half = kFocusRingWidth / 2.0;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(focusRing(option->palette), kFocusRingWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(half, half, -half, -half), corner + half, corner + half);
        painter->restore();
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        const auto draw = [&](const QStyleOption* adjusted) {
            QProxyStyle::drawComplexControl(control, static_cast<const QStyleOptionComplex*>(adjusted), painter,
                                            widget);
        };
        switch (control) {
        case CC_SpinBox:
        case CC_ComboBox:
        case CC_Slider:
            drawWithEdge<QStyleOptionSpinBox, QStyleOptionComboBox, QStyleOptionSlider>(option, draw);
            return;
        default: draw(option);
        }
    }

private:
    // Draws with a copy of `option` (of the first of `Options` it is) whose
    // window colour Fusion turns into controlEdge(). A control drawn inside
    // another (a combo box's button) comes here with the copy: it is drawn
    // as it comes, so the edge is not shifted twice.
    // `lightened`: the factor by which Fusion lightens this control's edge.
    template <class... Options, class Draw>
    void drawWithEdge(const QStyleOption* option, const Draw& draw, int lightened = 100) const {
        if (adjusting_) return draw(option);
        adjusting_ = true;
        const QColor window = controlEdge(option->palette).darker(lightened).lighter(kFusionEdgeStep);
        const bool drawn = (tryAdjusted<Options>(option, window, draw) || ...);
        if (!drawn) draw(option);
        adjusting_ = false;
    }

    template <class Option, class Draw>
    static bool tryAdjusted(const QStyleOption* option, const QColor& window, const Draw& draw) {
        const auto* typed = qstyleoption_cast<const Option*>(option);
        // Every option casts to a plain one: copied as one, it loses its kind's data.
        if (!typed || (std::is_same_v<Option, QStyleOption> && option->type != QStyleOption::SO_Default)) return false;
        Option copy(*typed);
        copy.palette.setColor(QPalette::Window, window);
        draw(&copy);
        return true;
    }

    mutable bool adjusting_ = false;
};

// Moves one focus frame, the ring, to the control the keyboard gave the
// focus to, in whichever window. The frame lives in that window (its parent
// goes with the window; the next focus makes another).
class KeyboardFocusRing final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn && watched->isWidgetType())
            follow(static_cast<QWidget*>(watched), static_cast<QFocusEvent*>(event)->reason());
        return false;
    }

private:
    void follow(QWidget* widget, Qt::FocusReason reason) {
        // A menu or a window taking the focus leaves the ring where it is.
        if (widget->isWindow()) return;
        switch (reason) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason: ringed_ = widget; break;
        case Qt::PopupFocusReason:
        case Qt::ActiveWindowFocusReason:
            if (widget == ringed_) break;
            [[fallthrough]];
        default:
            if (frame_) frame_->setWidget(nullptr);
            if (!ringed_ || ringed_->window() == widget->window()) ringed_ = nullptr;
            return;
        }
        if (!frame_) frame_ = new QFocusFrame(widget);
        frame_->setWidget(widget);
    }

    QPointer<QFocusFrame> frame_;
    QPointer<QWidget> ringed_;  // the control the keyboard focused last
};

}  // namespace

void useReadableControlEdges() {
    QStyle* current = QApplication::style();
    if (dynamic_cast<ReadableEdgeStyle*>(current) || current->name().compare(kFusion, Qt::CaseInsensitive) != 0) return;
    QApplication::setStyle(new ReadableEdgeStyle);
    // Once per application, whatever style comes and goes.
    static QPointer<KeyboardFocusRing> ring;
    if (!ring) {
        ring = new KeyboardFocusRing(qApp);
        qApp->installEventFilter(ring);
    }
}

}  // namespace fw::ui

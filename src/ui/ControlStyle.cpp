#include "ui/ControlStyle.h"

#include "ui/Contrast.h"
#include "ui/Glass.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QFocusFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <algorithm>
#include <type_traits>
#include <vector>

namespace fw::ui {

namespace {

// The ring: a band kFocusRingWidth wide along the inside of `outer`, whose
// outer corners are rounded by `corner`.
void drawRing(QPainter& painter, const QRect& outer, int corner, const QPalette& palette) {
    const double half = kFocusRingWidth / 2.0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(focusRing(palette), kFocusRingWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(outer).adjusted(half, half, -half, -half), corner - half, corner - half);
    painter.restore();
}

// A pane of content that scrolls (a page of text; not a list, which shows
// its current row): a ring outside would fall outside its window, where the
// pane fills it, so it is drawn inside the pane's frame instead.
bool ringsInside(const QWidget* widget) {
    return qobject_cast<const QAbstractScrollArea*>(widget) && !qobject_cast<const QAbstractItemView*>(widget);
}

constexpr auto kFusion = QLatin1String("fusion");
// Fusion's edge is the window colour darker() by this factor; a check box's
// is then lighter() by the second.
constexpr int kFusionEdgeStep = 140;
constexpr int kFusionCheckBoxStep = 110;
// The corner radius of a control that names none (Fusion rounds its frames by about this).
constexpr int kPlainCornerRadius = 2;

// A field's placeholder: its text colour faded only as far as it still
// reads at 4.5:1 on the field (Qt's half-faded text reads at about 4:1 on
// white), again whenever the field's palette changes.
class ReadablePlaceholder final : public QObject {
public:
    using QObject::QObject;

    static void adjust(QLineEdit* field) {
        QPalette palette = field->palette();
        bool changed = false;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            const QColor text = palette.color(group, QPalette::Text);
            const QColor readable = readableOn(text, kPlaceholderAlpha, {palette.color(group, QPalette::Base)}, text);
            if (palette.color(group, QPalette::PlaceholderText) == readable) continue;
            palette.setColor(group, QPalette::PlaceholderText, readable);
            changed = true;
        }
        // The change comes back here once, and then changes nothing.
        if (changed) field->setPalette(palette);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange)
            if (auto* field = qobject_cast<QLineEdit*>(watched)) adjust(field);
        return false;
    }

private:
    static constexpr double kPlaceholderAlpha = 0.5;
};

class ReadableEdgeStyle final : public QProxyStyle {
public:
    ReadableEdgeStyle() : QProxyStyle(QStyleFactory::create(kFusion)) {}

    void polish(QWidget* widget) override {
        QProxyStyle::polish(widget);
        if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            field->installEventFilter(&placeholders_);
            ReadablePlaceholder::adjust(field);
        }
    }
    using QProxyStyle::polish;

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
        // Fusion marks a menu bar title only while its menu is open. When the
        // bar holds the keys with no menu open (Esc from a menu opened by
        // Alt+letter), the title that has them is marked the same way.
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
            element == CE_MenuBarItem && item && (item->state & State_Selected) && widget && widget->hasFocus()) {
            QStyleOptionMenuItem held(*item);
            held.state |= State_Sunken;
            return QProxyStyle::drawControl(element, &held, painter, widget);
        }
        const auto* frame = qobject_cast<const QFocusFrame*>(widget);
        if (element != CE_FocusFrame || !frame || !frame->widget())
            return QProxyStyle::drawControl(element, option, painter, widget);
        // Around the control's corners, as a painter path rounds them (never
        // more than half its height or width).
        const QWidget* control = frame->widget();
        const QVariant named = control->property(kFocusRingRadius);
        const int corner = std::min(named.isValid() ? named.toInt() : kPlainCornerRadius,
                                    std::min(control->width(), control->height()) / 2);
        drawRing(*painter, option->rect, corner + kFocusRingWidth, option->palette);
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
    ReadablePlaceholder placeholders_;
};

// The ring drawn inside a pane (ringsInside): along the edge of the pane's
// viewport, over its contents, letting the pointer through.
class InsideRing final : public QWidget {
public:
    explicit InsideRing(QAbstractScrollArea* pane) : QWidget(pane) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        pane->viewport()->installEventFilter(this);
    }

    // Rings `pane`, or nothing when null.
    void setPane(QAbstractScrollArea* pane) {
        if (!pane) return hide();
        if (pane != parentWidget()) {
            ringedPane()->viewport()->removeEventFilter(this);
            setParent(pane);
            pane->viewport()->installEventFilter(this);
        }
        follow();
        show();
    }

protected:
    // The viewport moves and resizes as scroll bars come and go.
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move) follow();
        return false;
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        drawRing(painter, rect(), kPlainCornerRadius, palette());
    }

private:
    QAbstractScrollArea* ringedPane() const { return static_cast<QAbstractScrollArea*>(parentWidget()); }

    void follow() {
        setGeometry(ringedPane()->viewport()->geometry());
        raise();
    }
};

// Moves the ring to the control the keyboard gave the focus to, in whichever
// window: one focus frame, living in that window (its parent goes with the
// window; the next focus makes another), or the inside ring of a pane. Each
// window keeps its rung control while another window is active, so that the
// ring comes back with the focus when the window does (a dialog closed):
// a control the mouse or the program focused stays without one.
class KeyboardFocusRing final : public QObject {
public:
    using QObject::QObject;

    bool rings(const QWidget& control) const {
        return (frame_ && frame_->widget() == &control) ||
               (inside_ && inside_->isVisible() && inside_->parentWidget() == &control);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::FocusIn) follow(widget, static_cast<QFocusEvent*>(event)->reason());
        // Tab on a window's only stop moves no focus, yet the keyboard is on it.
        if (event->type() == QEvent::KeyPress && widget == QApplication::focusWidget() &&
            (widget->focusPolicy() & Qt::TabFocus) && isTab(*static_cast<QKeyEvent*>(event))) {
            remember(widget);
            ring(widget);
        }
        return false;
    }

private:
    static bool isTab(const QKeyEvent& key) {
        return (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab) &&
               !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    }

    void follow(QWidget* widget, Qt::FocusReason reason) {
        // A menu or a window taking the focus leaves the ring where it is.
        if (widget->isWindow() && !ringsInside(widget)) return;
        // The menu bar holding the keys (which marks its title) hides the
        // ring; the control keeps it for when the keys come back.
        if (qobject_cast<QMenuBar*>(widget)) return ring(nullptr);
        switch (reason) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason: remember(widget); return ring(widget);
        case Qt::PopupFocusReason:
        case Qt::MenuBarFocusReason:
        case Qt::ActiveWindowFocusReason:
            if (std::find(rung_.begin(), rung_.end(), widget) != rung_.end()) return ring(widget);
            break;
        default: break;
        }
        forget(widget->window());
        ring(nullptr);
    }

    void remember(QWidget* widget) {
        forget(widget->window());
        rung_.emplace_back(widget);
    }
    void forget(const QWidget* window) {
        std::erase_if(rung_, [window](const QPointer<QWidget>& rung) { return !rung || rung->window() == window; });
    }

    // Rings `widget`, or nothing when null.
    void ring(QWidget* widget) {
        const bool inside = widget && ringsInside(widget);
        if (!frame_ && widget && !inside) frame_ = new QFocusFrame(widget);
        if (frame_) frame_->setWidget(inside ? nullptr : widget);
        auto* pane = inside ? static_cast<QAbstractScrollArea*>(widget) : nullptr;
        if (!inside_ && pane) inside_ = new InsideRing(pane);
        if (inside_) inside_->setPane(pane);
    }

    QPointer<QFocusFrame> frame_;
    QPointer<InsideRing> inside_;          // deleted with the pane it rings
    std::vector<QPointer<QWidget>> rung_;  // each window's control the keyboard focused last
};

// Once per application, whatever style comes and goes.
QPointer<KeyboardFocusRing> keyboardRing;

}  // namespace

void useReadableControlEdges() {
    QStyle* current = QApplication::style();
    if (dynamic_cast<ReadableEdgeStyle*>(current) || current->name().compare(kFusion, Qt::CaseInsensitive) != 0) return;
    QApplication::setStyle(new ReadableEdgeStyle);
    if (!keyboardRing) {
        keyboardRing = new KeyboardFocusRing(qApp);
        qApp->installEventFilter(keyboardRing);
    }
}

bool showsFocusRing(const QWidget& control) { return keyboardRing && keyboardRing->rings(control); }

KeptFocus::KeptFocus(QWidget* window)
    : window_(window),
      control_(window ? window->focusWidget() : nullptr),
      ringed_(control_ && showsFocusRing(*control_)) {}

void KeptFocus::restore() const {
    if (!window_) return;
    const auto takes = [this](const QWidget* widget) {
        return widget->window() == window_ && (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() &&
               widget->isVisible();
    };
    QWidget* target = control_ && takes(control_) ? control_.data() : nullptr;
    QWidget* from = control_ ? control_.data() : window_.data();
    for (QWidget* next = from->nextInFocusChain(); !target && next != from; next = next->nextInFocusChain())
        if (takes(next)) target = next;
    window_->activateWindow();
    if (target) target->setFocus(ringed_ ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

}  // namespace fw::ui

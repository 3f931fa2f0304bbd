#include "ui/ControlStyle.h"

#include "ui/Glass.h"

#include <QApplication>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <type_traits>

namespace fw::ui {

namespace {

constexpr auto kFusion = QLatin1String("fusion");
// Fusion's edge is the window colour darker() by this factor; a check box's
// is then lighter() by the second.
constexpr int kFusionEdgeStep = 140;
constexpr int kFusionCheckBoxStep = 110;

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

}  // namespace

void useReadableControlEdges() {
    QStyle* current = QApplication::style();
    if (dynamic_cast<ReadableEdgeStyle*>(current) || current->name().compare(kFusion, Qt::CaseInsensitive) != 0) return;
    QApplication::setStyle(new ReadableEdgeStyle);
}

}  // namespace fw::ui

#include "UiTestSupport.h"

#include "ui/Contrast.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QRect>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTest>
#include <QTextDocumentFragment>
#include <QWidget>

#include <algorithm>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace fw::test {

namespace {

class WidgetsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // No desktop named and no theme plug-in: what the tests see never
        // depends on the desktop they are run from.
        unsetenv("XDG_CURRENT_DESKTOP");
        unsetenv("QT_QPA_PLATFORMTHEME");
        static int argc = 1;
        static char name[] = "fw_window_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { application_.reset(); }

private:
    std::unique_ptr<QApplication> application_;
};

const auto* const kWidgetsEnvironment = ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

// `area` of `control` in its window's coordinates.
QRect inWindow(const QWidget& control, const QRect& area) {
    return area.translated(control.mapTo(control.window(), QPoint()));
}

QStyleOptionSlider sliderOption(const QSlider& slider) {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.subControls = QStyle::SC_All;
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    option.singleStep = slider.singleStep();
    option.pageStep = slider.pageStep();
    option.tickPosition = slider.tickPosition();
    option.upsideDown = slider.orientation() == Qt::Horizontal
                            ? slider.invertedAppearance() != (slider.layoutDirection() == Qt::RightToLeft)
                            : !slider.invertedAppearance();
    return option;
}

double sliderEdgeContrast(const QImage& drawn, const QSlider& slider, const QColor& surface) {
    const QStyleOptionSlider option = sliderOption(slider);
    const QStyle* style = slider.style();
    const QRect handle = style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    const QRect groove = style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &slider);
    // Horizontal, left to right: the track beyond the handle is the empty one.
    const QRect track(handle.right() + 3, groove.top(), groove.right() - handle.right() - 5, groove.height());
    return std::min(inkContrast(drawn, inWindow(slider, handle), surface),
                    inkContrast(drawn, inWindow(slider, track), surface));
}

}  // namespace

void processEvents() { QApplication::processEvents(); }

double inkContrast(const QPixmap& ink, const QColor& background) {
    const QImage image = ink.toImage().convertToFormat(QImage::Format_ARGB32);
    double strongest = 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor drawn = ui::over(QColor::fromRgba(image.pixel(x, y)), background);
            strongest = std::max(strongest, ui::contrastRatio(drawn, background));
        }
    return strongest;
}

double inkContrast(const QImage& image, const QRect& area, const QColor& background) {
    double strongest = 1;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            strongest = std::max(strongest, ui::contrastRatio(QColor::fromRgb(image.pixel(x, y)), background));
    return strongest;
}

double controlEdgeContrast(const QImage& drawn, const QWidget& control, const QColor& surface) {
    if (const auto* slider = qobject_cast<const QSlider*>(&control)) return sliderEdgeContrast(drawn, *slider, surface);
    const bool isBox = qobject_cast<const QCheckBox*>(&control);
    if (isBox || qobject_cast<const QRadioButton*>(&control)) {
        QStyleOptionButton option;
        option.initFrom(&control);
        const QRect box = control.style()->subElementRect(
            isBox ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator, &option, &control);
        return inkContrast(drawn, inWindow(control, box), surface);
    }
    return inkContrast(drawn, inWindow(control, QRect(4, 0, control.width() - 8, 2)), surface);
}

double textContrast(QLabel& label) {
    // Strokes wide enough to show their ink whole, not only blended at their edges.
    const QFont saved = label.font();
    QFont large = saved;
    large.setPointSize(24);
    label.setFont(large);
    processEvents();
    const QImage drawn = label.window()->grab().toImage();
    const QColor under = drawn.pixelColor(label.mapTo(label.window(), QPoint(-3, label.height() / 2)));
    const double contrast = inkContrast(drawn, inWindow(label, label.rect()), under);
    label.setFont(saved);
    processEvents();
    return contrast;
}

double placeholderContrast(QLineEdit& field) {
    const QFont saved = field.font();
    const QString text = field.text();
    const bool readOnly = field.isReadOnly();
    QFont large = saved;
    large.setPointSize(24);
    field.setFont(large);
    field.setText({});
    field.setReadOnly(true);  // no cursor
    const QImage drawn = field.grab().toImage();
    field.setReadOnly(readOnly);
    field.setText(text);
    field.setFont(saved);
    // Inside the frame, against the field's colour left of the text.
    const QRect inside = field.rect().adjusted(3, 3, -3, -3);
    return inkContrast(drawn, inside, drawn.pixelColor(3, field.height() / 2));
}

double labelContrast(QAbstractButton& button, ButtonState state) {
    const bool enabled = button.isEnabled();
    button.setEnabled(state != ButtonState::disabled);
    QTest::mouseMove(state == ButtonState::hovered ? &button : button.window(), QPoint(1, 1));
    button.setDown(state == ButtonState::pressed);
    if (state == ButtonState::focused) button.setFocus(Qt::TabFocusReason);
    processEvents();
    const QImage drawn = button.window()->grab().toImage();
    const QColor face = drawn.pixelColor(button.mapTo(button.window(), QPoint(4, button.height() / 2)));
    const QRect label(button.width() / 2, 3, button.width() / 2 - 4, button.height() - 6);
    const double contrast = inkContrast(drawn, inWindow(button, label), face);
    button.setDown(false);
    button.setEnabled(enabled);
    return contrast;
}

namespace {

// A title as read: "&" marks and a closing colon dropped.
QString withoutMnemonics(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    while (text.endsWith(QLatin1Char(':')) || text.endsWith(QLatin1Char(' '))) text.chop(1);
    return text.trimmed();
}

// Every text `window` shows as a label, a button's, a group's or a tab's title.
QStringList shownTexts(const QWidget& window) {
    QStringList texts;
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->isVisible()) texts << withoutMnemonics(QTextDocumentFragment::fromHtml(label->text()).toPlainText());
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>())
        if (button->isVisible()) texts << withoutMnemonics(button->text());
    for (const QGroupBox* group : window.findChildren<QGroupBox*>())
        if (group->isVisible()) texts << withoutMnemonics(group->title());
    for (const QTabBar* tabs : window.findChildren<QTabBar*>())
        for (int tab = 0; tab < tabs->count(); ++tab) texts << withoutMnemonics(tabs->tabText(tab));
    // A spin box's own title ("Still image clip: 5s").
    for (const QAbstractSpinBox* spin : window.findChildren<QAbstractSpinBox*>())
        if (const auto* numbers = qobject_cast<const QSpinBox*>(spin); numbers && numbers->isVisible())
            texts << withoutMnemonics(numbers->prefix());
    texts.removeAll(QString());
    return texts;
}

QString nameOf(QWidget* control) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

}  // namespace

std::vector<std::string> controlsNamedBadly(QWidget& window) {
    const QStringList shown = shownTexts(window);
    std::vector<std::string> bad;
    for (QWidget* control : window.findChildren<QWidget*>()) {
        if (!control->isVisible() || !(control->focusPolicy() & Qt::TabFocus) || control->focusProxy()) continue;
        const QString name = nameOf(control);
        QString why;
        if (name.isEmpty())
            why = QStringLiteral("no name");
        else if (const auto* field = qobject_cast<QLineEdit*>(control); !shown.contains(withoutMnemonics(name)) &&
                                                                        name != control->toolTip() &&
                                                                        !(field && name == field->placeholderText()))
            why = QStringLiteral("\"%1\" is shown nowhere").arg(name);
        else if (const auto* combo = qobject_cast<QComboBox*>(control); combo && name == combo->currentText())
            why = QStringLiteral("named by its value \"%1\"").arg(name);
        // A segment of a picker reads its own text; the picker is named too.
        if (const auto* segment = qobject_cast<QAbstractButton*>(control);
            why.isEmpty() && segment && segment->group() && segment->group()->exclusive() &&
            !shown.contains(withoutMnemonics(nameOf(segment->parentWidget()))))
            why = QStringLiteral("its picker is named \"%1\"").arg(nameOf(segment->parentWidget()));
        if (auto* edit = qobject_cast<QLineEdit*>(control);
            why.isEmpty() && edit && !edit->placeholderText().isEmpty()) {
            const QString placeholder = edit->placeholderText();
            edit->setPlaceholderText({});
            if (nameOf(edit).isEmpty()) why = QStringLiteral("named by its placeholder \"%1\" only").arg(placeholder);
            edit->setPlaceholderText(placeholder);
        }
        if (!why.isEmpty())
            bad.push_back(QStringLiteral("%1 (%2): %3")
                              .arg(control->objectName(), QLatin1String(control->metaObject()->className()), why)
                              .toStdString());
    }
    return bad;
}

int strongChanges(const QImage& before, const QImage& after) {
    int strong = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (ui::contrastRatio(QColor::fromRgb(before.pixel(x, y)), QColor::fromRgb(after.pixel(x, y))) >=
                ui::kControlEdgeContrast)
                ++strong;
    return strong;
}

QImage grabAround(const QWidget& widget, int margin) {
    // Only what the window shows: a grab draws children beyond its edges too.
    QWidget& window = *widget.window();
    return window.grab(inWindow(widget, widget.rect().adjusted(-margin, -margin, margin, margin)) & window.rect())
        .toImage();
}

}  // namespace fw::test

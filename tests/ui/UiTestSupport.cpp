#include "UiTestSupport.h"

#include "ui/Contrast.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPixmap>
#include <QRadioButton>
#include <QRect>
#include <QSlider>
#include <QStyle>
#include <QStyleOption>
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

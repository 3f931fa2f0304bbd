#include "UiTestSupport.h"

#include "ui/Contrast.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>

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

}  // namespace fw::test

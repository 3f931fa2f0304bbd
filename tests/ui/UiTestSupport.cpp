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

QPalette darkDesktopPalette() {
    struct Role {
        QPalette::ColorRole role;
        QColor active, disabled;
    };
    const Role roles[] = {
        {QPalette::Window, QColor(0x32, 0x32, 0x32), QColor(0x32, 0x32, 0x32)},
        {QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0), QColor(0x82, 0x82, 0x82)},
        {QPalette::Base, QColor(0x24, 0x24, 0x24), QColor(0x32, 0x32, 0x32)},
        {QPalette::AlternateBase, QColor(0x2b, 0x2b, 0x2b), QColor(0x2b, 0x2b, 0x2b)},
        {QPalette::Text, QColor(0xf0, 0xf0, 0xf0), QColor(0x82, 0x82, 0x82)},
        {QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa0), QColor(0x82, 0x82, 0x82)},
        {QPalette::Button, QColor(0x32, 0x32, 0x32), QColor(0x32, 0x32, 0x32)},
        {QPalette::ButtonText, QColor(0xf0, 0xf0, 0xf0), QColor(0x82, 0x82, 0x82)},
        {QPalette::Highlight, QColor(0x30, 0x8c, 0xc6), QColor(0x91, 0x91, 0x91)},
        {QPalette::HighlightedText, QColor(0xf0, 0xf0, 0xf0), QColor(0xf0, 0xf0, 0xf0)},
        {QPalette::Light, QColor(0x4b, 0x4b, 0x4b), QColor(0x4b, 0x4b, 0x4b)},
        {QPalette::Midlight, QColor(0x2a, 0x2a, 0x2a), QColor(0x2a, 0x2a, 0x2a)},
        {QPalette::Mid, QColor(0x26, 0x26, 0x26), QColor(0x26, 0x26, 0x26)},
        {QPalette::Dark, QColor(0x21, 0x21, 0x21), QColor(0xbe, 0xbe, 0xbe)},
        {QPalette::Shadow, QColor(0x19, 0x19, 0x19), QColor(0x25, 0x25, 0x25)},
    };
    QPalette palette;
    for (const Role& role : roles) {
        palette.setColor(QPalette::Active, role.role, role.active);
        palette.setColor(QPalette::Inactive, role.role, role.active);
        palette.setColor(QPalette::Disabled, role.role, role.disabled);
    }
    return palette;
}

ApplicationPalette::ApplicationPalette(const QPalette& palette) : saved_(QApplication::palette()) {
    QApplication::setPalette(palette);
}

ApplicationPalette::~ApplicationPalette() { QApplication::setPalette(saved_); }

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

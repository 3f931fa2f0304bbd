#include "DesktopPalette.h"

#include <QApplication>

namespace fw::test {

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

std::string PaletteSwitch::name() const {
    const std::string built = builtDark ? "dark" : "light", shown = darkened ? "dark" : "light";
    return built == shown ? shown : built + ", then " + shown;
}

ApplicationPalette::ApplicationPalette(const QPalette& palette) : saved_(QApplication::palette()) {
    QApplication::setPalette(palette);
}

ApplicationPalette::~ApplicationPalette() { QApplication::setPalette(saved_); }

}  // namespace fw::test

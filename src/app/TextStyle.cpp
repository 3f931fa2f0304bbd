#include "app/TextStyle.h"

#include "ui/Contrast.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>

#include <array>

namespace fw::app {

namespace {

// Point sizes of a 13-point body text; scaled to the desktop's body size.
double relativeSize(TextRole role) {
    switch (role) {
    case TextRole::largeTitle: return 26.0 / 13.0;
    case TextRole::title: return 22.0 / 13.0;
    case TextRole::title3: return 15.0 / 13.0;
    case TextRole::headline:
    case TextRole::body: return 1.0;
    case TextRole::callout: return 12.0 / 13.0;
    case TextRole::subheadline: return 11.0 / 13.0;
    case TextRole::caption: return 10.0 / 13.0;
    }
    return 1.0;
}

void applyFont(QLabel* label, TextRole role, bool bold) {
    QFont font = QApplication::font();
    const double base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    // Captions stay readable on small desktop fonts.
    font.setPointSizeF(std::max(base * relativeSize(role), 8.0));
    if (bold || role == TextRole::headline) font.setWeight(QFont::DemiBold);
    if (bold && (role == TextRole::largeTitle || role == TextRole::title)) font.setWeight(QFont::Bold);
    label->setFont(font);
}

// What text in a secondary window lies on: the window, or a tab page.
std::array<QColor, 2> textBackgrounds(const QPalette& palette) {
    return {palette.color(QPalette::Window), ui::lightestFace(palette)};
}

}  // namespace

QColor textColour(const QPalette& palette, TextTone tone) {
    const QColor text = palette.color(QPalette::WindowText);
    const double alpha = tone == TextTone::secondary ? 0.62 : tone == TextTone::tertiary ? 0.42 : 1.0;
    return ui::readableOn(text, alpha, textBackgrounds(palette), text);
}

QColor tintedTextColour(const QPalette& palette, const QColor& tint) {
    return ui::readableOn(tint, 1.0, textBackgrounds(palette), palette.color(QPalette::WindowText));
}

void applyTextStyle(QLabel* label, TextRole role, TextTone tone, bool bold) {
    applyTextStyle(
        label, role, [tone](const QPalette& palette) { return textColour(palette, tone); }, bold);
}

void applyTextStyle(QLabel* label, TextRole role, std::function<QColor(const QPalette&)> colour, bool bold) {
    applyFont(label, role, bold);
    ui::followPalette(label, ui::PaletteUse::colours, [label, colour = std::move(colour)](const QPalette& palette) {
        QPalette own = label->palette();
        own.setColor(QPalette::Link, ui::readableOn(palette.color(QPalette::Link), 1.0, textBackgrounds(palette),
                                                    palette.color(QPalette::WindowText)));
        const QColor text = colour(palette);
        own.setColor(QPalette::WindowText, text);
        own.setColor(QPalette::Text, text);
        label->setPalette(own);
    });
}

QPixmap tintedSymbol(std::string_view symbolName, int size, const QColor& colour) {
    QPixmap pixmap = ui::symbolIcon(symbolName).pixmap(size, size);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

}  // namespace fw::app

#include "ui/RowTints.h"

#include "ui/Contrast.h"

namespace fw::ui {

namespace {

// How faint a caption starts before it is darkened to read.
constexpr double kSecondaryAlpha = 0.55;

}  // namespace

QColor rowSymbolColor(RowTint tint, const QPalette& palette, std::span<const QColor> backgrounds) {
    const QColor text = palette.color(QPalette::WindowText);
    switch (tint) {
    case RowTint::primary: return palette.color(QPalette::Text);
    case RowTint::secondary: return readableOn(text, kSecondaryAlpha, backgrounds, text);
    case RowTint::accent:
        return readableOn(palette.color(QPalette::Highlight), 1.0, backgrounds, text, kSymbolContrast);
    case RowTint::green: return readableOn(QColor(48, 164, 76), 1.0, backgrounds, text, kSymbolContrast);
    case RowTint::red: return readableOn(QColor(215, 48, 39), 1.0, backgrounds, text, kSymbolContrast);
    }
    return palette.color(QPalette::Text);
}

QColor rowTextColor(RowTint tint, const QPalette& palette, std::span<const QColor> backgrounds) {
    const QColor symbol = rowSymbolColor(tint, palette, backgrounds);
    if (tint == RowTint::primary || tint == RowTint::secondary) return symbol;
    return readableOn(symbol, 1.0, backgrounds, palette.color(QPalette::WindowText));
}

}  // namespace fw::ui

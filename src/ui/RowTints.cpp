#include "ui/RowTints.h"

#include "ui/Contrast.h"

#include <algorithm>

namespace fw::ui {

namespace {

// How faint a caption starts before it is darkened to read.
constexpr double kSecondaryAlpha = 0.55;
// The opacity of the accent over the current row.
constexpr double kCurrentRowWash = 0.14;

double leastContrast(const QColor& ink, std::span<const QColor> backgrounds) {
    double least = 21;
    for (const QColor& background : backgrounds) least = std::min(least, contrastRatio(ink, background));
    return least;
}

// The ink everything is drawn toward: the palette's text colour where it
// reads on every background, else black or white, whichever reads better.
QColor strongest(const QPalette& palette, std::span<const QColor> backgrounds) {
    const QColor text = palette.color(QPalette::Text);
    if (leastContrast(text, backgrounds) >= kReadableContrast) return text;
    const QColor black(Qt::black), white(Qt::white);
    return leastContrast(black, backgrounds) >= leastContrast(white, backgrounds) ? black : white;
}

}  // namespace

QColor rowSymbolColor(RowTint tint, const QPalette& palette, std::span<const QColor> backgrounds) {
    const QColor ink = strongest(palette, backgrounds);
    switch (tint) {
    case RowTint::primary: return readableOn(palette.color(QPalette::Text), 1.0, backgrounds, ink);
    case RowTint::secondary: return readableOn(palette.color(QPalette::Text), kSecondaryAlpha, backgrounds, ink);
    case RowTint::accent: return readableOn(palette.color(QPalette::Highlight), 1.0, backgrounds, ink, kSymbolContrast);
    case RowTint::green: return readableOn(QColor(48, 164, 76), 1.0, backgrounds, ink, kSymbolContrast);
    case RowTint::red: return readableOn(QColor(215, 48, 39), 1.0, backgrounds, ink, kSymbolContrast);
    }
    return ink;
}

QColor rowTextColor(RowTint tint, const QPalette& palette, std::span<const QColor> backgrounds) {
    const QColor symbol = rowSymbolColor(tint, palette, backgrounds);
    if (tint == RowTint::primary || tint == RowTint::secondary) return symbol;
    return readableOn(symbol, 1.0, backgrounds, strongest(palette, backgrounds));
}

QColor currentRowWash(const QPalette& palette) {
    QColor wash = palette.color(QPalette::Highlight);
    wash.setAlphaF(float(kCurrentRowWash));
    return wash;
}

std::vector<QColor> rowBackgrounds(const QPalette& palette, std::span<const QColor> surfaces) {
    std::vector<QColor> result(surfaces.begin(), surfaces.end());
    for (const QColor& surface : surfaces) result.push_back(over(currentRowWash(palette), surface));
    return result;
}

}  // namespace fw::ui

#include "ui/Banner.h"

#include "ui/Contrast.h"
#include "ui/Glass.h"
#include "ui/Symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>

namespace fw::ui {

QWidget* makeBanner(std::string_view symbolName, const QColor& tint, const QString& text, QWidget* parent) {
    auto* band = new QFrame(parent);
    QColor fill = tint;
    fill.setAlphaF(0.12);
    // ".QFrame": the band alone; its labels are frames too and would lay the tint on twice.
    band->setStyleSheet(QStringLiteral(".QFrame { background: rgba(%1,%2,%3,%4); border-radius: 8px; }")
                            .arg(fill.red())
                            .arg(fill.green())
                            .arg(fill.blue())
                            .arg(fill.alpha()));
    auto* row = new QHBoxLayout(band);
    row->setContentsMargins(8, 6, 8, 6);
    // The symbol and the text in the banner's colour, as dark as reading it on
    // a card or on the bare window (the main window's notices) needs.
    auto* label = new QLabel(text, band);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    const auto [top, bottom] = glassBackgrounds(palette);
    const QColor ink =
        readableOn(tint.darker(130), 1.0,
                   {over(fill, top), over(fill, bottom), over(fill, washTop(palette)), over(fill, washBottom(palette))},
                   palette.color(QPalette::WindowText));
    palette.setColor(QPalette::WindowText, ink);
    auto* icon = new QLabel(band);
    icon->setPixmap(tintedSymbolIcon(symbolName, ink).pixmap(14, 14));
    label->setPalette(palette);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(label, 1);
    return band;
}

}  // namespace fw::ui

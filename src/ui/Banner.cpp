#include "ui/Banner.h"

#include "ui/Contrast.h"
#include "ui/ControlStyle.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/Symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace fw::ui {

namespace {

constexpr double kFillAlpha = 0.12;

QColor bandFill(const QColor& tint) {
    QColor fill = tint;
    fill.setAlphaF(kFillAlpha);
    return fill;
}

// The symbol and the text in the banner's colour, as dark as reading it on
// a card or on the bare window (the main window's notices) needs.
QColor bannerInk(const QColor& tint, const QPalette& palette) {
    const QColor fill = bandFill(tint);
    const auto [top, bottom] = glassBackgrounds(palette);
    return readableOn(
        tint.darker(130), 1.0,
        {over(fill, top), over(fill, bottom), over(fill, washTop(palette)), over(fill, washBottom(palette))},
        palette.color(QPalette::WindowText));
}

}  // namespace

QWidget* makeBanner(std::string_view symbolName, const QColor& tint, const QString& text, QWidget* parent) {
    auto* band = new QFrame(parent);
    const QColor fill = bandFill(tint);
    // ".QFrame": the band alone; its labels are frames too and would lay the tint on twice.
    followStyleSheet(band, QStringLiteral(".QFrame { background: rgba(%1,%2,%3,%4); border-radius: 8px; }")
                               .arg(fill.red())
                               .arg(fill.green())
                               .arg(fill.blue())
                               .arg(fill.alpha()));
    auto* row = new QHBoxLayout(band);
    row->setContentsMargins(8, 6, 8, 6);
    auto* label = new QLabel(text, band);
    label->setWordWrap(true);
    const auto ink = [tint](const QPalette& palette) { return bannerInk(tint, palette); };
    auto* icon = new QLabel(band);
    showTintedSymbol(icon, symbolName, 14, ink);
    followColour(label, ink);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(label, 1);
    band->setProperty("bannerTint", tint);
    band->setProperty("bannerText", text);
    return band;
}

QPushButton* addBannerButton(QWidget* banner, const QString& text) {
    auto* button = new QPushButton(text, banner);
    button->setObjectName(QStringLiteral("bannerButton"));
    button->setAccessibleName(text);
    button->setAccessibleDescription(banner->property("bannerText").toString());
    button->setAutoDefault(false);
    // On the band's own fill, outlined, in the text's colour: no fill of its
    // own that the text would have to read on.
    const QColor tint = banner->property("bannerTint").value<QColor>();
    constexpr int kRadius = 6;
    followStyleSheet(button, [tint](const QPalette& palette) {
        const QColor ink = bannerInk(tint, palette);
        const auto rgba = [&ink](double alpha) {
            return QStringLiteral("rgba(%1,%2,%3,%4)").arg(ink.red()).arg(ink.green()).arg(ink.blue()).arg(alpha);
        };
        return QStringLiteral(
                   "QPushButton { background: transparent; color: %1; border: 1px solid %1;"
                   " border-radius: %2px; padding: 2px 10px; }"
                   " QPushButton:hover { background: %3; }"
                   " QPushButton:pressed { background: %4; }")
            .arg(rgba(1), QString::number(kRadius), rgba(0.06), rgba(0.12));
    });
    button->setProperty(kFocusRingRadius, kRadius);
    static_cast<QBoxLayout*>(banner->layout())->addWidget(button, 0, Qt::AlignVCenter);
    return button;
}

}  // namespace fw::ui

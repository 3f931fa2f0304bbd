#include "ui/Banner.h"

#include "ui/Contrast.h"
#include "ui/ControlStyle.h"
#include "ui/Glass.h"
#include "ui/Symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

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
    band->setProperty("bannerInk", ink);
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
    const QColor ink = banner->property("bannerInk").value<QColor>();
    const auto rgba = [](const QColor& colour, double alpha) {
        return QStringLiteral("rgba(%1,%2,%3,%4)").arg(colour.red()).arg(colour.green()).arg(colour.blue()).arg(alpha);
    };
    constexpr int kRadius = 6;
    button->setStyleSheet(QStringLiteral("QPushButton { background: transparent; color: %1; border: 1px solid %1;"
                                         " border-radius: %2px; padding: 2px 10px; }"
                                         " QPushButton:hover { background: %3; }"
                                         " QPushButton:pressed { background: %4; }")
                              .arg(rgba(ink, 1), QString::number(kRadius), rgba(ink, 0.06), rgba(ink, 0.12)));
    button->setProperty(kFocusRingRadius, kRadius);
    static_cast<QBoxLayout*>(banner->layout())->addWidget(button, 0, Qt::AlignVCenter);
    return button;
}

}  // namespace fw::ui

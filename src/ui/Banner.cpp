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
    band->setStyleSheet(QStringLiteral("QFrame { background: rgba(%1,%2,%3,%4); border-radius: 8px; }")
                            .arg(fill.red())
                            .arg(fill.green())
                            .arg(fill.blue())
                            .arg(fill.alpha()));
    auto* row = new QHBoxLayout(band);
    row->setContentsMargins(8, 6, 8, 6);
    auto* icon = new QLabel(band);
    icon->setPixmap(symbolIcon(symbolName).pixmap(14, 14));
    auto* label = new QLabel(text, band);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    const auto [top, bottom] = glassBackgrounds(palette);
    palette.setColor(QPalette::WindowText, readableOn(tint.darker(130), 1.0, {over(fill, top), over(fill, bottom)},
                                                      palette.color(QPalette::WindowText)));
    label->setPalette(palette);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(label, 1);
    return band;
}

}  // namespace fw::ui

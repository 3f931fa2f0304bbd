#include "app/ApplicationIcon.h"

#include "app/ApplicationIdentity.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace fw::app {

namespace {

// Mirrors the installed SVG (desktop/org.framewright.Framewright.svg) on a
// 64-unit grid.
QPixmap paintedIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    QLinearGradient background(0, 0, 0, 64);
    background.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    background.setColorAt(1, QColor(0x1e, 0x3c, 0x72));
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    // Two frames of a strip, the back one offset: a stack of encodes.
    painter.setBrush(QColor(255, 255, 255, 110));
    painter.drawRoundedRect(QRectF(18, 12, 34, 28), 4, 4);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(12, 22, 34, 28), 4, 4);
    painter.setBrush(QColor(0x1e, 0x3c, 0x72));
    for (int hole = 0; hole < 4; ++hole) {
        painter.drawRect(QRectF(15 + hole * 8, 24.5, 4, 3));
        painter.drawRect(QRectF(15 + hole * 8, 44.5, 4, 3));
    }
    QPainterPath play;
    play.moveTo(25, 30);
    play.lineTo(25, 42);
    play.lineTo(35, 36);
    play.closeSubpath();
    painter.drawPath(play);
    return pixmap;
}

}  // namespace

QIcon applicationIcon() {
    QIcon fallback;
    for (int size : {16, 22, 32, 48, 64, 128, 256}) fallback.addPixmap(paintedIcon(size));
    return QIcon::fromTheme(QString::fromLatin1(kApplicationId), fallback);
}

}  // namespace fw::app

#include "ui/Glass.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>

namespace fw::ui {

GlassCard::GlassCard(QWidget* parent, int cornerRadius) : QFrame(parent), cornerRadius_(cornerRadius) {
    setAttribute(Qt::WA_TranslucentBackground, false);
    setFrameShape(QFrame::NoFrame);
}

void GlassCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius_, cornerRadius_);
    QColor fill = palette().color(QPalette::Base);
    fill.setAlphaF(0.55);
    painter.fillPath(path, fill);
    QColor edge = palette().color(QPalette::Mid);
    edge.setAlphaF(0.35);
    painter.setPen(QPen(edge, 1));
    painter.drawPath(path);
}

void applyGlassButton(QAbstractButton* button, bool small) {
    button->setProperty("glass", true);
    if (small) {
        QFont font = button->font();
        font.setPointSizeF(font.pointSizeF() * 0.9);
        button->setFont(font);
    }
}

void applyGlassProminentButton(QAbstractButton* button) { button->setProperty("glassProminent", true); }

}  // namespace fw::ui

#include "ui/CardText.h"

#include "ui/AccessibleNames.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/Symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>

namespace fw::ui {

namespace {

void shrinkFont(QWidget* widget, double factor) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * factor);
    widget->setFont(font);
}

}  // namespace

void followSecondaryText(QWidget* widget, QPalette::ColorRole role) {
    followColour(
        widget, [](const QPalette& palette) { return secondaryTextOnGlass(palette); }, role);
}

QString menuText(const std::string& text) {
    return QString::fromStdString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QLabel* makeCaption(const QString& text, QWidget* parent, bool smaller) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    shrinkFont(label, smaller ? 0.8 : 0.88);
    followSecondaryText(label);
    return label;
}

QLabel* makeHeading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label;
}

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    followColour(line, [](const QPalette& palette) {
        QColor color = palette.color(QPalette::WindowText);
        color.setAlphaF(0.15);
        return color;
    });
    return line;
}

QWidget* makeTitledRow(const QString& title, QWidget* control, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(title, row);
    pairLabel(label, control);
    layout->addWidget(label);
    control->setParent(row);
    layout->addWidget(control, 1);
    return row;
}

QWidget* makeTintedNote(std::string_view symbolName, const QColor& tint, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* icon = new QLabel(row);
    auto* label = new QLabel(text, row);
    label->setObjectName(QStringLiteral("noteText"));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    shrinkFont(label, 0.8);
    // The symbol in the text's colour: the bare tint (a light orange) hardly shows on a light card.
    const auto ink = [tint](const QPalette& palette) { return tintTextOnGlass(tint, palette); };
    followColour(label, ink);
    showTintedSymbol(icon, symbolName, 12, ink);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    return row;
}

}  // namespace fw::ui

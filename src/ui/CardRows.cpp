#include "ui/CardRows.h"

#include "ui/Glass.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace fw::ui {

namespace {

void useCaptionFont(QWidget* widget) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    widget->setFont(font);
}

void useSecondaryColour(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    widget->setPalette(palette);
}

}  // namespace

QCheckBox* makeSwitch(const QString& text, const QString& objectName, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    return box;
}

QLabel* makeCaption(const QString& text, QWidget* parent, bool secondary) {
    auto* label = new QLabel(text, parent);
    useCaptionFont(label);
    if (secondary) useSecondaryColour(label);
    return label;
}

QLabel* makeHelpText(const QString& text, QWidget* parent) {
    QLabel* label = makeCaption(text, parent);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return label;
}

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QWidget* makeGroup(QWidget* parent, int spacing) {
    auto* group = new QWidget(parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return group;
}

QVBoxLayout* groupLayout(QWidget* group) { return static_cast<QVBoxLayout*>(group->layout()); }

QWidget* makeRow(QWidget* parent, std::initializer_list<QWidget*> items, int spacing) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    if (spacing >= 0) layout->setSpacing(spacing);
    for (QWidget* item : items) {
        if (item)
            layout->addWidget(item);
        else
            layout->addStretch(1);
    }
    return row;
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void ElidedLabel::setFullText(const QString& text) {
    fullText_ = text;
    setToolTip(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 4, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() { setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, width())); }

void FileRow::showName(const QString& fileName) const {
    name->setFullText(fileName.isEmpty() ? QObject::tr("None") : fileName);
}

void FileRow::showError(const QString& message) const {
    error->setText(message);
    error->setVisible(!message.isEmpty());
}

FileRow makeFileRow(const QString& buttonText, const QString& objectName, QWidget* parent) {
    FileRow row;
    row.widget = makeGroup(parent, 4);
    auto* choose = new QPushButton(buttonText, row.widget);
    choose->setObjectName(objectName + QStringLiteral("Choose"));
    applyGlassButton(choose, true);
    row.choose = choose;
    row.name = new ElidedLabel(row.widget);
    row.name->setObjectName(objectName + QStringLiteral("Name"));
    useCaptionFont(row.name);
    useSecondaryColour(row.name);
    row.error = makeHelpText(QString(), row.widget);
    row.error->setObjectName(objectName + QStringLiteral("Error"));
    QPalette palette = row.error->palette();
    palette.setColor(QPalette::WindowText, QColor(0xc6, 0x28, 0x28));
    row.error->setPalette(palette);
    row.error->hide();
    auto* line = makeRow(row.widget, {choose, row.name});
    static_cast<QHBoxLayout*>(line->layout())->setStretch(1, 1);
    groupLayout(row.widget)->addWidget(line);
    groupLayout(row.widget)->addWidget(row.error);
    row.showName(QString());
    return row;
}

}  // namespace fw::ui

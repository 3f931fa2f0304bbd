#include "ui/CardRows.h"

#include "ui/AccessibleNames.h"
#include "ui/ElidedLabel.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

namespace fw::ui {

QCheckBox* makeSwitch(const QString& text, const QString& objectName, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    return box;
}

QLabel* makeShortCaption(const QString& text, QWidget* parent, bool secondary) {
    QLabel* label = makeCaption(text, parent);
    label->setWordWrap(false);
    // The caption's own colour given up: the label takes its parent's again.
    if (!secondary) followPalette(label, PaletteUse::colours, [label](const QPalette&) { label->setPalette({}); });
    return label;
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
    // Each control is named by the label before it ("Start" 00:00:00:00),
    // or else by the one after it, its unit (25 "fps").
    const std::vector<QWidget*> all(items);
    for (std::size_t at = 0; at < all.size(); ++at) {
        QWidget* control = all[at];
        if (!control || qobject_cast<QLabel*>(control) || !(control->focusPolicy() & Qt::TabFocus) ||
            qobject_cast<QAbstractButton*>(control) || !control->accessibleName().isEmpty())
            continue;
        const auto labelAt = [&all](std::size_t index) {
            auto* label = index < all.size() ? qobject_cast<QLabel*>(all[index]) : nullptr;
            return label && label->pixmap().isNull() && !label->text().isEmpty() ? label : nullptr;
        };
        if (QLabel* before = at > 0 ? labelAt(at - 1) : nullptr)
            pairLabel(before, control);
        else if (QLabel* after = labelAt(at + 1))
            pairLabel(after, control);
    }
    return row;
}

namespace {

void collectTabStops(QWidget* parent, std::vector<QWidget*>& stops) {
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow()) continue;
        // A focusable widget moves with the widgets inside it (a spin box's field).
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy())
            stops.push_back(widget);
        else
            collectTabStops(widget, stops);
    }
}

}  // namespace

void placeTabStopsAfter(QWidget* after, QWidget* root) {
    std::vector<QWidget*> stops;
    collectTabStops(root, stops);
    for (QWidget* stop : stops) {
        QWidget::setTabOrder(after, stop);
        after = stop;
    }
}

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
    QFont font = row.name->font();
    font.setPointSizeF(font.pointSizeF() * 0.88);
    row.name->setFont(font);
    followSecondaryText(row.name);
    row.error = makeCaption(QString(), row.widget);
    row.error->setObjectName(objectName + QStringLiteral("Error"));
    followColour(row.error, [](const QPalette& palette) { return tintTextOnGlass(Tint::red, palette); });
    row.error->hide();
    auto* line = makeRow(row.widget, {choose, row.name});
    static_cast<QHBoxLayout*>(line->layout())->setStretch(1, 1);
    groupLayout(row.widget)->addWidget(line);
    groupLayout(row.widget)->addWidget(row.error);
    row.showName(QString());
    return row;
}

}  // namespace fw::ui

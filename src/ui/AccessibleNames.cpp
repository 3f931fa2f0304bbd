#include "ui/AccessibleNames.h"

#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocumentFragment>

namespace fw::ui {

namespace {

class LabelledComboBox final : public QAccessibleWidget {
public:
    explicit LabelledComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        if (kind != QAccessible::Value) return QAccessibleWidget::text(kind);
        const auto* box = static_cast<const QComboBox*>(widget());
        return box->isEditable() && box->lineEdit() ? box->lineEdit()->text() : box->currentText();
    }

    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction() << pressAction();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction())
            static_cast<QComboBox*>(widget())->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* labelledComboBoxes(const QString& className, QObject* object) {
    if (className != QLatin1String("QComboBox") || !object || !object->isWidgetType()) return nullptr;
    return new LabelledComboBox(static_cast<QComboBox*>(object));
}

QString plainTitle(const QString& text) {
    QString plain = Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
    plain.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    plain.remove(QLatin1Char('&'));
    plain.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    // "Width:" reads as "Width".
    while (plain.endsWith(QLatin1Char(':')) || plain.endsWith(QLatin1Char(' '))) plain.chop(1);
    return plain.trimmed();
}

}  // namespace

void nameAfter(QWidget* control, const QString& title) { control->setAccessibleName(plainTitle(title)); }

void pairLabel(QLabel* label, QWidget* control) {
    label->setBuddy(control);
    nameAfter(control, label->text());
}

void useLabelledComboBoxes() {
    static const bool installed = [] {
        QAccessible::installFactory(labelledComboBoxes);
        return true;
    }();
    (void)installed;
}

}  // namespace fw::ui

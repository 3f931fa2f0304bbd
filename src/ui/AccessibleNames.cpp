#include "ui/AccessibleNames.h"

#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocumentFragment>

#include <utility>

namespace fw::ui {

namespace {

// A combo box named by its label, whose choice is its value and, for
// readers over AT-SPI (which take no value or children from Qt here), its
// text: a read-only text of the item chosen, which changes with the choice.
class LabelledComboBox final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelledComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox), shown_(choice()) {
        // The box outlives this interface's use: the cache drops the interface with the box.
        QObject::connect(box, &QComboBox::currentTextChanged, box, [this] { announceChoice(); });
    }

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Value ? choice() : QAccessibleWidget::text(kind);
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        // An editable box's field is its child and holds the text itself.
        if (type == QAccessible::TextInterface && !comboBox()->isEditable())
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction() << pressAction();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction())
            comboBox()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

    // The text: the choice, read-only, with no caret or selection.
    QString text(int start, int end) const override { return choice().mid(start, end - start); }
    int characterCount() const override { return int(choice().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QComboBox* comboBox() const { return static_cast<QComboBox*>(widget()); }
    QString choice() const {
        const QComboBox* box = comboBox();
        return box->isEditable() && box->lineEdit() ? box->lineEdit()->text() : box->currentText();
    }

    // Readers hear the new choice as the text replaced.
    void announceChoice() {
        const QString now = choice();
        if (now == shown_) return;
        QAccessibleTextUpdateEvent event(comboBox(), 0, std::exchange(shown_, now), now);
        QAccessible::updateAccessibility(&event);
    }

    QString shown_;  // the text readers were last told of
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

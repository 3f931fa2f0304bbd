#include "ui/Binding.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

namespace fw::ui {

namespace {

// A field the user is typing in keeps its text until editing ends.
bool isBeingEdited(const QLineEdit* edit) { return edit->hasFocus() && edit->isModified(); }

}  // namespace

Binder::Binder(EncodingCoordinator& coordinator, QWidget* owner, Running running)
    : QObject(owner), coordinator_(coordinator), running_(running) {
    connect(&coordinator_, &EncodingCoordinator::isRunningChanged, this, &Binder::refreshEnabled);
}

void Binder::follow(QWidget* control) {
    controls_.emplace_back(control);
    if (running_ == Running::disables) control->setEnabled(!coordinator_.isRunning());
}

void Binder::refreshEnabled() {
    if (running_ != Running::disables) return;
    for (const QPointer<QWidget>& control : controls_)
        if (control) control->setEnabled(!coordinator_.isRunning());
}

void Binder::check(QAbstractButton* box, Setting<bool> value) {
    box->setCheckable(true);
    watch(
        [box, value] {
            const QSignalBlocker blocker(box);
            box->setChecked(value.get());
        },
        value);
    connect(box, &QAbstractButton::toggled, this, [value](bool checked) { value.set(checked); });
    follow(box);
}

void Binder::check(QAction* item, Setting<bool> value) {
    item->setCheckable(true);
    watch(
        [item, value] {
            const QSignalBlocker blocker(item);
            item->setChecked(value.get());
        },
        value);
    connect(item, &QAction::toggled, this, [value](bool checked) { value.set(checked); });
    if (running_ == Running::disables) {
        connect(&coordinator_, &EncodingCoordinator::isRunningChanged, item,
                [this, item] { item->setEnabled(!coordinator_.isRunning()); });
        item->setEnabled(!coordinator_.isRunning());
    }
}

void Binder::text(QLineEdit* edit, Setting<std::string> value) {
    watch(
        [edit, value] {
            if (isBeingEdited(edit)) return;
            const QSignalBlocker blocker(edit);
            edit->setText(QString::fromStdString(value.get()));
        },
        value);
    connect(edit, &QLineEdit::editingFinished, this, [edit, value] {
        edit->setModified(false);
        value.set(edit->text().toStdString());
    });
    follow(edit);
}

QString Binder::formatNumber(double value, int decimals) {
    const QLocale locale;
    if (decimals >= 0) return locale.toString(value, 'f', decimals);
    QString text = locale.toString(value, 'f', QLocale::FloatingPointShortest);
    return text;
}

std::optional<double> Binder::parseNumber(const QString& text) {
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

void Binder::number(QLineEdit* edit, Setting<double> value, int decimals) {
    auto show = [edit, value, decimals] {
        const QSignalBlocker blocker(edit);
        edit->setText(formatNumber(value.get(), decimals));
        edit->setModified(false);
    };
    watch(
        [edit, show] {
            if (!isBeingEdited(edit)) show();
        },
        value);
    connect(edit, &QLineEdit::editingFinished, this, [edit, value, show] {
        if (const std::optional<double> parsed = parseNumber(edit->text())) value.set(*parsed);
        show();
    });
    follow(edit);
}

void Binder::integer(QLineEdit* edit, Setting<int> value) {
    number(edit,
           mapped<int, double>(
               value, [](const int& i) { return double(i); },
               [](const double& d) {
                   const double clamped = std::clamp(std::round(d), -2147483648.0, 2147483647.0);
                   return int(clamped);
               }),
           0);
}

void Binder::spin(QSpinBox* box, Setting<int> value) {
    watch(
        [box, value] {
            const QSignalBlocker blocker(box);
            box->setValue(value.get());
        },
        value);
    connect(box, &QSpinBox::valueChanged, this, [value](int v) { value.set(v); });
    follow(box);
}

void Binder::slider(QSlider* slider, Setting<int> value) {
    watch(
        [slider, value] {
            const QSignalBlocker blocker(slider);
            slider->setValue(value.get());
        },
        value);
    connect(slider, &QSlider::valueChanged, this, [value](int v) { value.set(v); });
    follow(slider);
}

void Binder::choiceIndex(QComboBox* box, Setting<int> value) {
    watch(
        [box, value] {
            const QSignalBlocker blocker(box);
            box->setCurrentIndex(value.get());
        },
        value);
    connect(box, &QComboBox::currentIndexChanged, this, [value](int index) {
        if (index >= 0) value.set(index);
    });
    follow(box);
}

void Binder::segmentIndex(QButtonGroup* group, Setting<int> value) {
    group->setExclusive(true);
    watch(
        [group, value] {
            const int index = value.get();
            for (QAbstractButton* button : group->buttons()) {
                const QSignalBlocker blocker(button);
                button->setCheckable(true);
                button->setChecked(group->id(button) == index);
            }
        },
        value);
    connect(group, &QButtonGroup::idClicked, this, [value](int id) {
        if (id >= 0) value.set(id);
    });
    for (QAbstractButton* button : group->buttons()) follow(button);
}

}  // namespace fw::ui

#include "ui/Binding.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cmath>
#include <memory>

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
    if (std::find(controls_.begin(), controls_.end(), control) == controls_.end()) controls_.emplace_back(control);
    applyEnabled(control);
}

void Binder::applyEnabled(QWidget* control) const {
    bool enabled = !(running_ == Running::disables && coordinator_.isRunning());
    bool conditioned = false;
    for (const auto& [target, condition] : conditions_)
        if (target == control) {
            conditioned = true;
            enabled = enabled && condition();
        }
    if (running_ == Running::disables || conditioned) control->setEnabled(enabled);
}

void Binder::refreshEnabled() {
    for (const QPointer<QWidget>& control : controls_)
        if (control) applyEnabled(control);
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

void Binder::text(QLineEdit* edit, Setting<std::string> value, Commit commit) {
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
    if (commit == Commit::onEveryEdit)
        connect(edit, &QLineEdit::textEdited, this, [value](const QString& text) { value.set(text.toStdString()); });
    follow(edit);
}

QString Binder::formatNumber(double value, int decimals) {
    // "1,280" typed back into a field that reads "," as a decimal point is 1.28.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals >= 0 ? decimals : QLocale::FloatingPointShortest);
}

std::optional<double> Binder::parseNumber(const QString& text) {
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

void Binder::number(QLineEdit* edit, Setting<double> value, int decimals, std::optional<NumberRange> range) {
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
    connect(edit, &QLineEdit::editingFinished, this, [this, edit, value, show, range] {
        const QString typed = edit->text();
        std::optional<double> parsed = parseNumber(typed);
        if (parsed && range) {
            const double inRange = std::clamp(*parsed, range->lowest, range->highest);
            if (inRange != *parsed && range->beyond == NumberRange::Beyond::refused)
                parsed.reset();
            else
                parsed = inRange;
        }
        if (parsed) value.set(*parsed);
        show();
        if (!parsed) emit numberRefused(edit, typed);
    });
    follow(edit);
}

void Binder::integer(QLineEdit* edit, Setting<int> value, std::optional<NumberRange> range) {
    number(edit,
           mapped<int, double>(
               value, [](const int& i) { return double(i); },
               [](const double& d) {
                   const double clamped = std::clamp(std::round(d), -2147483648.0, 2147483647.0);
                   return int(clamped);
               }),
           0, range);
}

void Binder::integer(QLineEdit* edit, Setting<std::int64_t> value, std::optional<NumberRange> range) {
    number(edit,
           mapped<std::int64_t, double>(
               value, [](const std::int64_t& i) { return double(i); },
               [](const double& d) {
                   // 2^63 itself does not fit; the largest double below it does.
                   const double clamped = std::clamp(std::round(d), -9223372036854775808.0, 9223372036854774784.0);
                   return std::int64_t(clamped);
               }),
           0, range);
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
    // A refresh lets the box's signals through, so that screen readers hear
    // of a choice the program made (a preset applied) as of the user's own;
    // it is only kept from writing back.
    auto refreshing = std::make_shared<bool>(false);
    watch(
        [box, value, refreshing] {
            const QScopedValueRollback guard(*refreshing, true);
            box->setCurrentIndex(value.get());
        },
        value);
    connect(box, &QComboBox::currentIndexChanged, this, [box, value, refreshing](int index) {
        if (index < 0 || *refreshing) return;
        value.set(index);
        if (value.get() == index) return;
        const QSignalBlocker blocker(box);
        box->setCurrentIndex(value.get());
    });
    follow(box);
}

void Binder::segmentIndex(QButtonGroup* group, Setting<int> value) {
    group->setExclusive(true);
    watch(
        [group, value] {
            const int index = value.get();
            const QList<QAbstractButton*> buttons = group->buttons();
            const bool chosen = group->button(index) != nullptr;
            for (QAbstractButton* button : buttons) {
                const QSignalBlocker blocker(button);
                button->setCheckable(true);
                button->setChecked(group->id(button) == index);
                // One Tab stop, as in a radio group: the chosen segment (the
                // first while none is), from which the arrows choose. Read
                // from the index: the group unchecks the old one only when
                // the new one is checked.
                const bool stop = chosen ? group->id(button) == index : button == buttons.front();
                button->setFocusPolicy(stop ? Qt::FocusPolicy(button->focusPolicy() | Qt::TabFocus)
                                            : Qt::FocusPolicy(button->focusPolicy() & ~Qt::TabFocus));
            }
        },
        value);
    connect(group, &QButtonGroup::idClicked, this, [group, value](int id) {
        if (id < 0) return;
        value.set(id);
        const int stored = value.get();
        if (stored == id) return;
        for (QAbstractButton* button : group->buttons()) {
            const QSignalBlocker blocker(button);
            button->setChecked(group->id(button) == stored);
        }
    });
    for (QAbstractButton* button : group->buttons()) follow(button);
}

}  // namespace fw::ui

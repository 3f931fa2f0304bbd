#pragma once
// Ties a control to one setting of a model object (usually the coordinator).
//
// A control writes a changed copy of the setting back when the user edits it;
// the setting's change signal refreshes the control without writing back:
// with its signals blocked, or, for a combo box (whose signals tell screen
// readers of the new choice), with its write-back held. A line edit the user
// is typing in is not overwritten. Number fields are parsed and shown in the
// user's locale (shown without digit grouping, so that what they show types
// back) and committed when editing ends; a text that does not parse leaves
// the stored value and shows it again, and a field given a range stores the
// typed value brought into it, or refuses it (numberRefused()) when the range
// says so. A choice the setting does not take (it stays as it was) is undone
// in the control.
//
// "Disabled while running" is a property of the Binder: every control bound
// through a Binder made with Running::disables is disabled while the
// coordinator runs a batch; enableWhen() adds a condition of its own to one
// control (a codec that supports it, a queue that can be published).

#include "coordinator/EncodingCoordinator.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

class QAbstractButton;
class QAction;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QSlider;
class QSpinBox;
class QWidget;

namespace fw::ui {

// One readable, writable, observable value.
template <class T>
struct Setting {
    std::function<T()> get;
    std::function<void(const T&)> set;
    // Calls the function on `context`'s thread each time the value may have changed.
    std::function<QMetaObject::Connection(QObject* context, std::function<void()>)> onChange;
};

// A setting of `object` through its getter, setter and change signal, e.g.
// setting(coordinator, &EncodingCoordinator::geometry,
//         &EncodingCoordinator::setGeometry, &EncodingCoordinator::geometryChanged).
template <class Object, class Getter, class Setter, class Signal>
auto setting(Object& object, Getter get, Setter set, Signal changed) {
    using T = std::decay_t<std::invoke_result_t<Getter, const Object&>>;
    Object* target = &object;
    return Setting<T>{[target, get] { return std::invoke(get, *target); },
                      [target, set](const T& value) { std::invoke(set, *target, value); },
                      [target, changed](QObject* context, std::function<void()> function) {
                          return QObject::connect(target, changed, context, std::move(function));
                      }};
}

// One field of a record setting: writing it writes a changed copy of the
// whole record back.
template <class Record, class T>
Setting<T> field(Setting<Record> record, T Record::*member) {
    return Setting<T>{[record, member] { return record.get().*member; },
                      [record, member](const T& value) {
                          Record changed = record.get();
                          changed.*member = value;
                          record.set(changed);
                      },
                      record.onChange};
}

// A setting seen through a conversion, e.g. an enum as a combo index.
template <class T, class U>
Setting<U> mapped(Setting<T> inner, std::function<U(const T&)> toOuter, std::function<T(const U&)> toInner) {
    return Setting<U>{[inner, toOuter] { return toOuter(inner.get()); },
                      [inner, toInner](const U& value) { inner.set(toInner(value)); }, inner.onChange};
}

// The values a number field accepts, both ends included.
struct NumberRange {
    // What a typed value outside the range does: it is stored as the nearer
    // end, or refused like a text that is no number.
    enum class Beyond { nearestEnd, refused };
    double lowest;
    double highest;
    Beyond beyond = Beyond::nearestEnd;
};

class Binder : public QObject {
    Q_OBJECT

public:
    enum class Running { disables, keepsEnabled };
    // When a text field writes its setting.
    enum class Commit { whenEditingEnds, onEveryEdit };

    // Lives as long as `owner` (its child).
    Binder(EncodingCoordinator& coordinator, QWidget* owner, Running running = Running::disables);

    EncodingCoordinator& coordinator() const { return coordinator_; }

    void check(QAbstractButton* box, Setting<bool> value);
    // Committed when editing ends (Return or focus out), or also on every
    // keystroke with Commit::onEveryEdit.
    void text(QLineEdit* edit, Setting<std::string> value, Commit commit = Commit::whenEditingEnds);
    // Locale numbers. `decimals` < 0: as many as the value needs. With a
    // range, a typed value outside it is stored as the nearer end, or refused.
    void number(QLineEdit* edit, Setting<double> value, int decimals = -1,
                std::optional<NumberRange> range = std::nullopt);
    void integer(QLineEdit* edit, Setting<int> value, std::optional<NumberRange> range = std::nullopt);
    void integer(QLineEdit* edit, Setting<std::int64_t> value, std::optional<NumberRange> range = std::nullopt);
    // A checkable menu item; it follows the running rule like a control.
    void check(QAction* item, Setting<bool> value);
    void spin(QSpinBox* box, Setting<int> value);
    void slider(QSlider* slider, Setting<int> value);
    // Item i of the combo box stands for choices[i].
    template <class E>
    void choice(QComboBox* box, Setting<E> value, std::vector<E> choices) {
        choiceIndex(box, asIndex(std::move(value), std::move(choices)));
    }
    // Button i of the group (its id) stands for choices[i]: a segmented
    // picker. Like a radio group it is one Tab stop, the chosen button, and
    // the arrows choose from there.
    template <class E>
    void segments(QButtonGroup* group, Setting<E> value, std::vector<E> choices) {
        segmentIndex(group, asIndex(std::move(value), std::move(choices)));
    }

    // Runs `refresh` now and after every change of any of the settings (for
    // visibility, captions, enabling that depends on values).
    template <class... T>
    void watch(std::function<void()> refresh, const Setting<T>&... settings) {
        refresh();
        (settings.onChange(this, refresh), ...);
    }
    // Runs `refresh` now and after each of the coordinator's signals.
    template <class... Signal>
    void watchSignals(std::function<void()> refresh, Signal... changeSignals) {
        refresh();
        (QObject::connect(&coordinator_, changeSignals, this, refresh), ...);
    }

    // Applies this Binder's running rule to a control that is not bound
    // through it (a button with an action, say).
    void follow(QWidget* control);
    // Also keeps `control` disabled while `condition()` is false, re-checked
    // after each of the coordinator's `changeSignals` and on refreshEnabled().
    // With Running::keepsEnabled the condition alone decides.
    template <class... Signal>
    void enableWhen(QWidget* control, std::function<bool()> condition, Signal... changeSignals) {
        conditions_.emplace_back(control, std::move(condition));
        follow(control);
        (QObject::connect(&coordinator_, changeSignals, this, &Binder::refreshEnabled), ...);
    }
    // Re-applies the running rule and the conditions to every followed control
    // (for inputs that are not coordinator signals).
    void refreshEnabled();

    // The text a number field shows for `value` in the user's locale.
    static QString formatNumber(double value, int decimals = -1);
    // The user's-locale parse; nothing for text that is not a finite number.
    static std::optional<double> parseNumber(const QString& text);

signals:
    // A number field's edit ended with `typed`, which it did not store (no
    // number, or outside a range that refuses); the field shows the stored
    // value again.
    void numberRefused(QLineEdit* field, const QString& typed);

private:
    // The setting as a position in `choices`; -1 for a value not among them.
    template <class E>
    static Setting<int> asIndex(Setting<E> value, std::vector<E> choices) {
        return mapped<E, int>(
            std::move(value),
            [choices](const E& e) {
                for (std::size_t i = 0; i < choices.size(); ++i)
                    if (choices[i] == e) return int(i);
                return -1;
            },
            [choices](const int& i) { return choices.at(std::size_t(i)); });
    }
    void choiceIndex(QComboBox* box, Setting<int> value);
    void segmentIndex(QButtonGroup* group, Setting<int> value);
    void applyEnabled(QWidget* control) const;

    EncodingCoordinator& coordinator_;
    Running running_;
    std::vector<QPointer<QWidget>> controls_;
    std::vector<std::pair<QPointer<QWidget>, std::function<bool()>>> conditions_;
};

}  // namespace fw::ui

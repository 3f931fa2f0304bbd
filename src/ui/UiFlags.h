#pragma once
// The window's persisted flags ("card.output.expanded", "showAdvancedSettings",
// "hasSeenWelcome", …) in the user defaults, with a change signal so that
// every view reading one key follows a change made by another.

#include "platform/core/UserDefaults.h"

#include <QObject>
#include <QString>

namespace fw::ui {

class UiFlags : public QObject {
    Q_OBJECT

public:
    explicit UiFlags(UserDefaults& defaults, QObject* parent = nullptr);

    // The stored flag, or `fallback` while the key is absent or not a Bool.
    bool flag(const QString& key, bool fallback) const;
    // Stores the flag at once; signals only when the stored value changed.
    void setFlag(const QString& key, bool value);

    UserDefaults& defaults() const { return defaults_; }

signals:
    void flagChanged(const QString& key);

private:
    UserDefaults& defaults_;
};

}  // namespace fw::ui

#include "ui/UiFlags.h"

namespace fw::ui {

UiFlags::UiFlags(UserDefaults& defaults, QObject* parent) : QObject(parent), defaults_(defaults) {}

bool UiFlags::flag(const QString& key, bool fallback) const {
    return defaults_.boolean(key.toStdString()).value_or(fallback);
}

void UiFlags::setFlag(const QString& key, bool value) {
    const std::optional<bool> stored = defaults_.boolean(key.toStdString());
    if (stored == value) return;
    defaults_.set(key.toStdString(), value);
    emit flagChanged(key);
}

}  // namespace fw::ui

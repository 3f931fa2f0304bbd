#pragma once
// What the application hands every window: the shared model objects, built
// once, and the shell's services the windows call.

#include <QString>

#include <functional>

namespace fw {
class EncodingCoordinator;
class PresetStore;
}  // namespace fw

namespace fw::ui {

class FilePicker;
class UiFlags;

struct WindowEnvironment {
    EncodingCoordinator& coordinator;
    PresetStore& presets;
    UiFlags& flags;
    FilePicker& picker;
    // Opens the single window "welcome", "manual", "history" or "about", or
    // brings it forward when it is open.
    std::function<void(const QString& id)> openWindow = [](const QString&) {};
    // Touches the shared update service, which starts it on first use.
    std::function<void()> startUpdater = [] {};
};

}  // namespace fw::ui

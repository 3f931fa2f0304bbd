#pragma once
// What the shell uses of the update service: the Settings window's Updates
// tab and the "Check for Updates…" command. The application fills it from
// the shared service; tests leave the inert defaults.

#include <QString>

#include <functional>

namespace fw::app {

struct UpdateSettings {
    std::function<QString()> currentVersion = [] { return QString(); };
    std::function<bool()> automaticallyChecks = [] { return true; };
    std::function<void(bool)> setAutomaticallyChecks = [](bool) {};
    std::function<bool()> receivesBetaUpdates = [] { return false; };
    std::function<void(bool)> setReceivesBetaUpdates = [](bool) {};
    std::function<void()> checkForUpdates = [] {};
};

}  // namespace fw::app

#include "app/BackgroundController.h"

#include <QFile>

namespace fw::app {

BackgroundController::BackgroundController(AutostartEntry entry, std::filesystem::path executable, QObject* parent)
    : QObject(parent),
      entry_(std::move(entry)),
      executable_(std::move(executable)),
      launchAtLogin_(entry_.isEnabled()) {}

void BackgroundController::setLaunchAtLogin(bool value) {
    if (value == launchAtLogin_) return;
    launchAtLogin_ = value;
    emit launchAtLoginChanged();
    applyLoginItem();
}

namespace {
// Applies `enabled` to the entry; the failure's message, or empty.
QString change(const AutostartEntry& entry, const std::filesystem::path& executable, bool enabled) {
    const std::optional<std::string> failure = enabled ? entry.enable(executable) : entry.disable();
    if (!failure) return {};
    return BackgroundController::tr("Could not update the autostart entry in %1: %2")
        .arg(QFile::decodeName(entry.file().parent_path().c_str()), QString::fromStdString(*failure));
}
}  // namespace

void BackgroundController::applyLoginItem() {
    QString message = change(entry_, executable_, launchAtLogin_);
    if (!message.isEmpty()) {
        // The toggle follows the entry's real state, and that state is applied
        // once more (a failed registration is followed by a removal).
        if (const bool actual = entry_.isEnabled(); actual != launchAtLogin_) {
            launchAtLogin_ = actual;
            emit launchAtLoginChanged();
            if (QString second = change(entry_, executable_, actual); !second.isEmpty()) message = second;
        }
    }
    setLastError(message);
}

void BackgroundController::setRunAsMenuBarAgent(bool value) {
    if (value == runAsMenuBarAgent_ || (value && !agentModeUnavailableReason_.isEmpty())) return;
    runAsMenuBarAgent_ = value;
    emit runAsMenuBarAgentChanged();
    if (agentModeHandler_) agentModeHandler_(value);
}

void BackgroundController::setAgentModeUnavailableReason(const QString& reason) {
    if (reason == agentModeUnavailableReason_) return;
    agentModeUnavailableReason_ = reason;
    if (!reason.isEmpty()) setRunAsMenuBarAgent(false);
    emit agentModeAvailabilityChanged();
}

void BackgroundController::setLastError(const QString& value) {
    if (value == lastError_) return;
    lastError_ = value;
    emit lastErrorChanged();
}

}  // namespace fw::app

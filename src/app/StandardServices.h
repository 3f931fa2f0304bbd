#pragma once
// The application's coordinator services: the one place the concrete stores,
// keyring, notifications and uploads are chosen. The coordinator itself only
// sees the interfaces of coordinator/CoordinatorServices.h.

#include "coordinator/CoordinatorServices.h"

namespace fw::app {

// The queue file and history in the application-support folder, the standard
// user defaults, the engine's encoders, the keyring (KeychainStore), desktop
// notifications on the session bus (NotificationManager), HTTP(S) uploads
// (HttpUploader), the system clock and this machine's processor count.
// REQUIRES: a QCoreApplication exists (the session bus needs it).
CoordinatorServices standardServices();

}  // namespace fw::app

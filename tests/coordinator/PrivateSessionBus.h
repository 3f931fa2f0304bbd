#pragma once
// A dbus-daemon of the test's own, on a socket in a scratch folder, with no
// activatable services: nothing on the machine's session is touched.

#include "support/TestSupport.h"

#include <QProcess>
#include <QString>

#include <functional>

namespace fw::test {

class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    // Empty when dbus-daemon could not be started.
    const QString& address() const { return address_; }

private:
    TempDir folder_;
    QProcess daemon_;
    QString address_;
};

// Runs the event loop until `done` holds or `timeout_ms` passes.
bool waitUntil(const std::function<bool()>& done, int timeout_ms = 5000);

}  // namespace fw::test

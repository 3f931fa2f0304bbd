#include "PrivateSessionBus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <fstream>

namespace fw::test {

PrivateSessionBus::PrivateSessionBus() {
    const auto config = folder_ / "session.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir=" << folder_.path().string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                             "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                   QStringLiteral("--config-file=") + QString::fromStdString(config.string())});
    if (!daemon_.waitForStarted(5000)) return;
    QElapsedTimer clock;
    clock.start();
    while (!daemon_.canReadLine() && clock.elapsed() < 5000) daemon_.waitForReadyRead(100);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateSessionBus::~PrivateSessionBus() {
    daemon_.terminate();
    daemon_.waitForFinished(3000);
}

bool waitUntil(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace fw::test

#pragma once
// One windowed instance per user. The first instance listens on a local
// socket (in $XDG_RUNTIME_DIR, else the temporary folder, named with the
// user's id); a later launch connects, hands over the files it was given and
// ends, and the first instance queues them and raises its window. So no two
// coordinators ever share the queue file.
//
// Protocol: the later launch sends one JSON array of absolute paths (UTF-8)
// and closes the connection.
//
// Thread-safety: GUI thread only; activated() is emitted from the event loop.

#include <QObject>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <vector>

class QLocalServer;

namespace fw::app {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString serverName = defaultServerName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString defaultServerName();

    // Gives `files` to a running first instance; true when one took them (this
    // process should then end). Blocks for at most `timeout_ms`.
    bool handOff(const std::vector<std::filesystem::path>& files, int timeout_ms = 2000);
    // Becomes the first instance. A socket left by a crashed instance is
    // replaced. False when listening failed: the application then runs
    // without the guard.
    bool listen();

signals:
    // A later launch asked for the window, with its files (possibly none).
    void activated(const QStringList& files);

private:
    void acceptConnections();

    QString serverName_;
    QLocalServer* server_ = nullptr;
};

}  // namespace fw::app

#include "app/SingleInstance.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>
#include <cstdlib>

namespace fw::app {

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName() {
    const QString name = QStringLiteral("framewright-%1.socket").arg(::getuid());
    // The runtime folder is private to the user; the temporary one is not,
    // hence the user's id in the name and the user-only socket mode.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return QDir(QFile::decodeName(runtime)).filePath(name);
    return QDir(QDir::tempPath()).filePath(name);
}

bool SingleInstance::handOff(const std::vector<std::filesystem::path>& files, int timeout_ms) {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(timeout_ms)) return false;
    QJsonArray paths;
    for (const auto& file : files) paths.append(QFile::decodeName(file.c_str()));
    socket.write(QJsonDocument(paths).toJson(QJsonDocument::Compact));
    if (!socket.waitForBytesWritten(timeout_ms)) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeout_ms);
    return true;
}

bool SingleInstance::listen() {
    if (server_) return true;
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(serverName_)) {
        // Nobody answered handOff(), so a socket file there is stale.
        QLocalServer::removeServer(serverName_);
        if (!server->listen(serverName_)) {
            delete server;
            return false;
        }
    }
    server_ = server;
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] { buffer->append(socket->readAll()); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            socket->deleteLater();
            QStringList files;
            for (const QJsonValue& value : QJsonDocument::fromJson(*buffer).array())
                if (value.isString()) files.append(value.toString());
            emit activated(files);
        });
    }
}

}  // namespace fw::app

#include "app/SingleInstance.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

namespace fw::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockFileName = "instance.lock";
// A record is a path and a number: anything longer is no record of ours.
constexpr std::size_t kLongestRecord = 4096;

// FNV-1a: the same name for the same folder in every build.
std::uint64_t nameHash(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char byte : text) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

}  // namespace

DataFolderLock::DataFolderLock(const fs::path& folder) : file_(folder / kLockFileName) {
    // No link followed, no waiting on a pipe: only a regular file of its own is a lock.
    constexpr int kFlags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    descriptor_ = ::open(file_.c_str(), O_RDWR | kFlags, 0600);
    // Another user's folder (a shared data folder): locked through a read-only descriptor.
    if (descriptor_ < 0 && errno == EACCES) descriptor_ = ::open(file_.c_str(), O_RDONLY | kFlags, 0600);
    struct stat status {};
    if (descriptor_ >= 0 && (::fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    if (descriptor_ < 0) return;
    int locked = -1;
    while ((locked = ::flock(descriptor_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}
    if (locked == 0) {
        state_ = State::owned;
        // A dead owner's record names no one now.
        [[maybe_unused]] const int emptied = ::ftruncate(descriptor_, 0);
    } else if (errno == EWOULDBLOCK) {
        state_ = State::heldElsewhere;
    }
}

DataFolderLock::~DataFolderLock() {
    if (descriptor_ >= 0) ::close(descriptor_);  // releases the lock
}

void DataFolderLock::record(const std::string& address) {
    if (state_ != State::owned) return;
    const std::string text = address + "\n" + std::to_string(::getpid()) + "\n";
    // Readers that come between the two see no record yet and look again.
    if (::ftruncate(descriptor_, 0) != 0) return;
    [[maybe_unused]] const ssize_t written = ::pwrite(descriptor_, text.data(), text.size(), 0);
}

DataFolderLock::Record DataFolderLock::recorded() const {
    Record record;
    const int descriptor = ::open(file_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return record;
    std::string text(kLongestRecord, '\0');
    const ssize_t length = ::pread(descriptor, text.data(), text.size(), 0);
    ::close(descriptor);
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    // Only whole lines: a record being written is no record yet.
    const auto first = text.find('\n');
    const auto second = first == std::string::npos ? first : text.find('\n', first + 1);
    if (second == std::string::npos) return record;
    record.address = text.substr(0, first);
    record.processId = text.substr(first + 1, second - first - 1);
    if (record.processId.find_first_not_of("0123456789") != std::string::npos) record.processId.clear();
    return record;
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName(const fs::path& dataFolder) {
    std::error_code error;
    fs::path folder = fs::weakly_canonical(dataFolder, error);
    if (error) folder = dataFolder.lexically_normal();
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(nameHash(folder.string())));
    const QString name = QStringLiteral("framewright-%1-%2.socket").arg(::getuid()).arg(QLatin1String(hash));
    // The runtime folder is private to the user; the temporary one is not,
    // hence the user's id in the name and the user-only socket mode.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return QDir(QFile::decodeName(runtime)).filePath(name);
    return QDir(QDir::tempPath()).filePath(name);
}

bool SingleInstance::handOff(const std::vector<fs::path>& files, int timeout_ms) {
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

Launch claimDataFolder(DataFolderLock& lock, SingleInstance& instance, const std::vector<fs::path>& files,
                       int timeout_ms) {
    switch (lock.state()) {
    case DataFolderLock::State::owned:
        // The socket is named after the folder, so one there now is a dead owner's.
        if (instance.listen()) lock.record(QFile::encodeName(instance.serverName()).toStdString());
        return Launch::first;
    case DataFolderLock::State::heldElsewhere: {
        // The owner records its address just after it takes the lock, and
        // listens from then on: until then the record is empty, or names
        // where it is about to listen.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        do {
            const std::string address = lock.recorded().address;
            if (!address.empty() && SingleInstance(QFile::decodeName(address.c_str())).handOff(files, timeout_ms))
                return Launch::handedOver;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return Launch::ownerUnreachable;
    }
    case DataFolderLock::State::unavailable:
        // No lock to be had: the runtime folder's socket alone guards.
        if (instance.handOff(files, timeout_ms)) return Launch::handedOver;
        instance.listen();
        return Launch::first;
    }
    return Launch::first;
}

std::string ownerUnreachableMessage(const DataFolderLock& lock) {
    const DataFolderLock::Record record = lock.recorded();
    std::string owner = "another Framewright window";
    if (!record.processId.empty()) owner += " (process " + record.processId + ")";
    return "Framewright: " + owner + " already uses the data folder " + lock.file().parent_path().string() +
           " and could not be reached from this session, so nothing was queued and no second window opened.\n"
           "Use that window, or quit it and launch again.\n";
}

}  // namespace fw::app

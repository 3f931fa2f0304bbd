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
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>

namespace fw::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockFileName = "instance.lock";
// A record is a path and a number: anything longer is no record of ours.
constexpr std::size_t kLongestRecord = 4096;
// The record's third line: its writer says when it has taken a hand-over.
constexpr std::string_view kAnswersMark = "answers";
// The window's answer to a hand-over it has queued.
constexpr std::string_view kTaken = "taken\n";

// FNV-1a: the same name for the same folder in every build.
std::uint64_t nameHash(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char byte : text) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

// What lies where the lock file, or the socket's folder, should.
std::string kindOf(const struct stat& status) {
    if (S_ISREG(status.st_mode)) return status.st_nlink > 1 ? "a hard link (its file has another name)" : "a file";
    if (S_ISLNK(status.st_mode)) return "a symbolic link";
    if (S_ISDIR(status.st_mode)) return "a folder";
    if (S_ISFIFO(status.st_mode)) return "a named pipe";
    if (S_ISSOCK(status.st_mode)) return "a socket";
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) return "a device";
    return "no regular file";
}

// 0 when locked at once, else the error (EWOULDBLOCK: held elsewhere).
int lockAtOnce(int descriptor) {
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

// Why `folder` is no place for this user's socket, naming it; empty when it
// is a folder itself (no link to one), this user's and closed to others.
std::string unsafeFolder(const fs::path& folder) {
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0)
        return folder.string() + " cannot be used (" + std::strerror(errno) + ")";
    if (!S_ISDIR(status.st_mode)) return folder.string() + " is " + kindOf(status) + ", not a folder";
    if (status.st_uid != ::geteuid())
        return folder.string() + " belongs to another user (" + std::to_string(status.st_uid) + ")";
    if ((status.st_mode & 077) != 0) return folder.string() + " is open to other users";
    return {};
}

// Whether the process listening at the other end of `socket` runs as this user.
bool answeredByThisUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

QStringList filesIn(const QByteArray& request) {
    QStringList files;
    for (const QJsonValue& value : QJsonDocument::fromJson(request).array())
        if (value.isString()) files.append(value.toString());
    return files;
}

}  // namespace

DataFolderLock::DataFolderLock(const fs::path& folder) : folder_(folder), file_(folder / kLockFileName) { take(); }

DataFolderLock::~DataFolderLock() { release(); }

void DataFolderLock::release() {
    for (int* descriptor : {&folderDescriptor_, &fileDescriptor_}) {
        if (*descriptor >= 0) ::close(*descriptor);  // releases its lock
        *descriptor = -1;
    }
}

bool DataFolderLock::retake() {
    release();
    take();
    return state_ == State::owned;
}

void DataFolderLock::take() {
    state_ = State::unavailable;
    folderHeldElsewhere_ = false;
    fileWritable_ = false;
    problem_.clear();
    const auto refuse = [this](std::string problem) {
        problem_ = std::move(problem);
        release();
    };
    const auto notItsOwn = [this](const struct stat& status) {
        return file_.string() + " is " + kindOf(status) + ", not a file of its own (remove it, then launch again)";
    };
    // The folder itself (links followed: any spelling of it meets one lock),
    // a lock that no one can delete or swap while the window runs.
    folderDescriptor_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor_ < 0) {
        state_ = State::noFolder;
        return;
    }
    const int folderLock = lockAtOnce(folderDescriptor_);
    if (folderLock == EWOULDBLOCK) {
        folderHeldElsewhere_ = true;
        state_ = State::heldElsewhere;
        return release();
    }
    // Otherwise the file system locks no folders (NFS): the file's lock alone guards.
    const bool folderLocked = folderLock == 0;

    // The lock file, which windows of the previous build lock: only a regular
    // file of its own. No link is followed, no pipe waited on, no device opened.
    struct stat status {};
    const bool exists = ::lstat(file_.c_str(), &status) == 0;
    const auto itsOwn = [](const struct stat& found) { return S_ISREG(found.st_mode) && found.st_nlink == 1; };
    if (exists && !itsOwn(status)) return refuse(notItsOwn(status));
    constexpr int kFlags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    fileDescriptor_ = ::open(file_.c_str(), O_RDWR | kFlags, 0600);
    // Another user's folder (a shared data folder): locked through a read-only descriptor.
    if (fileDescriptor_ < 0 && errno == EACCES) fileDescriptor_ = ::open(file_.c_str(), O_RDONLY | kFlags, 0600);
    if (fileDescriptor_ < 0) {
        // A folder that cannot be written: its own lock guards, and nothing records where the window listens.
        if (folderLocked && !exists && (errno == EACCES || errno == EROFS)) {
            state_ = State::owned;
            return;
        }
        return refuse(file_.string() + " cannot be opened (" + std::strerror(errno) + ")");
    }
    if (::fstat(fileDescriptor_, &status) != 0 || !itsOwn(status)) return refuse(notItsOwn(status));
    // Another user's (a shared data folder, or this user's as root): never written.
    fileWritable_ = status.st_uid == ::geteuid();
    const int fileLock = lockAtOnce(fileDescriptor_);
    if (fileLock == EWOULDBLOCK) {  // by a window of the previous build
        state_ = State::heldElsewhere;
        return release();
    }
    if (fileLock != 0 && !folderLocked)
        return refuse("neither it nor " + file_.string() + " can be locked (" + std::strerror(fileLock) + ")");
    state_ = State::owned;
    // A dead owner's record names no one now.
    if (fileWritable_) {
        [[maybe_unused]] const int emptied = ::ftruncate(fileDescriptor_, 0);
    }
}

void DataFolderLock::record(const std::string& address) {
    if (state_ != State::owned || fileDescriptor_ < 0 || !fileWritable_) return;
    const std::string text = address + "\n" + std::to_string(::getpid()) + "\n" + std::string(kAnswersMark) + "\n";
    // Readers that come between the two see no record yet and look again.
    if (::ftruncate(fileDescriptor_, 0) != 0) return;
    [[maybe_unused]] const ssize_t written = ::pwrite(fileDescriptor_, text.data(), text.size(), 0);
}

DataFolderLock::Record DataFolderLock::recorded() const {
    Record record;
    record.answers = folderHeldElsewhere_;  // only this build locks the folder
    // Whatever is at the path now, when it is a regular file: the lock file
    // may have been swapped, and a pipe or a device put there is not opened.
    struct stat status {};
    if (::lstat(file_.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return record;
    const int descriptor = ::open(file_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return record;
    std::string text(kLongestRecord, '\0');
    const ssize_t length = ::pread(descriptor, text.data(), text.size(), 0);
    ::close(descriptor);
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    // Only whole lines: a record being written is no record yet.
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; lines.size() < 3 && (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (lines.size() < 2) return record;
    record.address = lines[0];
    if (lines[1].find_first_not_of("0123456789") == std::string::npos) record.processId = lines[1];
    record.answers = record.answers || (lines.size() == 3 && lines[2] == kAnswersMark);
    return record;
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName(const fs::path& dataFolder, std::string& refusal) {
    std::error_code error;
    fs::path folder = fs::weakly_canonical(dataFolder, error);
    if (error) folder = dataFolder.lexically_normal();
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(nameHash(folder.string())));
    const QString name = QStringLiteral("framewright-%1-%2.socket").arg(::getuid()).arg(QLatin1String(hash));
    // The runtime folder is private to the user (one inherited through su is
    // another user's); the temporary one is not: anyone could listen at a name
    // there first, so the socket goes in a folder of the user's own in it.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime && *runtime == '/' && unsafeFolder(runtime).empty())
        return QDir(QFile::decodeName(runtime)).filePath(name);
    const fs::path own =
        fs::path(QFile::encodeName(QDir::tempPath()).toStdString()) / ("framewright-" + std::to_string(::getuid()));
    ::mkdir(own.c_str(), 0700);  // checked below, made or not
    if (const std::string problem = unsafeFolder(own); !problem.empty()) {
        refusal = "Framewright: " + problem +
                  ", so the window's socket cannot go there: no window opened and nothing was queued.\n"
                  "Remove it (or have it removed), or set XDG_RUNTIME_DIR to a folder of your own, then launch "
                  "again.\n";
        return {};
    }
    return QFile::decodeName(own.c_str()) + QLatin1Char('/') + name;
}

SingleInstance::HandOff SingleInstance::handOff(const std::vector<fs::path>& files, Peer peer,
                                                std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto left = [&deadline] {
        const auto rest =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(rest.count(), 0));
    };
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(left())) return HandOff::unreached;
    if (!answeredByThisUser(socket)) return HandOff::foreign;
    QJsonArray paths;
    for (const auto& file : files) paths.append(QFile::decodeName(file.c_str()));
    QByteArray request = QJsonDocument(paths).toJson(QJsonDocument::Compact);
    if (peer == Peer::answers) request.append('\n');
    socket.write(request);
    if (!socket.waitForBytesWritten(left())) return HandOff::unanswered;
    if (peer == Peer::previousBuild) {
        socket.disconnectFromServer();
        if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(left());
        return HandOff::taken;
    }
    QByteArray answer = socket.readAll();
    while (!answer.contains('\n') && socket.waitForReadyRead(left())) answer += socket.readAll();
    answer += socket.readAll();  // what came with the close
    return answer.startsWith(QByteArray(kTaken.data(), kTaken.size())) ? HandOff::taken : HandOff::unanswered;
}

bool SingleInstance::listen() {
    if (server_) return true;
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(serverName_)) {
        // Nothing listened when handOff() tried, so a socket file there is stale.
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
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer] {
            if (buffer->contains('\n')) return;  // taken or dropped already
            buffer->append(socket->readAll());
            if (const auto end = buffer->indexOf('\n'); end >= 0) takeRequest(*socket, buffer->left(end));
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            socket->deleteLater();
            if (buffer->contains('\n')) return;
            buffer->append(socket->readAll());
            // A whole request read only now was given up by its launch; one
            // without a newline is the previous build's, which waits for no answer.
            if (!buffer->contains('\n')) emit activated(filesIn(*buffer));
        });
    }
}

void SingleInstance::takeRequest(QLocalSocket& socket, const QByteArray& request) {
    // A launch that stopped waiting has said the files were not taken: its
    // end of the connection, closed, reads as the end of the stream.
    char byte = 0;
    if (socket.state() != QLocalSocket::ConnectedState ||
        ::recv(static_cast<int>(socket.socketDescriptor()), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
        return;
    emit activated(filesIn(request));  // queued and saved when the receivers return
    socket.write(kTaken.data(), static_cast<qint64>(kTaken.size()));
    socket.flush();
    socket.disconnectFromServer();
}

Launch claimDataFolder(DataFolderLock& lock, SingleInstance& instance, const std::vector<fs::path>& files,
                       std::chrono::milliseconds reachTimeout, std::chrono::milliseconds answerTimeout) {
    using HandOff = SingleInstance::HandOff;
    const auto reachBy = std::chrono::steady_clock::now() + reachTimeout;
    bool unanswered = false;
    for (;;) {
        switch (lock.state()) {
        case DataFolderLock::State::owned:
        case DataFolderLock::State::noFolder:
            // A window whose folder was deleted or moved while it ran locks
            // another folder now (or none), yet still answers for this path here.
            switch (instance.handOff(files, SingleInstance::Peer::answers, answerTimeout)) {
            case HandOff::taken: return Launch::handedOver;
            case HandOff::unreached:
                // Nobody listens there: a socket file left there is a dead owner's.
                if (instance.listen()) lock.record(QFile::encodeName(instance.serverName()).toStdString());
                return Launch::first;
            case HandOff::foreign: return Launch::ownerForeign;
            case HandOff::unanswered: break;
            }
            // Someone listens there, stopped or busy, or quitting (then soon
            // gone): never a second window over its socket.
            if (std::chrono::steady_clock::now() >= reachBy) return Launch::ownerSilent;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        case DataFolderLock::State::unavailable: return Launch::noLock;
        case DataFolderLock::State::heldElsewhere: break;
        }
        // Where the holder recorded it listens (until then the record is
        // empty), and where it does if it runs in this session: its lock file
        // may have been deleted or swapped since.
        const DataFolderLock::Record record = lock.recorded();
        QStringList addresses{instance.serverName()};
        if (!record.address.empty()) addresses.prepend(QFile::decodeName(record.address.c_str()));
        addresses.removeDuplicates();
        const auto peer = record.answers ? SingleInstance::Peer::answers : SingleInstance::Peer::previousBuild;
        for (const QString& address : addresses) {
            const HandOff handOff = SingleInstance(address).handOff(files, peer, answerTimeout);
            if (handOff == HandOff::taken) return Launch::handedOver;
            if (handOff == HandOff::foreign) return Launch::ownerForeign;
            unanswered = unanswered || handOff == HandOff::unanswered;
        }
        // The holder has gone meanwhile (quit, killed): this launch takes its place.
        if (lock.retake()) continue;
        if (std::chrono::steady_clock::now() >= reachBy)
            return unanswered ? Launch::ownerSilent : Launch::ownerUnreachable;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string refusedLaunchMessage(Launch launch, const DataFolderLock& lock) {
    const std::string folder = lock.file().parent_path().string();
    if (launch == Launch::noLock)
        return "Framewright: no lock can be taken on the data folder " + folder + ": " + lock.problem() +
               ". No window opened and nothing was queued.\n";
    const DataFolderLock::Record record = lock.recorded();
    if (launch == Launch::ownerForeign)
        return "Framewright: a process of another user listens at " +
               (record.address.empty() ? std::string("the socket") : record.address) +
               ", where the window over the data folder " + folder +
               " should answer; it is not trusted, so nothing was sent to it, nothing was queued and no window "
               "opened.\n";
    std::string owner = "another Framewright window";
    if (!record.processId.empty()) owner += " (process " + record.processId + ")";
    const char* failure =
        launch == Launch::ownerSilent ? "did not answer in time" : "could not be reached from this session";
    return "Framewright: " + owner + " already uses the data folder " + folder + " and " + failure +
           ", so nothing was queued and no second window opened.\n"
           "Use that window, or quit it and launch again.\n";
}

}  // namespace fw::app

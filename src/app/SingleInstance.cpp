#include "app/SingleInstance.h"

#include "model/QueuePersistence.h"
#include "platform/core/Base64.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace fw::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockFileName = "instance.lock";
// A record is a path and a number: anything longer is no record of ours.
constexpr std::size_t kLongestRecord = 4096;
// The record's third line: its writer says when it has taken a hand-over.
constexpr std::string_view kAnswersMark = "answers";
// The window's answers to a hand-over: its claim, then whether its queue holding the files is saved.
constexpr std::string_view kQueuing = "queuing\n";
constexpr std::string_view kTaken = "taken\n";
constexpr std::string_view kUnsaved = "unsaved\n";

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

bool isText(const fs::path& file) {
    const std::string& name = file.native();
    return QByteArrayView(name.data(), static_cast<qsizetype>(name.size())).isValidUtf8();
}

QByteArray requestOf(const HandOver& handOver) {
    QJsonArray request, bytes;
    for (const auto& file : handOver.files) {
        // A name that is no text reaches earlier builds not at all rather than as another name.
        if (isText(file)) request.append(QString::fromStdString(file.native()));
        bytes.append(QString::fromStdString(base64::encode(file.native())));
    }
    request.append(QJsonObject{{"handOver", QString::fromStdString(handOver.id.string())}, {"bytes", bytes}});
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

struct Request {
    std::vector<fs::path> files;
    std::optional<Uuid> handOver;
};

// A request of any build: the names' bytes where it carries them, else its strings.
Request requestIn(const QByteArray& text) {
    Request request;
    const QJsonArray array = QJsonDocument::fromJson(text).array();
    for (const QJsonValue& value : array)
        if (value.isString()) request.files.emplace_back(QFile::encodeName(value.toString()).toStdString());
    const QJsonObject object = array.isEmpty() ? QJsonObject() : array.last().toObject();
    const auto handOver = Uuid::parse(object.value(QLatin1String("handOver")).toString().toStdString());
    if (!handOver) return request;
    std::vector<fs::path> files;
    for (const QJsonValue& value : object.value(QLatin1String("bytes")).toArray()) {
        const auto bytes = base64::decode(value.toString().toStdString());
        if (!bytes || bytes->empty() || std::ranges::find(*bytes, '\0') != bytes->end()) return request;
        files.emplace_back(std::string(bytes->begin(), bytes->end()));
    }
    return {std::move(files), handOver};
}

// Whether the queue saved in the lock's folder holds files the launch `id` handed over.
bool queuedIn(const DataFolderLock& lock, const Uuid& id) {
    const auto jobs = QueuePersistence::load(lock.file().parent_path());
    return std::ranges::any_of(jobs, [&id](const auto& job) { return job->handOver() == id; });
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

SingleInstance::HandOff SingleInstance::handOff(const HandOver& handOver, Peer peer,
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
    QByteArray request = requestOf(handOver);
    if (peer == Peer::answers) request.append('\n');
    socket.write(request);
    // A window that has not the whole request cannot claim it.
    if (!socket.waitForBytesWritten(left())) return HandOff::unanswered;
    if (peer == Peer::previousBuild) {
        socket.disconnectFromServer();
        if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(left());
        return HandOff::takenAsText;
    }
    QByteArray answer = socket.readAll();
    const auto said = [&answer](std::string_view word) {
        return answer.contains(QByteArrayView(word.data(), static_cast<qsizetype>(word.size())));
    };
    while (!said(kTaken) && !said(kUnsaved) && socket.waitForReadyRead(left())) answer += socket.readAll();
    answer += socket.readAll();  // what came with the close
    const bool ended = socket.state() != QLocalSocket::ConnectedState;
    if (!ended && !said(kTaken) && !said(kUnsaved)) {
        // Giving up: the window can no longer claim the files, and a claim it made is read still.
        const int descriptor = static_cast<int>(socket.socketDescriptor());
        ::shutdown(descriptor, SHUT_RD);
        char chunk[64];
        for (ssize_t length = 0; (length = ::recv(descriptor, chunk, sizeof chunk, MSG_DONTWAIT)) != 0;)
            if (length > 0)
                answer.append(chunk, length);
            else if (errno != EINTR)
                break;
    }
    // Only this build claims: a window that answers "taken" alone read the names that are text.
    if (said(kTaken)) return said(kQueuing) ? HandOff::taken : HandOff::takenAsText;
    if (said(kUnsaved)) return HandOff::unsaved;
    if (ended) return HandOff::closed;
    return said(kQueuing) ? HandOff::claimed : HandOff::unanswered;
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
            if (!buffer->contains('\n')) {
                const Request request = requestIn(*buffer);
                emit activated(request.files, request.handOver);
            }
        });
    }
}

void SingleInstance::takeRequest(QLocalSocket& socket, const QByteArray& text) {
    if (socket.state() != QLocalSocket::ConnectedState) return;
    const int descriptor = static_cast<int>(socket.socketDescriptor());
    const Request request = requestIn(text);
    if (request.handOver) {
        // The claim. A unix socket refuses it once the launch has shut its
        // reading side (it has given up), under the same lock as it queues
        // the bytes: a claim sent reaches a launch still reading.
        if (::send(descriptor, kQueuing.data(), kQueuing.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(kQueuing.size()))
            return;
    } else {
        // A launch of the build before that stopped waiting has said the
        // files were not taken: its end of the connection, closed, reads as
        // the end of the stream.
        char byte = 0;
        if (::recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return;
    }
    emit activated(request.files, request.handOver);  // queued and saved when the receivers return
    // The build before knows one answer only.
    const std::string_view answer = !request.handOver || !saved_ || saved_() ? kTaken : kUnsaved;
    socket.write(answer.data(), static_cast<qint64>(answer.size()));
    socket.flush();
    socket.disconnectFromServer();
}

Launch claimDataFolder(DataFolderLock& lock, SingleInstance& instance, const HandOver& handOver,
                       std::chrono::milliseconds reachTimeout, std::chrono::milliseconds answerTimeout) {
    using HandOff = SingleInstance::HandOff;
    using Peer = SingleInstance::Peer;
    auto deadline = std::chrono::steady_clock::now() + reachTimeout;
    bool reachedOnce = false, ended = false;
    for (;;) {
        const DataFolderLock::State state = lock.state();
        if (state == DataFolderLock::State::unavailable) return Launch::noLock;
        // An owner of the lock still tries this runtime folder's socket: a
        // window whose folder was deleted or moved while it ran locks another
        // folder now (or none), yet still answers for this path here. Another
        // holder is tried where it recorded it listens (until then the record
        // is empty), and here if it runs in this session: its lock file may
        // have been deleted or swapped since.
        std::vector<std::pair<QString, Peer>> windows;
        if (state == DataFolderLock::State::heldElsewhere) {
            const DataFolderLock::Record record = lock.recorded();
            const Peer peer = record.answers ? Peer::answers : Peer::previousBuild;
            if (!record.address.empty()) windows.emplace_back(QFile::decodeName(record.address.c_str()), peer);
            if (windows.empty() || windows.front().first != instance.serverName())
                windows.emplace_back(instance.serverName(), peer);
        } else {
            windows.emplace_back(instance.serverName(), Peer::answers);
        }
        bool reached = false;
        for (const auto& [address, peer] : windows) {
            switch (SingleInstance(address).handOff(handOver, peer, answerTimeout)) {
            case HandOff::taken: return Launch::handedOver;
            case HandOff::takenAsText:
                return std::ranges::all_of(handOver.files, isText) ? Launch::handedOver : Launch::namesNotCarried;
            case HandOff::unsaved: return handOver.files.empty() ? Launch::handedOver : Launch::handedOverUnsaved;
            case HandOff::claimed:
                return queuedIn(lock, handOver.id) ? Launch::handedOver : Launch::handedOverUnconfirmed;
            case HandOff::closed:
                // It ended (quit, killed), or is ending: its lock is waited for as long as an answer.
                if (!ended) deadline = std::max(deadline, std::chrono::steady_clock::now() + answerTimeout);
                ended = reached = true;
                break;
            case HandOff::unanswered: reached = true; break;
            case HandOff::foreign: return Launch::ownerForeign;
            case HandOff::unreached: break;
            }
        }
        reachedOnce = reachedOnce || reached;
        if (state != DataFolderLock::State::heldElsewhere && !reached) {
            // Nobody listens there: a socket file left there is a dead owner's.
            if (instance.listen()) lock.record(QFile::encodeName(instance.serverName()).toStdString());
            return Launch::first;
        }
        // The holder has gone meanwhile (quit, killed): this launch takes its place.
        if (state == DataFolderLock::State::heldElsewhere && lock.retake()) continue;
        // Someone listens, stopped or busy, or quitting (then soon gone):
        // never a second window over its socket.
        if (std::chrono::steady_clock::now() >= deadline) {
            // A window that took the files and ended without a word may have saved them.
            if (ended && queuedIn(lock, handOver.id)) return Launch::handedOver;
            return reachedOnce ? Launch::ownerSilent : Launch::ownerUnreachable;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string refusedLaunchMessage(Launch launch, const DataFolderLock& lock, const std::vector<fs::path>& files) {
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
    const std::string seconds = std::to_string(SingleInstance::kAnswerTimeout.count() / 1000);
    switch (launch) {
    case Launch::handedOverUnsaved:
        return "Framewright: " + owner + " queued the files, but cannot save its queue in " + folder +
               " (the window says why): it keeps them until a save works, and they are lost if it ends before.\n";
    case Launch::handedOverUnconfirmed:
        return "Framewright: " + owner + " took the files, but did not say within " + seconds +
               " seconds that its queue in " + folder +
               " holds them: it queues them when it goes on. Look in its queue before launching again.\n";
    case Launch::namesNotCarried: {
        std::string names;
        for (const auto& file : files)
            if (!isText(file)) names += "\n  " + file.string();
        return "Framewright: " + owner + " is of an earlier build, which reads only names that are UTF-8 text, " +
               "so these were not queued:" + names + "\nQuit that window and launch again.\n";
    }
    default: break;
    }
    const char* failure =
        launch == Launch::ownerSilent ? "did not answer in time" : "could not be reached from this session";
    return "Framewright: " + owner + " already uses the data folder " + folder + " and " + failure +
           ", so nothing was queued and no second window opened.\n"
           "Use that window, or quit it and launch again.\n";
}

}  // namespace fw::app

#pragma once
// One windowed instance per data folder (where the queue lives). The first
// launch takes an advisory lock on "instance.lock" in the data folder, which
// the kernel releases however the process ends, listens on a local socket
// (in $XDG_RUNTIME_DIR, else the temporary folder, named after the user and
// the data folder) and records the socket's path in the lock file. A later
// launch over the same data folder reads that path, hands over the files it
// was given and ends, and the first instance queues them and raises its
// window; where it cannot reach the first (another session's runtime folder,
// since cleared), it says so and ends without touching the queue. So no two
// coordinators ever share the queue file, whatever their runtime folders.
//
// Protocol: the later launch sends one JSON array of absolute paths (UTF-8)
// and closes the connection. Lock file: the socket's path, a newline, the
// owner's process id and a newline.
//
// Thread-safety: GUI thread only; activated() is emitted from the event loop.

#include <QObject>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <string>
#include <vector>

class QLocalServer;

namespace fw::app {

// The claim on one data folder. RAII over the lock file's descriptor.
class DataFolderLock {
public:
    enum class State {
        owned,          // this process holds the lock
        heldElsewhere,  // another process does
        unavailable,    // no lock file could be opened (no folder, not a regular file)
    };
    // Opens (creating it) and tries to lock the folder's lock file at once.
    explicit DataFolderLock(const std::filesystem::path& folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    State state() const { return state_; }
    const std::filesystem::path& file() const { return file_; }
    // Owner only: replaces the record with `address` and this process's id.
    void record(const std::string& address);
    // What the owner recorded: its address and process id; an empty address
    // until it has recorded one.
    struct Record {
        std::string address;
        std::string processId;
    };
    Record recorded() const;

private:
    std::filesystem::path file_;
    int descriptor_ = -1;
    State state_ = State::unavailable;
};

class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket path of the instance of `dataFolder` in this runtime folder.
    static QString defaultServerName(const std::filesystem::path& dataFolder);

    // Gives `files` to a running first instance; true when one took them (this
    // process should then end). Blocks for at most `timeout_ms`.
    bool handOff(const std::vector<std::filesystem::path>& files, int timeout_ms = 2000);
    // Becomes the first instance. A socket left by a crashed instance is
    // replaced. False when listening failed: the application then runs
    // without the socket.
    bool listen();
    const QString& serverName() const { return serverName_; }

signals:
    // A later launch asked for the window, with its files (possibly none).
    void activated(const QStringList& files);

private:
    void acceptConnections();

    QString serverName_;
    QLocalServer* server_ = nullptr;
};

// Where a windowed launch stands over its data folder.
enum class Launch {
    first,             // this process owns the folder (or no lock could be had): open the window
    handedOver,        // the owner took the files: end with status 0
    ownerUnreachable,  // the owner could not be reached: say so, end with kOwnerUnreachableStatus
};
inline constexpr int kOwnerUnreachableStatus = 1;

// Takes the lock or hands `files` to its holder, waiting up to `timeout_ms`
// for the holder to record where it listens. As `first`, `instance` listens
// and the lock records its address.
Launch claimDataFolder(DataFolderLock& lock, SingleInstance& instance, const std::vector<std::filesystem::path>& files,
                       int timeout_ms = 2000);

// What a launch whose owner cannot be reached prints before it ends.
std::string ownerUnreachableMessage(const DataFolderLock& lock);

}  // namespace fw::app

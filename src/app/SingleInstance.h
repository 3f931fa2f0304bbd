#pragma once
// One windowed instance per data folder (where the queue lives). The first
// launch takes an advisory lock on the data folder itself (flock on a
// descriptor of the folder, links followed, so every spelling of the folder
// meets the same lock), which no one can delete or swap while the window
// runs and the kernel releases however the process ends. It also locks the
// regular file "instance.lock" in the folder, as windows of the previous
// build do (they lock only that file), listens on a local socket (in
// $XDG_RUNTIME_DIR, else in a folder of the user's own in the temporary
// folder, named after the user and the folder's canonical path) and records
// the socket's path in the lock file (another user's lock file is locked but
// never written).
// Where the folder's file system cannot lock a folder, the file's lock alone
// guards, as before; where there is no folder to open (a file in its place),
// there is no queue file to share, and this runtime folder's socket guards. A lock file that is no regular file of its own (a pipe,
// a device, a link, a hard link, a folder) keeps every window shut: the launch says so.
//
// A later launch over the same data folder hands over the files it was given
// (to the recorded address, else to this runtime folder's socket: the lock
// file may have been deleted or swapped) and ends once the window says it
// has queued and saved them; where the window has gone meanwhile, also after
// taking them, the launch takes its place, and a file is still queued once:
// the launch's identity goes with its files into the queue file, and is
// looked for there. Where it cannot reach the window (another session's
// runtime folder, since cleared) or the window does not take the files
// (stopped), it says so and ends without touching the queue. So no two
// coordinators ever share the queue file.
// Only a process of this user's is handed files: a socket of another user's,
// wherever it lies, is never written to, and the launch says so.
//
// Protocol: the later launch sends one JSON array and a newline: its absolute
// paths that are UTF-8 as strings (all that windows of earlier builds read:
// they skip anything else), then {"handOver": the launch's UUID, "bytes":
// [Base64 of every path, in order]}, which carries the names as the system
// gave them. The window claims the request by answering "queuing" and a
// newline, queues the files, and answers "taken" once its queue is saved, or
// "unsaved" while it holds it unsaved; then it closes. A launch gives up by
// shutting its reading side, after which the kernel refuses the claim, so
// the window drops the request; a claim sent before is still read: either
// way the launch knows. A request without "handOver" (the build before
// this one) is answered "taken" alone, and dropped when its sender has gone
// by the time it is read. The previous build's launches send the array
// without the newline and close; their windows answer nothing, so a launch
// that meets one (known by its record) closes once it has written, as they do.
// Lock file: the socket's path, the owner's process id and "answers", each
// on a line of its own (the previous build wrote the first two).
//
// Thread-safety: GUI thread only; activated() is emitted from the event loop.

#include "platform/core/Uuid.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace fw::app {

// The claim on one data folder. RAII over the folder's and the lock file's descriptors.
class DataFolderLock {
public:
    enum class State {
        owned,          // this process holds the lock
        heldElsewhere,  // another process does
        noFolder,       // the folder cannot be opened (missing, no folder, no access): no queue there to share
        unavailable,    // no lock can be had on it (problem() says why)
    };
    // Opens and tries to lock the folder and its lock file (creating it) at once.
    explicit DataFolderLock(const std::filesystem::path& folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    State state() const { return state_; }
    const std::filesystem::path& file() const { return file_; }
    // Why no lock could be had, naming the file or folder at fault; empty otherwise.
    const std::string& problem() const { return problem_; }
    // Tries again, as a holder that was there may have gone; true when this process holds it now.
    bool retake();
    // Owner only: replaces the record with `address` and this process's id.
    void record(const std::string& address);
    // What the owner recorded: its address and process id; an empty address
    // until it has recorded one (or when the lock file has gone since).
    struct Record {
        std::string address;
        std::string processId;
        // The holder says when it has taken a hand-over: one of this build,
        // known by its lock on the folder or by its record.
        bool answers = false;
    };
    Record recorded() const;

private:
    void take();
    void release();

    std::filesystem::path folder_;
    std::filesystem::path file_;
    int folderDescriptor_ = -1;
    int fileDescriptor_ = -1;
    bool fileWritable_ = false;  // the lock file is this user's: the record may be written
    State state_ = State::unavailable;
    bool folderHeldElsewhere_ = false;
    std::string problem_;
};

// What a launch hands over: the files it was given, as the system named
// them, and an identity of its own, which the window keeps with their jobs.
struct HandOver {
    std::vector<std::filesystem::path> files;
    Uuid id = Uuid::random();
};

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Long enough for a busy window to queue and save; a stopped one is waited on as long.
    static constexpr std::chrono::milliseconds kAnswerTimeout{10'000};

    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket path of the instance of `dataFolder` in this runtime folder:
    // $XDG_RUNTIME_DIR when it is a folder of this user's alone, else the
    // folder "framewright-<uid>" in the temporary folder, made when missing,
    // so that no other user can listen there first. Empty when that folder is
    // no folder of this user's alone (a link, another user's, open to others):
    // `refusal` then holds the line that says so, naming it.
    static QString defaultServerName(const std::filesystem::path& dataFolder, std::string& refusal);

    enum class HandOff {
        taken,        // the window has queued the files and saved its queue: this process should end
        takenAsText,  // a window of an earlier build took them, those whose names are UTF-8 only
        unsaved,      // it has queued them, but holds its queue unsaved
        claimed,      // it took them, but did not say within the time that it has saved them
        unreached,    // nothing listens there
        closed,       // the connection ended with no answer: the window ended, perhaps after taking them
        unanswered,   // it did not take them within the time, and drops them when it goes on
        foreign,      // a process of another user listens there: nothing was sent
    };
    enum class Peer { answers, previousBuild };
    // Gives the files to a running first instance, waiting at most `timeout`
    // for it to answer. A window of the previous build answers nothing: it is
    // taken to have the files once they are written.
    HandOff handOff(const HandOver& handOver, Peer peer = Peer::answers,
                    std::chrono::milliseconds timeout = kAnswerTimeout);
    // Becomes the first instance. A socket left by a crashed instance is
    // replaced. False when listening failed: the application then runs
    // without the socket.
    bool listen();
    const QString& serverName() const { return serverName_; }
    // Whether the queue holding what the receivers of activated() queued is
    // saved, asked once they return; a launch is told when it is not. Unset: saved.
    void setSavedCheck(std::function<bool()> saved) { saved_ = std::move(saved); }

signals:
    // A later launch asked for the window, with its files (possibly none) and
    // its identity (none from launches of earlier builds). The launch is told
    // they were taken once the receivers return: connect them directly, and
    // queue (and save) within them.
    void activated(const std::vector<std::filesystem::path>& files, const std::optional<fw::Uuid>& handOver);

private:
    void acceptConnections();
    void takeRequest(QLocalSocket& socket, const QByteArray& request);

    QString serverName_;
    QLocalServer* server_ = nullptr;
    std::function<bool()> saved_;
};

// Where a windowed launch stands over its data folder.
enum class Launch {
    first,                  // this process owns the folder: open the window, queuing the files
    handedOver,             // the owner queued the files and saved them: end with status 0
    handedOverUnsaved,      // it queued them but holds its queue unsaved: say so, end with kLaunchRefusedStatus
    handedOverUnconfirmed,  // it took them but did not say it saved them (stopped since): likewise
    namesNotCarried,        // an owner of an earlier build took all but the names that are not UTF-8: likewise
    ownerUnreachable,       // the owner could not be reached, nothing was queued: likewise
    ownerSilent,            // it was reached but did not take the files, and will not: likewise
    ownerForeign,           // another user's process listens where the owner should: likewise
    noLock,                 // no lock can be had on the folder: likewise
};
inline constexpr int kLaunchRefusedStatus = 1;

// Takes the lock or hands the files to its holder, looking for `reachTimeout`
// for a holder that answers (it records where it listens just after it
// takes the lock); takes over when the holder goes meanwhile, also when it
// went after the launch reached it (waiting for its lock as long as for an
// answer). Without a folder, the runtime folder's socket alone guards. As
// `first`, `instance` listens and the lock records its address; the window
// then queues the files unless its queue holds them already (a holder that
// took them and ended before it answered).
Launch claimDataFolder(DataFolderLock& lock, SingleInstance& instance, const HandOver& handOver,
                       std::chrono::milliseconds reachTimeout = std::chrono::milliseconds(2000),
                       std::chrono::milliseconds answerTimeout = SingleInstance::kAnswerTimeout);

// What a launch that does not open the window (`launch` is neither first nor
// handedOver) prints before it ends; `files` are those it was given.
std::string refusedLaunchMessage(Launch launch, const DataFolderLock& lock,
                                 const std::vector<std::filesystem::path>& files = {});

}  // namespace fw::app

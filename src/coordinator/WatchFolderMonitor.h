#pragma once
// Watches one folder for new media files and reports each file once, when it
// has finished arriving, in batches, on the receiver's thread.
//
// A file has finished arriving when it was closed after writing, was moved
// (renamed) into the folder, or its size and modification time are the same
// at two looks at least `settleInterval` apart (files already in the folder
// when the watch starts, writers that keep the file open). An empty file is
// not taken until it changes. Only the folder's
// immediate entries count: regular files, not hidden, with a supported media
// extension. A reported file is not reported again by the same monitor unless
// reconsider() names it; it is then taken again once it has changed and
// settled.
//
// Threads: the events (inotify) and every look at the folder run on the
// monitor's own thread "watchfolder.monitor"; start(), stop(), reconsider()
// and destruction belong to the thread that made the monitor. stop() (also
// the destructor) ends that thread and joins it, so no report is posted after
// it returns, and reports already posted are dropped when they arrive (as
// they are when the receiver is gone).
//
// Failures are silent: a folder that cannot be watched reports nothing; a
// folder that disappears reports nothing more.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class QObject;
class QThread;

namespace fw {

class WatchFolderMonitor {
public:
    using NewFiles = std::function<void(const std::vector<std::filesystem::path>&)>;
    static constexpr std::chrono::milliseconds kSettleInterval{1500};

    // Opens nothing yet. `onNewFiles` is called on `receiver`'s thread, only
    // while the receiver exists.
    // REQUIRES: receiver non-null; settleInterval > 0.
    WatchFolderMonitor(std::filesystem::path url, QObject* receiver, NewFiles onNewFiles,
                       std::chrono::milliseconds settleInterval = kSettleInterval);
    ~WatchFolderMonitor();  // stop()
    WatchFolderMonitor(const WatchFolderMonitor&) = delete;
    WatchFolderMonitor& operator=(const WatchFolderMonitor&) = delete;

    const std::filesystem::path& url() const { return url_; }

    // Starts the thread, the watch and the look at the entries already there.
    // Called once.
    void start();
    // Ends the watch and joins the thread. Idempotent.
    void stop();
    // `file`, reported earlier, is taken again after its next change (its
    // encode failed while it was still arriving, say).
    void reconsider(const std::filesystem::path& file);

private:
    class Worker;

    std::filesystem::path url_;
    std::shared_ptr<bool> watching_ = std::make_shared<bool>(true);
    std::unique_ptr<QThread> thread_;
    Worker* worker_ = nullptr;  // lives on thread_ while it runs
};

}  // namespace fw

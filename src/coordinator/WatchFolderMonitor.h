#pragma once
// Watches one folder for new media files and reports each file when it has
// finished arriving, in batches, on the receiver's thread.
//
// When a file has finished arriving:
// - moved (renamed) into the folder: at once;
// - seen being written: once its writers have all closed it and it has then
//   been quiet (no write, no close, size and modification time unchanged) for
//   `settleInterval`, so a copier that closes the file between pieces gives
//   one report after its last piece; a writer that never closes it, once it
//   has been quiet for `quietInterval`. A pause in a copy held open, however
//   long, is not an end;
// - otherwise (there before the watch began, linked in, or written where
//   events do not reach): once it has held still for `settleInterval`,
//   looked at about twice per interval.
// An empty file is not taken until it changes. Only the folder's immediate
// entries count: regular files, not hidden, with a supported media extension.
// A reported file is reported again once it has been written again (or
// replaced) with other content and has finished arriving anew. Seen being
// written again, it is reported as changing at its first write, and then
// again once it has finished arriving, whatever its content then, `again`
// only when that differs (so is a copier that pauses longer than
// `settleInterval` between pieces). A change
// of its attributes alone (times, permissions) is no change, also when the
// system tells it as a write (a change of the modification time alone is):
// the content is compared, by size, file identity and a sample of its bytes.
// A reported file that leaves the folder (deleted, or moved away) is
// reported as gone.
//
// Threads: the events (inotify) and every look at the folder run on the
// monitor's own thread "watchfolder.monitor"; its state lives there alone.
// start(), stop() and destruction belong to the thread that made the
// monitor. stop() (also the destructor) ends that thread and joins it, so no
// report is posted after it returns, and reports already posted are dropped
// when they arrive (as they are when the receiver is gone).
//
// The watch follows its path, not the folder the path named when it began:
// when the folder there is moved away, deleted or unmounted, what was
// reported from it and is not at the path any more is reported as away, and
// a folder that then appears at the path (made anew, moved or mounted there,
// also after its parent was replaced) is watched from then on, its files
// taken as those there before a watch begins. A reported file found there
// again with the same size and bytes (a remount, in another file or device),
// however long it was away, is reported as back, not as arrived; with other
// bytes, it has arrived again. To know it, the monitor keeps the name, size
// and a sample's hash of each file it has reported, for as long as it lives.
// A folder made or moved into the parent is seen at once, by the events of
// the parent's entries; one that only a look at the path tells of (a mount,
// a parent replaced), within `pathLookInterval`.
//
// Failures are silent: while nothing at the path can be watched (missing,
// no permission), nothing is reported, and no message is given.

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
    struct ArrivedFile {
        std::filesystem::path file;
        bool again = false;  // reported before by this monitor, and written or replaced since
        bool grown = false;  // again, and only written on at its end since
        friend bool operator==(const ArrivedFile&, const ArrivedFile&) = default;
    };
    // One report, never empty.
    struct Changes {
        std::vector<ArrivedFile> arrived;
        std::vector<std::filesystem::path> gone;      // reported before, since deleted or moved away alone
        std::vector<std::filesystem::path> changing;  // reported before, being written again now
        std::vector<std::filesystem::path> away;      // reported before, left with their folder
        // Reported before, away with their folder or being written, found
        // again with the bytes they were reported with; a file in both lists
        // left, then came back.
        std::vector<std::filesystem::path> back;
    };
    using NewFiles = std::function<void(const Changes&)>;
    // Longer than the pauses of copiers that close the file between pieces.
    static constexpr std::chrono::milliseconds kSettleInterval{5000};
    // Long enough for a stalled network copy to resume.
    static constexpr std::chrono::milliseconds kQuietInterval{60'000};
    // How often the path is looked at for a folder that events cannot tell of.
    static constexpr std::chrono::milliseconds kPathLookInterval{1000};

    // Opens nothing yet. `onNewFiles` is called on `receiver`'s thread, only
    // while the receiver exists.
    // REQUIRES: receiver non-null; the intervals > 0.
    WatchFolderMonitor(std::filesystem::path url, QObject* receiver, NewFiles onNewFiles,
                       std::chrono::milliseconds settleInterval = kSettleInterval,
                       std::chrono::milliseconds quietInterval = kQuietInterval,
                       std::chrono::milliseconds pathLookInterval = kPathLookInterval);
    ~WatchFolderMonitor();  // stop()
    WatchFolderMonitor(const WatchFolderMonitor&) = delete;
    WatchFolderMonitor& operator=(const WatchFolderMonitor&) = delete;

    const std::filesystem::path& url() const { return url_; }

    // Starts the thread, the watch and the look at the entries already there.
    // Called once.
    void start();
    // Ends the watch and joins the thread. Idempotent.
    void stop();
    // True while a folder at the path is watched: files written there from
    // then on are seen. Not while nothing there can be watched. Any thread.
    bool isWatching() const;

private:
    class Worker;

    std::filesystem::path url_;
    std::shared_ptr<bool> watching_ = std::make_shared<bool>(true);
    std::unique_ptr<QThread> thread_;
    Worker* worker_ = nullptr;  // lives on thread_ while it runs
};

}  // namespace fw

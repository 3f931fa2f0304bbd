#include "coordinator/WatchFolderMonitor.h"

#include "model/SupportedMediaType.h"
#include "platform/core/ThreadName.h"

#include <QObject>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <map>
#include <optional>
#include <string>

namespace fw {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// What two looks at a file compare.
struct Look {
    off_t size = 0;
    timespec modified{};
    bool operator==(const Look& other) const {
        return size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

// The file's look when it is a regular file (links followed), else none.
std::optional<Look> lookAt(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return Look{status.st_size, status.st_mtim};
}

// A file's content as far as a change of its attributes leaves it: the same
// file (device and inode), the same size and the same bytes at up to
// kSampleBlocks places spread over it (the whole of a small file). A write
// that changes none of these is missed, as one that writes the same bytes.
struct Content {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::size_t sample = 0;
    bool operator==(const Content&) const = default;
    // The same bytes, in whichever file: a copy, or the file on a drive
    // mounted anew, numbered by another device.
    bool sameBytes(const Content& other) const { return size == other.size && sample == other.sample; }
};

constexpr off_t kSampleBlocks = 32;
constexpr off_t kSampleBlockBytes = 16 * 1024;

// The sample of the first `size` bytes of an open file.
std::size_t sampleOf(int descriptor, off_t size) {
    const off_t blocks = std::min(kSampleBlocks, (size + kSampleBlockBytes - 1) / kSampleBlockBytes);
    std::string bytes;
    std::array<char, kSampleBlockBytes> block;
    for (off_t index = 0; index < blocks; ++index) {
        // The first block at the start, the last at the end, the others evenly between.
        const off_t offset = blocks == 1 ? 0 : (size - kSampleBlockBytes) * index / (blocks - 1);
        const auto length = static_cast<std::size_t>(std::min<off_t>(kSampleBlockBytes, size - offset));
        const ssize_t read = ::pread(descriptor, block.data(), length, offset);
        if (read > 0) bytes.append(block.data(), static_cast<std::size_t>(read));
    }
    return std::hash<std::string>{}(bytes);
}

// None when it is no regular file. A file that cannot be read is known by
// its identity and size alone.
std::optional<Content> contentOf(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    Content content{status.st_dev, status.st_ino, status.st_size, 0};
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return content;
    content.sample = sampleOf(descriptor, content.size);
    ::close(descriptor);
    return content;
}

// Whether `now` is `earlier` written on at its end: the same file, longer,
// beginning as `earlier` was.
bool grewFrom(const fs::path& file, const Content& earlier, const Content& now) {
    if (now.device != earlier.device || now.inode != earlier.inode || now.size <= earlier.size) return false;
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool grew = sampleOf(descriptor, earlier.size) == earlier.sample;
    ::close(descriptor);
    return grew;
}

bool isCandidateName(const std::string& name) {
    return !name.empty() && name.front() != '.' && SupportedMediaType::isSupported(fs::path(name));
}

// Writes and closes, opens (to tell a writer still holding the file from
// one that has gone), new entries, touched ones, and entries that arrive or
// leave by a move or a deletion.
constexpr std::uint32_t kEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_OPEN | IN_CREATE | IN_ATTRIB |
                                  IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;
// The watched folder leaving its path: moved, deleted, its file system
// unmounted; the kernel ends the watch (IN_IGNORED) after the last two.
constexpr std::uint32_t kLeftPath = IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT | IN_IGNORED;
// The entries of the folder's parent coming and going, among them the folder's.
constexpr std::uint32_t kParentEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;
// Which folder a path names now.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FolderIdentity&) const = default;
};

std::optional<FolderIdentity> folderAt(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    return FolderIdentity{status.st_dev, status.st_ino};
}

}  // namespace

// Everything here runs on the monitor's thread.
class WatchFolderMonitor::Worker : public QObject {
public:
    Worker(fs::path url, QObject* receiver, NewFiles onNewFiles, std::chrono::milliseconds settleInterval,
           std::chrono::milliseconds quietInterval, std::chrono::milliseconds pathLookInterval,
           std::shared_ptr<const bool> watching)
        : url_(std::move(url)),
          folderName_(url_.has_filename() ? url_.filename() : url_.parent_path().filename()),
          parent_(url_.has_filename() ? url_.parent_path() : url_.parent_path().parent_path()),
          receiver_(receiver),
          onNewFiles_(std::move(onNewFiles)),
          settleInterval_(settleInterval),
          quietInterval_(quietInterval),
          pathLookInterval_(pathLookInterval),
          watching_(std::move(watching)) {}
    ~Worker() override { close(); }

    std::atomic<bool> isWatching = false;  // read from any thread

    void open() {
        nameThisThread("watchfolder.monitor");
        descriptor_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (descriptor_ < 0) return;  // inert: nothing is ever reported
        notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, this);
        QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { readEvents(); });
        timer_ = new QTimer(this);
        timer_->setInterval(settleInterval_ / 2 + std::chrono::milliseconds(1));
        QObject::connect(timer_, &QTimer::timeout, this, [this] { settle(); });
        pathLook_ = new QTimer(this);
        pathLook_->setInterval(pathLookInterval_);
        QObject::connect(pathLook_, &QTimer::timeout, this, [this] {
            Changes changes;
            followPath(changes);
            deliver(std::move(changes));
        });
        pathLook_->start();
        Changes none;  // nothing reported yet
        followPath(none);
    }

    void close() {
        isWatching = false;
        delete notifier_;
        notifier_ = nullptr;
        delete timer_;
        timer_ = nullptr;
        delete pathLook_;
        pathLook_ = nullptr;
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = -1;
        folderWatch_ = parentWatch_ = -1;
    }

private:
    void readEvents() {
        alignas(inotify_event) std::array<char, 16 * (sizeof(inotify_event) + NAME_MAX + 1)> buffer;
        Changes changes;
        bool pathChanged = false;
        for (;;) {
            const ssize_t length = ::read(descriptor_, buffer.data(), buffer.size());
            if (length <= 0) break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    opens_.clear();  // events were lost: every count is a guess now
                    lookAtEverything();
                    pathChanged = true;
                    continue;
                }
                if (event->wd == parentWatch_) {
                    if (event->len > 0 && folderName_ == event->name) pathChanged = true;
                    if (event->mask & IN_IGNORED) parentWatch_ = -1;  // the parent went: the looks find the next
                    continue;
                }
                // Events of a folder no longer watched are the past.
                if (event->wd != folderWatch_) continue;
                if (event->mask & kLeftPath) {
                    // What it held has left the path with it; whatever is at
                    // the path now is watched in its place.
                    if (event->mask & IN_IGNORED) folderWatch_ = -1;
                    disarm(changes);
                    pathChanged = true;
                    continue;
                }
                if (event->len == 0 || (event->mask & IN_ISDIR)) continue;
                const std::string name(event->name);
                if (isCandidateName(name)) handle(name, event->mask, changes);
            }
        }
        if (pathChanged) followPath(changes);
        deliver(std::move(changes));
    }

    // One event of one entry. Events of one entry arrive in the order they happened.
    void handle(const std::string& name, std::uint32_t mask, Changes& changes) {
        if (mask & IN_OPEN) ++opens_[name];
        if (mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) released(name);
        if (mask & (IN_MOVED_FROM | IN_DELETE)) {
            left(name, changes);
        } else if (mask & IN_MOVED_TO) {
            // Renamed into place: its content is complete.
            pending_.erase(name);
            take(name, changes);
        } else if (mask & IN_MODIFY) {
            // A write, or a change of the modification time alone, which the
            // system tells alike: the content decides when it settles.
            Pending* pending = watch(name);
            if (pending) pending->written = true;
            writtenAgain(name, changes);
        } else if (mask & IN_CLOSE_WRITE) {
            // Closed by a writer: the quiet time starts again, and once no
            // one holds the file the writing is over. A file reported and not
            // written since (opened for writing and closed untouched) stays.
            if (!pending_.contains(name) && reported_.contains(name)) return;
            Pending* pending = watch(name);
            if (pending && !opens_.contains(name)) pending->written = false;
        } else if (mask & IN_CREATE) {
            // New, also where a reported file was: watched until it holds still.
            if (!pending_.contains(name)) watch(name);
        } else if (mask & IN_ATTRIB) {
            // Touched while unknown: watched until it holds still. A known
            // file's attributes are no new content.
            if (!pending_.contains(name) && !reported_.contains(name)) watch(name);
        }
    }

    // A descriptor on it closed. Counts begin with the watch: a descriptor
    // opened before is not counted, and its close counts for nothing.
    void released(const std::string& name) {
        const auto open = opens_.find(name);
        if (open != opens_.end() && --open->second <= 0) opens_.erase(open);
    }

    // Deleted or moved away: a file still arriving is forgotten, a reported
    // one is gone. Should it come back as it was, it is new to the receiver,
    // which has let its waiting job go.
    void left(const std::string& name, Changes& changes) {
        pending_.erase(name);
        opens_.erase(name);
        const auto reported = reported_.find(name);
        if (reported == reported_.end() || reported->second.left != Left::no) return;
        reported->second.left = Left::alone;
        changes.gone.push_back(url_ / name);
    }

    // A reported file written: its receiver hears of it once, and of the
    // file again when it has finished arriving.
    void writtenAgain(const std::string& name, Changes& changes) {
        const auto reported = reported_.find(name);
        if (reported == reported_.end() || reported->second.left != Left::no || reported->second.changing) return;
        reported->second.changing = true;
        changes.changing.push_back(url_ / name);
    }

    // Watched until it finishes, its quiet time starting now; none when it is
    // no regular file.
    struct Pending;
    Pending* watch(const std::string& name) {
        const auto look = lookAt(url_ / name);
        if (!look) {
            pending_.erase(name);
            return nullptr;
        }
        Pending& pending = pending_[name];
        pending.look = *look;
        pending.changedAt = Clock::now();
        if (!timer_->isActive()) timer_->start();
        return &pending;
    }

    // Watches the folder the path names now, when it is not the one watched:
    // the watch follows the path, not the folder it named when it began.
    void followPath(Changes& changes) {
        const auto folder = folderAt(url_);
        // Its parent's entries tell at once of a folder made or moved there
        // (a folder that is its own parent, the root, has none).
        if (!parent_.empty() && !folderName_.empty() && folderName_ != "." && folderName_ != "..") {
            const auto parentFolder = folderAt(parent_);
            const int parent = parentFolder && parentFolder != folder
                                   ? ::inotify_add_watch(descriptor_, parent_.c_str(), kParentEvents)
                                   : -1;
            if (parent != parentWatch_ && parentWatch_ >= 0) ::inotify_rm_watch(descriptor_, parentWatch_);
            parentWatch_ = parent;
        }
        if (folderWatch_ >= 0 && folder == watched_) return;
        if (folderWatch_ >= 0) disarm(changes);
        if (folder) arm(*folder, changes);
    }

    void arm(const FolderIdentity& folder, Changes& changes) {
        folderWatch_ = ::inotify_add_watch(descriptor_, url_.c_str(), kEvents | kLeftPath | IN_ONLYDIR);
        if (folderWatch_ < 0) return;  // no access: looked at again with the path
        watched_ = folder;
        // Files already there, or there again after a remount: a reported
        // file with the same size and bytes stays reported (back, when it
        // had left with its folder), another is new.
        std::error_code error;
        for (fs::directory_iterator entry(url_, error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (!isCandidateName(name) || pending_.contains(name)) continue;
            const auto reported = reported_.find(name);
            if (reported != reported_.end() && reported->second.left != Left::alone) {
                const auto content = contentOf(url_ / name);
                if (content && content->sameBytes(reported->second.content)) {
                    cameBack(name, *content, changes);
                    continue;
                }
            }
            watch(name);
        }
        isWatching = true;
    }

    // The watched folder is no longer at the path: what was reported from it
    // and is not at the path now is away with it.
    void disarm(Changes& changes) {
        if (folderWatch_ >= 0) ::inotify_rm_watch(descriptor_, folderWatch_);
        folderWatch_ = -1;
        watched_.reset();
        isWatching = false;
        pending_.clear();
        opens_.clear();
        for (auto& [name, reported] : reported_)
            if (reported.left == Left::no && !lookAt(url_ / name)) {
                reported.left = Left::withItsFolder;
                changes.away.push_back(url_ / name);
            }
    }

    void lookAtEverything() {
        std::error_code error;
        for (fs::directory_iterator entry(url_, error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (isCandidateName(name) && !reported_.contains(name) && !pending_.contains(name)) watch(name);
        }
    }

    // Takes every pending file whose look held still long enough: the
    // settling interval, or, while a writer may still hold it, the quiet one.
    void settle() {
        Changes changes;
        const auto now = Clock::now();
        for (auto entry = pending_.begin(); entry != pending_.end();) {
            auto& [name, pending] = *entry;
            const auto look = lookAt(url_ / name);
            if (!look) {
                entry = pending_.erase(entry);
                continue;
            }
            // Still changing: the quiet time starts again.
            if (*look != pending.look) {
                pending.look = *look;
                pending.changedAt = now;
                ++entry;
                continue;
            }
            const bool held = pending.written || opens_.contains(name);
            if (now - pending.changedAt < (held ? quietInterval_ : settleInterval_)) {
                ++entry;
                continue;
            }
            // An empty file is no media yet: its next change brings it back.
            if (look->size > 0) take(name, changes);
            entry = pending_.erase(entry);
        }
        if (pending_.empty()) timer_->stop();
        deliver(std::move(changes));
    }

    // Reports the file, unless it was reported with this content and has
    // neither left nor been written since, or it had left with its folder
    // and is back with the same bytes.
    void take(const std::string& name, Changes& changes) {
        const auto content = contentOf(url_ / name);
        if (!content || content->size == 0) return;
        const auto [entry, first] = reported_.try_emplace(name, Reported{*content});
        Reported& reported = entry->second;
        if (reported.left == Left::withItsFolder && content->sameBytes(reported.content))
            return cameBack(name, *content, changes);
        const bool again = !first && reported.content != *content;
        if (!first && !again && reported.left == Left::no && !reported.changing) return;
        const bool grown = again && grewFrom(url_ / name, reported.content, *content);
        reported = {*content};
        changes.arrived.push_back({url_ / name, again, grown});
    }

    // A reported file found again with the bytes it was reported with.
    void cameBack(const std::string& name, const Content& content, Changes& changes) {
        Reported& reported = reported_[name];
        if (reported.left == Left::withItsFolder || reported.changing) changes.back.push_back(url_ / name);
        reported = {content};  // the device may be numbered anew
    }

    void deliver(Changes changes) {
        if (changes.arrived.empty() && changes.gone.empty() && changes.changing.empty() && changes.away.empty() &&
            changes.back.empty())
            return;
        QMetaObject::invokeMethod(
            receiver_,
            [watching = watching_, onNewFiles = onNewFiles_, changes = std::move(changes)] {
                if (*watching) onNewFiles(changes);
            },
            Qt::QueuedConnection);
    }

    struct Pending {
        Look look;                    // at the last look
        Clock::time_point changedAt;  // last write or close, or when that look was first seen
        bool written = false;         // written, and not closed by every writer since
    };

    const fs::path url_;
    const fs::path folderName_;  // the folder's entry in its parent
    const fs::path parent_;
    QObject* const receiver_;
    const NewFiles onNewFiles_;
    const std::chrono::milliseconds settleInterval_;
    const std::chrono::milliseconds quietInterval_;
    const std::chrono::milliseconds pathLookInterval_;
    const std::shared_ptr<const bool> watching_;  // read on the receiver's thread only
    int descriptor_ = -1;
    int folderWatch_ = -1;  // on the folder the path named when it was armed
    int parentWatch_ = -1;
    std::optional<FolderIdentity> watched_;  // that folder, while watched
    QSocketNotifier* notifier_ = nullptr;
    QTimer* timer_ = nullptr;
    QTimer* pathLook_ = nullptr;
    std::map<std::string, Pending> pending_;
    std::map<std::string, int> opens_;  // descriptors open on an entry, when more than none
    // Deleted or moved away since it was reported: alone, or with its folder
    // (it may come back with it, however long it is gone).
    enum class Left { no, alone, withItsFolder };
    struct Reported {
        Content content;  // as last reported
        Left left = Left::no;
        bool changing = false;  // written since
    };
    // Never pruned: one entry for each name reported, so a file back as it
    // was is known as long as the watch lasts.
    std::map<std::string, Reported> reported_;
};

WatchFolderMonitor::WatchFolderMonitor(fs::path url, QObject* receiver, NewFiles onNewFiles,
                                       std::chrono::milliseconds settleInterval,
                                       std::chrono::milliseconds quietInterval,
                                       std::chrono::milliseconds pathLookInterval)
    : url_(std::move(url)),
      thread_(std::make_unique<QThread>()),
      worker_(new Worker(url_, receiver, std::move(onNewFiles), settleInterval, quietInterval, pathLookInterval,
                         watching_)) {
    thread_->setObjectName(QStringLiteral("watchfolder.monitor"));
}

WatchFolderMonitor::~WatchFolderMonitor() {
    stop();
    delete worker_;
}

void WatchFolderMonitor::start() {
    if (thread_->isRunning() || thread_->isFinished()) return;
    worker_->moveToThread(thread_.get());
    thread_->start();
    QMetaObject::invokeMethod(
        worker_, [worker = worker_] { worker->open(); }, Qt::QueuedConnection);
}

bool WatchFolderMonitor::isWatching() const { return worker_->isWatching; }

void WatchFolderMonitor::stop() {
    *watching_ = false;  // reports already on their way are dropped
    if (!thread_->isRunning()) return;
    // The notifier and timer belong to the thread: they go before it ends.
    QMetaObject::invokeMethod(
        worker_, [worker = worker_] { worker->close(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

}  // namespace fw

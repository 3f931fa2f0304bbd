#include "coordinator/WatchFolderMonitor.h"

#include "model/SupportedMediaType.h"
#include "platform/core/ThreadName.h"

#include <QObject>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace fw {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// How a pending file came to notice: seen being written, or not.
enum class Arrival { unseen, written };

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

bool isCandidateName(const std::string& name) {
    return !name.empty() && name.front() != '.' && SupportedMediaType::isSupported(fs::path(name));
}

// The events: moved in or closed after writing (finished now), written
// (finishes at its close), new or touched (finishes when it holds still).
constexpr std::uint32_t kEvents = IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_ATTRIB;

}  // namespace

// Everything here runs on the monitor's thread.
class WatchFolderMonitor::Worker : public QObject {
public:
    Worker(fs::path url, QObject* receiver, NewFiles onNewFiles, std::chrono::milliseconds settleInterval,
           std::chrono::milliseconds quietInterval, std::shared_ptr<const bool> watching)
        : url_(std::move(url)),
          receiver_(receiver),
          onNewFiles_(std::move(onNewFiles)),
          settleInterval_(settleInterval),
          quietInterval_(quietInterval),
          watching_(std::move(watching)) {}
    ~Worker() override { close(); }

    void open() {
        nameThisThread("watchfolder.monitor");
        descriptor_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (descriptor_ < 0) return;
        if (::inotify_add_watch(descriptor_, url_.c_str(), kEvents | IN_ONLYDIR) < 0) {
            close();  // inert: nothing is ever reported
            return;
        }
        notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, this);
        QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { readEvents(); });
        timer_ = new QTimer(this);
        timer_->setInterval(settleInterval_ / 2 + std::chrono::milliseconds(1));
        QObject::connect(timer_, &QTimer::timeout, this, [this] { settle(); });
        lookAtEverything();
    }

    void close() {
        delete notifier_;
        notifier_ = nullptr;
        delete timer_;
        timer_ = nullptr;
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = -1;
    }

private:
    void readEvents() {
        alignas(inotify_event) std::array<char, 16 * (sizeof(inotify_event) + NAME_MAX + 1)> buffer;
        std::vector<ArrivedFile> batch;
        for (;;) {
            const ssize_t length = ::read(descriptor_, buffer.data(), buffer.size());
            if (length <= 0) break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    lookAtEverything();
                    continue;
                }
                if (event->len == 0 || (event->mask & IN_ISDIR)) continue;
                const std::string name(event->name);
                if (!isCandidateName(name)) continue;
                if (event->mask & IN_MOVED_TO)
                    finished(name, batch);
                else if (event->mask & IN_CLOSE_WRITE)
                    closed(name, batch);
                else if (event->mask & IN_MODIFY)
                    watch(name, Arrival::written);
                else if (event->mask & IN_CREATE)
                    watch(name, Arrival::unseen);
                else if (!reported_.contains(name))
                    watch(name, Arrival::unseen);  // touched: times alone are no new content
            }
        }
        deliver(std::move(batch));
    }

    // Closed by a writer: finished, unless it was taken and not written since
    // (opened for writing and closed untouched, say).
    void closed(const std::string& name, std::vector<ArrivedFile>& batch) {
        if (reported_.contains(name) && !pending_.contains(name)) return;
        finished(name, batch);
    }

    void finished(const std::string& name, std::vector<ArrivedFile>& batch) {
        pending_.erase(name);
        const auto look = lookAt(url_ / name);
        if (look && look->size > 0) take(name, batch);
    }

    // Watched until it finishes: a file seen being written stays so until it
    // is closed or has been quiet for long.
    void watch(const std::string& name, Arrival arrival) {
        const auto look = lookAt(url_ / name);
        if (!look) {
            pending_.erase(name);
            return;
        }
        auto [entry, added] = pending_.try_emplace(name, Pending{*look, Clock::now(), arrival});
        Pending& pending = entry->second;
        if (!added && arrival == Arrival::written) pending = {*look, Clock::now(), Arrival::written};
        if (!timer_->isActive()) timer_->start();
    }

    void lookAtEverything() {
        std::error_code error;
        for (fs::directory_iterator entry(url_, error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (isCandidateName(name) && !reported_.contains(name)) watch(name, Arrival::unseen);
        }
    }

    // Takes every pending file whose look held still long enough.
    void settle() {
        std::vector<ArrivedFile> batch;
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
            const auto interval = pending.arrival == Arrival::written ? quietInterval_ : settleInterval_;
            if (now - pending.changedAt < interval) {
                ++entry;
                continue;
            }
            // An empty file is no media yet: its next change brings it back.
            if (look->size > 0) take(name, batch);
            entry = pending_.erase(entry);
        }
        if (pending_.empty()) timer_->stop();
        deliver(std::move(batch));
    }

    void take(const std::string& name, std::vector<ArrivedFile>& batch) {
        const bool again = !reported_.insert(name).second;
        batch.push_back({url_ / name, again});
    }

    void deliver(std::vector<ArrivedFile> batch) {
        if (batch.empty()) return;
        QMetaObject::invokeMethod(
            receiver_,
            [watching = watching_, onNewFiles = onNewFiles_, batch = std::move(batch)] {
                if (*watching) onNewFiles(batch);
            },
            Qt::QueuedConnection);
    }

    struct Pending {
        Look look;                    // at the last look
        Clock::time_point changedAt;  // when that look was first seen
        Arrival arrival;
    };

    const fs::path url_;
    QObject* const receiver_;
    const NewFiles onNewFiles_;
    const std::chrono::milliseconds settleInterval_;
    const std::chrono::milliseconds quietInterval_;
    const std::shared_ptr<const bool> watching_;  // read on the receiver's thread only
    int descriptor_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* timer_ = nullptr;
    std::map<std::string, Pending> pending_;
    std::set<std::string> reported_;  // never pruned
};

WatchFolderMonitor::WatchFolderMonitor(fs::path url, QObject* receiver, NewFiles onNewFiles,
                                       std::chrono::milliseconds settleInterval,
                                       std::chrono::milliseconds quietInterval)
    : url_(std::move(url)),
      thread_(std::make_unique<QThread>()),
      worker_(new Worker(url_, receiver, std::move(onNewFiles), settleInterval, quietInterval, watching_)) {
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

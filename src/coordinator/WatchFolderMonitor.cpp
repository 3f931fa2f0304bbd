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

bool isCandidateName(const std::string& name) {
    return !name.empty() && name.front() != '.' && SupportedMediaType::isSupported(fs::path(name));
}

// The events that mean an entry arrived (at once) or is arriving.
constexpr std::uint32_t kArrived = IN_CLOSE_WRITE | IN_MOVED_TO;
constexpr std::uint32_t kArriving = IN_CREATE | IN_MODIFY | IN_ATTRIB;

}  // namespace

// Everything here runs on the monitor's thread.
class WatchFolderMonitor::Worker : public QObject {
public:
    Worker(fs::path url, QObject* receiver, NewFiles onNewFiles, std::chrono::milliseconds settleInterval,
           std::shared_ptr<const bool> watching)
        : url_(std::move(url)),
          receiver_(receiver),
          onNewFiles_(std::move(onNewFiles)),
          settleInterval_(settleInterval),
          watching_(std::move(watching)) {}
    ~Worker() override { close(); }

    void open() {
        nameThisThread("watchfolder.monitor");
        descriptor_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (descriptor_ < 0) return;
        if (::inotify_add_watch(descriptor_, url_.c_str(), kArrived | kArriving | IN_ONLYDIR) < 0) {
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

    void reconsider(const std::string& name) {
        const auto found = reported_.find(name);
        if (found == reported_.end()) return;
        reconsidered_[name] = found->second;
        reported_.erase(found);
    }

private:
    void readEvents() {
        alignas(inotify_event) std::array<char, 16 * (sizeof(inotify_event) + NAME_MAX + 1)> buffer;
        std::vector<fs::path> batch;
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
                if (event->mask & kArrived)
                    arrived(name, batch);
                else
                    arriving(name);
            }
        }
        deliver(std::move(batch));
    }

    // Closed after writing, or moved in: taken now.
    void arrived(const std::string& name, std::vector<fs::path>& batch) {
        if (!isCandidateName(name) || reported_.contains(name)) return;
        pending_.erase(name);
        const auto look = lookAt(url_ / name);
        if (look && look->size > 0) take(name, *look, batch);
    }

    // Still being written, or there before the watch: looked at again later.
    void arriving(const std::string& name) {
        if (!isCandidateName(name) || reported_.contains(name)) return;
        const auto look = lookAt(url_ / name);
        if (!look) {
            pending_.erase(name);
            return;
        }
        pending_[name] = {*look, Clock::now()};
        if (!timer_->isActive()) timer_->start();
    }

    void lookAtEverything() {
        std::error_code error;
        for (fs::directory_iterator entry(url_, error), end; !error && entry != end; entry.increment(error))
            arriving(entry->path().filename().string());
    }

    // Takes every pending file whose look held still over the interval.
    void settle() {
        std::vector<fs::path> batch;
        const auto now = Clock::now();
        for (auto entry = pending_.begin(); entry != pending_.end();) {
            auto& [name, pending] = *entry;
            if (now - pending.lookedAt < settleInterval_) {
                ++entry;
                continue;
            }
            const auto look = lookAt(url_ / name);
            if (look && *look == pending.look) {
                // An empty file is no media yet: its next change brings it back.
                if (look->size > 0) take(name, *look, batch);
                entry = pending_.erase(entry);
            } else if (look) {
                pending = {*look, now};
                ++entry;
            } else {
                entry = pending_.erase(entry);
            }
        }
        if (pending_.empty()) timer_->stop();
        deliver(std::move(batch));
    }

    void take(const std::string& name, const Look& look, std::vector<fs::path>& batch) {
        // A file taken before and sent back is taken again only once it changed.
        if (const auto earlier = reconsidered_.find(name); earlier != reconsidered_.end()) {
            if (earlier->second == look) return;
            reconsidered_.erase(earlier);
        }
        reported_[name] = look;
        batch.push_back(url_ / name);
    }

    void deliver(std::vector<fs::path> batch) {
        if (batch.empty()) return;
        QMetaObject::invokeMethod(
            receiver_,
            [watching = watching_, onNewFiles = onNewFiles_, batch = std::move(batch)] {
                if (*watching) onNewFiles(batch);
            },
            Qt::QueuedConnection);
    }

    struct Pending {
        Look look;
        Clock::time_point lookedAt;
    };

    const fs::path url_;
    QObject* const receiver_;
    const NewFiles onNewFiles_;
    const std::chrono::milliseconds settleInterval_;
    const std::shared_ptr<const bool> watching_;  // read on the receiver's thread only
    int descriptor_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* timer_ = nullptr;
    std::map<std::string, Pending> pending_;
    std::map<std::string, Look> reported_;      // never pruned
    std::map<std::string, Look> reconsidered_;  // sent back, with the look they had
};

WatchFolderMonitor::WatchFolderMonitor(fs::path url, QObject* receiver, NewFiles onNewFiles,
                                       std::chrono::milliseconds settleInterval)
    : url_(std::move(url)),
      thread_(std::make_unique<QThread>()),
      worker_(new Worker(url_, receiver, std::move(onNewFiles), settleInterval, watching_)) {
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

void WatchFolderMonitor::reconsider(const fs::path& file) {
    std::error_code error;
    if (!thread_->isRunning() || !fs::equivalent(file.parent_path(), url_, error)) return;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, name = file.filename().string()] { worker->reconsider(name); },
        Qt::QueuedConnection);
}

}  // namespace fw

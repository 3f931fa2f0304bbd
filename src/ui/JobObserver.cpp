#include "ui/JobObserver.h"

#include <mutex>
#include <set>
#include <vector>

namespace fw::ui {

// Shared with the jobs' callbacks, which may outlive the observer.
struct JobObserver::Relay {
    std::mutex mutex;
    JobObserver* target = nullptr;  // cleared by the observer's destructor
    std::set<const EncodeJob*> pending;
    bool scheduled = false;

    void report(const EncodeJob* job) {
        std::lock_guard lock(mutex);
        if (target == nullptr) return;
        pending.insert(job);
        if (scheduled) return;
        scheduled = true;
        // The target cannot be destroyed while the lock is held; a queued call
        // to an object destroyed later is discarded by Qt.
        QMetaObject::invokeMethod(target, &JobObserver::flush, Qt::QueuedConnection);
    }
};

JobObserver::JobObserver(EncodingCoordinator& coordinator, QObject* parent)
    : QObject(parent), coordinator_(coordinator), relay_(std::make_shared<Relay>()) {
    relay_->target = this;
    connect(&coordinator_, &EncodingCoordinator::jobsChanged, this, &JobObserver::followQueue);
    followQueue();
}

JobObserver::~JobObserver() {
    {
        std::lock_guard lock(relay_->mutex);
        relay_->target = nullptr;
    }
    for (auto& [key, entry] : observed_) entry.first->changed().disconnect(entry.second);
}

void JobObserver::followQueue() {
    std::map<const EncodeJob*, std::pair<std::shared_ptr<EncodeJob>, std::size_t>> next;
    for (const auto& job : coordinator_.jobs()) {
        auto found = observed_.find(job.get());
        if (found != observed_.end()) {
            next.insert(observed_.extract(found));
            continue;
        }
        const EncodeJob* key = job.get();
        const std::size_t token =
            job->changed().connect([relay = relay_, key](EncodeJob::Property) { relay->report(key); });
        next.emplace(key, std::make_pair(job, token));
    }
    for (auto& [key, entry] : observed_) entry.first->changed().disconnect(entry.second);
    observed_ = std::move(next);
}

void JobObserver::flush() {
    std::set<const EncodeJob*> pending;
    {
        std::lock_guard lock(relay_->mutex);
        pending.swap(relay_->pending);
        relay_->scheduled = false;
    }
    for (const EncodeJob* job : pending)
        if (observed_.contains(job)) emit jobChanged(job);
    if (!pending.empty()) emit jobsUpdated();
}

}  // namespace fw::ui

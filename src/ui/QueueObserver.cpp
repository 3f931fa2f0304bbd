#include "ui/QueueObserver.h"

#include "coordinator/EncodingCoordinator.h"

#include <mutex>
#include <set>

namespace fw::ui {

// Shared with the jobs' callbacks, which may outlive the observer: they post
// through it only while `target` is set, under the lock.
struct QueueObserver::Relay {
    std::mutex mutex;
    QueueObserver* target = nullptr;
    std::set<const EncodeJob*> pending;
    bool scheduled = false;

    void post(const EncodeJob* job) {
        const std::lock_guard lock(mutex);
        if (!target) return;
        pending.insert(job);
        if (std::exchange(scheduled, true)) return;
        // The target cannot be destroyed while the lock is held; Qt discards a
        // queued call to an object destroyed later.
        QMetaObject::invokeMethod(target, &QueueObserver::flush, Qt::QueuedConnection);
    }
};

QueueObserver::QueueObserver(EncodingCoordinator& coordinator, QObject* parent)
    : QObject(parent), coordinator_(coordinator), relay_(std::make_shared<Relay>()) {
    relay_->target = this;
    connect(&coordinator_, &EncodingCoordinator::jobsChanged, this, [this] {
        subscribe();
        emit queueTouched();
    });
    subscribe();
}

QueueObserver::~QueueObserver() {
    {
        const std::lock_guard lock(relay_->mutex);
        relay_->target = nullptr;
    }
    for (auto& [key, entry] : subscriptions_) entry.first->changed().disconnect(entry.second);
}

void QueueObserver::subscribe() {
    decltype(subscriptions_) next;
    for (const auto& job : coordinator_.jobs()) {
        if (auto kept = subscriptions_.find(job.get()); kept != subscriptions_.end()) {
            next.insert(subscriptions_.extract(kept));
            continue;
        }
        const EncodeJob* key = job.get();
        const std::size_t token =
            job->changed().connect([relay = relay_, key](EncodeJob::Property) { relay->post(key); });
        next.emplace(key, std::make_pair(job, token));
    }
    for (auto& [key, entry] : subscriptions_) entry.first->changed().disconnect(entry.second);
    subscriptions_ = std::move(next);
}

void QueueObserver::flush() {
    std::set<const EncodeJob*> touched;
    {
        const std::lock_guard lock(relay_->mutex);
        touched.swap(relay_->pending);
        relay_->scheduled = false;
    }
    for (const EncodeJob* job : touched)
        if (subscriptions_.contains(job)) emit jobTouched(job);
    if (!touched.empty()) emit queueTouched();
}

}  // namespace fw::ui

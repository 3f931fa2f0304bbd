#include "ui/QueueObserver.h"

#include "coordinator/EncodingCoordinator.h"

#include <atomic>
#include <mutex>

namespace fw::ui {

// Shared with the jobs' callbacks, which may outlive the observer: they post
// through it only while `target` is set, under the lock.
struct QueueObserver::Relay {
    std::mutex mutex;
    QueueObserver* target = nullptr;
    std::atomic<bool> pending{false};

    void post() {
        const std::lock_guard lock(mutex);
        if (!target || pending.exchange(true)) return;
        QueueObserver* observer = target;
        QMetaObject::invokeMethod(
            observer,
            [observer] {
                observer->relay_->pending = false;
                emit observer->queueTouched();
            },
            Qt::QueuedConnection);
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
    unsubscribe();
}

void QueueObserver::unsubscribe() {
    for (auto& [job, token] : subscriptions_) job->changed().disconnect(token);
    subscriptions_.clear();
}

void QueueObserver::subscribe() {
    unsubscribe();
    for (const auto& job : coordinator_.jobs()) {
        const std::size_t token = job->changed().connect([relay = relay_](EncodeJob::Property) { relay->post(); });
        subscriptions_.emplace_back(job, token);
    }
}

}  // namespace fw::ui

#include "app/QueueWatcher.h"

#include <QCoreApplication>
#include <QPointer>

namespace fw::app {

QueueWatcher::QueueWatcher(EncodingCoordinator& coordinator, QObject* parent)
    : QObject(parent), coordinator_(coordinator) {
    for (auto signal : {&EncodingCoordinator::isRunningChanged, &EncodingCoordinator::selectedCodecChanged,
                        &EncodingCoordinator::watchFolderURLChanged})
        connect(&coordinator_, signal, this, &QueueWatcher::schedule);
    connect(&coordinator_, &EncodingCoordinator::jobsChanged, this, [this] {
        watchJobs();
        schedule();
    });
    watchJobs();
}

QueueWatcher::~QueueWatcher() { unwatchJobs(); }

void QueueWatcher::unwatchJobs() {
    for (auto& [job, token] : tokens_) job->changed().disconnect(token);
    tokens_.clear();
}

void QueueWatcher::watchJobs() {
    unwatchJobs();
    QPointer<QueueWatcher> self(this);
    for (const auto& job : coordinator_.jobs()) {
        const auto token = job->changed().connect([self, pending = pending_](EncodeJob::Property) {
            if (pending->exchange(true)) return;
            // QPointer is only read on the GUI thread, inside the queued call.
            QMetaObject::invokeMethod(
                qApp,
                [self, pending] {
                    pending->store(false);
                    if (self) emit self->changed();
                },
                Qt::QueuedConnection);
        });
        tokens_.emplace_back(job, token);
    }
}

void QueueWatcher::schedule() {
    if (pending_->exchange(true)) return;
    QPointer<QueueWatcher> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, pending = pending_] {
            pending->store(false);
            if (self) emit self->changed();
        },
        Qt::QueuedConnection);
}

}  // namespace fw::app

#include "app/QueueWatcher.h"

#include <QTimer>

namespace fw::app {

QueueWatcher::QueueWatcher(EncodingCoordinator& coordinator, QObject* parent)
    : QObject(parent), queue_(coordinator, this) {
    connect(&queue_, &ui::QueueObserver::queueTouched, this, &QueueWatcher::schedule);
    for (auto signal : {&EncodingCoordinator::isRunningChanged, &EncodingCoordinator::isCancellingChanged,
                        &EncodingCoordinator::selectedCodecChanged, &EncodingCoordinator::outputAlphaChanged,
                        &EncodingCoordinator::watchFolderURLChanged})
        connect(&coordinator, signal, this, &QueueWatcher::schedule);
}

void QueueWatcher::schedule() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        pending_ = false;
        emit changed();
    });
}

}  // namespace fw::app

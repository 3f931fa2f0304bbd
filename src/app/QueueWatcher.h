#pragma once
// One signal for "the batch state may have changed": the queue or any job in
// it (ui::QueueObserver, which brings the jobs' reports to the GUI thread),
// the run state (cancelling too), the codec and its alpha switch, or the
// watch folder. Bursts are folded into one changed() per turn of the event
// loop, so the menus and the tray re-read the coordinator at most that often.
// Thread-safety: GUI thread only.

#include "coordinator/EncodingCoordinator.h"
#include "ui/QueueObserver.h"

#include <QObject>

namespace fw::app {

class QueueWatcher : public QObject {
    Q_OBJECT

public:
    explicit QueueWatcher(EncodingCoordinator& coordinator, QObject* parent = nullptr);

signals:
    void changed();

private:
    void schedule();

    ui::QueueObserver queue_;
    bool pending_ = false;
};

}  // namespace fw::app

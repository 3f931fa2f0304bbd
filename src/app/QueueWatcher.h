#pragma once
// One signal for "the batch state may have changed": the coordinator's queue,
// run state, codec or watch folder, or anything inside a job. Jobs report on
// encoder threads; the reports are gathered and emitted once on the GUI
// thread, so the menus and the tray re-read the coordinator at most once per
// turn of the event loop.
// Thread-safety: lives on the GUI thread; jobs may report from any thread.

#include "coordinator/EncodingCoordinator.h"

#include <QObject>

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

namespace fw::app {

class QueueWatcher : public QObject {
    Q_OBJECT

public:
    explicit QueueWatcher(EncodingCoordinator& coordinator, QObject* parent = nullptr);
    ~QueueWatcher() override;

signals:
    void changed();

private:
    void watchJobs();
    void unwatchJobs();
    // Any thread: emits changed() once, soon, on the GUI thread.
    void schedule();

    EncodingCoordinator& coordinator_;
    std::vector<std::pair<std::shared_ptr<EncodeJob>, std::size_t>> tokens_;
    // Shared with the jobs' callbacks, which may outlive a report in flight.
    std::shared_ptr<std::atomic<bool>> pending_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace fw::app

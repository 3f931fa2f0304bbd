#pragma once
// Watches every job of the coordinator's queue and reports their changes on
// the GUI thread. A job's own changed() signal fires on whichever thread
// changed it (an encoder's, during a run); the reports are handed over and
// coalesced, so a burst of progress reports for one job becomes one
// jobChanged() per pass of the event loop.
//
// Threads: made, used and destroyed on the GUI thread. Reports that arrive
// from other threads after destruction are dropped.

#include "coordinator/EncodingCoordinator.h"

#include <QObject>

#include <map>
#include <memory>

namespace fw::ui {

class JobObserver : public QObject {
    Q_OBJECT

public:
    explicit JobObserver(EncodingCoordinator& coordinator, QObject* parent = nullptr);
    ~JobObserver() override;

signals:
    // Once per changed job and pass, for jobs still in the queue.
    void jobChanged(const fw::EncodeJob* job);
    // After the jobChanged() reports of one pass.
    void jobsUpdated();

private:
    struct Relay;
    void followQueue();
    void flush();

    EncodingCoordinator& coordinator_;
    std::shared_ptr<Relay> relay_;
    // The observed jobs and their connection tokens.
    std::map<const EncodeJob*, std::pair<std::shared_ptr<EncodeJob>, std::size_t>> observed_;
};

}  // namespace fw::ui

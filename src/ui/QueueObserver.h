#pragma once
// Tells a view when anything about the queue changed: the list itself or any
// property of any job (status, progress, …), and which jobs changed. Jobs
// report on whatever thread changed them; the observer hands each report to
// its own thread and folds a burst of reports into one pass per event-loop
// turn: one jobTouched() per changed job, then one queueTouched().
//
// Threads: made, used and destroyed on the GUI thread. Job reports may come
// from any thread, also while the observer is being destroyed.

#include <QObject>

#include <map>
#include <memory>

namespace fw {
class EncodingCoordinator;
class EncodeJob;
}  // namespace fw

namespace fw::ui {

class QueueObserver : public QObject {
    Q_OBJECT

public:
    QueueObserver(EncodingCoordinator& coordinator, QObject* parent);
    ~QueueObserver() override;

signals:
    // On the observer's thread, after the change: at once for a change of the
    // list, after the pass's jobTouched() reports for changes inside jobs.
    void queueTouched();
    // Once per pass for each job still queued whose properties changed.
    void jobTouched(const fw::EncodeJob* job);

private:
    struct Relay;
    void subscribe();
    void flush();

    EncodingCoordinator& coordinator_;
    std::shared_ptr<Relay> relay_;
    // Each observed job with its connection token.
    std::map<const EncodeJob*, std::pair<std::shared_ptr<EncodeJob>, std::size_t>> subscriptions_;
};

}  // namespace fw::ui

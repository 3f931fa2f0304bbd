#pragma once
// Tells a view when anything about the queue changed: the list itself or any
// property of any job (status, progress, …). Jobs report on whatever thread
// changed them; the observer hands each report to its own thread and folds a
// burst of reports into one queueTouched() per event-loop pass.
//
// Threads: made, used and destroyed on the GUI thread. Job reports may come
// from any thread, also while the observer is being destroyed.

#include <QObject>

#include <memory>
#include <vector>

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
    // On the observer's thread, after the change.
    void queueTouched();

private:
    struct Relay;
    void subscribe();
    void unsubscribe();

    EncodingCoordinator& coordinator_;
    std::shared_ptr<Relay> relay_;
    std::vector<std::pair<std::shared_ptr<EncodeJob>, std::size_t>> subscriptions_;
};

}  // namespace fw::ui

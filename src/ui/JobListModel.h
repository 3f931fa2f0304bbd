#pragma once
// The queue as a list model: one row per job of the coordinator, in queue
// order. Rows follow jobsChanged() with the smallest insert/remove around the
// common start and end of the old and new lists (an append inserts, a removal
// removes, a reorder replaces the span it touched); a change inside a job
// repaints that job's row only.
//
// Threads: GUI thread only (QueueObserver brings job changes there).

#include "coordinator/EncodingCoordinator.h"

#include <QAbstractListModel>
#include <QHash>

#include <memory>

namespace fw::ui {

class QueueObserver;

class JobListModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit JobListModel(EncodingCoordinator& coordinator, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    // Qt::DisplayRole: the job's file name; Qt::AccessibleTextRole: the name
    // and the job's state in words.
    QVariant data(const QModelIndex& index, int role) const override;

    // The job at `row`, or null outside the list.
    std::shared_ptr<EncodeJob> jobAt(int row) const;
    EncodingCoordinator& coordinator() const { return coordinator_; }

private:
    void followQueue();
    void repaint(const EncodeJob* job);
    void reindex();

    EncodingCoordinator& coordinator_;
    EncodingCoordinator::JobList jobs_;  // the rows as last announced
    QHash<const EncodeJob*, int> rows_;
    QueueObserver* observer_;
};

}  // namespace fw::ui

#include "ui/JobListModel.h"

#include "ui/JobRowContent.h"
#include "ui/QueueObserver.h"

#include <algorithm>

namespace fw::ui {

JobListModel::JobListModel(EncodingCoordinator& coordinator, QObject* parent)
    : QAbstractListModel(parent), coordinator_(coordinator), jobs_(coordinator.jobs()) {
    reindex();
    observer_ = new QueueObserver(coordinator_, this);
    connect(observer_, &QueueObserver::jobTouched, this, &JobListModel::repaint);
    connect(&coordinator_, &EncodingCoordinator::jobsChanged, this, &JobListModel::followQueue);
}

int JobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(jobs_.size());
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
    const auto job = jobAt(index.row());
    if (!job || !index.isValid()) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(job->fileName());
    if (role == Qt::AccessibleTextRole) return JobRowContent::of(*job, true).accessibleText;
    return {};
}

std::shared_ptr<EncodeJob> JobListModel::jobAt(int row) const {
    if (row < 0 || row >= static_cast<int>(jobs_.size())) return nullptr;
    return jobs_[static_cast<std::size_t>(row)];
}

void JobListModel::followQueue() {
    const auto& next = coordinator_.jobs();
    // The common start and end stay; the span between is replaced.
    const std::size_t shorter = std::min(jobs_.size(), next.size());
    std::size_t head = 0;
    while (head < shorter && jobs_[head] == next[head]) ++head;
    std::size_t tail = 0;
    while (tail < shorter - head && jobs_[jobs_.size() - 1 - tail] == next[next.size() - 1 - tail]) ++tail;

    const int first = static_cast<int>(head);
    const int removed = static_cast<int>(jobs_.size() - head - tail);
    const int inserted = static_cast<int>(next.size() - head - tail);
    if (removed > 0) {
        beginRemoveRows({}, first, first + removed - 1);
        jobs_.erase(jobs_.begin() + first, jobs_.begin() + first + removed);
        endRemoveRows();
    }
    if (inserted > 0) {
        beginInsertRows({}, first, first + inserted - 1);
        jobs_.insert(jobs_.begin() + first, next.begin() + first, next.begin() + first + inserted);
        endInsertRows();
    }
    reindex();
}

void JobListModel::repaint(const EncodeJob* job) {
    const auto found = rows_.constFind(job);
    if (found == rows_.constEnd()) return;
    const QModelIndex changed = index(*found);
    emit dataChanged(changed, changed);
}

void JobListModel::reindex() {
    rows_.clear();
    rows_.reserve(static_cast<qsizetype>(jobs_.size()));
    for (std::size_t row = 0; row < jobs_.size(); ++row) rows_.insert(jobs_[row].get(), static_cast<int>(row));
}

}  // namespace fw::ui

#pragma once
// Draws the queue's rows (JobRowContent) and turns clicks on a row's
// controls, or the keyboard's activate(), into controlActivated(). The
// current row is framed in the accent colour while the list shows it
// (QueueListView::showsCurrentRow). Rows all have one height, tall enough
// for the name and a two-line error, so the view can lay out any number of
// rows without measuring them; nothing is built per row.
//
// Threads: GUI thread only.

#include "ui/JobRowContent.h"

#include <QStyledItemDelegate>

#include <functional>
#include <optional>

class QAbstractItemView;

namespace fw::ui {

class JobListModel;

class JobRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // `view` shows `model`; the delegate reads showControls() and
    // cancelling(job) for every row it draws.
    JobRowDelegate(
        const JobListModel& model, QAbstractItemView* view, std::function<bool()> showControls,
        std::function<bool(const EncodeJob&)> cancelling = [](const EncodeJob&) { return false; });

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // Where `control` of the row at `index` is drawn, in viewport coordinates;
    // null when the row does not show it.
    QRect controlRect(const QModelIndex& index, RowControl control) const;
    // Where the row at `index` draws its status symbol, its name and the line
    // under it (viewport coordinates).
    struct Parts {
        QRect status;
        QRect name;
        QRect line;
    };
    Parts partsAt(const QModelIndex& index) const;
    // The control of the row at `index` under `point` (viewport coordinates).
    std::optional<RowControl> controlAt(const QModelIndex& index, const QPoint& point) const;
    // The help text the row shows at `point` (viewport coordinates), or "";
    // over a name cut short, the whole name.
    QString helpAt(const QModelIndex& index, const QPoint& point) const;
    // What the row at `index` shows now; none for a row without a job.
    std::optional<JobRowContent> contentAt(const QModelIndex& index) const;
    // The keyboard's click: controlActivated() for `control` of the row at
    // `index`; false (nothing emitted) when the row does not show it.
    bool activate(const QModelIndex& index, RowControl control);

signals:
    // A click on one of a row's controls; `area` is the control's rectangle
    // on the screen (menus open below it).
    void controlActivated(int row, fw::ui::RowControl control, const QRect& area);

private:
    struct Layout;
    Layout layout(const QRect& rect, const JobRowContent& content) const;
    std::optional<RowControl> controlIn(const Layout& layout, const QPoint& point) const;
    static QRect areaOf(const Layout& layout, RowControl control);
    void emitActivated(int row, RowControl control, const QRect& area);

    const JobListModel& model_;
    QAbstractItemView* view_;
    std::function<bool()> showControls_;
    std::function<bool(const EncodeJob&)> cancelling_;
    // The control under the last press, until the release.
    std::optional<std::pair<int, RowControl>> pressed_;
};

}  // namespace fw::ui

#pragma once
// Draws one history record: a green or red status mark, the reveal button
// (only while the output file exists), the output's name on one line cut in
// the middle, the caption line, and for failures the message in red over at
// most two lines. A click on the reveal button asks for the file to be shown.
// Main thread only.

#include <QStyledItemDelegate>

namespace fw::app {

class HistoryRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Where the reveal button of a row drawn in `row` is.
    static QRect revealRect(const QRect& row);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

signals:
    void revealRequested(const QString& path);
};

}  // namespace fw::app

#pragma once
// Draws one history record: a green or red status mark, the reveal button
// (only while the output file exists), the output's name on one line cut in
// the middle, the caption line, and for failures the message in red over at
// most two lines. The colours are the queue rows' (RowTints.h), measured
// against what the style draws under the row: the list, the selection, the
// current row's frame. A click on the reveal button, or the keyboard's
// reveal(), asks for the file to be shown. Main thread only.

#include <QStyledItemDelegate>

namespace fw::app {

class HistoryRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Where the parts of a row drawn in `row` in `font` are; `message` is the
    // row's MessageRole. Empty rectangles for the lines it has not.
    struct Parts {
        QRect mark;
        QRect reveal;
        QRect name;
        QRect caption;
        QRect message;  // all its lines
    };
    static Parts parts(const QRect& row, const QFont& font, const QString& message);
    // Where the reveal button of a row drawn in `row` is.
    static QRect revealRect(const QRect& row);

    // The keyboard's click on the reveal button: revealRequested() for a row
    // that offers it; false (nothing emitted) for one that does not.
    bool reveal(const QModelIndex& index);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

signals:
    void revealRequested(const QByteArray& path);  // its bytes: a name need not be text
};

}  // namespace fw::app

#include "ui/QueueListView.h"

#include "ui/FollowPalette.h"
#include "ui/JobRowDelegate.h"
#include "ui/RowKeys.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>

#include <algorithm>
#include <charconv>
#include <string>

namespace fw::ui {

QueueListView::QueueListView(Callbacks callbacks, QWidget* parent)
    : QListView(parent), callbacks_(std::move(callbacks)) {
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    // The card's glass shows through.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAttribute(Qt::WA_TranslucentBackground);
    // A slim handle without arrows, over the glass like the rest of the card.
    followStyleSheet(
        verticalScrollBar(),
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 110); border-radius: 4px; "
                       "min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    // Return stays the window's (Encode): a job row has no action of its own.
    RowKeys::Actions keys;
    keys.fillMenu = [this](int row, QMenu& menu) {
        setKeyboardInUse(true);
        if (callbacks_.fillRowMenu) callbacks_.fillRowMenu(row, menu);
    };
    new RowKeys(this, std::move(keys));
}

std::size_t QueueListView::destinationAt(const QPoint& point) const {
    const int rows = model() ? model()->rowCount() : 0;
    const QModelIndex index = indexAt(point);
    if (!index.isValid()) {
        // Above the first row or below the last.
        if (rows > 0 && point.y() < visualRect(model()->index(0, 0)).top()) return 0;
        return static_cast<std::size_t>(rows);
    }
    const QRect rect = visualRect(index);
    return static_cast<std::size_t>(index.row() + (point.y() > rect.center().y() ? 1 : 0));
}

std::optional<std::size_t> QueueListView::draggedRow(const QMimeData* data) {
    if (data == nullptr || !data->hasFormat(QString::fromLatin1(kRowMimeType))) return std::nullopt;
    const QByteArray text = data->data(QString::fromLatin1(kRowMimeType));
    std::size_t row = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), row);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return row;
}

void QueueListView::mousePressEvent(QMouseEvent* event) {
    setKeyboardInUse(false);
    pressPosition_.reset();
    pressedRow_ = -1;
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    QListView::mousePressEvent(event);
    // A press on a row's control is the delegate's, not the start of a drag.
    const auto* rows = qobject_cast<const JobRowDelegate*>(itemDelegate());
    if (event->button() == Qt::LeftButton && index.isValid() && !(rows && rows->controlAt(index, point))) {
        pressPosition_ = event->position().toPoint();
        pressedRow_ = index.row();
    }
}

void QueueListView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressPosition_ || !(event->buttons() & Qt::LeftButton) ||
        (event->position().toPoint() - *pressPosition_).manhattanLength() < QApplication::startDragDistance()) {
        QListView::mouseMoveEvent(event);
        return;
    }
    const int row = pressedRow_;
    pressPosition_.reset();
    pressedRow_ = -1;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kRowMimeType), QByteArray::number(row));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    const QRect rect = visualRect(model()->index(row, 0));
    QPixmap image(rect.size() * devicePixelRatioF());
    image.setDevicePixelRatio(devicePixelRatioF());
    image.fill(Qt::transparent);
    viewport()->render(&image, {}, QRegion(rect), QWidget::DrawChildren);
    drag->setPixmap(image);
    drag->setHotSpot(event->position().toPoint() - rect.topLeft());
    drag->exec(Qt::MoveAction);
    setIndicator(std::nullopt);
}

void QueueListView::mouseReleaseEvent(QMouseEvent* event) {
    pressPosition_.reset();
    pressedRow_ = -1;
    QListView::mouseReleaseEvent(event);
}

void QueueListView::setKeyboardInUse(bool inUse) {
    if (keyboardInUse_ == inUse) return;
    keyboardInUse_ = inUse;
    viewport()->update();
}

void QueueListView::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
        setKeyboardInUse(true);
    QListView::focusInEvent(event);
}

void QueueListView::keyPressEvent(QKeyEvent* event) {
    setKeyboardInUse(true);
    auto* rows = qobject_cast<JobRowDelegate*>(itemDelegate());
    const QModelIndex current = currentIndex();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (rows && current.isValid() && modifiers == Qt::NoModifier) {
        if (event->key() == Qt::Key_Space) {
            rows->activate(current, RowControl::enabledToggle);
            return;
        }
        if (event->key() == Qt::Key_Delete) {
            // The row that takes the removed one's place becomes current, as in a file list.
            const int row = current.row();
            if (rows->activate(current, RowControl::remove) && model()->rowCount() > 0)
                setCurrentIndex(model()->index(std::min(row, model()->rowCount() - 1), 0));
            return;
        }
    }
    QListView::keyPressEvent(event);
}

void QueueListView::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void QueueListView::dragMoveEvent(QDragMoveEvent* event) {
    if (draggedRow(event->mimeData())) {
        event->acceptProposedAction();
        setIndicator(destinationAt(event->position().toPoint()));
        return;
    }
    if (callbacks_.onForeignDrag && callbacks_.onForeignDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void QueueListView::dragLeaveEvent(QDragLeaveEvent*) {
    setIndicator(std::nullopt);
    if (callbacks_.onForeignLeave) callbacks_.onForeignLeave();
}

void QueueListView::dropEvent(QDropEvent* event) {
    setIndicator(std::nullopt);
    if (const auto row = draggedRow(event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        if (callbacks_.onMove) callbacks_.onMove({*row}, destinationAt(event->position().toPoint()));
        return;
    }
    if (callbacks_.onForeignDrop && callbacks_.onForeignDrop(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void QueueListView::setIndicator(std::optional<std::size_t> destination) {
    if (indicator_ == destination) return;
    indicator_ = destination;
    viewport()->update();
}

void QueueListView::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    if (!indicator_ || !model()) return;
    const int rows = model()->rowCount();
    if (rows == 0) return;
    const std::size_t at = *indicator_;
    const int y = at < static_cast<std::size_t>(rows) ? visualRect(model()->index(int(at), 0)).top()
                                                      : visualRect(model()->index(rows - 1, 0)).bottom() + 1;
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawLine(QPointF(8, y), QPointF(viewport()->width() - 8, y));
}

}  // namespace fw::ui

#pragma once
// The queue's list: uniform rows drawn by JobRowDelegate, no selection, and
// rows dragged to a new place. A finished drag reports the row's offset and
// the destination offset (list-move counting: positions before the move) to
// `onMove`; drags of anything else (files) are handed to the card's drop
// handling through `onForeignDrag`.
//
// The keyboard works on the current row, which the arrows move: Space is a
// click on its checkbox, Delete on its remove button (each only where the row
// shows it), and the menu key or Shift+F10 opens its menu (RowKeys), which
// `fillRowMenu` fills.
// The current row is framed only while the keyboard is in use, so a window
// that merely opens with the list focused, or a click, frames nothing.
//
// Threads: GUI thread only.

#include <QListView>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

class QDropEvent;
class QMenu;

namespace fw::ui {

class QueueListView : public QListView {
    Q_OBJECT

public:
    // The mime type of a dragged row: its offset as decimal text.
    static constexpr const char* kRowMimeType = "application/x-framewright-queue-row";

    struct Callbacks {
        // A row was dropped: list-move offsets, as EncodingCoordinator::move takes them.
        std::function<void(const std::vector<std::size_t>& sources, std::size_t destination)> onMove;
        // Another kind of drag entered or moved over the list; returns whether it is taken.
        std::function<bool(QDropEvent* event)> onForeignDrag;
        // That drag left the list.
        std::function<void()> onForeignLeave;
        // That drag was dropped on the list; returns whether it was handled.
        std::function<bool(QDropEvent* event)> onForeignDrop;
        // Fills the menu the keyboard asked for on `row`; left empty, none opens.
        std::function<void(int row, QMenu& menu)> fillRowMenu;
    };

    QueueListView(Callbacks callbacks, QWidget* parent = nullptr);

    // The list-move destination offset for a drop at `point` (viewport coordinates).
    std::size_t destinationAt(const QPoint& point) const;
    // Whether the current row is framed: the list has the focus, which came by
    // Tab, or a key was pressed in it since the last click.
    bool showsCurrentRow() const { return keyboardInUse_ && hasFocus(); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    static std::optional<std::size_t> draggedRow(const QMimeData* data);
    void setIndicator(std::optional<std::size_t> destination);
    void setKeyboardInUse(bool inUse);

    Callbacks callbacks_;
    std::optional<QPoint> pressPosition_;
    int pressedRow_ = -1;
    std::optional<std::size_t> indicator_;  // where a dragged row would land
    bool keyboardInUse_ = false;
};

}  // namespace fw::ui

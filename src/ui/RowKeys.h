#pragma once
// The keyboard's ways to a list's current row, one for every list of rows
// with controls (the queue, the encode history): the menu key or Shift+F10
// opens the row's menu just under the start of the row, offering what the
// row's buttons do, and Return or Enter does the row's own action where it
// has one. Some platforms send the menu key as a context menu event as well:
// one menu opens at a time. The mouse's context menus are left to the list.
//
// Threads: GUI thread only.

#include <QObject>
#include <QPointer>

#include <functional>

class QAbstractItemView;
class QMenu;

namespace fw::ui {

class RowKeys : public QObject {
    Q_OBJECT

public:
    struct Actions {
        // Fills the menu (object name "rowMenu") of `row`; a menu left empty
        // does not open.
        std::function<void(int row, QMenu& menu)> fillMenu;
        // Return or Enter on `row`; false leaves the key to the window.
        std::function<bool(int row)> press;
    };

    // Watches `view`'s keys from now on; the watcher is the view's child.
    RowKeys(QAbstractItemView* view, Actions actions);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openMenu();

    QAbstractItemView* view_;
    Actions actions_;
    QPointer<QMenu> menu_;  // the open row menu
};

}  // namespace fw::ui

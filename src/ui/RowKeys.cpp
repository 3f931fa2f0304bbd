#include "ui/RowKeys.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

namespace fw::ui {

RowKeys::RowKeys(QAbstractItemView* view, Actions actions) : QObject(view), view_(view), actions_(std::move(actions)) {
    view_->installEventFilter(this);
}

bool RowKeys::eventFilter(QObject* watched, QEvent* event) {
    if (watched != view_) return false;
    if (event->type() == QEvent::ContextMenu) {
        if (static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Keyboard) return false;
        openMenu();
        return true;
    }
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
        (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        openMenu();
        return true;
    }
    const QModelIndex current = view_->currentIndex();
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier &&
        current.isValid() && actions_.press)
        return actions_.press(current.row());
    return false;
}

void RowKeys::openMenu() {
    const QModelIndex current = view_->currentIndex();
    if (!current.isValid() || !actions_.fillMenu || (menu_ && menu_->isVisible())) return;
    auto* menu = new QMenu(view_);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    actions_.fillMenu(current.row(), *menu);
    if (menu->actions().isEmpty()) {
        delete menu;
        return;
    }
    menu_ = menu;
    view_->scrollTo(current);
    const QRect rect = view_->visualRect(current);
    menu->popup(view_->viewport()->mapToGlobal(QPoint(rect.left() + 24, rect.bottom())));
}

}  // namespace fw::ui

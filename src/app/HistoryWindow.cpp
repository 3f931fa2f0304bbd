#include "app/HistoryWindow.h"

#include "app/HistoryListModel.h"
#include "app/HistoryRowDelegate.h"
#include "app/TextStyle.h"
#include "ui/AccessibleNames.h"
#include "ui/FileReveal.h"
#include "ui/RowKeys.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <system_error>

namespace fw::app {

namespace {

bool askToClear(QWidget* window) {
    QMessageBox box(QMessageBox::Question, HistoryWindow::tr("Clear Encode History"),
                    HistoryWindow::tr("Clear the encode history?"), QMessageBox::Cancel, window);
    box.setInformativeText(HistoryWindow::tr("Every record is removed. The exported files stay where they are."));
    QPushButton* clear = box.addButton(HistoryWindow::tr("Clear"), QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == clear;
}

}  // namespace

HistoryWindow::HistoryWindow(EncodeHistoryStore& store, QWidget* parent)
    : QWidget(parent),
      store_(store),
      confirmation_(askToClear),
      revealer_([this](const std::filesystem::path& path) { ui::revealInFileManager(path, this); }) {
    setWindowTitle(tr("Encode History"));
    setMinimumSize(460, 380);

    auto* title = new QLabel(tr("Encode History"));
    title->setObjectName(QStringLiteral("historyTitle"));
    applyTextStyle(title, TextRole::headline);
    auto* clear = new QPushButton(tr("Clear"));
    clear->setObjectName(QStringLiteral("clearHistory"));
    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 12, 12, 12);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(clear);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    auto* model = new HistoryListModel(store_, this);
    auto* delegate = new HistoryRowDelegate(this);
    auto* list = new QListView;
    list->setObjectName(QStringLiteral("historyList"));
    ui::nameAfter(list, title->text());
    list->setModel(model);
    list->setItemDelegate(delegate);
    list->setResizeMode(QListView::Adjust);  // rows re-measure their wrapped messages
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setFrameShape(QFrame::NoFrame);
    list->setMouseTracking(true);
    // The keyboard's reveal: Return, or the row's menu, through the button's own path.
    ui::RowKeys::Actions keys;
    keys.fillMenu = [model, delegate](int row, QMenu& menu) {
        const QPersistentModelIndex index = model->index(row, 0);
        if (index.data(HistoryListModel::RevealableRole).toBool())
            menu.addAction(tr("Show in File Manager"), &menu, [delegate, index] {
                if (index.isValid()) delegate->reveal(index);
            });
    };
    keys.press = [model, delegate](int row) { return delegate->reveal(model->index(row, 0)); };
    new ui::RowKeys(list, std::move(keys));

    auto* empty = new QLabel(tr("No encodes yet."));
    empty->setObjectName(QStringLiteral("emptyHistory"));
    empty->setAlignment(Qt::AlignCenter);
    applyTextStyle(empty, TextRole::body, TextTone::secondary);

    auto* content = new QStackedWidget;
    content->setObjectName(QStringLiteral("historyContent"));
    content->addWidget(empty);
    content->addWidget(list);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(divider);
    layout->addWidget(content, 1);

    const auto showState = [model, clear, content, empty, list] {
        const bool hasRecords = model->rowCount() > 0;
        clear->setEnabled(hasRecords);
        content->setCurrentWidget(hasRecords ? static_cast<QWidget*>(list) : empty);
    };
    connect(model, &QAbstractItemModel::modelReset, this, showState);
    showState();
    // Opens on the records, not one key away from the question that removes them.
    list->setFocus();
    connect(clear, &QPushButton::clicked, this, [this, model] {
        if (!confirmation_ || !confirmation_(this)) return;
        store_.clear();
        model->reload();  // at once, not at the store's queued notice
    });
    connect(delegate, &HistoryRowDelegate::revealRequested, this, [this](const QByteArray& bytes) {
        const std::filesystem::path path(bytes.toStdString());
        std::error_code error;
        if (revealer_ && std::filesystem::exists(path, error)) revealer_(path);
    });
}

}  // namespace fw::app

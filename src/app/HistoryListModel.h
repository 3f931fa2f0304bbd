#pragma once
// The encode history as a list model for the history window: one row per
// record, newest first, following the store as it changes (a change made on
// any thread is taken up on the model's thread).
//
// Display role: the output's name, or the source's for a record without an
// output file (a failure before anything was written). Accessible text role:
// that name, whether it succeeded, the caption and any message, as a screen
// reader reads the row. The other roles are below; RevealableRole
// asks the file system each time it is read, so a file moved away since the
// record was made is no longer offered.

#include "model/EncodeHistory.h"

#include <QAbstractListModel>

namespace fw::app {

class HistoryListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        SucceededRole = Qt::UserRole + 1,  // bool
        CaptionRole,                       // "codec · size · date", size only when known
        MessageRole,                       // the failure message; for a success its damageNote(), often empty
        OutputPathRole,                    // QByteArray, the path's bytes; empty without a path
        RevealableRole,                    // bool: a path is set and a file is there now
    };

    // `store` outlives the model.
    explicit HistoryListModel(EncodeHistoryStore& store, QObject* parent = nullptr);
    ~HistoryListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Re-reads the store.
    void reload();

private:
    EncodeHistoryStore& store_;
    Signal<>::Token connection_;
    std::vector<EncodeRecord> records_;
};

}  // namespace fw::app

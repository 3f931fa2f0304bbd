#include "app/HistoryListModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QPointer>

#include <chrono>
#include <filesystem>
#include <system_error>

namespace fw::app {

namespace {

QString caption(const EncodeRecord& record) {
    const QLocale locale;
    QStringList parts{QString::fromStdString(record.codec)};
    if (const auto bytes = record.fileSizeBytes) {
        // The locale's formatter says "1 bytes"; small sizes are counted here.
        if (*bytes < 1000)
            parts << (*bytes == 1 ? HistoryListModel::tr("1 byte")
                                  : HistoryListModel::tr("%1 bytes").arg(locale.toString(*bytes)));
        else
            parts << locale.formattedDataSize(*bytes, 1, QLocale::DataSizeSIFormat);
    }
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(record.date.time_since_epoch()).count();
    parts << locale.toString(QDateTime::fromMSecsSinceEpoch(milliseconds), QLocale::ShortFormat);
    return parts.join(QStringLiteral(" · "));
}

// An output that was never written has no name of its own: its source names the row.
const std::string& displayName(const EncodeRecord& record) {
    return record.outputPath || record.sourceName.empty() ? record.outputName : record.sourceName;
}

}  // namespace

HistoryListModel::HistoryListModel(EncodeHistoryStore& store, QObject* parent)
    : QAbstractListModel(parent), store_(store), records_(store.records()) {
    // The store may change on a worker thread: hop to ours, and only while we live.
    connection_ = store_.recordsChanged().connect([self = QPointer<HistoryListModel>(this)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self) self->reload();
            },
            Qt::QueuedConnection);
    });
}

HistoryListModel::~HistoryListModel() { store_.recordsChanged().disconnect(connection_); }

void HistoryListModel::reload() {
    beginResetModel();
    records_ = store_.records();
    endResetModel();
}

int HistoryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const EncodeRecord& record = records_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return QString::fromStdString(displayName(record));
    case SucceededRole: return record.succeeded;
    case CaptionRole: return caption(record);
    case MessageRole:
        if (record.succeeded) return QString::fromStdString(record.damageNote());
        return record.message ? QString::fromStdString(*record.message) : QString();
    case Qt::AccessibleTextRole: {
        QStringList parts{QString::fromStdString(displayName(record)),
                          record.succeeded ? tr("Succeeded") : tr("Failed"), caption(record),
                          data(index, MessageRole).toString()};
        parts.removeAll(QString());
        return parts.join(QStringLiteral(", "));
    }
    case OutputPathRole: return record.outputPath ? QByteArray::fromStdString(*record.outputPath) : QByteArray();
    case RevealableRole: {
        std::error_code error;
        return record.outputPath && std::filesystem::exists(*record.outputPath, error);
    }
    default: return {};
    }
}

}  // namespace fw::app

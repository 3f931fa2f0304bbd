#include "app/StoredFileNotice.h"

#include <QCoreApplication>
#include <QFile>

namespace fw::app {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("StoredFileNotice", text); }

QString shown(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

// The first sentence when the file could not be read: what it held and what Framewright started with.
QString unreadable(StoredData data, const StoredFileReport& report) {
    switch (data) {
    case StoredData::settings:
        if (!report.unreadableKeys.empty())
            return tr("The saved presets could not be read, so Framewright started with no saved presets.");
        return tr(
            "The settings file could not be read, so Framewright started with default settings "
            "and no saved presets.");
    case StoredData::queue: return tr("The saved queue could not be read, so the queue started empty.");
    case StoredData::history: return tr("The encode history could not be read, so it started empty.");
    }
    return {};
}

}  // namespace

QString storedFileNotice(StoredData data, const StoredFileReport& report) {
    using Kind = StoredFileReport::Kind;
    const QString reason = QString::fromStdString(report.reason);
    switch (report.kind) {
    case Kind::setAside:
        return unreadable(data, report) + QLatin1Char(' ') +
               (report.unreadableKeys.empty() ? tr("The unreadable file was kept as %1.")
                                              : tr("The settings file that holds them was kept as %1."))
                   .arg(shown(report.kept));
    case Kind::notSetAside:
        return unreadable(data, report) + QLatin1Char(' ') +
               tr("It could not be set aside either (%1), so %2 is left untouched and changes are not saved to it.")
                   .arg(reason, shown(report.file));
    case Kind::writeFailed:
        return unsavedNotice(data, report) + QLatin1Char(' ') +
               tr("Nothing is lost while Framewright runs; it tries again at the next save.");
    case Kind::sourcesAbsent:
        if (report.absentSources == 1)
            return tr("One queued file could not be found, so it was left out of the queue. It stays saved in %1 "
                      "and comes back once the file is there at a later launch.")
                .arg(shown(report.file));
        return tr("%1 queued files could not be found, so they were left out of the queue. They stay saved in %2 "
                  "and come back once the files are there at a later launch.")
            .arg(QString::number(report.absentSources), shown(report.file));
    case Kind::saved: break;
    }
    return {};
}

QString storedFileNoticeAction(const StoredFileReport& report) {
    if (report.kind != StoredFileReport::Kind::sourcesAbsent) return {};
    return report.absentSources == 1 ? tr("Forget This File") : tr("Forget These Files");
}

QString unsavedNotice(StoredData data, const StoredFileReport& report) {
    const QString reason = QString::fromStdString(report.reason);
    if (report.kind == StoredFileReport::Kind::notSetAside) {
        const char* what = data == StoredData::settings
                               ? "Settings and presets could not be saved: %1 could not be read, nor set aside (%2)."
                           : data == StoredData::queue
                               ? "The queue could not be saved: %1 could not be read, nor set aside (%2)."
                               : "The encode history could not be saved: %1 could not be read, nor set aside (%2).";
        return tr(what).arg(shown(report.file), reason);
    }
    const char* what = data == StoredData::settings ? "Settings and presets could not be saved to %1: %2."
                       : data == StoredData::queue  ? "The queue could not be saved to %1: %2."
                                                    : "The encode history could not be saved to %1: %2.";
    return tr(what).arg(shown(report.file), reason);
}

}  // namespace fw::app

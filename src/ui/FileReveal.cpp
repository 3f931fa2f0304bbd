#include "ui/FileReveal.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

namespace fw::ui {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("FileReveal", text); }

}  // namespace

FileRevealer::FileRevealer(QDBusConnection bus, FolderOpener openFolder)
    : bus_(std::move(bus)), openFolder_(std::move(openFolder)) {
    if (!openFolder_) openFolder_ = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
}

void FileRevealer::reveal(const QString& path, std::function<void(RevealOutcome)> done) const {
    if (!done) done = [](RevealOutcome) {};
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    const auto fallBack = [folder, openFolder = openFolder_, done] {
        done(openFolder(folder) ? RevealOutcome::folderOpened : RevealOutcome::failed);
    };
    if (!bus_.isConnected()) {
        fallBack();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous, so a slow or missing file manager never holds the window.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [fallBack, done](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        if (answer->isError())
            fallBack();
        else
            done(RevealOutcome::selected);
    });
}

void revealInFileManager(const QString& path, QWidget* window, const FileRevealer& revealer) {
    revealer.reveal(path, [path, window = QPointer<QWidget>(window)](RevealOutcome outcome) {
        if (outcome != RevealOutcome::failed) return;
        auto* box = new QMessageBox(QMessageBox::Information, tr("Cannot Show the File"),
                                    tr("No file manager could be opened on this desktop."), QMessageBox::Ok, window);
        box->setObjectName(QStringLiteral("revealFailed"));
        box->setInformativeText(tr("The file is at:\n%1").arg(path));
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
}

}  // namespace fw::ui

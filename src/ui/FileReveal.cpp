#include "ui/FileReveal.h"

#include "ui/LocalFileUrl.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPointer>

#include <system_error>

namespace fw::ui {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("FileReveal", text); }

// The widest a name in the message's path may be, in average characters.
constexpr int kNameChars = 48;

// `path` as the message shows it: a name wider than `width` pixels is
// shortened in its middle. The message wraps the rest after its slashes, so
// that it never grows to the screen's width.
QString shownPath(const QString& path, const QFontMetrics& metrics, int width) {
    QStringList names = path.split(QLatin1Char('/'));
    // Word joiners keep a shortened name on one line: a line may end after an ellipsis.
    const QString joinedEllipsis = QStringLiteral("\u2060\u2026\u2060");
    for (QString& name : names)
        if (metrics.horizontalAdvance(name) > width)
            name = metrics.elidedText(name, Qt::ElideMiddle, width).replace(QChar(0x2026), joinedEllipsis);
    return names.join(QLatin1Char('/'));
}

}  // namespace

FileRevealer::FileRevealer(QDBusConnection bus, FolderOpener openFolder)
    : bus_(std::move(bus)), openFolder_(std::move(openFolder)) {
    if (!openFolder_) openFolder_ = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
}

void FileRevealer::reveal(const QString& path, std::function<void(RevealOutcome)> done) const {
    reveal(QFile::encodeName(path).toStdString(), std::move(done));
}

void FileRevealer::reveal(const std::filesystem::path& file, std::function<void(RevealOutcome)> done) const {
    if (!done) done = [](RevealOutcome) {};
    std::error_code error;
    const QUrl folder = localFileUrl(std::filesystem::absolute(file, error).parent_path());
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
    call << QStringList{localFileUrl(file).toString(QUrl::FullyEncoded)} << QString();
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

QMessageBox* revealFailedMessage(const QString& path, QWidget* window) {
    auto* box = new QMessageBox(QMessageBox::Information, tr("Cannot Show the File"),
                                tr("No file manager could be opened on this desktop."), QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("revealFailed"));
    const QFontMetrics metrics(box->font());
    const QString shown = shownPath(path, metrics, kNameChars * metrics.averageCharWidth());
    box->setInformativeText(tr("The file is at:\n%1").arg(shown));
    // Shortened, the path can still be read (and copied) whole.
    if (shown != path) box->setDetailedText(path);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

void revealInFileManager(const std::filesystem::path& file, QWidget* window, const FileRevealer& revealer) {
    revealer.reveal(
        file, [path = QFile::decodeName(file.c_str()), window = QPointer<QWidget>(window)](RevealOutcome outcome) {
            if (outcome == RevealOutcome::failed) revealFailedMessage(path, window)->open();
        });
}

void revealInFileManager(const QString& path, QWidget* window, const FileRevealer& revealer) {
    revealInFileManager(std::filesystem::path(QFile::encodeName(path).toStdString()), window, revealer);
}

}  // namespace fw::ui

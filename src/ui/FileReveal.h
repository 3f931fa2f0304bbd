#pragma once
// "Show in the file manager" for an exported file: the desktop's file manager
// is asked to select it (org.freedesktop.FileManager1.ShowItems on the session
// bus); where no file manager answers, the file's folder is opened through
// the desktop's handler for folders; where that fails too, the user is told
// where the file is.
//
// Threads: the GUI thread only; the bus call never blocks it.

#include <QDBusConnection>
#include <QString>
#include <QUrl>

#include <filesystem>
#include <functional>

class QMessageBox;
class QWidget;

namespace fw::ui {

enum class RevealOutcome { selected, folderOpened, failed };

class FileRevealer {
public:
    // Opens a folder; false when nothing could (QDesktopServices::openUrl).
    using FolderOpener = std::function<bool(const QUrl& folder)>;

    explicit FileRevealer(QDBusConnection bus = QDBusConnection::sessionBus(), FolderOpener openFolder = {});

    // Asks for `file` to be shown, named by its bytes; `done` gets the outcome
    // once it is known (later, on this thread, when the file manager is asked
    // over the bus).
    void reveal(const std::filesystem::path& file, std::function<void(RevealOutcome)> done = {}) const;
    // A path as text (UTF-8), as the history keeps it.
    void reveal(const QString& path, std::function<void(RevealOutcome)> done = {}) const;

private:
    QDBusConnection bus_;
    FolderOpener openFolder_;
};

// The message that says where the file is when nothing could show it
// ("Cannot Show the File", object name "revealFailed"), over `window`, not
// yet open; deleted when closed. A name in the path too long to fit is
// shortened in its middle there, and the whole path is in its details.
QMessageBox* revealFailedMessage(const QString& path, QWidget* window);

// Reveals through `revealer` (the session bus, then the folder); when neither
// works, a message over `window` names the file's location.
void revealInFileManager(const std::filesystem::path& file, QWidget* window,
                         const FileRevealer& revealer = FileRevealer());
void revealInFileManager(const QString& path, QWidget* window, const FileRevealer& revealer = FileRevealer());

}  // namespace fw::ui

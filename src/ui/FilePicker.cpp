#include "ui/FilePicker.h"

#include "model/SupportedMediaType.h"
#include "ui/LocalFileUrl.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace fw::ui {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("FilePicker", text); }

// "Media Files (*.mov *.mp4 …)": every extension the queue takes. The
// chooser matches names without regard to case (CLIP.MOV is listed).
QString mediaFilesFilter() {
    QStringList patterns;
    for (const std::string_view extension : SupportedMediaType::fileExtensions)
        patterns.append(QStringLiteral("*.") +
                        QString::fromLatin1(extension.data(), static_cast<qsizetype>(extension.size())));
    return tr("Media Files (%1)").arg(patterns.join(QLatin1Char(' ')));
}

QStringList localFilesOnly() { return {QStringLiteral("file")}; }

// The file chosen, when a dialog chose one; a name it could not hand over
// intact is said so over `parent` and not taken.
std::optional<std::filesystem::path> chosen(const QUrl& url, QWidget* parent) {
    std::filesystem::path file = localFilePath(url);
    if (file.empty()) return std::nullopt;
    if (!nameLostInText(file)) return file;
    QMessageBox::information(parent, tr("Cannot Use This Name"),
                             tr("“%1” cannot be used: its name is not valid UTF-8 and did not reach the window "
                                "intact. Rename it and choose it again.")
                                 .arg(QFile::decodeName(file.filename().c_str())));
    return std::nullopt;
}

}  // namespace

std::vector<std::filesystem::path> DialogFilePicker::chooseFiles(QWidget* parent, const QString& title,
                                                                 const std::optional<std::filesystem::path>& start) {
    QFileDialog dialog(parent, title, start ? QFile::decodeName(start->c_str()) : QString());
    dialog.setObjectName(QStringLiteral("addFilesDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters({mediaFilesFilter(), tr("All Files (*)")});
    dialog.setLabelText(QFileDialog::Accept, tr("Add"));
    std::vector<std::filesystem::path> files;
    if (dialog.exec() != QDialog::Accepted) return files;
    // By URL: a desktop's own dialog hands over the names' bytes in it.
    for (const QUrl& url : dialog.selectedUrls())
        if (auto file = localFilePath(url); !file.empty()) files.push_back(std::move(file));
    return files;
}

std::optional<std::filesystem::path> DialogFilePicker::chooseFile(QWidget* parent, const QString& title,
                                                                  const QString& nameFilter) {
    return chosen(QFileDialog::getOpenFileUrl(parent, title, QUrl(), nameFilter, nullptr, {}, localFilesOnly()),
                  parent);
}

std::optional<std::filesystem::path> DialogFilePicker::chooseFolder(QWidget* parent, const QString& title,
                                                                    const std::optional<std::filesystem::path>& start) {
    return chosen(QFileDialog::getExistingDirectoryUrl(parent, title, start ? localFileUrl(*start) : QUrl(),
                                                       QFileDialog::ShowDirsOnly, localFilesOnly()),
                  parent);
}

}  // namespace fw::ui

#include "ui/FilePicker.h"

#include "model/SupportedMediaType.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
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
    for (const QString& name : dialog.selectedFiles()) files.emplace_back(QFile::encodeName(name).toStdString());
    return files;
}

std::optional<std::filesystem::path> DialogFilePicker::chooseFile(QWidget* parent, const QString& title,
                                                                  const QString& nameFilter) {
    const QString name = QFileDialog::getOpenFileName(parent, title, QString(), nameFilter);
    if (name.isEmpty()) return std::nullopt;
    return std::filesystem::path(name.toStdString());
}

std::optional<std::filesystem::path> DialogFilePicker::chooseFolder(QWidget* parent, const QString& title,
                                                                    const std::optional<std::filesystem::path>& start) {
    const QString name = QFileDialog::getExistingDirectory(
        parent, title, start ? QString::fromStdString(start->string()) : QString(), QFileDialog::ShowDirsOnly);
    if (name.isEmpty()) return std::nullopt;
    return std::filesystem::path(name.toStdString());
}

}  // namespace fw::ui

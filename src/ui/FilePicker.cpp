#include "ui/FilePicker.h"

#include <QFileDialog>

namespace fw::ui {

std::vector<std::filesystem::path> DialogFilePicker::chooseFiles(QWidget* parent, const QString& title) {
    std::vector<std::filesystem::path> files;
    for (const QString& name : QFileDialog::getOpenFileNames(parent, title)) files.emplace_back(name.toStdString());
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

#pragma once
// A file picker that never opens a dialog: each choice returns what the test
// set beforehand (nothing by default) and records where a choice began (and
// the files chooser's title).

#include "ui/FilePicker.h"

#include <functional>

namespace fw::test {

class ScriptedFilePicker final : public ui::FilePicker {
public:
    std::vector<std::filesystem::path> files;
    std::optional<std::filesystem::path> file;
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> lastFolderStart;
    std::optional<std::filesystem::path> lastFilesStart;
    QString lastFilesTitle;
    // Runs while the files are chosen, as a dialog would (over the parent).
    std::function<void(QWidget* parent)> whileChoosing;

    std::vector<std::filesystem::path> chooseFiles(QWidget* parent, const QString& title,
                                                   const std::optional<std::filesystem::path>& start) override {
        lastFilesTitle = title;
        lastFilesStart = start;
        if (whileChoosing) whileChoosing(parent);
        return files;
    }
    std::optional<std::filesystem::path> chooseFile(QWidget*, const QString&, const QString&) override { return file; }
    std::optional<std::filesystem::path> chooseFolder(QWidget*, const QString&,
                                                      const std::optional<std::filesystem::path>& start) override {
        lastFolderStart = start;
        return folder;
    }
};

}  // namespace fw::test

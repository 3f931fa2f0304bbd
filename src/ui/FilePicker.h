#pragma once
// File and folder choosers behind an interface, so that tests never block on
// a dialog. The window's real one opens Qt's dialogs.

#include <QString>

#include <filesystem>
#include <optional>
#include <vector>

class QWidget;

namespace fw::ui {

class FilePicker {
public:
    virtual ~FilePicker() = default;
    // Media files to queue, starting in `start` when given; empty when
    // cancelled. The chooser shows the supported media files first and all
    // files as a second choice, and its button reads "Add".
    virtual std::vector<std::filesystem::path> chooseFiles(QWidget* parent, const QString& title,
                                                           const std::optional<std::filesystem::path>& start) = 0;
    // One existing file, filtered by `nameFilter` ("Images (*.png *.jpg)").
    virtual std::optional<std::filesystem::path> chooseFile(QWidget* parent, const QString& title,
                                                            const QString& nameFilter) = 0;
    // One folder, starting in `start` when given.
    virtual std::optional<std::filesystem::path> chooseFolder(QWidget* parent, const QString& title,
                                                              const std::optional<std::filesystem::path>& start) = 0;
};

// Qt's own dialogs (or the desktop's, through Qt). Names come as the bytes
// the dialog hands over; one it could not hand over intact (nameLostInText,
// LocalFileUrl.h) comes from chooseFiles() as it came, for the queue to
// refuse, and from the others not at all, the user told why.
class DialogFilePicker final : public FilePicker {
public:
    std::vector<std::filesystem::path> chooseFiles(QWidget* parent, const QString& title,
                                                   const std::optional<std::filesystem::path>& start) override;
    std::optional<std::filesystem::path> chooseFile(QWidget* parent, const QString& title,
                                                    const QString& nameFilter) override;
    std::optional<std::filesystem::path> chooseFolder(QWidget* parent, const QString& title,
                                                      const std::optional<std::filesystem::path>& start) override;
};

}  // namespace fw::ui

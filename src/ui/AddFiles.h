#pragma once
// Putting files on the queue from the window: the Add Files command (shared
// by the action bar and the File menu, so both open the same chooser) and
// the queueing of chosen or dropped files, which names the files the queue
// refuses instead of dropping them silently.
//
// Threads: the GUI thread only.

#include <QString>

#include <filesystem>
#include <vector>

class QWidget;

namespace fw {
class EncodingCoordinator;
}

namespace fw::ui {

struct CardContext;

// The user default holding the folder the chooser was last used in.
inline constexpr const char* kAddFilesFolderKey = "addFilesFolder";

// The chooser's title, the same from every place that opens it.
QString addFilesTitle();

// Opens the media chooser over `parent` in the folder used last (when it
// still exists), remembers the folder of the chosen files and queues them
// with queueFiles(). Cancelling changes nothing.
void addFilesFromChooser(CardContext& context, QWidget* parent);

// Queues `files` in order, duplicates allowed. What the queue refuses
// (EncodingCoordinator::addFiles: folders, pipes, devices and files that
// are not supported media), and names mangled on their way to the window
// (nameLostInText), are not queued; they are named in a short message over
// `parent`'s window. Returns them, the mangled first.
std::vector<std::filesystem::path> queueFiles(EncodingCoordinator& coordinator,
                                              const std::vector<std::filesystem::path>& files, QWidget* parent);

}  // namespace fw::ui

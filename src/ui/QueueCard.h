#pragma once
// The queue card of the main window: a header with the number of files, the
// list of jobs (JobListModel drawn by JobRowDelegate in a QueueListView), or
// a drop prompt while the queue is empty. The whole card takes drops of local
// files from the file manager and queues them, duplicates allowed; remote
// addresses (a browser's drag) are ignored, and folders and unsupported
// files are named in a short message (queueFiles, AddFiles.h). While such a drag
// hovers, an accent dashed outline is drawn around the card.
//
// Files appended to the queue are scrolled into view, the first of them at
// the top where the list allows. The keyboard's row menu (QueueListView)
// offers the actions the row's buttons show.
//
// Every queue command here is the coordinator's, which saves the queue.
// Threads: GUI thread only.

#include "ui/Glass.h"
#include "ui/JobRowContent.h"

#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QMenu;
class QMimeData;
class QStackedWidget;

namespace fw {
class EncodeJob;
}

namespace fw::ui {

struct CardContext;
class JobListModel;
class JobRowDelegate;
class QueueListView;

class QueueCard : public GlassCard {
    Q_OBJECT
    // A drag of files hovers over the card (the screenshots set it directly).
    Q_PROPERTY(bool isTargeted READ isTargeted WRITE setTargeted)

public:
    explicit QueueCard(CardContext& context, QWidget* parent = nullptr);

    bool isTargeted() const { return targeted_; }
    void setTargeted(bool targeted);

    // The local files and folders a drag carries, in order; remote addresses dropped.
    static std::vector<std::filesystem::path> localFiles(const QMimeData& mime);
    // Queues the dropped files with queueFiles() (folders and unsupported
    // files are named, not queued). Handled (true) when the drag carried at
    // least one local file or folder.
    bool drop(const QMimeData& mime);

    // Where the focus goes when the queue empties while the list has it (the
    // list gives way to the drop prompt, which takes no focus): `control`,
    // ringed when the keyboard was in use in the list.
    void setFocusWhenEmptied(QWidget* control) { focusWhenEmptied_ = control; }

    // What the row's reveal button does with an existing output file; by
    // default revealInFileManager(). An output no longer on disk is said so
    // in a message ("revealMissing") instead.
    void setRevealHandler(std::function<void(const std::filesystem::path&)> reveal);

    QueueListView* list() const { return list_; }
    JobListModel* model() const { return model_; }
    JobRowDelegate* delegate() const { return delegate_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeDropPrompt();
    void refresh();
    void activate(int row, RowControl control, const QRect& area);
    void showOutputsMenu(const std::shared_ptr<EncodeJob>& job, const QRect& area);
    void fillOutputsMenu(QMenu* menu, const std::shared_ptr<EncodeJob>& job);
    void fillRowMenu(int row, QMenu& menu);
    void showAppended();
    void sayOutputIsGone(const std::filesystem::path& output);

    CardContext& context_;
    JobListModel* model_ = nullptr;
    QueueListView* list_ = nullptr;
    JobRowDelegate* delegate_ = nullptr;
    QLabel* count_ = nullptr;
    QStackedWidget* body_ = nullptr;
    QWidget* prompt_ = nullptr;
    QWidget* outline_ = nullptr;
    QPointer<QWidget> focusWhenEmptied_;
    bool targeted_ = false;
    std::size_t shownJobs_ = 0;  // the queue's length at the last refresh
    std::function<void(const std::filesystem::path&)> reveal_;
};

}  // namespace fw::ui

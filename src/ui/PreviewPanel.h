#pragma once
// The live preview card's content: the title, the preview area (the latest
// frame of the running batch, or the ring until the first frame arrives, or
// an idle placeholder on a dark screen) and, while a batch runs, the
// progress row (bar, "42% · 3/10", countdown refreshed every second, or
// "Cancelling…" while a cancelled batch stops). After a cancelled batch the
// placeholder says so until the next batch starts or the queue empties.
//
// Threads: the GUI thread only.

#include <QImage>
#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;

namespace fw {
class EncodingCoordinator;
}

namespace fw::ui {

class ProgressRing;

class PreviewPanel : public QWidget {
    Q_OBJECT

public:
    explicit PreviewPanel(EncodingCoordinator& coordinator, QWidget* parent = nullptr);

    // The frame shown now; null while none is.
    const QImage& frame() const { return frame_; }

private:
    void refresh();
    void refreshFrame();

    EncodingCoordinator& coordinator_;
    QImage frame_;
    bool batchCancelled_ = false;
    QWidget* screen_ = nullptr;
    QWidget* placeholder_ = nullptr;
    QLabel* placeholderText_ = nullptr;
    ProgressRing* ring_ = nullptr;
    QWidget* progressRow_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* progressText_ = nullptr;
    QLabel* countdown_ = nullptr;
    QTimer tick_;
};

}  // namespace fw::ui

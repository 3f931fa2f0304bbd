#pragma once
// Every way of quitting (File ▸ Quit, the tray's Quit, closing the main
// window, a signal to end) comes here. While a run is in progress the user is
// asked first; agreeing cancels the run, waits for its workers for at most
// `timeout` (EncodingCoordinator::prepareToQuit), which removes partial
// outputs and saves the queue. Declining keeps everything running.
// Then every store whose last save failed (queue, history, settings and
// presets) is saved again. When one still cannot be, the user is asked
// whether to quit anyway, since what it holds is lost with the process;
// declining keeps the program open. A signal quits as an agreed Quit does,
// without asking, and says on standard error, one line per store, what
// could not be saved.
// Thread-safety: GUI thread only.

#include "app/StoredFileNotice.h"
#include "coordinator/EncodingCoordinator.h"

#include <QMessageBox>
#include <QObject>
#include <QPushButton>

#include <chrono>
#include <functional>
#include <vector>

namespace fw::app {

// A store a Quit could not save, with what its save reported.
struct UnsavedStore {
    StoredData data;
    StoredFileReport report;
};

class QuitGuard : public QObject {
    Q_OBJECT

public:
    using ConfirmUnsaved = std::function<bool(const std::vector<UnsavedStore>&)>;

    // `confirm` asks whether to quit during a run, `confirmUnsaved` whether
    // to quit with stores left unsaved; true: quit.
    QuitGuard(EncodingCoordinator& coordinator, std::function<bool()> confirm, ConfirmUnsaved confirmUnsaved,
              std::chrono::milliseconds timeout, QObject* parent = nullptr);

    // The usual question (QuitQuestion), modal over `parent`; true: quit.
    static bool askDuringRun(QWidget* parent, EncodingCoordinator& coordinator);
    // The usual question (UnsavedQuitQuestion), modal over `parent`; true: quit.
    static bool askWithUnsaved(QWidget* parent, const std::vector<UnsavedStore>& unsaved);

    // True when quitting may go on: nothing runs, or the user agreed and the
    // run has been wound down; and every store is saved, or the user agreed
    // to quit without.
    bool mayQuit();
    // mayQuit(), then the event loop is told to quit.
    void requestQuit();
    // Winds any run down and saves as an agreed Quit does, says on standard
    // error what could not be saved, then ends every event loop (an open
    // question's too) with `exitStatus`.
    void quitWithoutAsking(int exitStatus);

    // Saves again each store whose last save failed: queue, history, then
    // settings and presets. Returns those that still could not be saved.
    std::vector<UnsavedStore> saveUnsaved();

private:
    void windDown();

    EncodingCoordinator& coordinator_;
    std::function<bool()> confirm_;
    ConfirmUnsaved confirmUnsaved_;
    std::chrono::milliseconds timeout_;
    bool quitAgreed_ = false;  // within requestQuit's quit
};

// "Quit while encoding?" (or "Quit while cancelling?" when the batch is
// already being cancelled), worded once when it is made. It never changes
// while open, so nothing moves under the pointer: when the batch ends under
// it, the answer given still applies (QuitGuard::mayQuit quits without
// winding anything down, or the program stays open).
class QuitQuestion : public QMessageBox {
    Q_OBJECT

public:
    QuitQuestion(EncodingCoordinator& coordinator, QWidget* parent = nullptr);

    // True when the answer was "Quit".
    bool quitChosen() const { return clickedButton() == quit_; }
    QPushButton* quitButton() const { return quit_; }
    QPushButton* stayButton() const { return stay_; }

private:
    QPushButton* quit_ = nullptr;
    QPushButton* stay_ = nullptr;
};

// "Quit without saving?": names each store that could not be saved, with
// the file and the system's reason. "Cancel" (the default) keeps the program
// open, so that room can be made or the folder fixed before quitting again.
class UnsavedQuitQuestion : public QMessageBox {
    Q_OBJECT

public:
    UnsavedQuitQuestion(const std::vector<UnsavedStore>& unsaved, QWidget* parent = nullptr);

    // True when the answer was "Quit Anyway".
    bool quitChosen() const { return clickedButton() == quit_; }
    QPushButton* quitButton() const { return quit_; }
    QPushButton* stayButton() const { return stay_; }

private:
    QPushButton* quit_ = nullptr;
    QPushButton* stay_ = nullptr;
};

}  // namespace fw::app

#pragma once
// Every way of quitting (File ▸ Quit, the tray's Quit, closing the main
// window, a signal to end) comes here. While a run is in progress the user is
// asked first; agreeing cancels the run, waits for its workers for at most
// `timeout` (EncodingCoordinator::prepareToQuit), which removes partial
// outputs and saves the queue, and only then quits. Declining keeps
// everything running. A signal quits as an agreed Quit does, without asking.
// Thread-safety: GUI thread only.

#include "coordinator/EncodingCoordinator.h"

#include <QMessageBox>
#include <QObject>
#include <QPushButton>

#include <chrono>
#include <functional>

namespace fw::app {

class QuitGuard : public QObject {
    Q_OBJECT

public:
    // `confirm` asks whether to quit during a run; true: quit.
    QuitGuard(EncodingCoordinator& coordinator, std::function<bool()> confirm, std::chrono::milliseconds timeout,
              QObject* parent = nullptr);

    // The usual question (QuitQuestion), modal over `parent`; true: quit.
    static bool askDuringRun(QWidget* parent, EncodingCoordinator& coordinator);

    // True when quitting may go on: nothing runs, or the user agreed and the
    // run has been wound down.
    bool mayQuit();
    // mayQuit(), then the event loop is told to quit.
    void requestQuit();
    // Winds any run down as an agreed Quit does, then ends every event loop
    // (an open question's too) with `exitStatus`.
    void quitWithoutAsking(int exitStatus);

private:
    void windDown();

    EncodingCoordinator& coordinator_;
    std::function<bool()> confirm_;
    std::chrono::milliseconds timeout_;
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

}  // namespace fw::app

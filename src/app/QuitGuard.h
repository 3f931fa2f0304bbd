#pragma once
// Every way of quitting (File ▸ Quit, the tray's Quit, closing the main
// window) comes here. While a run is in progress the user is asked first;
// agreeing cancels the run, waits for its workers for at most `timeout`
// (EncodingCoordinator::prepareToQuit), which removes partial outputs and
// saves the queue, and only then quits. Declining keeps everything running.
// Thread-safety: GUI thread only.

#include "coordinator/EncodingCoordinator.h"

#include <QObject>

#include <chrono>
#include <functional>

namespace fw::app {

class QuitGuard : public QObject {
    Q_OBJECT

public:
    // `confirm` asks whether to quit during a run; true: quit.
    QuitGuard(EncodingCoordinator& coordinator, std::function<bool()> confirm, std::chrono::milliseconds timeout,
              QObject* parent = nullptr);

    // The usual question, as a modal message box over `parent`.
    static bool askDuringRun(QWidget* parent);

    // True when quitting may go on: nothing runs, or the user agreed and the
    // run has been wound down.
    bool mayQuit();
    // mayQuit(), then the event loop is told to quit.
    void requestQuit();

private:
    EncodingCoordinator& coordinator_;
    std::function<bool()> confirm_;
    std::chrono::milliseconds timeout_;
};

}  // namespace fw::app

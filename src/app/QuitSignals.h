#pragma once
// SIGTERM, SIGINT and SIGHUP (the desktop ending the session, Ctrl-C in a
// terminal, the terminal closing) end the window as a confirmed Quit does,
// instead of killing it with its partial outputs left in the output folders.
// The handler only writes the signal's number to a pipe, which a socket
// notifier reads on the GUI thread and hands to `quit`. A second signal ends
// the process on the spot, within the handler: the staged files still open
// are removed first (StagedFile::removeAllNow), and the status is 128 + its
// number, as the command line's.
// Thread-safety: construct and destroy on the GUI thread; the signals may
// arrive on any thread. One instance per process at a time.

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace fw::app {

class QuitSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; `quit` gets the first signal's number on the GUI
    // thread. Without a pipe the signals keep their usual action.
    explicit QuitSignals(std::function<void(int signal)> quit, QObject* parent = nullptr);
    // Restores the actions the signals had before.
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

private:
    void readSignal();

    std::function<void(int)> quit_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace fw::app

#include "app/QuitSignals.h"

#include "cli/CommandLineTool.h"
#include "platform/core/StagedFile.h"

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

namespace fw::app {

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Shared with the handler, which may use only async-signal-safe calls.
std::atomic<int> gWriteEnd{-1};
std::atomic<int> gFirstSignal{0};
struct sigaction gPrevious[std::size(kQuitSignals)];

void onQuitSignal(int signal) {
    const int savedError = errno;
    if (gFirstSignal.exchange(signal) != 0) {
        StagedFile::removeAllNow();
        ::_exit(CommandLineTool::kInterruptedBySignal + signal);
    }
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(gWriteEnd.load(), &number, 1);
    errno = savedError;
}

}  // namespace

QuitSignals::QuitSignals(std::function<void(int)> quit, QObject* parent) : QObject(parent), quit_(std::move(quit)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    gFirstSignal.store(0);
    gWriteEnd.store(pipe_[1]);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitSignals::readSignal);

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    action.sa_flags = SA_RESTART;
    // One handler at a time: a second signal waits for the first one's write.
    sigemptyset(&action.sa_mask);
    for (const int signal : kQuitSignals) sigaddset(&action.sa_mask, signal);
    for (std::size_t i = 0; i < std::size(kQuitSignals); ++i) ::sigaction(kQuitSignals[i], &action, &gPrevious[i]);
}

QuitSignals::~QuitSignals() {
    if (pipe_[0] < 0) return;
    for (std::size_t i = 0; i < std::size(kQuitSignals); ++i) ::sigaction(kQuitSignals[i], &gPrevious[i], nullptr);
    gWriteEnd.store(-1);
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void QuitSignals::readSignal() {
    unsigned char number = 0;
    if (::read(pipe_[0], &number, 1) != 1) return;
    // Only the first signal quits; later ones never reach the pipe.
    notifier_->setEnabled(false);
    quit_(number);
}

}  // namespace fw::app

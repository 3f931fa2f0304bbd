#include "app/QuitGuard.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace fw::app {

QuitGuard::QuitGuard(EncodingCoordinator& coordinator, std::function<bool()> confirm, std::chrono::milliseconds timeout,
                     QObject* parent)
    : QObject(parent), coordinator_(coordinator), confirm_(std::move(confirm)), timeout_(timeout) {
    // A quit that did not come through here (the session ending) still winds
    // the run down and saves the queue, without asking.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (coordinator_.isRunning()) coordinator_.prepareToQuit(timeout_);
    });
}

bool QuitGuard::askDuringRun(QWidget* parent, EncodingCoordinator& coordinator) {
    QuitQuestion box(coordinator, parent);
    box.exec();
    return box.quitChosen();
}

QuitQuestion::QuitQuestion(EncodingCoordinator& coordinator, QWidget* parent) : QMessageBox(parent) {
    setObjectName(QStringLiteral("quitQuestion"));
    setIcon(QMessageBox::Warning);
    quit_ = addButton(tr("Quit"), QMessageBox::DestructiveRole);
    if (coordinator.isCancelling()) {
        setWindowTitle(tr("Quit while cancelling?"));
        setText(
            tr("The encode is being cancelled. Quitting waits for it to stop; files not yet finished are "
               "not kept."));
        stay_ = addButton(tr("Keep Open"), QMessageBox::RejectRole);
    } else {
        setWindowTitle(tr("Quit while encoding?"));
        setText(tr("An encode is running. Quitting cancels it; files not yet finished are not kept."));
        stay_ = addButton(tr("Keep Encoding"), QMessageBox::RejectRole);
    }
    setDefaultButton(stay_);
    setEscapeButton(stay_);
}

bool QuitGuard::mayQuit() {
    if (!coordinator_.isRunning()) return true;
    if (!confirm_()) return false;
    windDown();
    return true;
}

void QuitGuard::windDown() {
    // The run may have ended while the question was open.
    if (coordinator_.isRunning()) coordinator_.prepareToQuit(timeout_);
}

void QuitGuard::requestQuit() {
    if (mayQuit()) QCoreApplication::quit();
}

void QuitGuard::quitWithoutAsking(int exitStatus) {
    windDown();
    QCoreApplication::exit(exitStatus);
}

}  // namespace fw::app

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

bool QuitGuard::askDuringRun(QWidget* parent) {
    QMessageBox box(QMessageBox::Warning, tr("Quit while encoding?"),
                    tr("An encode is running. Quitting cancels it; files not yet finished are not kept."),
                    QMessageBox::NoButton, parent);
    QPushButton* quit = box.addButton(tr("Quit"), QMessageBox::DestructiveRole);
    box.setDefaultButton(box.addButton(tr("Keep Encoding"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == quit;
}

bool QuitGuard::mayQuit() {
    if (!coordinator_.isRunning()) return true;
    if (!confirm_()) return false;
    // The run may have ended while the question was open.
    if (coordinator_.isRunning()) coordinator_.prepareToQuit(timeout_);
    return true;
}

void QuitGuard::requestQuit() {
    if (mayQuit()) QCoreApplication::quit();
}

}  // namespace fw::app

#include "app/QuitGuard.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

namespace fw::app {

QuitGuard::QuitGuard(EncodingCoordinator& coordinator, std::function<bool()> confirm, ConfirmUnsaved confirmUnsaved,
                     std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent),
      coordinator_(coordinator),
      confirm_(std::move(confirm)),
      confirmUnsaved_(std::move(confirmUnsaved)),
      timeout_(timeout) {
    // A quit that did not come through here (the session ending) still winds
    // the run down and saves, without asking.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (coordinator_.isRunning()) coordinator_.prepareToQuit(timeout_);
        saveUnsaved();
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

bool QuitGuard::askWithUnsaved(QWidget* parent, const std::vector<UnsavedStore>& unsaved) {
    UnsavedQuitQuestion box(unsaved, parent);
    box.exec();
    return box.quitChosen();
}

UnsavedQuitQuestion::UnsavedQuitQuestion(const std::vector<UnsavedStore>& unsaved, QWidget* parent)
    : QMessageBox(parent) {
    setObjectName(QStringLiteral("unsavedQuitQuestion"));
    setIcon(QMessageBox::Warning);
    setWindowTitle(tr("Quit without saving?"));
    setText(tr("Framewright could not save everything. If you quit now, what was not saved is lost."));
    QStringList lines;
    for (const UnsavedStore& store : unsaved) lines.append(unsavedNotice(store.data, store.report));
    lines.append(tr("Cancel keeps Framewright open, so you can make room or fix the folder, then quit again."));
    setInformativeText(lines.join(QStringLiteral("\n\n")));
    quit_ = addButton(tr("Quit Anyway"), QMessageBox::DestructiveRole);
    stay_ = addButton(tr("Cancel"), QMessageBox::RejectRole);
    setDefaultButton(stay_);
    setEscapeButton(stay_);
}

bool QuitGuard::mayQuit() {
    if (coordinator_.isRunning()) {
        if (!confirm_()) return false;
        windDown();
    }
    const std::vector<UnsavedStore> unsaved = saveUnsaved();
    return unsaved.empty() || confirmUnsaved_(unsaved);
}

std::vector<UnsavedStore> QuitGuard::saveUnsaved() {
    std::vector<UnsavedStore> unsaved;
    const auto keep = [&unsaved](StoredData data, const std::vector<StoredFileReport>& reports) {
        // One line for each store: the last of its reports is the one that stopped its save.
        if (!reports.empty()) unsaved.push_back({data, reports.back()});
    };
    const CoordinatorServices& stores = coordinator_.services();
    keep(StoredData::queue, coordinator_.saveUnsavedQueue());
    if (stores.history) keep(StoredData::history, stores.history->saveUnsaved());
    if (stores.userDefaults)
        if (auto left = stores.userDefaults->saveUnsaved()) keep(StoredData::settings, {*left});
    return unsaved;
}

void QuitGuard::windDown() {
    // The run may have ended while the question was open.
    if (coordinator_.isRunning()) coordinator_.prepareToQuit(timeout_);
}

void QuitGuard::requestQuit() {
    // Quitting closes the windows, and closing the main window comes back
    // here: what was agreed to holds until the quit is done.
    if (quitAgreed_) return QCoreApplication::quit();
    if (!mayQuit()) return;
    quitAgreed_ = true;
    QCoreApplication::quit();
    quitAgreed_ = false;
}

void QuitGuard::quitWithoutAsking(int exitStatus) {
    windDown();
    for (const UnsavedStore& store : saveUnsaved()) {
        QString line = unsavedNotice(store.data, store.report);
        line[0] = line[0].toLower();
        std::fputs(("Framewright: " + line.toStdString() + "\n").c_str(), stderr);
    }
    QCoreApplication::exit(exitStatus);
}

}  // namespace fw::app

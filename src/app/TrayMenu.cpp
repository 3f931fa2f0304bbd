#include "app/TrayMenu.h"

#include "app/ApplicationIcon.h"
#include "app/BackgroundController.h"
#include "app/QueueWatcher.h"
#include "ui/Binding.h"
#include "ui/Symbols.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cmath>

namespace fw::app {

TrayMenu::TrayMenu(EncodingCoordinator& coordinator, BackgroundController& background, QueueWatcher& watcher,
                   Actions actions, QObject* parent)
    : QObject(parent),
      coordinator_(coordinator),
      background_(background),
      actions_(std::move(actions)),
      menu_(std::make_unique<QMenu>()) {
    QMenu& menu = *menu_;
    menu.setObjectName(QStringLiteral("trayMenu"));
    QAction* title = menu.addAction(QStringLiteral("Framewright"));
    title->setEnabled(false);
    status_ = menu.addAction(QString());
    status_->setObjectName(QStringLiteral("trayStatus"));
    status_->setEnabled(false);
    watchFolder_ = menu.addAction(ui::symbolIcon("eye.fill"), QString());
    watchFolder_->setObjectName(QStringLiteral("trayWatchFolder"));
    watchFolder_->setEnabled(false);
    menu.addSeparator();

    // The binder lives with the menu; nothing here is disabled by a run.
    auto* binder = new ui::Binder(coordinator_, &menu, ui::Binder::Running::keepsEnabled);
    QAction* login = menu.addAction(tr("Launch at Login"));
    login->setObjectName(QStringLiteral("trayLaunchAtLogin"));
    binder->check(
        login, ui::setting(background_, &BackgroundController::launchAtLogin, &BackgroundController::setLaunchAtLogin,
                           &BackgroundController::launchAtLoginChanged));
    QAction* agent = menu.addAction(tr("Tray Agent (hide main window)"));
    agent->setObjectName(QStringLiteral("trayAgentMode"));
    binder->check(agent, ui::setting(background_, &BackgroundController::runAsMenuBarAgent,
                                     &BackgroundController::setRunAsMenuBarAgent,
                                     &BackgroundController::runAsMenuBarAgentChanged));
    const auto availability = [this, agent] {
        agent->setEnabled(background_.agentModeUnavailableReason().isEmpty());
        agent->setToolTip(background_.agentModeUnavailableReason());
    };
    connect(&background_, &BackgroundController::agentModeAvailabilityChanged, agent, availability);
    availability();
    menu.addSeparator();

    QAction* show = menu.addAction(tr("Show Main Window"));
    show->setObjectName(QStringLiteral("trayShowMainWindow"));
    connect(show, &QAction::triggered, this, [this] { actions_.showMainWindow(); });
    start_ = menu.addAction(tr("Start"));
    start_->setObjectName(QStringLiteral("trayStart"));
    connect(start_, &QAction::triggered, this, [this] { coordinator_.startEncoding(); });
    cancel_ = menu.addAction(tr("Cancel"));
    cancel_->setObjectName(QStringLiteral("trayCancel"));
    connect(cancel_, &QAction::triggered, this, [this] { coordinator_.cancelEncoding(); });
    QAction* quit = menu.addAction(tr("Quit"));
    quit->setObjectName(QStringLiteral("trayQuit"));
    connect(quit, &QAction::triggered, this, [this] { actions_.quit(); });

    connect(&watcher, &QueueWatcher::changed, this, &TrayMenu::refresh);
    refresh();
}

TrayMenu::~TrayMenu() = default;

QString TrayMenu::statusText(bool running, int finished, int total, double progress) {
    if (!running) return tr("Idle");
    const double percent = std::isfinite(progress) ? std::clamp(std::trunc(progress * 100), 0.0, 100.0) : 0.0;
    return tr("Encoding %1/%2 · %3%")
        .arg(QString::number(finished), QString::number(total), QString::number(static_cast<int>(percent)));
}

void TrayMenu::refresh() {
    const bool running = coordinator_.isRunning();
    const auto& jobs = coordinator_.jobs();
    const auto finished = std::count_if(jobs.begin(), jobs.end(),
                                        [](const auto& job) { return job->status() == EncodeJob::Status::finished; });
    const QString text =
        statusText(running, static_cast<int>(finished), static_cast<int>(jobs.size()), coordinator_.overallProgress());
    status_->setText(text);
    status_->setIcon(ui::symbolIcon(running ? "gearshape.2.fill" : "pause.circle"));
    if (icon_) icon_->setToolTip(QStringLiteral("Framewright — ") + text);

    const auto& folder = coordinator_.watchFolderURL();
    watchFolder_->setVisible(folder.has_value());
    if (folder) watchFolder_->setText(QFile::decodeName(folder->filename().c_str()));

    start_->setVisible(!running);
    start_->setEnabled(coordinator_.canStart());
    cancel_->setVisible(running);
    cancel_->setEnabled(!coordinator_.isCancelling());
    cancel_->setText(coordinator_.isCancelling() ? tr("Cancelling…") : tr("Cancel"));
}

bool TrayMenu::showIcon() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    if (!icon_) {
        icon_ = new QSystemTrayIcon(applicationIcon(), this);
        icon_->setContextMenu(menu_.get());
        icon_->setToolTip(QStringLiteral("Framewright"));
        // A left click on most trays activates rather than opening the menu.
        connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) actions_.showMainWindow();
        });
    }
    icon_->show();
    return true;
}

}  // namespace fw::app

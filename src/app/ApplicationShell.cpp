#include "app/ApplicationShell.h"

#include "app/AboutWindow.h"
#include "app/AppMenus.h"
#include "app/ApplicationIcon.h"
#include "app/ApplicationIdentity.h"
#include "app/AutostartEntry.h"
#include "app/BackgroundController.h"
#include "app/HistoryWindow.h"
#include "app/LaunchArguments.h"
#include "app/ManualWindow.h"
#include "app/QueueWatcher.h"
#include "app/QuitGuard.h"
#include "app/QuitSignals.h"
#include "app/SecondaryWindow.h"
#include "app/SettingsWindow.h"
#include "app/SingleInstance.h"
#include "app/StandardServices.h"
#include "app/StoredFileNotice.h"
#include "app/TrayMenu.h"
#include "app/UpdateService.h"
#include "app/WelcomeWindow.h"
#include "app/WindowScenes.h"
#include "cli/CommandLineTool.h"
#include "coordinator/EncodingCoordinator.h"
#include "model/Presets.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "ui/AddFiles.h"
#include "ui/FilePicker.h"
#include "ui/MainWindow.h"
#include "ui/Symbols.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMenuBar>

#include <cstdio>

namespace fw::app {

namespace {

// How long quitting waits for the workers of a cancelled run.
constexpr std::chrono::seconds kQuitTimeout{10};

}  // namespace

ApplicationShell::ApplicationShell(Services services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      watcher_(std::make_unique<QueueWatcher>(services_.environment.coordinator)),
      scenes_(std::make_unique<WindowScenes>()) {
    EncodingCoordinator& coordinator = services_.environment.coordinator;
    services_.environment.openWindow = [this](const QString& id) { scenes_->open(id); };
    addScenes();

    mainWindow_ = std::make_unique<ui::MainWindow>(services_.environment);
    mainWindow_->setObjectName(QStringLiteral("mainWindow"));
    mainWindow_->installEventFilter(this);
    scenes_->setAnchor(mainWindow_.get());
    listenToStores();
    QuitGuard::ConfirmUnsaved confirmUnsaved = services_.confirmUnsavedQuit;
    if (!confirmUnsaved)
        confirmUnsaved = [this](const std::vector<UnsavedStore>& unsaved) {
            return QuitGuard::askWithUnsaved(mainWindow_.get(), unsaved);
        };
    quitGuard_ =
        std::make_unique<QuitGuard>(coordinator, services_.confirmQuit, std::move(confirmUnsaved), kQuitTimeout);

    MenuActions actions;
    actions.openWindow = services_.environment.openWindow;
    actions.addFiles = [this] { ui::addFilesFromChooser(mainWindow_->cardContext(), mainWindow_.get()); };
    actions.showSettings = [this] { showSettings(); };
    actions.checkForUpdates = [this] { services_.updates.checkForUpdates(); };
    actions.quit = [this] { requestQuit(); };
    new AppMenus(*mainWindow_->menuBar(), coordinator, *watcher_, std::move(actions));

    tray_ = std::make_unique<TrayMenu>(coordinator, services_.background, *watcher_,
                                       TrayMenu::Actions{[this] { showMainWindow(); }, [this] { requestQuit(); }});

    services_.background.setAgentModeHandler([this](bool agent) {
        if (agent)
            mainWindow_->hide();
        else
            showMainWindow();
    });
}

ApplicationShell::~ApplicationShell() {
    for (const auto& disconnect : disconnects_) disconnect();
    services_.background.setAgentModeHandler({});
    delete settings_.data();
}

void ApplicationShell::addScenes() {
    ui::WindowEnvironment& environment = services_.environment;
    scenes_->add(QStringLiteral("about"), [] { return new AboutWindow; });
    scenes_->add(QStringLiteral("manual"), [] { return new ManualWindow; });
    scenes_->add(QStringLiteral("history"),
                 [&environment] { return new HistoryWindow(*environment.coordinator.services().history); });
    // Attached to the main window (transient for it), so that it stays in front of it.
    scenes_->add(QStringLiteral("welcome"), [this, &environment] {
        return new WelcomeWindow(environment.flags, environment.openWindow, mainWindow_.get());
    });
}

void ApplicationShell::listenToStores() {
    const CoordinatorServices& stores = services_.environment.coordinator.services();
    const auto listen = [this](Signal<const StoredFileReport&>& reports, StoredData data) {
        ui::MainWindow* window = mainWindow_.get();
        // Stores may save on any thread; the window is told on its own. What
        // a store said of contents it could not save goes once it saves them;
        // where a file was set aside is said for good.
        const QString unsaved = QStringLiteral("unsaved.%1").arg(int(data));
        EncodingCoordinator* coordinator = &services_.environment.coordinator;
        const auto token = reports.connect([window, data, unsaved, coordinator](const StoredFileReport& report) {
            if (report.kind == StoredFileReport::Kind::saved) {
                QMetaObject::invokeMethod(window, [window, unsaved] { window->withdrawNotices(unsaved); });
                return;
            }
            // The one report with a button: queued files not found, to forget.
            ui::MainWindow::NoticeAction action{storedFileNoticeAction(report), {}};
            if (!action.title.isEmpty()) action.run = [coordinator] { coordinator->forgetQueuedFilesNotFound(); };
            QMetaObject::invokeMethod(
                window,
                [window, text = storedFileNotice(data, report), topic = report.leavesUnsaved() ? unsaved : QString(),
                 action = std::move(action)]() mutable { window->showNotice(text, topic, std::move(action)); });
        });
        disconnects_.push_back([&reports, token] { reports.disconnect(token); });
    };
    if (stores.userDefaults) listen(stores.userDefaults->reports(), StoredData::settings);
    if (stores.queue) listen(stores.queue->reports(), StoredData::queue);
    if (stores.history) listen(stores.history->reports(), StoredData::history);
}

void ApplicationShell::start() {
    // Files that could not be read are set aside now, and what became of them reported.
    const CoordinatorServices& stores = services_.environment.coordinator.services();
    if (stores.userDefaults) stores.userDefaults->setAsideUnreadableFile();
    if (stores.queue) stores.queue->setAsideUnreadable();
    if (stores.history) stores.history->setAsideUnreadableFile();
    showMainWindow();
    if (!tray_->showIcon())
        services_.background.setAgentModeUnavailableReason(
            tr("This desktop has no system tray, so the main window stays open."));
}

void ApplicationShell::openFiles(const std::vector<std::filesystem::path>& files, const std::optional<Uuid>& handOver) {
    if (!files.empty())
        services_.environment.coordinator.addFiles(files, EncodingCoordinator::Duplicates::allowed, handOver);
    showMainWindow();
}

void ApplicationShell::showMainWindow() {
    // No place is kept from the last run: unless something has placed it,
    // the window opens centred on its screen, once (moving it marks it placed).
    if (!mainWindow_->testAttribute(Qt::WA_Moved)) centreOnScreen(*mainWindow_);
    mainWindow_->show();
    mainWindow_->setWindowState(mainWindow_->windowState() & ~Qt::WindowMinimized);
    mainWindow_->raise();
    mainWindow_->activateWindow();
}

void ApplicationShell::showSettings() {
    if (!settings_) {
        settings_ = new SettingsWindow(services_.environment.coordinator, services_.background, services_.updates);
        settings_->setObjectName(QStringLiteral("settingsWindow"));
        settings_->setAttribute(Qt::WA_DeleteOnClose);
        centreOver(*settings_, *mainWindow_);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void ApplicationShell::requestQuit() { quitGuard_->requestQuit(); }

void ApplicationShell::quitWithoutAsking(int exitStatus) { quitGuard_->quitWithoutAsking(exitStatus); }

SettingsWindow* ApplicationShell::settingsWindow() const { return settings_.data(); }

bool ApplicationShell::eventFilter(QObject* watched, QEvent* event) {
    // Closing the main window is quitting, unless agent mode keeps the process.
    if (watched == mainWindow_.get() && event->type() == QEvent::Close && !services_.background.runAsMenuBarAgent()) {
        event->ignore();
        requestQuit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

int runApplication(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    // Before the first icon look-up (the application icon's).
    ui::prepareSymbolTheme();
    QApplication::setWindowIcon(applicationIcon());
    // The shell decides when closing a window quits.
    QApplication::setQuitOnLastWindowClosed(false);

    // The arguments as the system gave them, less the options Qt took out:
    // a file's name is its bytes, whatever they read as.
    const HandOver handOver{filesToOpen(std::vector<std::string>(argv, argv + argc))};
    // One window per data folder: a later launch hands its files over, or ends.
    const std::filesystem::path dataFolder = xdg::applicationSupportDirectory();
    std::string unsafeRendezvous;
    SingleInstance instance(SingleInstance::defaultServerName(dataFolder, unsafeRendezvous));
    if (!unsafeRendezvous.empty()) {
        std::fputs(unsafeRendezvous.c_str(), stderr);
        return kLaunchRefusedStatus;
    }
    DataFolderLock lock(dataFolder);
    switch (const Launch launch = claimDataFolder(lock, instance, handOver)) {
    case Launch::first: break;
    case Launch::handedOver: return 0;
    case Launch::handedOverUnsaved:
    case Launch::handedOverUnconfirmed:
    case Launch::namesNotCarried:
    case Launch::ownerUnreachable:
    case Launch::ownerSilent:
    case Launch::ownerForeign:
    case Launch::noLock:
        std::fputs(refusedLaunchMessage(launch, lock, handOver.files).c_str(), stderr);
        return kLaunchRefusedStatus;
    }
    // What a killed run left in the stores' folders (a save cut short).
    for (const auto& folder : {xdg::applicationSupportDirectory(), xdg::configDirectory()})
        removeAbandonedStagings(folder);

    EncodingCoordinator coordinator(standardServices(), EncodingCoordinator::Restore::yes);
    PresetStore presets;
    ui::UiFlags flags(UserDefaults::standard());
    ui::DialogFilePicker picker;
    BackgroundController background(AutostartEntry(),
                                    QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString());
    ui::WindowEnvironment environment{coordinator, presets, flags, picker};
    environment.startUpdater = [] { UpdateService::shared().start(); };
    ApplicationShell shell(
        {environment, background,
         [&shell, &coordinator] { return QuitGuard::askDuringRun(&shell.mainWindow(), coordinator); },
         UpdateService::settingsOf([]() -> UpdateService& { return UpdateService::shared(); })});
    // Directly: the launch is told its files were taken once they are queued and saved.
    QObject::connect(&instance, &SingleInstance::activated, &shell, &ApplicationShell::openFiles, Qt::DirectConnection);
    instance.setSavedCheck([queue = coordinator.services().queue] { return !queue || queue->unsaved().empty(); });
    const QuitSignals quitSignals(
        [&shell](int signal) { shell.quitWithoutAsking(CommandLineTool::kInterruptedBySignal + signal); });
    // Their jobs carry the launch's identity: where a window took them and
    // ended before it answered, they are queued already, and not again.
    shell.openFiles(handOver.files, handOver.id);
    shell.start();
    return QApplication::exec();
}

}  // namespace fw::app

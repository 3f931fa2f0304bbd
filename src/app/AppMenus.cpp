#include "app/AppMenus.h"

#include "app/QueueWatcher.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace fw::app {

namespace {

QAction* addItem(QMenu* menu, const char* name, const QString& text, const QKeySequence& shortcut,
                 std::function<void()> action) {
    QAction* item = menu->addAction(text);
    item->setObjectName(QString::fromLatin1(name));
    item->setShortcut(shortcut);
    // The menu bar is the main window's, but its keys are the application's:
    // Ctrl+Q quits from History or the manual too (a modal dialog still holds them).
    item->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(item, &QAction::triggered, item, [action = std::move(action)] { action(); });
    return item;
}

}  // namespace

AppMenus::AppMenus(QMenuBar& bar, EncodingCoordinator& coordinator, QueueWatcher& watcher, MenuActions actions)
    : QObject(&bar), coordinator_(coordinator), actions_(std::move(actions)) {
    const auto open = [this](const char* id) { return [this, id] { actions_.openWindow(QString::fromLatin1(id)); }; };
    const auto call = [this](std::function<void()> MenuActions::*member) {
        return [this, member] { (actions_.*member)(); };
    };

    QMenu* file = bar.addMenu(tr("&File"));
    addItem(file, "addFiles", tr("Add Files…"), QKeySequence(Qt::CTRL | Qt::Key_O), call(&MenuActions::addFiles));
    file->addSeparator();
    addItem(file, "settings", tr("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), call(&MenuActions::showSettings))
        ->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    addItem(file, "quit", tr("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), call(&MenuActions::quit))
        ->setMenuRole(QAction::QuitRole);

    QMenu* encode = bar.addMenu(tr("&Encode"));
    start_ = addItem(encode, "startEncoding", tr("Start Encoding"), QKeySequence(Qt::CTRL | Qt::Key_R),
                     [this] { coordinator_.startEncoding(); });
    proxies_ = addItem(encode, "makeProxies", tr("Make Proxies"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R),
                       [this] { coordinator_.startProxies(); });
    cancel_ = addItem(encode, "cancelEncoding", tr("Cancel Encoding"), QKeySequence(Qt::CTRL | Qt::Key_Period),
                      [this] { coordinator_.cancelEncoding(); });
    encode->addSeparator();
    clear_ = addItem(encode, "clearFinished", tr("Clear Finished"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K),
                     [this] { coordinator_.clearFinished(); });

    QMenu* view = bar.addMenu(tr("&View"));
    addItem(view, "encodeHistory", tr("Encode History"), QKeySequence(Qt::CTRL | Qt::Key_Y), open("history"));

    QMenu* help = bar.addMenu(tr("&Help"));
    addItem(help, "welcome", tr("Welcome to Framewright"), {}, open("welcome"));
    addItem(help, "manual", tr("Framewright User Manual"), {}, open("manual"));
    help->addSeparator();
    addItem(help, "checkForUpdates", tr("Check for Updates…"), {}, call(&MenuActions::checkForUpdates));
    addItem(help, "about", tr("About Framewright"), {}, open("about"))->setMenuRole(QAction::AboutRole);

    connect(&watcher, &QueueWatcher::changed, this, &AppMenus::refresh);
    refresh();
}

void AppMenus::refresh() {
    const bool running = coordinator_.isRunning();
    start_->setEnabled(coordinator_.canStart());
    proxies_->setEnabled(coordinator_.canStartProxies());
    cancel_->setEnabled(running && !coordinator_.isCancelling());
    clear_->setEnabled(!running);
}

}  // namespace fw::app

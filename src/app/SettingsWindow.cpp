#include "app/SettingsWindow.h"

#include "app/BackgroundController.h"
#include "app/SecondaryWindow.h"
#include "app/TextStyle.h"
#include "ui/AccessibleNames.h"
#include "ui/Binding.h"
#include "ui/ControlStyle.h"
#include "ui/FollowPalette.h"
#include "ui/Symbols.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

namespace fw::app {

namespace {

// Help text under a section: small, secondary, wrapping.
QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    ui::followColour(label, [](const QPalette& palette) { return textColour(palette, TextTone::secondary); });
    return label;
}

// One section of a grouped form: a framed box (titled when `title` is given)
// with its footer below it.
QVBoxLayout* section(QVBoxLayout* form, const QString& title, const QString& footer = {}) {
    auto* box = new QGroupBox(title);
    auto* content = new QVBoxLayout(box);
    form->addWidget(box);
    if (!footer.isEmpty()) form->addWidget(caption(footer, box->parentWidget()));
    return content;
}

QWidget* tabPage(QVBoxLayout*& form) {
    auto* page = new QWidget;
    form = new QVBoxLayout(page);
    form->setContentsMargins(16, 12, 16, 12);
    return page;
}

}  // namespace

SettingsWindow::SettingsWindow(EncodingCoordinator& coordinator, BackgroundController& background,
                               UpdateSettings updates, QWidget* parent)
    : QWidget(parent, Qt::Window), updates_(std::move(updates)) {
    ui::useReadableControlEdges();
    ui::useLabelledComboBoxes();
    setWindowTitle(tr("Settings"));
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("settingsTabs"));
    ui::nameAfter(tabs, windowTitle());
    tabs->addTab(performanceTab(coordinator), ui::symbolIcon("cpu"), tr("Performance"));
    tabs->addTab(backgroundTab(coordinator, background), ui::symbolIcon("menubar.dock.rectangle"), tr("Background"));
    tabs->addTab(updatesTab(), ui::symbolIcon("arrow.triangle.2.circlepath"), tr("Updates"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(tabs);
    setMinimumSize(460, 300);
    closeOnEscape(*this);
}

QWidget* SettingsWindow::performanceTab(EncodingCoordinator& coordinator) {
    QVBoxLayout* form = nullptr;
    QWidget* page = tabPage(form);
    const int cores = coordinator.coreCount();
    QVBoxLayout* parallel =
        section(form, {},
                tr("Number of files encoded at the same time. Up to %1 logical cores are available on this computer.")
                    .arg(QLocale().toString(cores)));

    auto* title = new QHBoxLayout;
    auto* icon = new QLabel(page);
    ui::showSymbol(icon, "cpu", 16);
    auto* count = new QLabel(page);
    count->setObjectName(QStringLiteral("parallelEncodesLabel"));
    title->addWidget(icon);
    title->addWidget(count, 1);
    parallel->addLayout(title);

    auto* slider = new QSlider(Qt::Horizontal, page);
    slider->setObjectName(QStringLiteral("parallelEncodes"));
    slider->setRange(1, cores);
    slider->setPageStep(1);
    parallel->addWidget(slider);
    auto* ends = new QHBoxLayout;
    ends->addWidget(caption(QLocale().toString(1), page));
    ends->addStretch();
    ends->addWidget(caption(QLocale().toString(cores), page));
    parallel->addLayout(ends);

    const auto limit =
        ui::setting(coordinator, &EncodingCoordinator::maxConcurrentJobs, &EncodingCoordinator::setMaxConcurrentJobs,
                    &EncodingCoordinator::maxConcurrentJobsChanged);
    auto* whileRunning = new ui::Binder(coordinator, page, ui::Binder::Running::disables);
    whileRunning->slider(slider, limit);
    whileRunning->watch(
        [count, slider, limit] {
            count->setText(tr("Parallel encodes: %1").arg(QLocale().toString(limit.get())));
            ui::pairLabel(count, slider);
        },
        limit);

    auto* always = new ui::Binder(coordinator, page, ui::Binder::Running::keepsEnabled);
    QVBoxLayout* notifications =
        section(form, tr("Notifications"), tr("Shows a desktop notification when an encode batch completes."));
    auto* notify = new QCheckBox(tr("Notify when a batch finishes"), page);
    notify->setObjectName(QStringLiteral("notifyOnCompletion"));
    notifications->addWidget(notify);
    always->check(notify, ui::setting(coordinator, &EncodingCoordinator::notifyOnCompletion,
                                      &EncodingCoordinator::setNotifyOnCompletion,
                                      &EncodingCoordinator::notifyOnCompletionChanged));
    form->addStretch();
    return page;
}

QWidget* SettingsWindow::backgroundTab(EncodingCoordinator& coordinator, BackgroundController& background) {
    QVBoxLayout* form = nullptr;
    QWidget* page = tabPage(form);
    QVBoxLayout* switches =
        section(form, {}, tr("Keeps watch folders converting even when the main window is closed."));
    auto* binder = new ui::Binder(coordinator, page, ui::Binder::Running::keepsEnabled);

    auto* agent = new QCheckBox(tr("Run in tray (hide main window)"), page);
    agent->setObjectName(QStringLiteral("runAsMenuBarAgent"));
    switches->addWidget(agent);
    binder->check(agent, ui::setting(background, &BackgroundController::runAsMenuBarAgent,
                                     &BackgroundController::setRunAsMenuBarAgent,
                                     &BackgroundController::runAsMenuBarAgentChanged));
    auto* login = new QCheckBox(tr("Launch at login"), page);
    login->setObjectName(QStringLiteral("launchAtLogin"));
    switches->addWidget(login);
    binder->check(login,
                  ui::setting(background, &BackgroundController::launchAtLogin, &BackgroundController::setLaunchAtLogin,
                              &BackgroundController::launchAtLoginChanged));

    auto* unavailable = caption({}, page);
    unavailable->setObjectName(QStringLiteral("agentModeUnavailable"));
    form->addWidget(unavailable);
    const auto availability = [agent, unavailable, &background] {
        const QString& reason = background.agentModeUnavailableReason();
        agent->setEnabled(reason.isEmpty());
        unavailable->setText(reason);
        unavailable->setVisible(!reason.isEmpty());
    };
    connect(&background, &BackgroundController::agentModeAvailabilityChanged, page, availability);
    availability();

    // Shown verbatim: the message comes from the system.
    auto* error = new QLabel(page);
    error->setObjectName(QStringLiteral("backgroundError"));
    error->setWordWrap(true);
    error->setTextFormat(Qt::PlainText);
    QFont font = error->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    error->setFont(font);
    ui::followColour(error,
                     [](const QPalette& palette) { return tintedTextColour(palette, QColor(0xd9, 0x2c, 0x20)); });
    form->addWidget(error);
    const auto lastError = [error, &background] {
        error->setText(background.lastError());
        error->setVisible(!background.lastError().isEmpty());
    };
    connect(&background, &BackgroundController::lastErrorChanged, page, lastError);
    lastError();
    form->addStretch();
    return page;
}

QWidget* SettingsWindow::updatesTab() {
    QVBoxLayout* form = nullptr;
    QWidget* page = tabPage(form);
    QVBoxLayout* checks =
        section(form, {}, tr("Updates are checked over a secure connection; downloads open in your browser."));
    auto* version = new QFormLayout;
    auto* versionValue = new QLabel(updates_.currentVersion(), page);
    versionValue->setObjectName(QStringLiteral("currentVersion"));
    versionValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    version->addRow(tr("Current version"), versionValue);
    checks->addLayout(version);

    // Copies taken once; each later change is written back.
    auto* automatic = new QCheckBox(tr("Check for updates automatically"), page);
    automatic->setObjectName(QStringLiteral("automaticallyChecks"));
    automatic->setChecked(updates_.automaticallyChecks());
    connect(automatic, &QCheckBox::toggled, this, [this](bool on) { updates_.setAutomaticallyChecks(on); });
    checks->addWidget(automatic);
    auto* check = new QPushButton(tr("Check for Updates…"), page);
    check->setObjectName(QStringLiteral("checkForUpdates"));
    connect(check, &QPushButton::clicked, this, [this] { updates_.checkForUpdates(); });
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(check);
    buttonRow->addStretch();
    checks->addLayout(buttonRow);

    QVBoxLayout* beta =
        section(form, {},
                QStringLiteral("Beta versions ship new features early and may be less polished. Turning "
                               "this off returns you to stable releases at the next update."));
    auto* receivesBeta = new QCheckBox(tr("Receive beta updates"), page);
    receivesBeta->setObjectName(QStringLiteral("receivesBetaUpdates"));
    receivesBeta->setChecked(updates_.receivesBetaUpdates());
    connect(receivesBeta, &QCheckBox::toggled, this, [this](bool on) { updates_.setReceivesBetaUpdates(on); });
    beta->addWidget(receivesBeta);
    form->addStretch();
    return page;
}

}  // namespace fw::app

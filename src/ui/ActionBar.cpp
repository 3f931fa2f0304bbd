#include "ui/ActionBar.h"

#include "coordinator/EncodingCoordinator.h"
#include "ui/AddFiles.h"
#include "ui/Binding.h"
#include "ui/Glass.h"
#include "ui/QueueObserver.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLocale>
#include <QPushButton>

#include <algorithm>

namespace fw::ui {

namespace {

constexpr int kEncodeMinimumWidth = 130;

}  // namespace

ActionBar::ActionBar(CardContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName(QStringLiteral("actionBar"));
    EncodingCoordinator& coordinator = context_.coordinator;
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    addFiles_ = addButton(QStringLiteral("addFiles"), tr("Add Files…"), "plus");
    clearFinished_ = addButton(QStringLiteral("clearFinished"), tr("Clear Finished"), {});
    row->addWidget(addFiles_);
    row->addWidget(clearFinished_);
    row->addStretch(1);
    cancel_ = addButton(QStringLiteral("cancel"), tr("Cancel"), "stop.fill");
    makeProxies_ = addButton(QStringLiteral("makeProxies"), tr("Make Proxies"), "square.stack.3d.down.right");
    stitch_ = addButton(QStringLiteral("stitch"), tr("Stitch"), "arrow.triangle.merge");
    stitch_->setToolTip(tr("Concatenate all enabled clips into one output, in queue order."));
    encode_ = addButton(QStringLiteral("encode"), {}, "play.fill");
    applyGlassProminentButton(encode_);
    for (QPushButton* button : {cancel_, makeProxies_, stitch_, encode_}) row->addWidget(button);
    for (QPushButton* button : {addFiles_, clearFinished_, cancel_, makeProxies_, stitch_}) applyGlassButton(button);

    connect(addFiles_, &QPushButton::clicked, this, [this] { addFilesFromChooser(context_, window()); });
    connect(clearFinished_, &QPushButton::clicked, &coordinator, &EncodingCoordinator::clearFinished);
    connect(cancel_, &QPushButton::clicked, &coordinator, &EncodingCoordinator::cancelEncoding);
    connect(makeProxies_, &QPushButton::clicked, &coordinator, &EncodingCoordinator::startProxies);
    connect(stitch_, &QPushButton::clicked, &coordinator, &EncodingCoordinator::startStitch);
    connect(encode_, &QPushButton::clicked, &coordinator, &EncodingCoordinator::startEncoding);

    // The list and the jobs' statuses and enabled flags.
    connect(new QueueObserver(coordinator, this), &QueueObserver::queueTouched, this, &ActionBar::refresh);
    auto* binder = new Binder(coordinator, this, Binder::Running::keepsEnabled);
    binder->watchSignals([this] { refresh(); }, &EncodingCoordinator::isRunningChanged,
                         &EncodingCoordinator::isCancellingChanged, &EncodingCoordinator::selectedCodecChanged,
                         &EncodingCoordinator::outputAlphaChanged);
}

bool ActionBar::pressDefault() {
    if (!encode_->isEnabled() || !encode_->isVisible()) return false;
    encode_->click();
    return true;
}

QPushButton* ActionBar::addButton(const QString& name, const QString& title, std::string_view symbol) {
    auto* button = new QPushButton(title, this);
    button->setObjectName(name);
    if (!symbol.empty()) button->setIcon(symbolIcon(symbol));
    // Return in a field of the window must not press any of these.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void ActionBar::refresh() {
    const EncodingCoordinator& coordinator = context_.coordinator;
    const bool running = coordinator.isRunning();
    const auto& jobs = coordinator.jobs();
    const bool anyFinished = std::any_of(jobs.begin(), jobs.end(),
                                         [](const auto& job) { return job->status() == EncodeJob::Status::finished; });

    addFiles_->setEnabled(!running);
    clearFinished_->setVisible(anyFinished);
    clearFinished_->setEnabled(!running);
    // From the click until the workers have stopped the batch is cancelling:
    // a second click could do nothing more.
    const bool cancelling = running && coordinator.isCancelling();
    cancel_->setVisible(running);
    cancel_->setEnabled(!cancelling);
    cancel_->setText(cancelling ? tr("Cancelling…") : tr("Cancel"));
    makeProxies_->setEnabled(coordinator.canStartProxies());
    stitch_->setEnabled(coordinator.canStitch());
    encode_->setEnabled(coordinator.canStart());
    const QString count = QLocale().toString(static_cast<qlonglong>(jobs.size()));
    encode_->setText(jobs.size() == 1 ? tr("Encode %1 File").arg(count) : tr("Encode %1 Files").arg(count));
    // At least 130 wide, and never narrower than its label: an explicit
    // minimum would otherwise let the layout squeeze the label.
    encode_->setMinimumWidth(std::max(kEncodeMinimumWidth, encode_->sizeHint().width()));
}

}  // namespace fw::ui

#include "ui/ActionBar.h"

#include "coordinator/EncodingCoordinator.h"
#include "ui/AddFiles.h"
#include "ui/Binding.h"
#include "ui/Contrast.h"
#include "ui/ControlStyle.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/QueueObserver.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <algorithm>

namespace fw::ui {

namespace {

constexpr int kEncodeMinimumWidth = 130;

QString text(std::string_view raw) { return QString::fromUtf8(raw.data(), qsizetype(raw.size())); }

// Why nothing can be encoded in `codec` here; empty when it can.
QString unproducibleReason(OutputCodec codec) {
    if (isProducible(codec)) return {};
    if (codec == OutputCodec::hevcAlpha)
        return ActionBar::tr(
            "HEVC cannot keep alpha on this system: turn off \u201cAlpha channel\u201d, or keep it with ProRes, "
            "Hap or DXV.");
    return ActionBar::tr("%1 cannot be written on this system. Choose another format.").arg(text(rawValue(codec)));
}

// Secondary text on the window's wash, where the bar lies.
QLabel* makeReasonCaption(QWidget* parent) {
    auto* caption = new QLabel(parent);
    caption->setObjectName(QStringLiteral("actionCaption"));
    caption->setWordWrap(true);
    caption->setTextFormat(Qt::PlainText);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont font = caption->font();
    font.setPointSizeF(font.pointSizeF() * 0.88);
    caption->setFont(font);
    followColour(caption, [](const QPalette& palette) {
        const QColor ink = palette.color(QPalette::WindowText);
        return readableOn(ink, 0.6, {washTop(palette), washBottom(palette)}, ink);
    });
    caption->hide();
    return caption;
}

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
    caption_ = makeReasonCaption(this);
    row->addWidget(caption_, 10);
    cancel_ = addButton(QStringLiteral("cancel"), tr("Cancel"), "stop.fill");
    makeProxies_ = addButton(QStringLiteral("makeProxies"), tr("Make Proxies"), "square.stack.3d.down.right");
    stitch_ = addButton(QStringLiteral("stitch"), tr("Stitch"), "arrow.triangle.merge");
    encode_ = addButton(QStringLiteral("encode"), {}, {});
    applyGlassProminentButton(encode_);
    followPalette(encode_, PaletteUse::picture, [this](const QPalette& palette) {
        encode_->setIcon(
            tintedSymbolIcon("play.fill", prominentButtonText(palette, true), prominentButtonText(palette, false)));
    });
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
    // Hidden with the focus, Clear Finished hands it, and its ring, to Add
    // Files… beside it rather than to whatever follows in the Tab order.
    if (!anyFinished && clearFinished_->hasFocus())
        addFiles_->setFocus(showsFocusRing(*clearFinished_) ? Qt::TabFocusReason : Qt::OtherFocusReason);
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
    // A format that cannot be written greys Encode and Stitch: say why beside them.
    const QString reason = running ? QString() : unproducibleReason(coordinator.outputCodec());
    caption_->setText(reason);
    caption_->setVisible(!reason.isEmpty());
    encode_->setToolTip(reason);
    stitch_->setToolTip(reason.isEmpty() ? tr("Concatenate all enabled clips into one output, in queue order.")
                                         : reason);
    const QString count = QLocale().toString(static_cast<qlonglong>(jobs.size()));
    encode_->setText(jobs.size() == 1 ? tr("Encode %1 File").arg(count) : tr("Encode %1 Files").arg(count));
    // At least 130 wide, and never narrower than its label: an explicit
    // minimum would otherwise let the layout squeeze the label.
    encode_->setMinimumWidth(std::max(kEncodeMinimumWidth, encode_->sizeHint().width()));
}

}  // namespace fw::ui

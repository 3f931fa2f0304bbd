#include "ui/QueueCard.h"

#include "coordinator/EncodingCoordinator.h"
#include "model/Presets.h"
#include "ui/AccessibleNames.h"
#include "ui/AddFiles.h"
#include "ui/CardText.h"
#include "ui/FileReveal.h"
#include "ui/FollowPalette.h"
#include "ui/JobListModel.h"
#include "ui/JobRowDelegate.h"
#include "ui/LocalFileUrl.h"
#include "ui/QueueListView.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <system_error>
#include <utility>

namespace fw::ui {

namespace {

constexpr int kPadding = 12;
constexpr int kSpacing = 8;

QColor secondary(const QPalette& palette) { return secondaryTextOnGlass(palette, 0.55); }

void makeSecondary(QLabel* label) { followColour(label, secondary); }

void scaleFont(QWidget* widget, double factor, bool bold = false) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    widget->setFont(font);
}

// The accent dashed outline over the card while a drag hovers.
class DashedOutline : public QWidget {
public:
    explicit DashedOutline(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        constexpr double kWidth = 2;
        QPen pen(palette().color(QPalette::Highlight), kWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setDashPattern({8 / kWidth, 8 / kWidth});  // in pen widths: 8 drawn, 8 apart
        pen.setDashOffset(0);
        pen.setMiterLimit(10);
        painter.setPen(pen);
        const QRectF inside = QRectF(rect()).adjusted(kWidth / 2, kWidth / 2, -kWidth / 2, -kWidth / 2);
        painter.drawRoundedRect(inside, kCardCornerRadius - kWidth / 2, kCardCornerRadius - kWidth / 2);
    }
};

}  // namespace

QueueCard::QueueCard(CardContext& context, QWidget* parent)
    : GlassCard(parent, kCardCornerRadius),
      context_(context),
      reveal_([this](const std::filesystem::path& file) { revealInFileManager(file, window()); }) {
    setObjectName(QStringLiteral("queueCard"));
    setAcceptDrops(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(makeHeader());

    EncodingCoordinator& coordinator = context_.coordinator;
    model_ = new JobListModel(coordinator, this);
    QueueListView::Callbacks callbacks;
    callbacks.onMove = [&coordinator](const std::vector<std::size_t>& sources, std::size_t destination) {
        coordinator.move(sources, destination);
    };
    callbacks.onForeignDrag = [this](QDropEvent* event) {
        const bool taken = !localFiles(*event->mimeData()).empty();
        setTargeted(taken);
        return taken;
    };
    callbacks.onForeignLeave = [this] { setTargeted(false); };
    callbacks.onForeignDrop = [this](QDropEvent* event) {
        setTargeted(false);
        return drop(*event->mimeData());
    };
    callbacks.fillRowMenu = [this](int row, QMenu& menu) { fillRowMenu(row, menu); };
    list_ = new QueueListView(std::move(callbacks), this);
    list_->setObjectName(QStringLiteral("queueList"));
    nameAfter(list_, tr("Queue"));  // the card's title
    list_->setModel(model_);
    delegate_ = new JobRowDelegate(
        *model_, list_, [&coordinator] { return !coordinator.isRunning(); },
        [&coordinator](const EncodeJob& job) { return coordinator.isBeingCancelled(job); });
    list_->setItemDelegate(delegate_);
    connect(delegate_, &JobRowDelegate::controlActivated, this, &QueueCard::activate);

    body_ = new QStackedWidget(this);
    prompt_ = makeDropPrompt();
    body_->addWidget(prompt_);
    body_->addWidget(list_);
    column->addWidget(body_, 1);

    outline_ = new DashedOutline(this);
    outline_->hide();

    // After the model's own connection: the rows exist when the list scrolls to them.
    connect(&coordinator, &EncodingCoordinator::jobsChanged, this, &QueueCard::showAppended);
    connect(&coordinator, &EncodingCoordinator::jobsChanged, this, &QueueCard::refresh);
    shownJobs_ = coordinator.jobs().size();
    connect(&coordinator, &EncodingCoordinator::isRunningChanged, list_->viewport(), qOverload<>(&QWidget::update));
    connect(&coordinator, &EncodingCoordinator::isCancellingChanged, list_->viewport(), qOverload<>(&QWidget::update));
    refresh();
}

QWidget* QueueCard::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(header);
    showSymbol(icon, "list.bullet.rectangle", 16);
    auto* title = new QLabel(tr("Queue"), header);
    scaleFont(title, 1.0, true);
    count_ = new QLabel(header);
    count_->setObjectName(QStringLiteral("queueCount"));
    scaleFont(count_, 0.85);
    makeSecondary(count_);
    row->addWidget(icon);
    row->addWidget(title);
    row->addStretch(1);
    row->addWidget(count_);
    return header;
}

QWidget* QueueCard::makeDropPrompt() {
    auto* prompt = new QWidget(this);
    prompt->setObjectName(QStringLiteral("dropPrompt"));
    auto* column = new QVBoxLayout(prompt);
    constexpr int kPromptPadding = 30;
    column->setContentsMargins(kPromptPadding, kPromptPadding, kPromptPadding, kPromptPadding);
    column->setSpacing(10);
    column->addStretch(1);
    auto* icon = new QLabel(prompt);
    showTintedSymbol(icon, "arrow.down.doc", 38, secondary);
    auto* title = new QLabel(tr("Drop media files here"), prompt);
    scaleFont(title, 1.25);
    auto* hint = new QLabel(tr("or use “Add Files…” below"), prompt);
    scaleFont(hint, 0.95);
    makeSecondary(hint);
    for (QLabel* label : {icon, title, hint}) {
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(label != icon);
        column->addWidget(label);
    }
    column->addStretch(1);
    return prompt;
}

void QueueCard::refresh() {
    const std::size_t jobs = context_.coordinator.jobs().size();
    const bool listHadFocus = window()->focusWidget() == list_;
    const bool byKeyboard = list_->showsCurrentRow();
    body_->setCurrentWidget(jobs == 0 ? prompt_ : static_cast<QWidget*>(list_));
    if (jobs == 0 && listHadFocus && focusWhenEmptied_)
        focusWhenEmptied_->setFocus(byKeyboard ? Qt::TabFocusReason : Qt::OtherFocusReason);
    const QString number = QLocale().toString(static_cast<qlonglong>(jobs));
    count_->setText(jobs == 0 ? QString() : jobs == 1 ? tr("%1 file").arg(number) : tr("%1 files").arg(number));
    count_->setVisible(jobs != 0);
}

void QueueCard::showAppended() {
    // Files are only ever appended; a longer queue means the rows from the old length on are new.
    const std::size_t jobs = context_.coordinator.jobs().size();
    const std::size_t before = std::exchange(shownJobs_, jobs);
    if (jobs <= before) return;
    list_->scrollTo(model_->index(int(before), 0), QAbstractItemView::PositionAtTop);
}

void QueueCard::setTargeted(bool targeted) {
    if (targeted == targeted_) return;
    targeted_ = targeted;
    outline_->setGeometry(rect());
    outline_->setVisible(targeted);
    outline_->raise();
}

std::vector<std::filesystem::path> QueueCard::localFiles(const QMimeData& mime) {
    std::vector<std::filesystem::path> files;
    if (!mime.hasUrls()) return files;
    for (const QUrl& url : mime.urls())
        if (auto file = localFilePath(url); !file.empty()) files.push_back(std::move(file));
    return files;
}

bool QueueCard::drop(const QMimeData& mime) {
    const std::vector<std::filesystem::path> files = localFiles(mime);
    if (files.empty()) return false;
    queueFiles(context_.coordinator, files, this);
    return true;
}

void QueueCard::setRevealHandler(std::function<void(const std::filesystem::path&)> reveal) {
    reveal_ = std::move(reveal);
}

void QueueCard::dragEnterEvent(QDragEnterEvent* event) {
    const bool taken = !localFiles(*event->mimeData()).empty();
    setTargeted(taken);
    if (taken)
        event->acceptProposedAction();
    else
        event->ignore();
}

void QueueCard::dragMoveEvent(QDragMoveEvent* event) {
    if (!localFiles(*event->mimeData()).empty()) event->acceptProposedAction();
}

void QueueCard::dragLeaveEvent(QDragLeaveEvent*) { setTargeted(false); }

void QueueCard::dropEvent(QDropEvent* event) {
    setTargeted(false);
    if (drop(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void QueueCard::resizeEvent(QResizeEvent* event) {
    GlassCard::resizeEvent(event);
    outline_->setGeometry(rect());
}

void QueueCard::activate(int row, RowControl control, const QRect& area) {
    const auto job = model_->jobAt(row);
    if (!job) return;
    EncodingCoordinator& coordinator = context_.coordinator;
    switch (control) {
    case RowControl::enabledToggle: coordinator.setEnabled(*job, !job->enabled()); break;
    case RowControl::reveal: {
        const auto output = job->outputURL();
        std::error_code error;
        if (!output) break;
        if (std::filesystem::exists(*output, error)) {
            if (reveal_) reveal_(*output);
        } else {
            sayOutputIsGone(*output);
        }
        break;
    }
    case RowControl::retry: coordinator.retry(*job); break;
    case RowControl::outputsMenu: showOutputsMenu(job, area); break;
    case RowControl::remove: coordinator.remove(*job); break;
    }
}

void QueueCard::sayOutputIsGone(const std::filesystem::path& output) {
    auto* box = new QMessageBox(QMessageBox::Information, tr("The File Is No Longer There"),
                                tr("“%1” is no longer in its folder. It may have been moved, renamed or deleted.")
                                    .arg(QFile::decodeName(output.filename().c_str())),
                                QMessageBox::Ok, window());
    box->setObjectName(QStringLiteral("revealMissing"));
    box->setInformativeText(tr("It was saved as:\n%1").arg(QFile::decodeName(output.c_str())));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void QueueCard::showOutputsMenu(const std::shared_ptr<EncodeJob>& job, const QRect& area) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("outputsMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillOutputsMenu(menu, job);
    menu->popup(area.bottomLeft());
}

void QueueCard::fillOutputsMenu(QMenu* menu, const std::shared_ptr<EncodeJob>& job) {
    EncodingCoordinator& coordinator = context_.coordinator;
    menu->addAction(tr("Use main settings"), menu, [&coordinator, job] { coordinator.setOutputs(*job, {}); });
    QMenu* setTo = menu->addMenu(tr("Set to preset"));
    QMenu* add = menu->addMenu(tr("Add output"));
    for (const Preset& preset : context_.presets.allPresets()) {
        const QString name = menuText(preset.name);
        setTo->addAction(name, menu, [&coordinator, job, preset] {
            coordinator.setOutputs(*job, {JobOutputSpec(preset.name, preset.configuration)});
        });
        add->addAction(name, menu, [&coordinator, job, preset] {
            auto outputs = job->outputs();
            outputs.emplace_back(preset.name, preset.configuration);
            coordinator.setOutputs(*job, std::move(outputs));
        });
    }
}

void QueueCard::fillRowMenu(int row, QMenu& menu) {
    const QModelIndex index = model_->index(row, 0);
    const auto content = delegate_->contentAt(index);
    const auto job = model_->jobAt(row);
    if (!content || !job) return;
    for (const RowButton& button : content->buttons) {
        const RowControl control = button.control;
        // Through the delegate, as the row's own button would be clicked.
        const auto press = [this, index = QPersistentModelIndex(index), control] {
            if (index.isValid()) delegate_->activate(index, control);
        };
        switch (control) {
        case RowControl::reveal: menu.addAction(tr("Show in File Manager"), &menu, press); break;
        case RowControl::retry:
            menu.addAction(job->status() == EncodeJob::Status::finished ? tr("Encode Again") : tr("Retry"), &menu,
                           press);
            break;
        case RowControl::outputsMenu: fillOutputsMenu(menu.addMenu(tr("Outputs")), job); break;
        case RowControl::remove: menu.addAction(tr("Remove from Queue"), &menu, press); break;
        case RowControl::enabledToggle: break;
        }
    }
}

}  // namespace fw::ui

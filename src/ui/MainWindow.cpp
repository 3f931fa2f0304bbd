#include "ui/MainWindow.h"

#include "coordinator/EncodingCoordinator.h"
#include "ui/ActionBar.h"
#include "ui/Banner.h"
#include "ui/CardText.h"
#include "ui/FilePicker.h"
#include "ui/Glass.h"
#include "ui/PreviewPanel.h"
#include "ui/QueueCard.h"
#include "ui/SavePresetPrompt.h"
#include "ui/SettingsColumn.h"
#include "ui/UiFlags.h"
#include "ui/WheelGuard.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTextEdit>
#include <QVBoxLayout>

namespace fw::ui {

namespace {

constexpr int kPreviewHeight = 288;

// The window's background: the window colour fading to a hint of the accent.
class BackgroundWash : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient wash(0, 0, 0, height());
        wash.setColorAt(0, washTop(palette()));
        wash.setColorAt(1, washBottom(palette()));
        painter.fillRect(rect(), wash);
    }
};

// A widget where Return belongs to the typing (a line, a number, a text).
bool isTextField(const QWidget* widget) {
    if (!widget) return false;
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->isEditable();
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget);
}

}  // namespace

MainWindow::MainWindow(WindowEnvironment environment, QWidget* parent)
    : QMainWindow(parent),
      environment_(std::move(environment)),
      context_{environment_.coordinator,
               environment_.presets,
               environment_.flags,
               environment_.picker,
               [this](FolderPickerTarget target) { chooseFolder(target); },
               [this] { showSavePreset(); }} {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Framewright"));
    resize(960, 720);
    // Scrolling the settings column must not change the settings under the pointer.
    installWheelGuard();
    savePresetPrompt_ = new SavePresetPrompt(environment_.coordinator, environment_.presets, this);
    buildLayout();
    // A new window starts with no control focused, rather than the first one
    // focused unseen (no ring comes with focus the keyboard did not give):
    // Space acts on nothing, and the first Tab rings the first control.
    centralWidget()->setFocus(Qt::OtherFocusReason);
    // A shortcut, the menu or the tray starts with the caret still in a field.
    connect(&environment_.coordinator, &EncodingCoordinator::aboutToStart, this, &MainWindow::commitEditInProgress);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildLayout() {
    auto* root = new BackgroundWash(this);
    setCentralWidget(root);
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);

    auto* header = new QLabel(QStringLiteral("Framewright"), root);
    header->setObjectName(QStringLiteral("windowHeader"));
    QFont title = header->font();
    title.setPixelSize(28);
    title.setBold(true);
    header->setFont(title);
    header->setAlignment(Qt::AlignCenter);
    column->addWidget(header);

    // Under the title, above everything else; shown with its first message.
    notices_ = new QWidget(root);
    notices_->setObjectName(QStringLiteral("windowNotice"));
    auto* noticeColumn = new QVBoxLayout(notices_);
    noticeColumn->setContentsMargins(0, 0, 0, 0);
    noticeColumn->setSpacing(6);
    notices_->hide();
    column->addWidget(notices_);

    auto* mainRow = new QHBoxLayout;
    mainRow->setSpacing(16);
    auto* left = new QVBoxLayout;
    left->setSpacing(16);
    previewCard_ = new GlassCard(root);
    previewCard_->setFixedHeight(kPreviewHeight);
    auto* previewLayout = new QVBoxLayout(previewCard_);
    previewLayout->setContentsMargins(16, 16, 16, 16);
    preview_ = new PreviewPanel(environment_.coordinator, previewCard_);
    previewLayout->addWidget(preview_);
    left->addWidget(previewCard_);
    queue_ = new QueueCard(context_, root);
    queue_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    left->addWidget(queue_, 1);
    mainRow->addLayout(left, 1);

    auto* scroll = new SettingsScrollArea(root);
    scroll->viewport()->setAutoFillBackground(false);
    settings_ = new SettingsColumn(context_);
    scroll->setWidget(settings_);
    // The column shows the window's wash (setWidget turned its filling on).
    settings_->setAutoFillBackground(false);
    mainRow->addWidget(scroll);
    column->addLayout(mainRow, 1);

    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(12);
    actionBar_ = new ActionBar(context_, root);
    queue_->setFocusWhenEmptied(actionBar_->addFilesButton());
    bottom->addWidget(actionBar_, 1);
    column->addLayout(bottom);
    // The notices wrap anew at each width; the preview needs more room while a batch runs.
    root->installEventFilter(this);
    previewCard_->installEventFilter(this);
}

void MainWindow::fitPreviewToNotices() {
    // The notices' room comes out of the preview, so that the queue card, the
    // settings and the action bar keep their place and the window its size.
    int room = 0;
    if (!notices_->isHidden()) {
        auto* column = static_cast<QBoxLayout*>(centralWidget()->layout());
        const QMargins margins = column->contentsMargins();
        const int width = centralWidget()->width() - margins.left() - margins.right();
        const int height = notices_->hasHeightForWidth() ? notices_->heightForWidth(width) : -1;
        room = (height >= 0 ? height : notices_->sizeHint().height()) + column->spacing();
    }
    const int height = std::max(kPreviewHeight - room, previewCard_->minimumSizeHint().height());
    if (previewCard_->height() != height || previewCard_->minimumHeight() != height)
        previewCard_->setFixedHeight(height);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == centralWidget() && event->type() == QEvent::Resize) ||
        (watched == previewCard_ && event->type() == QEvent::LayoutRequest))
        fitPreviewToNotices();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::chooseFolder(FolderPickerTarget target) {
    EncodingCoordinator& coordinator = environment_.coordinator;
    const bool watch = target == FolderPickerTarget::watch;
    const std::optional<std::filesystem::path> start =
        watch ? coordinator.watchFolderURL() : coordinator.outputDirectory();
    const std::optional<std::filesystem::path> folder = environment_.picker.chooseFolder(
        this, watch ? tr("Choose a Watch Folder") : tr("Choose an Output Folder"), start);
    if (!folder || folder->empty()) return;
    if (watch)
        coordinator.startWatching(*folder);
    else
        coordinator.setOutputDirectory(*folder);
}

void MainWindow::showSavePreset() { savePresetPrompt_->open(); }

void MainWindow::showNotice(const QString& text, const QString& topic, NoticeAction action) {
    if (notices().contains(text)) return;
    QWidget* banner = makeBanner("exclamationmark.triangle.fill", Tint::orange, text, notices_);
    banner->setProperty("noticeText", text);
    banner->setProperty("noticeTopic", topic);
    if (!action.title.isEmpty()) {
        QPushButton* button = addBannerButton(banner, action.title);
        connect(button, &QPushButton::clicked, this, [this, banner, run = std::move(action.run)] {
            if (run) run();
            // Its button is being clicked: deleted once the click is over.
            banner->setProperty("noticeText", QVariant());
            banner->hide();
            banner->deleteLater();
            noticesChanged();
        });
    }
    notices_->layout()->addWidget(banner);
    // Now rather than at the layout's next pass: the preview gives way at once.
    banner->show();
    noticesChanged();
}

void MainWindow::withdrawNotices(const QString& topic) {
    for (QWidget* banner : notices_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (banner->property("noticeText").isValid() && !topic.isEmpty() &&
            banner->property("noticeTopic").toString() == topic)
            delete banner;
    noticesChanged();
}

void MainWindow::noticesChanged() {
    notices_->setVisible(!notices().isEmpty());
    fitPreviewToNotices();
}

QStringList MainWindow::notices() const {
    QStringList texts;
    for (const QWidget* banner : notices_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (const QVariant text = banner->property("noticeText"); text.isValid()) texts.append(text.toString());
    return texts;
}

void MainWindow::commitEditInProgress() {
    // The window remembers its focused field while another window is active.
    QWidget* focused = focusWidget();
    for (QWidget* widget = focused; widget && widget != this; widget = widget->parentWidget())
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(widget)) {
            spin->interpretText();
            return;
        }
    // The fields' bindings store their text when editing finishes.
    if (auto* edit = qobject_cast<QLineEdit*>(focused); edit && edit->isModified()) emit edit->editingFinished();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous()) return;
    EncodingCoordinator& coordinator = environment_.coordinator;
    publishSecret_ = QString::fromStdString(coordinator.publishSecret());
    // Once the window is up and activated (the shell raises it after show()),
    // so that the welcome window lands in front of it.
    if (!environment_.flags.flag(QStringLiteral("hasSeenWelcome"), false))
        QMetaObject::invokeMethod(
            this, [this] { environment_.openWindow(QStringLiteral("welcome")); }, Qt::QueuedConnection);
    if (shownBefore_) return;
    shownBefore_ = true;
    // At most once per process inside the notifier; never while notifications are off.
    if (coordinator.notifyOnCompletion() && coordinator.services().notifier)
        coordinator.services().notifier->requestAuthorizationIfNeeded();
    environment_.startUpdater();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Reaches the window when the focused widget left the key alone.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (isReturn && plain && !isTextField(focusWidget()) && actionBar_->pressDefault()) {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

}  // namespace fw::ui

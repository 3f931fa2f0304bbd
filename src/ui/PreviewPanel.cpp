#include "ui/PreviewPanel.h"

#include "coordinator/EncodingCoordinator.h"
#include "ui/Contrast.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/ProgressRing.h"
#include "ui/ProgressSummary.h"
#include "ui/QueueObserver.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QVBoxLayout>

#include <cmath>

namespace fw::ui {

namespace {

constexpr int kScreenRadius = 14;
constexpr int kBarSteps = 1000;
// The dark screen laid over the card.
const QColor kScreenShade(0, 0, 0, 56);

// The dark rounded screen behind every state, with the frame fitted on it.
class PreviewScreen : public QWidget {
public:
    PreviewScreen(const QImage& frame, QWidget* parent) : QWidget(parent), frame_(frame) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kScreenRadius, kScreenRadius);
        painter.fillPath(shape, kScreenShade);
        if (frame_.isNull()) return;
        const QSize fitted = frame_.size().scaled(size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
        painter.setClipPath(shape);
        painter.drawImage(target, frame_);
    }

private:
    const QImage& frame_;
};

QLabel* captionLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    followColour(label, [](const QPalette& palette) { return secondaryTextOnGlass(palette); });
    return label;
}

}  // namespace

PreviewPanel::PreviewPanel(EncodingCoordinator& coordinator, QWidget* parent)
    : QWidget(parent), coordinator_(coordinator) {
    setObjectName(QStringLiteral("previewPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* title = new QWidget(this);
    auto* titleRow = new QHBoxLayout(title);
    titleRow->setContentsMargins(0, 0, 0, 0);
    auto* titleIcon = new QLabel(title);
    showSymbol(titleIcon, "waveform.badge.magnifyingglass", 16);
    auto* titleText = new QLabel(tr("Live Preview"), title);
    QFont headline = titleText->font();
    headline.setBold(true);
    titleText->setFont(headline);
    titleRow->addWidget(titleIcon);
    titleRow->addWidget(titleText);
    titleRow->addStretch(1);
    layout->addWidget(title);

    screen_ = new PreviewScreen(frame_, this);
    screen_->setObjectName(QStringLiteral("previewScreen"));
    screen_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* screenLayout = new QVBoxLayout(screen_);
    screenLayout->setAlignment(Qt::AlignCenter);

    placeholder_ = new QWidget(screen_);
    auto* placeholderLayout = new QVBoxLayout(placeholder_);
    placeholderLayout->setSpacing(8);
    placeholderLayout->setAlignment(Qt::AlignCenter);
    auto* placeholderIcon = new QLabel(placeholder_);
    showSymbol(placeholderIcon, "photo.on.rectangle.angled", 34);
    placeholderIcon->setAlignment(Qt::AlignCenter);
    placeholderText_ = new QLabel(placeholder_);
    placeholderText_->setObjectName(QStringLiteral("previewPlaceholderText"));
    placeholderText_->setAlignment(Qt::AlignCenter);
    // Read on the dark screen, over the card.
    followColour(placeholderText_, [](const QPalette& palette) {
        const auto [top, bottom] = glassBackgrounds(palette);
        const QColor text = palette.color(QPalette::WindowText);
        return readableOn(text, 0.6, {over(kScreenShade, top), over(kScreenShade, bottom)}, text);
    });
    placeholderLayout->addWidget(placeholderIcon, 0, Qt::AlignCenter);
    placeholderLayout->addWidget(placeholderText_, 0, Qt::AlignCenter);
    screenLayout->addWidget(placeholder_, 0, Qt::AlignCenter);

    ring_ = new ProgressRing(coordinator_, 0.72, screen_);
    screenLayout->addWidget(ring_, 0, Qt::AlignCenter);
    layout->addWidget(screen_, 1);

    progressRow_ = new QWidget(this);
    progressRow_->setObjectName(QStringLiteral("previewProgress"));
    auto* progressLayout = new QVBoxLayout(progressRow_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(6);
    bar_ = new QProgressBar(progressRow_);
    bar_->setRange(0, kBarSteps);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(6);
    progressLayout->addWidget(bar_);
    auto* numbers = new QHBoxLayout;
    numbers->setContentsMargins(0, 0, 0, 0);
    progressText_ = captionLabel(progressRow_);
    progressText_->setObjectName(QStringLiteral("previewProgressText"));
    auto* timerIcon = new QLabel(progressRow_);
    showSymbol(timerIcon, "timer", 12);
    countdown_ = captionLabel(progressRow_);
    countdown_->setObjectName(QStringLiteral("previewCountdown"));
    numbers->addWidget(progressText_);
    numbers->addStretch(1);
    numbers->addWidget(timerIcon);
    numbers->addWidget(countdown_);
    progressLayout->addLayout(numbers);
    layout->addWidget(progressRow_);

    auto* observer = new QueueObserver(coordinator_, this);
    connect(observer, &QueueObserver::queueTouched, this, &PreviewPanel::refresh);
    connect(&coordinator_, &EncodingCoordinator::isRunningChanged, this, [this] {
        if (coordinator_.isRunning()) batchCancelled_ = false;
        refresh();
    });
    // Still true as the batch's running state ends, so the cancel is remembered.
    connect(&coordinator_, &EncodingCoordinator::isCancellingChanged, this, [this] {
        if (coordinator_.isCancelling()) batchCancelled_ = true;
        refresh();
    });
    connect(&coordinator_, &EncodingCoordinator::runStartedAtChanged, this, &PreviewPanel::refresh);
    connect(&coordinator_, &EncodingCoordinator::livePreviewImageChanged, this, &PreviewPanel::refreshFrame);
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &PreviewPanel::refresh);
    refreshFrame();
}

void PreviewPanel::refreshFrame() {
    frame_ = QImage();
    const ImageRef& image = coordinator_.livePreviewImage();
    // Encoders hand over straight-alpha BGRA pictures: Qt's ARGB32 in memory.
    if (image && image->format() == media::PixelFormat::bgra8)
        frame_ =
            QImage(image->data(), image->width(), image->height(), qsizetype(image->stride()), QImage::Format_ARGB32)
                .copy();
    refresh();
}

void PreviewPanel::refresh() {
    const ProgressSummary summary = summarizeProgress(coordinator_);
    placeholder_->setVisible(frame_.isNull() && !summary.running);
    ring_->setVisible(frame_.isNull() && summary.running);
    if (coordinator_.jobs().empty()) batchCancelled_ = false;
    placeholderText_->setText(batchCancelled_       ? tr("Encoding cancelled")
                              : summary.anyFinished ? tr("Encoding complete")
                                                    : tr("Frames appear here while encoding"));

    progressRow_->setVisible(summary.running);
    if (summary.running) {
        if (!tick_.isActive()) tick_.start();
        bar_->setValue(int(std::lround(summary.fraction * kBarSteps)));
        progressText_->setText(
            QStringLiteral("%1% · %2/%3").arg(summary.percent).arg(summary.finished).arg(summary.total));
        countdown_->setText(summary.countdown);
    } else {
        tick_.stop();
    }
    screen_->update();
}

}  // namespace fw::ui

#include "ui/ProgressRing.h"

#include "coordinator/EncodingCoordinator.h"
#include "ui/ProgressSummary.h"
#include "ui/QueueObserver.h"
#include "ui/Symbols.h"

#include <QConicalGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace fw::ui {

namespace {

constexpr double kSide = 180;  // the ring's frame, before scaling
constexpr double kLineWidth = 14;

}  // namespace

ProgressRing::ProgressRing(EncodingCoordinator& coordinator, double scale, QWidget* parent)
    : QWidget(parent), coordinator_(coordinator), scale_(scale) {
    setObjectName(QStringLiteral("progressRing"));
    setFixedSize(sizeHint());
    auto* observer = new QueueObserver(coordinator_, this);
    connect(observer, &QueueObserver::queueTouched, this, qOverload<>(&QWidget::update));
    connect(&coordinator_, &EncodingCoordinator::isRunningChanged, this, qOverload<>(&QWidget::update));
    connect(&coordinator_, &EncodingCoordinator::isCancellingChanged, this, qOverload<>(&QWidget::update));
    connect(&coordinator_, &EncodingCoordinator::runStartedAtChanged, this, qOverload<>(&QWidget::update));
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

QSize ProgressRing::sizeHint() const {
    const int side = int(std::ceil(kSide * scale_));
    return {side, side};
}

void ProgressRing::showEvent(QShowEvent*) { tick_.start(); }

void ProgressRing::hideEvent(QHideEvent*) { tick_.stop(); }

QString ProgressRing::percentText() const {
    return QString::number(wholePercent(coordinator_.overallProgress())) + QLatin1Char('%');
}

QString ProgressRing::statusText() const {
    const ProgressSummary summary = summarizeProgress(coordinator_);
    if (summary.running) return summary.countdown;
    return summary.anyFinished ? tr("Complete") : tr("Ready");
}

std::string_view ProgressRing::statusSymbol() const {
    if (coordinator_.isRunning()) return coordinator_.isCancelling() ? "stop.fill" : "timer";
    for (const auto& job : coordinator_.jobs())
        if (job->status() == EncodeJob::Status::finished) return "checkmark.circle.fill";
    return "sparkles";
}

QString ProgressRing::countText() const {
    const ProgressSummary summary = summarizeProgress(coordinator_);
    return QStringLiteral("%1 / %2").arg(summary.finished).arg(summary.total);
}

void ProgressRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(double(width()) / kSide, double(height()) / kSide);

    const double fraction = boundedFraction(coordinator_.overallProgress());
    const QRectF circle(kLineWidth / 2, kLineWidth / 2, kSide - kLineWidth, kSide - kLineWidth);
    const QColor ink = palette().color(QPalette::WindowText);
    const QColor accent = palette().color(QPalette::Highlight);

    QColor track = ink;
    track.setAlphaF(0.08f);
    painter.setPen(QPen(track, kLineWidth, Qt::SolidLine, Qt::FlatCap));
    painter.drawEllipse(circle);

    // From the top, clockwise; at 0 a round dot still marks the start. Qt's
    // conical gradient turns the other way, so its stops are mirrored.
    const int span = -int(std::round(std::max(fraction, 0.001) * 360 * 16));
    QColor glow = accent;
    glow.setAlphaF(0.18f);
    painter.setPen(QPen(glow, kLineWidth + 6, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(circle, 90 * 16, span);
    QConicalGradient gradient(circle.center(), 90);
    gradient.setColorAt(0.0, accent);
    gradient.setColorAt(1.0 / 3, QColor(255, 45, 85));
    gradient.setColorAt(2.0 / 3, QColor(175, 82, 222));
    gradient.setColorAt(1.0, accent);
    painter.setPen(QPen(QBrush(gradient), kLineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(circle, 90 * 16, span);

    // The centre: percentage, status with its symbol, count.
    QFont percentFont = font();
    percentFont.setPixelSize(40);
    percentFont.setBold(true);
    // The small lines keep a legible size however far the ring is scaled down.
    const double scale = double(width()) / kSide;
    QFont statusFont = font();
    statusFont.setPixelSize(int(std::ceil(std::max(13.0, 11.0 / scale))));
    QFont countFont = font();
    countFont.setPixelSize(int(std::ceil(std::max(11.0, 10.0 / scale))));
    const double percentHeight = QFontMetricsF(percentFont).height();
    const double statusHeight = QFontMetricsF(statusFont).height();
    const double countHeight = QFontMetricsF(countFont).height();
    double y = (kSide - (percentHeight + statusHeight + countHeight + 8)) / 2;

    painter.setPen(ink);
    painter.setFont(percentFont);
    painter.drawText(QRectF(0, y, kSide, percentHeight), Qt::AlignCenter, percentText());
    y += percentHeight + 4;

    QColor secondary = ink;
    secondary.setAlphaF(0.6f);
    painter.setPen(secondary);
    painter.setFont(statusFont);
    const QString status = statusText();
    const double iconSide = statusHeight * 0.9;
    const double textWidth = QFontMetricsF(statusFont).horizontalAdvance(status);
    const double left = (kSide - (iconSide + 4 + textWidth)) / 2;
    symbolIcon(statusSymbol())
        .paint(&painter, QRectF(left, y + (statusHeight - iconSide) / 2, iconSide, iconSide).toRect());
    painter.drawText(QRectF(left + iconSide + 4, y, textWidth + 1, statusHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     status);
    y += statusHeight + 4;

    QColor tertiary = ink;
    tertiary.setAlphaF(0.4f);
    painter.setPen(tertiary);
    painter.setFont(countFont);
    painter.drawText(QRectF(0, y, kSide, countHeight), Qt::AlignCenter, countText());
}

}  // namespace fw::ui

#include "ui/AccessibleNames.h"
#include "ui/Binding.h"
#include "ui/CardText.h"
#include "ui/CodecControls.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fw::ui {

namespace {

// Input limits of the exact bit rate, Mbit/s.
constexpr NumberRange kBitrateRange{0.1, 1000};
// The slider's steps over crush 0…1: fine enough to feel continuous.
constexpr int kSliderSteps = 1000;
// An arrow key moves it 1 %, Page Up and Down 10 %: steps a person sees.
constexpr int kArrowSteps = kSliderSteps / 100;
constexpr int kPageSteps = kSliderSteps / 10;

QColor tierColor(H264Settings::QualityTier tier) {
    switch (tier) {
    case H264Settings::QualityTier::veryLow: return Tint::red;
    case H264Settings::QualityTier::low: return Tint::orange;
    case H264Settings::QualityTier::medium: return Tint::yellow;
    case H264Settings::QualityTier::high: return Tint::green;
    case H264Settings::QualityTier::veryHigh: return Tint::teal;
    }
    return Tint::green;
}

// The badge's fill: the tier's colour this faint over the card.
constexpr double kBadgeFillAlpha = 0.22;

void showTier(QLabel* badge, H264Settings::QualityTier tier) {
    const QColor color = tierColor(tier);
    badge->setText(QString::fromUtf8(label(tier).data(), qsizetype(label(tier).size())));
    // The pale tints (yellow, green) would not read as text on their own fill.
    followStyleSheet(badge, [color](const QPalette& palette) {
        const QColor ink = tintTextOnGlass(color, palette, kBadgeFillAlpha);
        return QStringLiteral(
                   "QLabel { color: %1; background: rgba(%2,%3,%4,%5); border-radius: 8px;"
                   " padding: 2px 8px; font-weight: 600; }")
            .arg(ink.name())
            .arg(color.red())
            .arg(color.green())
            .arg(color.blue())
            .arg(kBadgeFillAlpha);
    });
}

}  // namespace

QWidget* buildQualityControls(Binder& binder, QWidget* parent) {
    EncodingCoordinator& coordinator = binder.coordinator();
    const auto h264 = setting(coordinator, &EncodingCoordinator::h264, &EncodingCoordinator::setH264,
                              &EncodingCoordinator::h264Changed);

    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeDivider(block));

    auto* header = new QHBoxLayout;
    QLabel* title = makeHeading(QObject::tr("Quality"), block);
    header->addWidget(title);
    auto* badge = new QLabel(block);
    badge->setObjectName(QStringLiteral("qualityBadge"));
    QFont badgeFont = badge->font();
    badgeFont.setPointSizeF(badgeFont.pointSizeF() * 0.8);
    badge->setFont(badgeFont);
    header->addWidget(badge);
    header->addStretch(1);
    auto* estimate = makeCaption(QString(), block);
    estimate->setObjectName(QStringLiteral("bitrateEstimate"));
    estimate->setWordWrap(false);
    header->addWidget(estimate);
    layout->addLayout(header);

    // The holder is disabled while the exact bit rate is on; the Binder
    // disables the slider itself while running.
    auto* sliderHolder = new QWidget(block);
    auto* sliderLayout = new QVBoxLayout(sliderHolder);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    sliderLayout->setSpacing(0);
    auto* slider = new QSlider(Qt::Horizontal, sliderHolder);
    slider->setObjectName(QStringLiteral("quality"));
    pairLabel(title, slider);
    slider->setRange(0, kSliderSteps);
    slider->setSingleStep(kArrowSteps);
    slider->setPageStep(kPageSteps);
    sliderLayout->addWidget(slider);
    auto* ends = new QHBoxLayout;
    ends->addWidget(makeCaption(QObject::tr("Smaller"), sliderHolder, true));
    ends->addStretch(1);
    ends->addWidget(makeCaption(QObject::tr("Larger"), sliderHolder, true));
    sliderLayout->addLayout(ends);
    layout->addWidget(sliderHolder);
    binder.slider(slider, mapped<double, int>(
                              field(h264, &H264Settings::crush),
                              [](const double& crush) {
                                  const double unit = std::isnan(crush) ? 0 : std::clamp(crush, 0.0, 1.0);
                                  return int(std::lround(unit * kSliderSteps));
                              },
                              [](const int& step) { return double(step) / kSliderSteps; }));

    auto* exact = new QCheckBox(QObject::tr("Set exact bitrate"), block);
    exact->setObjectName(QStringLiteral("exactBitrate"));
    binder.check(exact, field(h264, &H264Settings::useExplicitBitrate));
    layout->addWidget(exact);

    auto* bitrateRow = new QWidget(block);
    auto* bitrateLayout = new QHBoxLayout(bitrateRow);
    bitrateLayout->setContentsMargins(0, 0, 0, 0);
    bitrateLayout->setSpacing(6);
    auto* bitrate = new QLineEdit(bitrateRow);
    bitrate->setObjectName(QStringLiteral("bitrate"));
    bitrate->setAccessibleName(QObject::tr("Bitrate"));
    bitrate->setPlaceholderText(QObject::tr("Bitrate"));
    bitrate->setFixedWidth(72);
    bitrateLayout->addWidget(bitrate);
    bitrateLayout->addWidget(makeCaption(QObject::tr("Mbps"), bitrateRow));
    bitrateLayout->addStretch(1);
    binder.number(bitrate, field(h264, &H264Settings::bitrateMbps), -1, kBitrateRange);
    layout->addWidget(bitrateRow);

    binder.watch(
        [h264, badge, estimate, sliderHolder, bitrateRow] {
            const H264Settings settings = h264.get();
            showTier(badge, settings.qualityTier());
            const long long megabits = std::llround(double(settings.averageBitRate(1920, 1080)) / 1'000'000.0);
            estimate->setText(QStringLiteral("\u2248%1 Mbps @1080p").arg(megabits));
            sliderHolder->setEnabled(!settings.useExplicitBitrate);
            bitrateRow->setVisible(settings.useExplicitBitrate);
        },
        h264);
    return block;
}

}  // namespace fw::ui

#include "ui/AccessibleNames.h"
#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/Glass.h"
#include "ui/SettingsCards.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace fw::ui {

namespace {

constexpr std::array kFrameRatePresets{23.976, 24.0, 25.0, 29.97, 30.0, 50.0, 59.94, 60.0};
// Crop values are fractions of the source; a pixel size typed into one would
// otherwise be clamped to the whole frame and leave the output uncropped.
constexpr NumberRange kCropRange{0, 1, NumberRange::Beyond::refused};

// Whole rates read as integers; fractional ones keep their decimals, so that
// 23.976 never reads like the 24 beside it.
QString frameRateLabel(double rate) {
    if (rate == std::round(rate)) return QString::number(static_cast<long long>(std::round(rate)));
    return Binder::formatNumber(rate);
}

QLineEdit* makeNumberField(const QString& placeholder, const QString& objectName, int width, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setPlaceholderText(placeholder);
    edit->setFixedWidth(width);
    return edit;
}

}  // namespace

QWidget* buildTransformCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(12);
    auto* binder = new Binder(coordinator, body);
    const auto geometry = setting(coordinator, &EncodingCoordinator::geometry, &EncodingCoordinator::setGeometry,
                                  &EncodingCoordinator::geometryChanged);

    // Rotation: one segment per quarter turn.
    auto* rotations = new QButtonGroup(body);
    auto* rotateRow = new QWidget(body);
    auto* rotateLayout = new QHBoxLayout(rotateRow);
    rotateLayout->setContentsMargins(0, 0, 0, 0);
    rotateLayout->setSpacing(0);
    auto* rotateTitle = new QLabel(QObject::tr("Rotate"), rotateRow);
    rotateLayout->addWidget(rotateTitle);
    pairLabel(rotateTitle, rotateRow);  // the picker; each segment reads its own text
    rotateLayout->addSpacing(8);
    std::vector<Rotation> rotationChoices(EnumCases<Rotation>::values.begin(), EnumCases<Rotation>::values.end());
    for (std::size_t i = 0; i < rotationChoices.size(); ++i) {
        const QString text = rotationChoices[i] == Rotation::none
                                 ? QObject::tr("None")
                                 : QString::fromStdString(std::string(label(rotationChoices[i])));
        auto* segment = new QToolButton(rotateRow);
        segment->setText(text);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setObjectName(QStringLiteral("rotation%1").arg(rawValue(rotationChoices[i])));
        segment->setCheckable(true);
        applySegmentStyle(segment, i == 0                            ? SegmentPosition::first
                                   : i + 1 == rotationChoices.size() ? SegmentPosition::last
                                                                     : SegmentPosition::middle);
        rotations->addButton(segment, int(i));
        rotateLayout->addWidget(segment);
    }
    binder->segments(rotations, field(geometry, &GeometrySettings::rotation), rotationChoices);
    layout->addWidget(rotateRow);

    auto* flipHorizontal = new QCheckBox(QObject::tr("Flip H"), body);
    flipHorizontal->setObjectName(QStringLiteral("flipHorizontal"));
    auto* flipVertical = new QCheckBox(QObject::tr("Flip V"), body);
    flipVertical->setObjectName(QStringLiteral("flipVertical"));
    binder->check(flipHorizontal, field(geometry, &GeometrySettings::flipHorizontal));
    binder->check(flipVertical, field(geometry, &GeometrySettings::flipVertical));
    layout->addWidget(makeRow(body, {flipHorizontal, flipVertical, nullptr}, 16));
    layout->addWidget(makeDivider(body));

    // Crop.
    QCheckBox* crop = makeSwitch(QObject::tr("Crop"), QStringLiteral("cropEnabled"), body);
    binder->check(crop, field(geometry, &GeometrySettings::cropEnabled));
    layout->addWidget(crop);
    QWidget* cropGroup = makeGroup(body, 12);
    auto* grid = new QWidget(cropGroup);
    auto* gridLayout = new QGridLayout(grid);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setSpacing(6);
    const std::array<std::pair<QString, double GeometrySettings::*>, 4> cropFields{{
        {QStringLiteral("x"), &GeometrySettings::cropX},
        {QStringLiteral("y"), &GeometrySettings::cropY},
        {QStringLiteral("w"), &GeometrySettings::cropWidth},
        {QStringLiteral("h"), &GeometrySettings::cropHeight},
    }};
    constexpr std::array<const char*, 4> kObjectNames{"cropX", "cropY", "cropWidth", "cropHeight"};
    // Each field has its own refusal: several refused at once are all named.
    std::vector<std::pair<QLineEdit*, QWidget*>> refusals;
    for (std::size_t i = 0; i < cropFields.size(); ++i) {
        const auto& [letter, member] = cropFields[i];
        const int row = int(i) / 2;
        const int column = int(i) % 2 * 2;
        QLabel* caption = makeShortCaption(letter.toUpper(), grid);
        gridLayout->addWidget(caption, row, column);
        QLineEdit* edit = makeNumberField(letter, QString::fromLatin1(kObjectNames[i]), 60, grid);
        pairLabel(caption, edit);
        binder->number(edit, field(geometry, member), -1, kCropRange);
        gridLayout->addWidget(edit, row, column + 1);
        QWidget* refusal = makeTintedNote("exclamationmark.triangle.fill", Tint::red, QString(), cropGroup);
        refusal->setObjectName(QString::fromLatin1(kObjectNames[i]) + QStringLiteral("Refusal"));
        refusal->hide();
        // The note stays until the user types into its field again.
        QObject::connect(edit, &QLineEdit::textEdited, refusal, &QWidget::hide);
        refusals.emplace_back(edit, refusal);
    }
    QObject::connect(
        binder, &Binder::numberRefused, cropGroup, [refusals, cropFields](QLineEdit* edit, const QString& typed) {
            for (std::size_t i = 0; i < refusals.size(); ++i) {
                if (refusals[i].first != edit) continue;
                const QString letter = cropFields[i].first.toUpper();
                const QString rule = QObject::tr("Crop values are fractions of the source, from 0 to 1.");
                auto* text = refusals[i].second->findChild<QLabel*>(QStringLiteral("noteText"));
                text->setText(typed.trimmed().isEmpty()
                                  ? QStringLiteral("%1: %2").arg(letter, rule)
                                  : QObject::tr("%1: “%2” was not taken. %3").arg(letter, typed.trimmed(), rule));
                refusals[i].second->show();
            }
        });
    gridLayout->setColumnStretch(4, 1);
    groupLayout(cropGroup)->addWidget(grid);
    for (const auto& [edit, refusal] : refusals) groupLayout(cropGroup)->addWidget(refusal);
    groupLayout(cropGroup)->addWidget(makeCaption(
        QObject::tr("Crop rectangle as fractions of the source (0–1), measured from the top-left."), cropGroup));
    layout->addWidget(cropGroup);
    layout->addWidget(makeDivider(body));

    // Frame-rate conversion.
    QCheckBox* convert = makeSwitch(QObject::tr("Convert frame rate"), QStringLiteral("frameRateEnabled"), body);
    binder->check(convert, field(geometry, &GeometrySettings::frameRateEnabled));
    layout->addWidget(convert);
    QWidget* rateGroup = makeGroup(body, 12);
    // Two rows of four chips, so that all eight fit the narrow column.
    auto* chips = new QWidget(rateGroup);
    auto* chipLayout = new QGridLayout(chips);
    chipLayout->setContentsMargins(0, 0, 0, 0);
    chipLayout->setSpacing(6);
    const Setting<double> frameRate = field(geometry, &GeometrySettings::frameRate);
    for (std::size_t i = 0; i < kFrameRatePresets.size(); ++i) {
        const double preset = kFrameRatePresets[i];
        auto* chip = new QToolButton(chips);
        chip->setText(frameRateLabel(preset));
        chip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        chip->setObjectName(QStringLiteral("frameRatePreset%1").arg(i));
        QFont font = chip->font();
        font.setPointSizeF(font.pointSizeF() * 0.9);
        chip->setFont(font);
        QObject::connect(chip, &QToolButton::clicked, binder, [frameRate, preset] { frameRate.set(preset); });
        binder->follow(chip);
        chipLayout->addWidget(chip, int(i) / 4, int(i) % 4);
    }
    groupLayout(rateGroup)->addWidget(chips);
    QLineEdit* rateField = makeNumberField(QStringLiteral("fps"), QStringLiteral("frameRate"), 70, rateGroup);
    binder->number(rateField, frameRate);
    groupLayout(rateGroup)->addWidget(
        makeRow(rateGroup, {rateField, makeShortCaption(QObject::tr("fps"), rateGroup), nullptr}, 6));
    groupLayout(rateGroup)->addWidget(makeCaption(
        QObject::tr("Resamples video frames to the target rate (sample-and-hold). Applies to video encodes only."),
        rateGroup));
    layout->addWidget(rateGroup);

    binder->watch(
        [geometry, cropGroup, rateGroup] {
            const GeometrySettings value = geometry.get();
            cropGroup->setVisible(value.cropEnabled);
            rateGroup->setVisible(value.frameRateEnabled);
        },
        geometry);
    return body;
}

}  // namespace fw::ui

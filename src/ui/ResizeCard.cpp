#include "ui/Binding.h"
#include "ui/CardText.h"
#include "ui/SettingsCards.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

namespace fw::ui {

namespace {

// Input limits of the target box, pixels.
constexpr NumberRange kSideRange{2, 16384};

QString text(std::string_view raw) { return QString::fromUtf8(raw.data(), qsizetype(raw.size())); }

QLineEdit* makeSideField(const QString& title, const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setPlaceholderText(title);
    edit->setAccessibleName(title);
    edit->setFixedWidth(70);
    return edit;
}

}  // namespace

QWidget* buildResizeCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(12);
    auto* binder = new Binder(coordinator, body);
    const auto resize = setting(coordinator, &EncodingCoordinator::resize, &EncodingCoordinator::setResize,
                                &EncodingCoordinator::resizeChanged);
    const Setting<std::int64_t> width = field(resize, &ResizeSettings::width);
    const Setting<std::int64_t> height = field(resize, &ResizeSettings::height);

    auto* enabled = new QCheckBox(QObject::tr("Resize output"), body);
    enabled->setObjectName(QStringLiteral("resizeEnabled"));
    binder->check(enabled, field(resize, &ResizeSettings::isEnabled));
    layout->addWidget(enabled);

    // Everything below the switch, shown while it is on.
    auto* details = new QWidget(body);
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    detailsLayout->setSpacing(12);
    layout->addWidget(details);

    auto* chips = new QHBoxLayout;
    chips->setSpacing(6);
    for (const ResolutionPreset preset : EnumCases<ResolutionPreset>::values) {
        auto* chip = new QToolButton(details);
        chip->setText(text(rawValue(preset)));
        chip->setObjectName(QStringLiteral("chip") + text(rawValue(preset)));
        QFont small = chip->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        chip->setFont(small);
        // Two writes, as two presses of the fields would make.
        QObject::connect(chip, &QToolButton::clicked, chip, [width, height, preset] {
            width.set(size(preset).width);
            height.set(size(preset).height);
        });
        binder->follow(chip);
        chips->addWidget(chip);
    }
    chips->addStretch(1);
    detailsLayout->addLayout(chips);

    auto* sizeRow = new QHBoxLayout;
    sizeRow->setSpacing(6);
    QLineEdit* widthField = makeSideField(QObject::tr("Width"), QStringLiteral("resizeWidth"), details);
    QLineEdit* heightField = makeSideField(QObject::tr("Height"), QStringLiteral("resizeHeight"), details);
    binder->integer(widthField, width, kSideRange);
    binder->integer(heightField, height, kSideRange);
    auto* times = new QLabel(QStringLiteral("\u00d7"), details);
    followSecondaryText(times);
    auto* pixels = makeCaption(QObject::tr("px"), details);
    pixels->setWordWrap(false);
    sizeRow->addWidget(widthField);
    sizeRow->addWidget(times);
    sizeRow->addWidget(heightField);
    sizeRow->addWidget(pixels);
    sizeRow->addStretch(1);
    detailsLayout->addLayout(sizeRow);

    auto* mode = new QComboBox(details);
    mode->setObjectName(QStringLiteral("resizeMode"));
    std::vector<ResizeMode> modes;
    for (const ResizeMode each : EnumCases<ResizeMode>::values) {
        mode->addItem(text(rawValue(each)));
        modes.push_back(each);
    }
    binder->choice(mode, field(resize, &ResizeSettings::mode), modes);
    detailsLayout->addWidget(makeTitledRow(QObject::tr("Mode"), mode, details));

    QLabel* description = makeCaption(QString(), details);
    description->setObjectName(QStringLiteral("resizeModeHelp"));
    detailsLayout->addWidget(description);

    binder->watch(
        [resize, details, description] {
            const ResizeSettings settings = resize.get();
            details->setVisible(settings.isEnabled);
            description->setText(text(help(settings.mode)));
        },
        resize);
    return body;
}

}  // namespace fw::ui

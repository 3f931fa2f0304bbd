#include "model/Presets.h"
#include "ui/Binding.h"
#include "ui/CardText.h"
#include "ui/ElidedLabel.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

namespace fw::ui {

namespace {

QString pathText(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QPushButton* makeChooseButton(const QString& name, QWidget* parent) {
    auto* button = new QPushButton(QObject::tr("Choose\u2026"), parent);
    button->setObjectName(name);
    applyGlassButton(button, true);
    return button;
}

QPushButton* makePlainButton(const QString& title, const QString& name, std::function<QColor(const QPalette&)> colour,
                             QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setObjectName(name);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    followColour(button, std::move(colour), QPalette::ButtonText);
    return button;
}

ElidedLabel* makePathLabel(const QString& name, QWidget* parent) {
    auto* label = new ElidedLabel(parent);
    label->setObjectName(name);
    QFont caption = label->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.88);
    label->setFont(caption);
    followSecondaryText(label);
    return label;
}

QWidget* makeOutputSection(CardContext& context, Binder& binder, QWidget* parent) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* section = new QWidget(parent);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeHeading(QObject::tr("Output Folder"), section));
    ElidedLabel* value = makePathLabel(QStringLiteral("outputFolder"), section);
    layout->addWidget(value);
    auto* buttons = new QHBoxLayout;
    QPushButton* choose = makeChooseButton(QStringLiteral("chooseOutputFolder"), section);
    QPushButton* reset = makePlainButton(
        QObject::tr("Reset"), QStringLiteral("resetOutputFolder"),
        [](const QPalette& palette) { return secondaryTextOnGlass(palette); }, section);
    buttons->addWidget(choose);
    buttons->addWidget(reset);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    QObject::connect(choose, &QPushButton::clicked, section, [&context] {
        if (context.chooseFolder) context.chooseFolder(FolderPickerTarget::output);
    });
    QObject::connect(reset, &QPushButton::clicked, section,
                     [&coordinator] { coordinator.setOutputDirectory(std::nullopt); });
    binder.watchSignals(
        [&coordinator, value, reset] {
            const auto& folder = coordinator.outputDirectory();
            value->setFullText(folder ? pathText(*folder) : QObject::tr("Beside each source file"));
            reset->setVisible(folder.has_value());
        },
        &EncodingCoordinator::outputDirectoryChanged);
    return section;
}

void fillPresetMenu(QMenu* menu, CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    menu->clear();
    menu->addAction(QObject::tr("Main settings"), menu, [&coordinator] {
        coordinator.setWatchConfiguration(std::nullopt);
        coordinator.setWatchPresetName(std::nullopt);
    });
    menu->addSeparator();
    for (const Preset& preset : context.presets.allPresets())
        menu->addAction(menuText(preset.name), menu, [&coordinator, preset] {
            coordinator.setWatchConfiguration(preset.configuration);
            coordinator.setWatchPresetName(preset.name);
        });
}

QWidget* makeWatchSection(CardContext& context, Binder& binder, QWidget* parent) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* section = new QWidget(parent);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    auto* eye = new QLabel(section);
    QLabel* title = makeHeading(QObject::tr("Watch Folder"), section);
    title->setObjectName(QStringLiteral("watchTitle"));
    titleRow->addWidget(eye);
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    layout->addLayout(titleRow);
    ElidedLabel* value = makePathLabel(QStringLiteral("watchFolder"), section);
    layout->addWidget(value);

    auto* controls = new QHBoxLayout;
    QPushButton* choose = makeChooseButton(QStringLiteral("chooseWatchFolder"), section);
    QPushButton* stop = makePlainButton(
        QObject::tr("Stop"), QStringLiteral("stopWatching"), [](const QPalette&) { return Tint::red; }, section);
    auto* autoStart = new QCheckBox(QObject::tr("Auto"), section);
    autoStart->setObjectName(QStringLiteral("autoStartWatched"));
    autoStart->setToolTip(QObject::tr("Automatically start encoding files added to the watch folder"));
    QFont mini = autoStart->font();
    mini.setPointSizeF(mini.pointSizeF() * 0.85);
    autoStart->setFont(mini);
    binder.check(autoStart,
                 setting(coordinator, &EncodingCoordinator::autoStartWatched, &EncodingCoordinator::setAutoStartWatched,
                         &EncodingCoordinator::autoStartWatchedChanged));
    controls->addWidget(choose);
    controls->addWidget(stop);
    controls->addStretch(1);
    controls->addWidget(autoStart);
    layout->addLayout(controls);

    auto* preset = new QToolButton(section);
    preset->setObjectName(QStringLiteral("watchPreset"));
    preset->setIcon(symbolIcon("wand.and.stars"));
    preset->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    preset->setPopupMode(QToolButton::InstantPopup);
    preset->setAutoRaise(true);
    QFont caption = preset->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.88);
    preset->setFont(caption);
    auto* menu = new QMenu(preset);
    preset->setMenu(menu);
    // Built now and again before each showing, so it lists the presets as they are then.
    fillPresetMenu(menu, context);
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, &context] { fillPresetMenu(menu, context); });
    layout->addWidget(preset, 0, Qt::AlignLeft);

    QObject::connect(choose, &QPushButton::clicked, section, [&context] {
        if (context.chooseFolder) context.chooseFolder(FolderPickerTarget::watch);
    });
    QObject::connect(stop, &QPushButton::clicked, section, [&coordinator] { coordinator.stopWatching(); });
    binder.watchSignals(
        [&coordinator, eye, title, value, stop] {
            const bool watching = coordinator.isWatching();
            showSymbol(eye, watching ? "eye.fill" : "eye.slash", 14);
            // Not watching, the title takes its parent's colours again.
            followPalette(title, PaletteUse::colours, [title, watching](const QPalette& palette) {
                QPalette own;
                if (watching) own.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
                title->setPalette(own);
            });
            const auto& folder = coordinator.watchFolderURL();
            value->setFullText(folder ? pathText(*folder) : QObject::tr("Auto-encode new files in a folder"));
            stop->setVisible(watching);
        },
        &EncodingCoordinator::watchFolderURLChanged);
    binder.watchSignals(
        [&coordinator, preset] {
            const auto& name = coordinator.watchPresetName();
            preset->setText(QObject::tr("Preset: ") + (name ? menuText(*name) : QObject::tr("Main settings")));
        },
        &EncodingCoordinator::watchPresetNameChanged);
    return section;
}

}  // namespace

QWidget* buildDestinationsCard(CardContext& context) {
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(12);
    // The card stays usable during a run: a new output folder is for the next
    // batch, the running one keeps the folder it started with.
    auto* binder = new Binder(context.coordinator, body, Binder::Running::keepsEnabled);
    layout->addWidget(makeOutputSection(context, *binder, body));
    layout->addWidget(makeDivider(body));
    layout->addWidget(makeWatchSection(context, *binder, body));
    return body;
}

}  // namespace fw::ui

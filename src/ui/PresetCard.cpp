#include "coordinator/EncodingCoordinator.h"
#include "model/Presets.h"
#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/CardText.h"
#include "ui/ControlStyle.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <mutex>

namespace fw::ui {

namespace {

// The menu's items: built-ins, then the user's presets, each in stored order.
void fillPresetMenu(QMenu* menu, CardContext& context) {
    menu->clear();
    for (const Preset& preset : context.presets.allPresets()) {
        QAction* action = menu->addAction(menuText(preset.name));
        const ExportConfiguration configuration = preset.configuration;
        EncodingCoordinator* coordinator = &context.coordinator;
        QObject::connect(action, &QAction::triggered, menu,
                         [coordinator, configuration] { coordinator->apply(configuration); });
    }
}

// The divider and one row per user preset with its delete button; empty
// without user presets. The delete buttons follow `before` in Tab order.
void fillUserPresetList(QWidget* list, QWidget* before, CardContext& context) {
    // A delete button with the focus hands it, ringed as it was, to the one
    // that takes its place, else the one above, else to `before`: a row
    // deleted from the keyboard leaves the focus in the card.
    const QList<QToolButton*> buttons = list->findChildren<QToolButton*>(QStringLiteral("deletePreset"));
    auto* focused = qobject_cast<QToolButton*>(list->window()->focusWidget());
    const auto focusedRow = focused ? buttons.indexOf(focused) : -1;
    const bool ringed = focusedRow >= 0 && showsFocusRing(*focused);
    // A copy of the rows: deleting one changes the list's children.
    qDeleteAll(list->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
    const auto refocus = [&] {
        if (focusedRow < 0) return;
        const QList<QToolButton*> now = list->findChildren<QToolButton*>(QStringLiteral("deletePreset"));
        QWidget* next = now.isEmpty() ? before : now[std::min(focusedRow, now.size() - 1)];
        next->setFocus(ringed ? Qt::TabFocusReason : Qt::OtherFocusReason);
    };
    QLayout* layout = list->layout();
    const std::vector<Preset> presets = context.presets.userPresets();
    list->setVisible(!presets.empty());
    if (presets.empty()) return refocus();

    auto* divider = new QFrame(list);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    for (const Preset& preset : presets) {
        auto* row = new QWidget(list);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto* name = new QLabel(QString::fromStdString(preset.name), row);
        QFont caption = name->font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        name->setFont(caption);
        name->setTextFormat(Qt::PlainText);
        name->setWordWrap(true);
        auto* remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("deletePreset"));
        remove->setAutoRaise(true);
        followPalette(remove, PaletteUse::picture, [remove](const QPalette& palette) {
            remove->setIcon(tintedSymbolIcon("trash", tintSymbolOnGlass(QColor(215, 0, 21), palette)));
        });
        remove->setToolTip(QObject::tr("Delete this preset"));
        remove->setAccessibleName(QObject::tr("Delete this preset"));
        followStyleSheet(remove, QStringLiteral("QToolButton { border: none; }"));
        PresetStore* store = &context.presets;
        QObject::connect(remove, &QToolButton::clicked, remove, [store, preset] { store->deletePreset(preset); });
        rowLayout->addWidget(name, 1);
        rowLayout->addWidget(remove);
        layout->addWidget(row);
    }
    placeTabStopsAfter(before, list);
    refocus();
}

}  // namespace

QWidget* buildPresetCard(CardContext& context) {
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    auto* apply = new QToolButton(body);
    apply->setObjectName(QStringLiteral("applyPreset"));
    apply->setText(QObject::tr("Apply a preset"));
    apply->setIcon(symbolIcon("square.and.arrow.down"));
    apply->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    apply->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(apply);
    menu->setObjectName(QStringLiteral("presetMenu"));
    apply->setMenu(menu);
    applyGlassButton(apply);
    layout->addWidget(apply);

    auto* save = new QPushButton(QObject::tr("Save current as preset…"), body);
    save->setObjectName(QStringLiteral("savePreset"));
    applyGlassButton(save, true);
    QObject::connect(save, &QPushButton::clicked, body, [&context] {
        if (context.showSavePreset) context.showSavePreset();
    });
    layout->addWidget(save, 0, Qt::AlignLeft);

    auto* list = new QWidget(body);
    list->setObjectName(QStringLiteral("userPresets"));
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(4);
    layout->addWidget(list);

    // Only the menu follows the run; saving and deleting stay available.
    auto* binder = new Binder(context.coordinator, body);
    binder->follow(apply);

    auto rebuild = [menu, list, save, &context] {
        fillPresetMenu(menu, context);
        fillUserPresetList(list, save, context);
    };
    rebuild();
    // The store reports on the thread that changed it; rebuild on ours.
    struct Guard {
        std::mutex mutex;
        QWidget* body = nullptr;  // cleared, under the lock, when the card goes
    };
    auto guard = std::make_shared<Guard>();
    guard->body = body;
    const auto token = context.presets.userPresetsChanged().connect([guard, rebuild] {
        const std::lock_guard lock(guard->mutex);
        if (guard->body) QMetaObject::invokeMethod(guard->body, rebuild, Qt::QueuedConnection);
    });
    PresetStore* store = &context.presets;
    QObject::connect(body, &QObject::destroyed, [guard, store, token] {
        store->userPresetsChanged().disconnect(token);
        const std::lock_guard lock(guard->mutex);
        guard->body = nullptr;
    });
    return body;
}

}  // namespace fw::ui

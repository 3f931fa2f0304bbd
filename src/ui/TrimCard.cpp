#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/SettingsCards.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace fw::ui {

QWidget* buildTrimCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(10);
    auto* binder = new Binder(coordinator, body);

    const auto enabled = setting(coordinator, &EncodingCoordinator::trimEnabled, &EncodingCoordinator::setTrimEnabled,
                                 &EncodingCoordinator::trimEnabledChanged);
    QCheckBox* trim = makeSwitch(QObject::tr("Trim source"), QStringLiteral("trimEnabled"), body);
    binder->check(trim, enabled);
    layout->addWidget(trim);

    QWidget* group = makeGroup(body, 10);
    auto makeField = [group](const QString& placeholder, const QString& objectName) {
        auto* edit = new QLineEdit(group);
        edit->setObjectName(objectName);
        edit->setPlaceholderText(placeholder);
        edit->setFixedWidth(64);
        return edit;
    };
    QLineEdit* start = makeField(QStringLiteral("start"), QStringLiteral("trimStart"));
    QLineEdit* end = makeField(QStringLiteral("end"), QStringLiteral("trimEnd"));
    binder->number(start, setting(coordinator, &EncodingCoordinator::trimStart, &EncodingCoordinator::setTrimStart,
                                  &EncodingCoordinator::trimStartChanged));
    binder->number(end, setting(coordinator, &EncodingCoordinator::trimEnd, &EncodingCoordinator::setTrimEnd,
                                &EncodingCoordinator::trimEndChanged));
    groupLayout(group)->addWidget(
        makeRow(group,
                {makeShortCaption(QObject::tr("In"), group), start, makeShortCaption(QObject::tr("Out"), group), end,
                 makeShortCaption(QObject::tr("sec"), group), nullptr},
                6));
    groupLayout(group)->addWidget(makeCaption(
        QObject::tr("Encodes only the In→Out range (seconds). Leave Out at 0 to encode to the end."), group));
    layout->addWidget(group);

    binder->watch([group, enabled] { group->setVisible(enabled.get()); }, enabled);
    return body;
}

}  // namespace fw::ui

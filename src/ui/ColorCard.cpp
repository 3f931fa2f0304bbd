#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/SettingsCards.h"

#include <QCheckBox>
#include <QComboBox>
#include <QVBoxLayout>

#include <vector>

namespace fw::ui {

QWidget* buildColorCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(10);
    auto* binder = new Binder(coordinator, body);

    // The switch keeps a stored "on" while the codec cannot use it; a run
    // applies it only to codecs that can.
    QCheckBox* tenBit = makeSwitch(QObject::tr("10-bit depth"), QStringLiteral("tenBit"), body);
    binder->check(tenBit, setting(coordinator, &EncodingCoordinator::tenBit, &EncodingCoordinator::setTenBit,
                                  &EncodingCoordinator::tenBitChanged));
    const auto available = [&coordinator] { return supportsTenBit(coordinator.selectedCodec()); };
    binder->enableWhen(tenBit, available, &EncodingCoordinator::selectedCodecChanged);
    layout->addWidget(tenBit);
    QLabel* tenBitHelp = makeCaption(QString(), body);
    tenBitHelp->setObjectName(QStringLiteral("tenBitHelp"));
    binder->watchSignals(
        [tenBitHelp, available] {
            tenBitHelp->setText(available()
                                    ? QObject::tr("Encodes a true 10-bit output (HEVC Main 10 / ProRes) through a "
                                                  "high-precision pipeline.")
                                    : QObject::tr("10-bit needs HEVC or ProRes. H.264 and image formats are 8-bit."));
        },
        &EncodingCoordinator::selectedCodecChanged);
    layout->addWidget(tenBitHelp);
    layout->addWidget(makeDivider(body));

    const auto color = setting(coordinator, &EncodingCoordinator::color, &EncodingCoordinator::setColor,
                               &EncodingCoordinator::colorChanged);
    QCheckBox* tag = makeSwitch(QObject::tr("Tag colour space"), QStringLiteral("colorEnabled"), body);
    binder->check(tag, field(color, &ColorSettings::enabled));
    layout->addWidget(tag);

    QWidget* group = makeGroup(body, 10);
    auto* space = new QComboBox(group);
    space->setObjectName(QStringLiteral("colorTag"));
    std::vector<ColorTag> tags(EnumCases<ColorTag>::values.begin(), EnumCases<ColorTag>::values.end());
    for (ColorTag value : tags) space->addItem(QString::fromStdString(std::string(rawValue(value))));
    binder->choice(space, field(color, &ColorSettings::tag), tags);
    groupLayout(group)->addWidget(makeTitledRow(QObject::tr("Space"), space, group));
    groupLayout(group)->addWidget(
        makeCaption(QObject::tr("Labels the output’s primaries/transfer/matrix. Tagging marks intent; it doesn’t "
                                "re-map pixels, and the pipeline is 8-bit so PQ/HLG are tags, not true HDR."),
                    group));
    layout->addWidget(group);

    binder->watch([group, color] { group->setVisible(color.get().enabled); }, color);
    return body;
}

}  // namespace fw::ui

#include "ui/Binding.h"
#include "ui/CardText.h"
#include "ui/CodecControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <span>

namespace fw::ui {

namespace {

// Input limits of the key-frame interval, frames.
constexpr NumberRange kKeyFrameIntervalRange{1, 10000};

QString text(std::string_view raw) { return QString::fromUtf8(raw.data(), qsizetype(raw.size())); }

}  // namespace

QWidget* buildAdvancedCodecControls(Binder& binder, QWidget* parent) {
    EncodingCoordinator& coordinator = binder.coordinator();
    const auto h264 = setting(coordinator, &EncodingCoordinator::h264, &EncodingCoordinator::setH264,
                              &EncodingCoordinator::h264Changed);
    const auto codec = setting(coordinator, &EncodingCoordinator::selectedCodec, &EncodingCoordinator::setSelectedCodec,
                               &EncodingCoordinator::selectedCodecChanged);

    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeDivider(block));

    // One menu per profile list (H.264's, HEVC's), the one of the selected
    // codec shown. A stored profile the list lacks shows no item.
    struct ProfileMenu {
        std::span<const VideoProfile> profiles;
        QWidget* row;
    };
    std::vector<ProfileMenu> menus;
    for (const OutputCodec family : {OutputCodec::h264, OutputCodec::hevc}) {
        const std::span<const VideoProfile> profiles = availableProfiles(family);
        auto* box = new QComboBox(block);
        box->setObjectName(family == OutputCodec::h264 ? QStringLiteral("h264Profile") : QStringLiteral("hevcProfile"));
        for (const VideoProfile profile : profiles) box->addItem(text(rawValue(profile)));
        binder.choice(box, field(h264, &H264Settings::profile),
                      std::vector<VideoProfile>(profiles.begin(), profiles.end()));
        QWidget* row = makeTitledRow(QObject::tr("Profile"), box, block);
        layout->addWidget(row);
        menus.push_back({profiles, row});
    }
    binder.watch(
        [codec, menus] {
            const std::span<const VideoProfile> offered = availableProfiles(codec.get());
            for (const ProfileMenu& menu : menus)
                menu.row->setVisible(!offered.empty() && std::ranges::equal(offered, menu.profiles));
        },
        codec);

    auto* custom = new QCheckBox(QObject::tr("Custom keyframe interval"), block);
    custom->setObjectName(QStringLiteral("customKeyFrames"));
    binder.check(custom, mapped<bool, bool>(
                             field(h264, &H264Settings::keyFrameAuto), [](const bool& automatic) { return !automatic; },
                             [](const bool& customInterval) { return !customInterval; }));
    layout->addWidget(custom);

    auto* intervalRow = new QWidget(block);
    auto* intervalLayout = new QHBoxLayout(intervalRow);
    intervalLayout->setContentsMargins(0, 0, 0, 0);
    intervalLayout->setSpacing(6);
    auto* interval = new QLineEdit(intervalRow);
    interval->setObjectName(QStringLiteral("keyFrameInterval"));
    interval->setAccessibleName(QObject::tr("GOP"));
    interval->setPlaceholderText(QObject::tr("GOP"));
    interval->setFixedWidth(72);
    intervalLayout->addWidget(interval);
    intervalLayout->addWidget(makeCaption(QObject::tr("frames between keyframes"), intervalRow), 1);
    binder.integer(interval, field(h264, &H264Settings::maxKeyFrameInterval), kKeyFrameIntervalRange);
    layout->addWidget(intervalRow);

    binder.watch([h264, intervalRow] { intervalRow->setVisible(!h264.get().keyFrameAuto); }, h264);
    return block;
}

}  // namespace fw::ui

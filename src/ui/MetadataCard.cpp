#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/FilePicker.h"
#include "ui/SettingsCards.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include <array>

namespace fw::ui {

QWidget* buildMetadataCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(10);
    auto* binder = new Binder(coordinator, body);
    const auto metadata = setting(coordinator, &EncodingCoordinator::metadata, &EncodingCoordinator::setMetadata,
                                  &EncodingCoordinator::metadataChanged);

    QCheckBox* write = makeSwitch(QObject::tr("Write metadata"), QStringLiteral("metadataEnabled"), body);
    binder->check(write, field(metadata, &MetadataSettings::enabled));
    layout->addWidget(write);

    QWidget* texts = makeGroup(body, 10);
    const std::array<std::pair<QString, std::string MetadataSettings::*>, 5> textFields{{
        {QObject::tr("Title"), &MetadataSettings::title},
        {QObject::tr("Artist"), &MetadataSettings::artist},
        {QObject::tr("Description"), &MetadataSettings::descriptionText},
        {QObject::tr("Copyright"), &MetadataSettings::copyright},
        {QObject::tr("Comment"), &MetadataSettings::comment},
    }};
    constexpr std::array<const char*, 5> kObjectNames{"metadataTitle", "metadataArtist", "metadataDescription",
                                                      "metadataCopyright", "metadataComment"};
    for (std::size_t i = 0; i < textFields.size(); ++i) {
        const auto& [label, member] = textFields[i];
        QLabel* caption = makeShortCaption(label, texts);
        caption->setFixedWidth(78);
        auto* edit = new QLineEdit(texts);
        edit->setObjectName(QString::fromLatin1(kObjectNames[i]));
        edit->setPlaceholderText(label);
        binder->text(edit, field(metadata, member), Binder::Commit::onEveryEdit);
        groupLayout(texts)->addWidget(makeRow(texts, {caption, edit}, 6));
    }
    layout->addWidget(texts);
    layout->addWidget(makeDivider(body));

    QCheckBox* timecode = makeSwitch(QObject::tr("Timecode track"), QStringLiteral("writeTimecodeTrack"), body);
    binder->check(timecode, field(metadata, &MetadataSettings::writeTimecodeTrack));
    layout->addWidget(timecode);
    auto* start = new QLineEdit(body);
    start->setObjectName(QStringLiteral("startTimecode"));
    start->setPlaceholderText(QStringLiteral("00:00:00:00"));
    start->setFixedWidth(110);
    binder->text(start, field(metadata, &MetadataSettings::startTimecode), Binder::Commit::onEveryEdit);
    auto* rate = new QLineEdit(body);
    rate->setObjectName(QStringLiteral("timecodeFrameRate"));
    rate->setPlaceholderText(QStringLiteral("fps"));
    rate->setFixedWidth(52);
    binder->number(rate, field(metadata, &MetadataSettings::timecodeFrameRate));
    QWidget* timecodeRow = makeRow(body,
                                   {makeShortCaption(QObject::tr("Start"), body), start, rate,
                                    makeShortCaption(QObject::tr("fps"), body), nullptr},
                                   6);
    layout->addWidget(timecodeRow);
    layout->addWidget(makeDivider(body));

    QCheckBox* captions =
        makeSwitch(QObject::tr("Caption sidecar (.srt → .vtt)"), QStringLiteral("captionsEnabled"), body);
    binder->check(captions, field(metadata, &MetadataSettings::captionsEnabled));
    layout->addWidget(captions);
    const FileRow captionRow = makeFileRow(QObject::tr("Choose .srt…"), QStringLiteral("caption"), body);
    binder->follow(captionRow.choose);
    FilePicker& picker = context.picker;
    QObject::connect(captionRow.choose, &QAbstractButton::clicked, binder, [&picker, metadata, body] {
        const std::optional<std::filesystem::path> file =
            picker.chooseFile(body, QObject::tr("Choose an .srt caption file"),
                              QObject::tr("SubRip captions (*.srt);;Text files (*.txt)"));
        if (!file) return;
        MetadataSettings changed = metadata.get();
        changed.captionSourceURL = *file;
        metadata.set(changed);
    });
    layout->addWidget(captionRow.widget);

    binder->watch(
        [metadata, texts, timecodeRow, captionRow] {
            const MetadataSettings value = metadata.get();
            texts->setVisible(value.enabled);
            timecodeRow->setVisible(value.writeTimecodeTrack);
            captionRow.widget->setVisible(value.captionsEnabled);
            captionRow.showName(value.captionSourceURL
                                    ? QString::fromStdString(value.captionSourceURL->filename().string())
                                    : QString());
        },
        metadata);
    return body;
}

}  // namespace fw::ui

// The settings column as the window's 320-wide scroll area shows it, with the
// advanced settings shown, every card open and every switch of the advanced
// cards on, so that each of their rows is drawn.

#include "ScreenshotRegistry.h"
#include "ui/SettingsCards.h"
#include "ui/SettingsColumn.h"

#include <QApplication>
#include <QStyle>
#include <QVBoxLayout>

#include <array>

namespace fw::screenshots {

namespace {

constexpr int kColumnWidth = 320;

// Keeps the column's card context alive until after the column is gone.
class ContextHolder : public QObject {
public:
    ContextHolder(ScreenshotScene& scene, QObject* parent)
        : QObject(parent), context{scene.coordinator(),
                                   scene.presets(),
                                   scene.flags(),
                                   scene.picker(),
                                   [](ui::FolderPickerTarget) {},
                                   [] {}} {}
    ui::CardContext context;
};

void switchEverythingOn(EncodingCoordinator& coordinator) {
    GeometrySettings geometry;
    geometry.cropEnabled = true;
    geometry.cropWidth = 0.5;
    geometry.frameRateEnabled = true;
    geometry.frameRate = 29.97;
    coordinator.setGeometry(geometry);
    coordinator.setTrimEnabled(true);
    coordinator.setTrimStart(2.5);
    coordinator.setTrimEnd(12);
    FilterSettings filters;
    filters.lutEnabled = true;
    filters.lutName = "Kodak_2383_Film_Emulation_Rec709_to_Display_v2.cube";
    filters.watermarkEnabled = true;
    filters.burnTimecode = true;
    coordinator.setFilters(filters);
    AudioSettings audio;
    audio.normalizeLoudness = true;
    audio.limitTruePeak = true;
    audio.stripAudio = true;
    coordinator.setAudio(audio);
    coordinator.setColor({true, ColorTag::pq});
    MetadataSettings metadata;
    metadata.enabled = true;
    metadata.title = "Harbour at Dawn";
    metadata.writeTimecodeTrack = true;
    metadata.timecodeFrameRate = 23.976;
    metadata.captionsEnabled = true;
    metadata.captionSourceURL = "/footage/captions/harbour_dawn_english_final.srt";
    coordinator.setMetadata(metadata);
    coordinator.setPublish({true, "https://uploads.example.com/dailies/", PublishSettings::Method::put,
                            PublishSettings::Auth::basic, "editor"});
}

}  // namespace

FW_SCREENSHOT_STATE("settings-advanced-open") {
    static constexpr std::array kCardKeys{
        "card.preset.expanded",    "card.output.expanded",   "card.resize.expanded",   "card.destinations.expanded",
        "card.transform.expanded", "card.trim.expanded",     "card.filters.expanded",  "card.audio.expanded",
        "card.color.expanded",     "card.metadata.expanded", "card.filename.expanded", "card.proxy.expanded",
        "card.publish.expanded"};
    for (const char* key : kCardKeys) scene.flags().setFlag(QString::fromLatin1(key), true);
    scene.flags().setFlag(QString::fromLatin1(ui::SettingsColumn::kShowAdvancedKey), true);
    switchEverythingOn(scene.coordinator());

    // The column at its width inside the window's scroll area, scroll bar shown.
    auto* frame = new QWidget;
    frame->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* holder = new ContextHolder(scene, nullptr);
    layout->addWidget(new ui::SettingsColumn(holder->context, frame));
    holder->setParent(frame);  // a later child than the column: deleted after it
    const int width = kColumnWidth - QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    frame->setFixedWidth(width);
    // Heights read before polishing miss the style's fonts and padding.
    frame->ensurePolished();
    scene.setSizes(
        {QSize(width, frame->heightForWidth(width) > 0 ? frame->heightForWidth(width) : frame->sizeHint().height())});
    return frame;
}

}  // namespace fw::screenshots

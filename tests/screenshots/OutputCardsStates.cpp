// The settings column as wide as the window gives it (320 pixels less a
// scroll bar): the Output card for ProRes, H.264 with an exact bit rate or
// its quality badge (light and dark), DXV3, a still codec, NotchLC and HEVC
// with alpha; the Resize and Destinations cards in use; the File Name and
// Proxy cards open with both naming warnings; the Preset card with the
// user's presets (light and dark); a pixel size refused by the crop fields;
// the colour LUT and the watermark switched on without a file; and the
// controls of several cards in a dark palette.

#include "ScreenshotRegistry.h"
#include "ui/SettingsCards.h"
#include "ui/SettingsColumn.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QStyle>
#include <QVBoxLayout>

namespace fw::screenshots {

namespace {

constexpr int kColumnWidth = 320;

// A column over the scene, with the context its cards need.
class ColumnPage final : public QWidget {
public:
    explicit ColumnPage(ScreenshotScene& scene)
        : context_{scene.coordinator(),
                   scene.presets(),
                   scene.flags(),
                   scene.picker(),
                   [](ui::FolderPickerTarget) {},
                   [] {}} {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new ui::SettingsColumn(context_, this));
        setFixedWidth(kColumnWidth - style()->pixelMetric(QStyle::PM_ScrollBarExtent));
        // Style sheets and fonts settle on polishing; then the wrapped texts
        // decide the height at this width (adjustSize would measure them at
        // their own, wider, preferred width).
        ensurePolished();
        scene.setSizes({QSize(width(), heightForWidth(width()))});
    }

private:
    ui::CardContext context_;
};

// Only the named cards open.
void openOnly(ScreenshotScene& scene, std::initializer_list<const char*> keys) {
    for (const char* key :
         {"card.preset.expanded", "card.output.expanded", "card.resize.expanded", "card.destinations.expanded",
          "card.transform.expanded", "card.filters.expanded", "card.filename.expanded", "card.proxy.expanded"})
        scene.flags().setFlag(QString::fromLatin1(key), false);
    for (const char* key : keys) scene.flags().setFlag(QString::fromLatin1(key), true);
}

QWidget* outputCard(ScreenshotScene& scene, OutputCodec codec) {
    openOnly(scene, {"card.output.expanded"});
    scene.coordinator().setSelectedCodec(codec);
    return new ColumnPage(scene);
}

// H.264 at the quality the badge calls Medium: its yellow is the palest tint.
QWidget* qualityBadgeCard(ScreenshotScene& scene) {
    H264Settings h264;
    h264.crush = 0.4;
    scene.coordinator().setH264(h264);
    return outputCard(scene, OutputCodec::h264);
}

// The preset card alone: five presets saved, two deleted (three rows under one divider).
QWidget* presetsPage(ScreenshotScene& scene) {
    openOnly(scene, {"card.preset.expanded"});
    PresetStore& presets = scene.presets();
    // Saved and deleted one at a time while the card is on screen.
    auto* page = new ColumnPage(scene);
    page->show();
    for (const char* name : {"Client review", "Festival DCP master", "Web teaser", "Archive", "Dailies"}) {
        presets.savePreset(name, presets.builtIns().at(1).configuration);
        QCoreApplication::processEvents();
    }
    for (const char* name : {"Festival DCP master", "Archive"}) {
        for (const Preset& preset : presets.userPresets())
            if (preset.name == name) presets.deletePreset(preset);
        QCoreApplication::processEvents();
    }
    scene.setSizes({QSize(page->width(), page->heightForWidth(page->width()))});
    return page;
}

}  // namespace

FW_SCREENSHOT_STATE("main-output-prores") {
    scene.coordinator().setOutputAlpha(true);  // with the 4444 note
    return outputCard(scene, OutputCodec::proRes);
}

FW_SCREENSHOT_STATE("main-output-h264-exact-bitrate") {
    H264Settings h264;
    h264.useExplicitBitrate = true;
    h264.bitrateMbps = 24;
    h264.keyFrameAuto = false;
    h264.maxKeyFrameInterval = 120;
    scene.coordinator().setH264(h264);
    return outputCard(scene, OutputCodec::h264);
}

FW_SCREENSHOT_STATE("main-output-dxv3") { return outputCard(scene, OutputCodec::dxv3); }

FW_SCREENSHOT_STATE("main-output-still") { return outputCard(scene, OutputCodec::exr); }

FW_SCREENSHOT_STATE("main-output-notchlc") { return outputCard(scene, OutputCodec::notchLC); }

// HEVC with the alpha switch on: no encoder here writes it.
FW_SCREENSHOT_STATE("main-output-hevc-alpha") {
    scene.coordinator().setOutputAlpha(true);
    return outputCard(scene, OutputCodec::hevc);
}

FW_SCREENSHOT_STATE("main-cards-resize-destinations") {
    openOnly(scene, {"card.resize.expanded", "card.destinations.expanded"});
    auto& coordinator = scene.coordinator();
    coordinator.setResize({true, 1280, 720, ResizeMode::pixelPerfect});
    coordinator.setOutputDirectory(scene.folder() / "Exports for the client review" / "Final deliveries");
    coordinator.setAutoStartWatched(false);
    coordinator.startWatching(scene.folder());
    coordinator.setWatchPresetName(std::string("H.264 1080p (delivery)"));
    return new ColumnPage(scene);
}

FW_SCREENSHOT_STATE("main-cards-filename-proxy") {
    openOnly(scene, {"card.filename.expanded", "card.proxy.expanded"});
    scene.flags().setFlag(QString::fromLatin1(ui::SettingsColumn::kShowAdvancedKey), true);
    auto& coordinator = scene.coordinator();
    coordinator.setSelectedCodec(OutputCodec::hevc);
    coordinator.setNaming({""});  // both warnings
    coordinator.setProxy({ProxySettings::Codec::h264, ResolutionPreset::sd480});
    return new ColumnPage(scene);
}

FW_SCREENSHOT_STATE("main-output-quality-badge") { return qualityBadgeCard(scene); }

FW_SCREENSHOT_STATE("main-dark-output-quality-badge") {
    scene.useDarkPalette();
    return qualityBadgeCard(scene);
}

// Five saved, two deleted: three rows under one divider.
FW_SCREENSHOT_STATE("main-cards-presets") { return presetsPage(scene); }

FW_SCREENSHOT_STATE("main-dark-cards-presets") {
    scene.useDarkPalette();
    return presetsPage(scene);
}

// "1280" typed into the crop width and refused.
FW_SCREENSHOT_STATE("main-cards-crop-refused") {
    openOnly(scene, {"card.transform.expanded"});
    scene.flags().setFlag(QString::fromLatin1(ui::SettingsColumn::kShowAdvancedKey), true);
    GeometrySettings geometry;
    geometry.cropEnabled = true;
    geometry.cropX = 0.1;
    geometry.cropWidth = 0.8;
    scene.coordinator().setGeometry(geometry);
    auto* page = new ColumnPage(scene);
    // Typed into the page on screen, as the user does: the layouts then make
    // room for the refusal's note.
    page->show();
    auto* width = page->findChild<QLineEdit*>(QStringLiteral("cropWidth"));
    width->setText(QStringLiteral("1280"));
    emit width->editingFinished();
    QCoreApplication::processEvents();
    scene.setSizes({QSize(page->width(), page->heightForWidth(page->width()))});
    return page;
}

// The LUT and the watermark switched on before any file is chosen.
FW_SCREENSHOT_STATE("main-cards-filter-files-missing") {
    openOnly(scene, {"card.filters.expanded"});
    scene.flags().setFlag(QString::fromLatin1(ui::SettingsColumn::kShowAdvancedKey), true);
    FilterSettings filters;
    filters.lutEnabled = true;
    filters.watermarkEnabled = true;
    scene.coordinator().setFilters(filters);
    return new ColumnPage(scene);
}

// In a dark palette, every kind of control on the cards: check boxes on and
// off, fields, a spin box, lists, chips, sliders, a file row and its note.
FW_SCREENSHOT_STATE("main-dark-cards-controls") {
    scene.useDarkPalette();
    openOnly(scene, {"card.output.expanded", "card.resize.expanded", "card.trim.expanded", "card.filters.expanded",
                     "card.audio.expanded"});
    scene.flags().setFlag(QString::fromLatin1(ui::SettingsColumn::kShowAdvancedKey), true);
    auto& coordinator = scene.coordinator();
    coordinator.setResize({true, 1280, 720, ResizeMode::pixelPerfect});
    coordinator.setTrimEnabled(true);
    FilterSettings filters;
    filters.lutEnabled = true;
    coordinator.setFilters(filters);
    AudioSettings audio = coordinator.audio();
    audio.normalizeLoudness = true;
    coordinator.setAudio(audio);
    return new ColumnPage(scene);
}

}  // namespace fw::screenshots

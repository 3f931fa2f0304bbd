#pragma once
// The settings column's cards. Each builder returns a card's body (a widget
// with a QVBoxLayout); the main window frames it in a CollapsibleCard with
// the card's title, symbol, key and spacing. Cards keep no settings of their
// own: every control binds to the coordinator through a Binder.

#include <QString>

#include <filesystem>
#include <functional>

class QWidget;

namespace fw {
class EncodingCoordinator;
class PresetStore;
}  // namespace fw

namespace fw::ui {

class FilePicker;
class UiFlags;

// What the window's shared folder chooser sets.
enum class FolderPickerTarget { output, watch };

struct CardContext {
    EncodingCoordinator& coordinator;
    PresetStore& presets;
    UiFlags& flags;
    FilePicker& picker;
    // Opens the window's folder chooser for `target` (Destinations card).
    std::function<void(FolderPickerTarget target)> chooseFolder;
    // Raises the "Save Preset" prompt (Preset card).
    std::function<void()> showSavePreset;
};

QWidget* buildPresetCard(CardContext& context);
QWidget* buildOutputCard(CardContext& context);
QWidget* buildResizeCard(CardContext& context);
QWidget* buildDestinationsCard(CardContext& context);
QWidget* buildTransformCard(CardContext& context);
QWidget* buildTrimCard(CardContext& context);
QWidget* buildFiltersCard(CardContext& context);
QWidget* buildAudioCard(CardContext& context);
QWidget* buildColorCard(CardContext& context);
QWidget* buildMetadataCard(CardContext& context);
QWidget* buildFileNameCard(CardContext& context);
QWidget* buildProxyCard(CardContext& context);
QWidget* buildPublishCard(CardContext& context);

}  // namespace fw::ui

#pragma once
// The "Save Preset" prompt: asks for a name and saves the current main
// configuration as a user preset under it. Save and Cancel both clear the
// name; a blank name saves nothing (the store ignores it). Each opening
// puts the focus in the name field, wherever it was left the last time.
//
// Threads: the GUI thread only.

#include <QDialog>

class QLineEdit;

namespace fw {
class EncodingCoordinator;
class PresetStore;
}  // namespace fw

namespace fw::ui {

class SavePresetPrompt : public QDialog {
    Q_OBJECT

public:
    SavePresetPrompt(EncodingCoordinator& coordinator, PresetStore& presets, QWidget* parent);

    QLineEdit* nameField() const { return name_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void save();

    EncodingCoordinator& coordinator_;
    PresetStore& presets_;
    QLineEdit* name_ = nullptr;
};

}  // namespace fw::ui

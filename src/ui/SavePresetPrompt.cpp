#include "ui/SavePresetPrompt.h"

#include "coordinator/EncodingCoordinator.h"
#include "model/Presets.h"
#include "ui/AccessibleNames.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace fw::ui {

SavePresetPrompt::SavePresetPrompt(EncodingCoordinator& coordinator, PresetStore& presets, QWidget* parent)
    : QDialog(parent), coordinator_(coordinator), presets_(presets) {
    setObjectName(QStringLiteral("savePresetPrompt"));
    setWindowTitle(tr("Save Preset"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(340);
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(tr("Save Preset"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    auto* message = new QLabel(tr("Save the current output settings as a reusable preset."), this);
    message->setWordWrap(true);
    layout->addWidget(message);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("presetName"));
    name_->setPlaceholderText(tr("Preset name"));
    nameAfter(name_, name_->placeholderText());  // its only title, which typing hides
    layout->addWidget(name_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* saveButton = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
    saveButton->setObjectName(QStringLiteral("savePresetConfirm"));
    saveButton->setDefault(true);
    QPushButton* cancelButton = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("savePresetCancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SavePresetPrompt::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Closing by any way but Save (Cancel, Escape, the title bar) clears the name too.
    connect(this, &QDialog::rejected, name_, &QLineEdit::clear);
}

void SavePresetPrompt::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The dialog would give the focus back to the control that had it when it
    // closed (Cancel, after Tab and Esc), where typing goes nowhere.
    if (!event->spontaneous()) name_->setFocus(Qt::OtherFocusReason);
}

void SavePresetPrompt::save() {
    presets_.savePreset(name_->text().toStdString(), coordinator_.primaryConfiguration());
    name_->clear();
    accept();
}

}  // namespace fw::ui

#pragma once
// The main window: a title over the live preview and the queue on the left,
// the column of settings cards on the right and the action bar along the
// bottom, on a wash from the window colour to a hint of the accent.
//
// Life cycle: each time the window is shown it reads the publishing secret
// (coordinator.publishSecret()) and, while the flag "hasSeenWelcome" is
// false, opens the window "welcome" as soon as the show has been handled. The first time it is shown it asks the
// coordinator's notifier for permission (only when notifyOnCompletion is on)
// and starts the updater.
//
// Return (or Enter) presses Encode, the window's default action, unless the
// focus is in a text field: typing never starts a batch.
//
// Every start (the shortcuts, Return, the buttons, the menu, the tray) first
// ends the edit the window's caret is in, as leaving the field would, so the
// run takes the value the field shows.
//
// The window owns the CardContext its cards share: the folder chooser of
// the Destinations card and the "Save Preset" prompt of the Preset card.
//
// Threads: the GUI thread only. The environment's objects outlive the window.

#include "ui/SettingsCards.h"
#include "ui/WindowEnvironment.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>

namespace fw::ui {

class ActionBar;
class PreviewPanel;
class QueueCard;
class SavePresetPrompt;
class SettingsColumn;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(WindowEnvironment environment, QWidget* parent = nullptr);
    ~MainWindow() override;

    CardContext& cardContext() { return context_; }

    // The shared folder chooser: opens the picker at the target's current
    // folder; a chosen folder is watched (watch) or becomes the output
    // folder (output). Cancelling changes nothing.
    void chooseFolder(FolderPickerTarget target);
    // Raises the "Save Preset" prompt.
    void showSavePreset();
    // A warning band under the title, for the rest of the session or, with
    // a `topic`, until withdrawNotices(topic). The messages stack in one area
    // (object name "windowNotice"), in the order shown; a text already shown
    // is not shown twice. Their room comes out of the live preview's height.
    // With an `action`, the notice has a button titled `action.title`: it
    // runs `action.run`, and the notice goes.
    struct NoticeAction {
        QString title;
        std::function<void()> run;
    };
    void showNotice(const QString& text, const QString& topic = {}, NoticeAction action = {});
    // Takes away the notices shown with `topic` (not empty); the others stay.
    void withdrawNotices(const QString& topic);
    // The messages shown, in order.
    QStringList notices() const;

    // The secret as read when the window was last shown ("" when none).
    const QString& publishSecret() const { return publishSecret_; }

    PreviewPanel* previewPanel() const { return preview_; }
    QueueCard* queueCard() const { return queue_; }
    SettingsColumn* settingsColumn() const { return settings_; }
    ActionBar* actionBar() const { return actionBar_; }
    SavePresetPrompt* savePresetPrompt() const { return savePresetPrompt_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    // The preview card's height: its own, less the room the notices take.
    void fitPreviewToNotices();
    // The notices' area shown while it holds one, and the preview fitted.
    void noticesChanged();
    // Commits the typed text of the focused number or text field.
    void commitEditInProgress();

    WindowEnvironment environment_;
    CardContext context_;
    QString publishSecret_;
    bool shownBefore_ = false;
    QWidget* previewCard_ = nullptr;
    PreviewPanel* preview_ = nullptr;
    QWidget* notices_ = nullptr;
    QueueCard* queue_ = nullptr;
    SettingsColumn* settings_ = nullptr;
    ActionBar* actionBar_ = nullptr;
    SavePresetPrompt* savePresetPrompt_ = nullptr;
};

}  // namespace fw::ui

// The main window with the keyboard focus on a control, reached as a
// keyboard user reaches it (Tab and Shift+Tab pressed in the window), in a
// light and a dark palette: "Apply a preset", the rotation picker, "More
// settings" entered with Shift+Tab from the action bar, the column scrolled
// to show it, and "Save current as preset…" once its prompt is left with
// Esc; and, in the light palette, a fresh window after its first Tab, and
// the rotation picker entered with Tab while 180° is chosen. With the menus:
// the Help menu left with Esc, the menu bar holding the keys, and after a
// second Esc the ring back on "Save current as preset…"; the Save Preset
// prompt opened again after it was left from Cancel, and Add Files… after
// the queue's last row was removed with Delete (light and dark). The
// main window is drawn at 960 × 720 only. Then the secondary windows tabbed into: About's
// link, the manual's page, and the welcome text (light and dark).

#include "ScreenshotRegistry.h"
#include "app/AboutWindow.h"
#include "app/AppMenus.h"
#include "app/ManualWindow.h"
#include "app/QueueWatcher.h"
#include "app/WelcomeWindow.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include <cstdio>

namespace fw::screenshots {

namespace {

// Presses `key` in the shown, active `window` until the widget named
// `target` has the focus (at most once round the window).
void pressUntilFocused(ScreenshotScene& scene, QWidget* window, const char* target, Qt::Key key) {
    const Qt::KeyboardModifiers modifiers = key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier;
    for (int press = 0; press < 200; ++press) {
        QWidget* focused = QApplication::focusWidget();
        if (focused && focused->objectName() == QLatin1String(target)) return;
        QKeyEvent down(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(focused ? focused : window, &down);
        QKeyEvent up(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : window, &up);
        scene.waitUntil([] { return false; }, std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "the focus never reached %s\n", target);
}

ui::MainWindow* shownWindow(ScreenshotScene& scene) {
    ui::MainWindow* window = scene.mainWindow();
    scene.setSizes({QSize(960, 720)});
    window->resize(960, 720);
    window->show();
    window->activateWindow();
    scene.waitUntil([window] { return window->isActiveWindow(); });
    return window;
}

ui::MainWindow* focusOnApplyPreset(ScreenshotScene& scene) {
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "applyPreset", Qt::Key_Tab);
    return window;
}

// Tab reaches the picker; the right arrow then chooses 90°.
ui::MainWindow* focusOnRotation(ScreenshotScene& scene) {
    scene.flags().setFlag(QStringLiteral("showAdvancedSettings"), true);
    scene.flags().setFlag(QStringLiteral("card.transform.expanded"), true);
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "rotation0", Qt::Key_Tab);
    pressUntilFocused(scene, window, "rotation90", Qt::Key_Right);
    return window;
}

// One Tab in a fresh window: the first control.
ui::MainWindow* focusOnFirstTab(ScreenshotScene& scene) {
    ui::MainWindow* window = shownWindow(scene);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : window, &down);
    return window;
}

// 180° chosen: Tab into the picker lands on it.
ui::MainWindow* focusOnChosenRotation(ScreenshotScene& scene) {
    scene.flags().setFlag(QStringLiteral("showAdvancedSettings"), true);
    scene.flags().setFlag(QStringLiteral("card.transform.expanded"), true);
    GeometrySettings geometry = scene.coordinator().geometry();
    geometry.rotation = Rotation::r180;
    scene.coordinator().setGeometry(geometry);
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "rotation180", Qt::Key_Tab);
    return window;
}

// From Add Files, back into the column: its last control, below the fold.
ui::MainWindow* focusOnMoreSettings(ScreenshotScene& scene) {
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "addFiles", Qt::Key_Tab);
    pressUntilFocused(scene, window, "moreSettingsToggle", Qt::Key_Backtab);
    return window;
}

// The queue's only row reached with Tab and removed with Delete: the ring is
// on Add Files….
ui::MainWindow* focusAfterLastRowDeleted(ScreenshotScene& scene) {
    scene.queue({"Harbour_Dawn.mov"});
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "queueList", Qt::Key_Tab);
    pressUntilFocused(scene, window, "addFiles", Qt::Key_Delete);
    return window;
}

// "Save current as preset…" pressed with Space, its prompt tabbed through and
// left with Esc: the ring is back on the button.
ui::MainWindow* focusAfterSavePreset(ScreenshotScene& scene) {
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "savePreset", Qt::Key_Tab);
    QWidget* control = QApplication::focusWidget();
    auto* prompt = window->findChild<QWidget*>(QStringLiteral("savePresetPrompt"));
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Tab, Qt::Key_Escape}) {
        QWidget* focused = QApplication::focusWidget();
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(focused, &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(focused, &up);
        scene.waitUntil([prompt] { return !prompt->isVisible() || prompt->isActiveWindow(); });
    }
    // As the desktop makes the window active again.
    window->activateWindow();
    scene.waitUntil([window, control] { return window->isActiveWindow() && control->hasFocus(); });
    return window;
}

void press(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent down(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &up);
}

// Two user presets, the first deleted with Space from its button: the ring
// is on the delete button now in its place. The queued file's name is not
// UTF-8 (Latin-1): its row shows a replacement mark.
ui::MainWindow* focusAfterPresetDeleted(ScreenshotScene& scene) {
    scene.queue({"Caf\xe9_Archive.mov"});
    for (const char* name : {"Client review 1080p", "Web proxy"})
        scene.presets().savePreset(name, scene.presets().builtIns().at(1).configuration);
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "deletePreset", Qt::Key_Tab);
    press(QApplication::focusWidget(), Qt::Key_Space);
    scene.waitUntil([window] { return window->findChildren<QWidget*>(QStringLiteral("deletePreset")).size() == 1; });
    return window;
}

// The menus on the window, "Save current as preset…" tabbed to, the Help
// menu opened and left with Esc: the menu bar holds the keys, its Help title
// marked. With `giveBack`, a second Esc gives them back to the button.
ui::MainWindow* menuBarHeld(ScreenshotScene& scene, bool giveBack) {
    ui::MainWindow* window = shownWindow(scene);
    auto* watcher = new app::QueueWatcher(scene.coordinator(), window);
    new app::AppMenus(*window->menuBar(), scene.coordinator(), *watcher, {});
    pressUntilFocused(scene, window, "savePreset", Qt::Key_Tab);
    QMenuBar* bar = window->menuBar();
    bar->setActiveAction(bar->actions().last());
    scene.waitUntil([] { return QApplication::activePopupWidget() != nullptr; });
    if (QWidget* menu = QApplication::activePopupWidget()) press(menu, Qt::Key_Escape);
    scene.waitUntil([bar] { return bar->hasFocus(); });
    if (giveBack) {
        press(bar, Qt::Key_Escape);
        scene.waitUntil([bar] { return !bar->hasFocus(); });
    }
    return window;
}

// The prompt left from Cancel with Esc and opened again: the name field has
// the focus, and what is typed lands there.
QWidget* savePresetReopened(ScreenshotScene& scene) {
    ui::MainWindow* window = shownWindow(scene);
    pressUntilFocused(scene, window, "savePreset", Qt::Key_Tab);
    auto* prompt = window->findChild<QWidget*>(QStringLiteral("savePresetPrompt"));
    QWidget* control = QApplication::focusWidget();
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Escape}) {
        press(QApplication::focusWidget(), key);
        scene.waitUntil([prompt] { return !prompt->isVisible() || prompt->isActiveWindow(); });
    }
    window->activateWindow();
    scene.waitUntil([window, control] { return window->isActiveWindow() && control->hasFocus(); });
    press(control, Qt::Key_Space);
    scene.waitUntil([prompt] { return prompt->isActiveWindow(); });
    for (const Qt::Key key : {Qt::Key_M, Qt::Key_I, Qt::Key_N, Qt::Key_E}) {
        QKeyEvent typed(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar(key).toLower()));
        QApplication::sendEvent(QApplication::focusWidget(), &typed);
    }
    scene.setSizes({});
    return prompt;
}

// A secondary window, shown and active, after `presses` presses of Tab.
QWidget* tabbedInto(ScreenshotScene& scene, QWidget* window, int presses) {
    window->show();
    window->activateWindow();
    scene.waitUntil([window] { return window->isActiveWindow(); });
    for (int press = 0; press < presses; ++press) {
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : window, &down);
    }
    return window;
}

// Round from the text to the text.
QWidget* welcomeTextFocused(ScreenshotScene& scene) {
    QWidget* window = tabbedInto(scene, new app::WelcomeWindow(scene.flags(), [](const QString&) {}), 1);
    pressUntilFocused(scene, window, "welcomeScroll", Qt::Key_Tab);
    return window;
}

}  // namespace

FW_SCREENSHOT_STATE("main-focus-after-save-preset") { return focusAfterSavePreset(scene); }

FW_SCREENSHOT_STATE("main-dark-focus-after-save-preset") {
    scene.useDarkPalette();
    return focusAfterSavePreset(scene);
}

FW_SCREENSHOT_STATE("main-focus-after-last-row-deleted") { return focusAfterLastRowDeleted(scene); }

FW_SCREENSHOT_STATE("main-dark-focus-after-last-row-deleted") {
    scene.useDarkPalette();
    return focusAfterLastRowDeleted(scene);
}

FW_SCREENSHOT_STATE("main-focus-after-preset-deleted") { return focusAfterPresetDeleted(scene); }

FW_SCREENSHOT_STATE("main-dark-focus-after-preset-deleted") {
    scene.useDarkPalette();
    return focusAfterPresetDeleted(scene);
}

FW_SCREENSHOT_STATE("main-menu-bar-held") { return menuBarHeld(scene, false); }

FW_SCREENSHOT_STATE("main-dark-menu-bar-held") {
    scene.useDarkPalette();
    return menuBarHeld(scene, false);
}

FW_SCREENSHOT_STATE("main-focus-after-menu") { return menuBarHeld(scene, true); }

FW_SCREENSHOT_STATE("main-dark-focus-after-menu") {
    scene.useDarkPalette();
    return menuBarHeld(scene, true);
}

FW_SCREENSHOT_STATE("save-preset-reopened") { return savePresetReopened(scene); }

FW_SCREENSHOT_STATE("save-preset-reopened-dark") {
    scene.useDarkPalette();
    return savePresetReopened(scene);
}

FW_SCREENSHOT_STATE("about-focus-link") {
    return tabbedInto(scene, new app::AboutWindow(QStringLiteral("1.2"), QStringLiteral("45")), 1);
}

FW_SCREENSHOT_STATE("manual-focus") {
    scene.setSizes({QSize(520, 480)});
    return tabbedInto(scene, new app::ManualWindow, 1);
}

FW_SCREENSHOT_STATE("welcome-focus-text") { return welcomeTextFocused(scene); }

FW_SCREENSHOT_STATE("welcome-dark-focus-text") {
    scene.useDarkPalette();
    return welcomeTextFocused(scene);
}

FW_SCREENSHOT_STATE("main-focus-apply-preset") { return focusOnApplyPreset(scene); }

FW_SCREENSHOT_STATE("main-dark-focus-apply-preset") {
    scene.useDarkPalette();
    return focusOnApplyPreset(scene);
}

FW_SCREENSHOT_STATE("main-focus-rotation") { return focusOnRotation(scene); }

FW_SCREENSHOT_STATE("main-dark-focus-rotation") {
    scene.useDarkPalette();
    return focusOnRotation(scene);
}

FW_SCREENSHOT_STATE("main-focus-first-tab") { return focusOnFirstTab(scene); }

FW_SCREENSHOT_STATE("main-focus-rotation-chosen") { return focusOnChosenRotation(scene); }

FW_SCREENSHOT_STATE("main-focus-more-settings") { return focusOnMoreSettings(scene); }

FW_SCREENSHOT_STATE("main-dark-focus-more-settings") {
    scene.useDarkPalette();
    return focusOnMoreSettings(scene);
}

}  // namespace fw::screenshots

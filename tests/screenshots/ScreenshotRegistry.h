#pragma once
// The screenshot program's states: each is a named function that builds a
// window (or any widget) in one state over a fresh ScreenshotScene and
// returns it; the program shows it, lets it settle, grabs it and writes
// <output>/<name>.png (and <name>-<w>x<h>.png for each further size the
// scene asks for).
//
// Adding a state (any helper, in a .cpp file of its own in this folder;
// CMake picks up every .cpp here):
//
//     #include "ScreenshotRegistry.h"
//
//     FW_SCREENSHOT_STATE("history-window") {
//         auto* window = new fw::app::HistoryWindow(...);   // scene.environment(), scene.coordinator(), …
//         window->resize(720, 480);                          // or scene.setSizes({...})
//         return window;                                     // the program deletes it
//     }
//
// Names are lower-case words joined by '-', unique across the program, and
// start with the window they show ("main-…", "settings-…", "welcome", …).
// The body sees `scene` (ScreenshotScene&): a scratch folder with its own
// user defaults, presets, flags, a coordinator over a fake encoder backend
// whose encodes follow a script (scene.encoders()), and helpers to queue
// files, start a batch and wait for a condition. Leave pop-up windows and
// dialogs unopened: return the widget to be grabbed instead.
//
// Run: scripts/screenshots.sh [state names…]; `fw_screenshots --list`
// prints the registered names.

#include "ScreenshotScene.h"

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace fw::screenshots {

using StateFunction = QWidget* (*)(ScreenshotScene& scene);

struct State {
    std::string name;
    StateFunction make;
};

// Called by FW_SCREENSHOT_STATE during static initialisation.
bool registerState(const char* name, StateFunction make);
// Every registered state, sorted by name.
std::vector<State> registeredStates();

}  // namespace fw::screenshots

#define FW_SCREENSHOT_JOIN_INNER(a, b) a##b
#define FW_SCREENSHOT_JOIN(a, b) FW_SCREENSHOT_JOIN_INNER(a, b)
#define FW_SCREENSHOT_STATE_WITH(name, id)                                                               \
    static QWidget* FW_SCREENSHOT_JOIN(fwScreenshotState, id)(fw::screenshots::ScreenshotScene & scene); \
    [[maybe_unused]] static const bool FW_SCREENSHOT_JOIN(fwScreenshotRegistered, id) =                  \
        fw::screenshots::registerState(name, &FW_SCREENSHOT_JOIN(fwScreenshotState, id));                \
    static QWidget* FW_SCREENSHOT_JOIN(fwScreenshotState, id)([[maybe_unused]] fw::screenshots::ScreenshotScene & scene)
#define FW_SCREENSHOT_STATE(name) FW_SCREENSHOT_STATE_WITH(name, __COUNTER__)

#pragma once
// The first-run introduction (window "welcome"): a hero, four steps of the
// work flow and two buttons. "User Manual" opens the window "manual" and
// leaves this one open; "Get Started" (also Return) stores "hasSeenWelcome"
// and closes the window. Closing it any other way leaves the flag alone, so
// the main window shows it again at the next launch.
//
// Main thread only. The window does not delete itself on close; the shell
// owns it.

#include <QDialog>

#include <functional>

namespace fw::ui {
class UiFlags;
}

namespace fw::app {

class WelcomeWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kHasSeenWelcomeKey = "hasSeenWelcome";

    // `flags` outlives the window; `openWindow` opens a single window by id.
    WelcomeWindow(ui::UiFlags& flags, std::function<void(const QString& id)> openWindow, QWidget* parent = nullptr);

private:
    ui::UiFlags& flags_;
};

}  // namespace fw::app

#pragma once
// Desktop palettes for the window tests and the screenshot program: a dark
// one as a dark GTK theme hands it to Qt, and a scope that sets the
// application's palette.
//
// Threads: the GUI thread; a QApplication exists.

#include <QPalette>

#include <string>

namespace fw::test {

// Light text on dark greys, a blue accent, greyed disabled text.
QPalette darkDesktopPalette();

// A window built in one palette and shown in it or, the desktop having
// switched between light and dark while it was open, in the other.
struct PaletteSwitch {
    bool builtDark, darkened;
    std::string name() const;  // "light", "dark, then light", …
};
inline constexpr PaletteSwitch kPaletteSwitches[] = {{false, false}, {true, true}, {false, true}, {true, false}};

// The application palette for a scope; the previous one comes back after.
class ApplicationPalette {
public:
    explicit ApplicationPalette(const QPalette& palette);
    ~ApplicationPalette();
    ApplicationPalette(const ApplicationPalette&) = delete;
    ApplicationPalette& operator=(const ApplicationPalette&) = delete;

private:
    QPalette saved_;
};

}  // namespace fw::test

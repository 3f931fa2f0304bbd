#pragma once
// Desktop palettes for the window tests and the screenshot program: a dark
// one as a dark GTK theme hands it to Qt, and a scope that sets the
// application's palette.
//
// Threads: the GUI thread; a QApplication exists.

#include <QPalette>

namespace fw::test {

// Light text on dark greys, a blue accent, greyed disabled text.
QPalette darkDesktopPalette();

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

#pragma once
// The window tests' application: a QApplication on Qt's offscreen platform
// (set before it is made, with no desktop named and no platform theme), so
// the suites run without a display.

#include <QColor>
#include <QPalette>
#include <QString>

class QImage;
class QPixmap;
class QRect;

namespace fw::test {

// Lets queued signals and deferred deletions run.
void processEvents();

// A dark desktop palette, as a dark GTK theme hands it to Qt: light text on
// dark greys, a blue accent, greyed disabled text.
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

// How far a drawing stands out: the largest contrast ratio between
// `background` and a pixel of `ink` laid over it (its transparent pixels
// count as background). 1 for an empty picture.
double inkContrast(const QPixmap& ink, const QColor& background);
// The same for the pixels of `image` inside `area`.
double inkContrast(const QImage& image, const QRect& area, const QColor& background);

}  // namespace fw::test

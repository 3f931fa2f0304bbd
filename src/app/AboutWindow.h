#pragma once
// "About Framewright" (window "about"): the application's icon and name, the
// version line ("Version 1.2 (45)", or "Version 1.2" without a build number),
// a one-line description, a link to our web page and the copyright line.
// Fixed width, height from the content. Main thread only.

#include <QWidget>

namespace fw::app {

class AboutWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kWebPage = "https://framewright.io";

    // With this build's version and build number.
    explicit AboutWindow(QWidget* parent = nullptr);
    // With the given ones (an empty build number shows none).
    AboutWindow(const QString& version, const QString& buildNumber, QWidget* parent = nullptr);
};

}  // namespace fw::app

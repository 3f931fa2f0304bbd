// fw_screenshots [--output DIR] [--list] [STATE…]: draws every registered
// state (or the named ones) into DIR/<state>.png. Runs on whatever Qt
// platform it is given (Xvfb or "offscreen"); the style and locale are fixed
// and no icon theme is forced, so the pictures show what a desktop without
// its own theme (XDG_CURRENT_DESKTOP unset) shows.

#include "ScreenshotRegistry.h"
#include "app/ApplicationIcon.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLocale>
#include <QPixmap>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

// Lets layouts, queued signals and first paints run.
void settle() {
    for (int pass = 0; pass < 3; ++pass) {
        QEventLoop loop;
        QTimer::singleShot(60, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

QString fileName(const std::string& state, const QSize& size, bool first) {
    if (first) return QString::fromStdString(state) + QStringLiteral(".png");
    return QStringLiteral("%1-%2x%3.png").arg(QString::fromStdString(state)).arg(size.width()).arg(size.height());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // Icons as the program finds them on a desktop that names no theme.
    fw::ui::prepareSymbolTheme();
    QApplication::setWindowIcon(fw::app::applicationIcon());

    QString output = QStringLiteral("screenshots");
    std::set<std::string> wanted;
    bool list = false;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--output") && i + 1 < arguments.size())
            output = arguments[++i];
        else if (arguments[i] == QLatin1String("--list"))
            list = true;
        else
            wanted.insert(arguments[i].toStdString());
    }

    const std::vector<fw::screenshots::State> states = fw::screenshots::registeredStates();
    if (list) {
        for (const auto& state : states) std::printf("%s\n", state.name.c_str());
        return 0;
    }
    QDir().mkpath(output);
    int failures = 0;
    std::size_t matched = 0;
    for (const auto& state : states) {
        if (!wanted.empty() && !wanted.contains(state.name)) continue;
        ++matched;
        fw::screenshots::ScreenshotScene scene;
        std::unique_ptr<QWidget> widget(state.make(scene));
        if (!widget) {
            std::fprintf(stderr, "%s: the state made no widget\n", state.name.c_str());
            ++failures;
            continue;
        }
        std::vector<QSize> sizes = scene.sizes();
        if (sizes.empty()) {
            widget->adjustSize();
            sizes.push_back(widget->size());
        }
        widget->show();
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            widget->resize(sizes[i]);
            settle();
            const QString path = QDir(output).filePath(fileName(state.name, sizes[i], i == 0));
            if (!widget->grab().save(path)) {
                std::fprintf(stderr, "%s: could not write %s\n", state.name.c_str(), qPrintable(path));
                ++failures;
                continue;
            }
            std::printf("%s\n", qPrintable(path));
        }
        widget.reset();
    }
    if (!wanted.empty() && matched != wanted.size()) {
        std::fprintf(stderr, "fw_screenshots: some named states are not registered (see --list)\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}

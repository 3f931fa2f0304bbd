// Where the keyboard focus is shows in the secondary windows and after them,
// measured on the pixels drawn in a light and a dark palette: the ring comes
// back with the focus to the main window's control when a dialog or window
// opened from the keyboard closes (and not to one the mouse focused); the
// About link is a Tab stop that Return opens as a click does; the manual's
// page and the welcome text show a ring inside their frame when tabbed to.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "app/AboutWindow.h"
#include "app/ApplicationShell.h"
#include "app/BackgroundController.h"
#include "app/ManualWindow.h"
#include "app/QuitGuard.h"
#include "app/WelcomeWindow.h"
#include "model/Presets.h"
#include "ui/Contrast.h"
#include "ui/MainWindow.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

// Stands in for the desktop's browser.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    std::vector<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

// `widget`'s rectangle in its window grown by `margin`, inside the window.
QRect inWindow(const QWidget* widget, int margin) {
    return QRect(widget->mapTo(widget->window(), QPoint()), widget->size())
               .adjusted(-margin, -margin, margin, margin) &
           widget->window()->rect();
}

// The pixels of `before` and `after` (the same place) that differ by 3:1 or more.
int strongChanges(const QImage& before, const QImage& after) {
    int strong = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (ui::contrastRatio(QColor::fromRgb(before.pixel(x, y)), QColor::fromRgb(after.pixel(x, y))) >=
                ui::kControlEdgeContrast)
                ++strong;
    return strong;
}

// At least a ring of pixels, one all round `widget`.
int ringPixels(const QWidget* widget) { return 2 * (widget->width() + widget->height()); }

// Presses `key` where the focus is (in `window` when nowhere), at least once,
// until `target` has the focus.
bool pressUntilFocused(QWidget* window, const QWidget* target, Qt::Key key) {
    for (int press = 0; press < 20; ++press) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : window, key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        if (QApplication::focusWidget() == target) return true;
    }
    return false;
}

bool showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

// The shell over a coordinator that can stand in for a run, its Quit asking
// the usual question over the main window.
struct Shell {
    test::CoordinatorFixture fixture;
    std::unique_ptr<test::TestCoordinator> coordinator = fixture.make(EncodingCoordinator::Restore::no);
    PresetStore presets{fixture.defaults};
    ui::UiFlags flags{fixture.defaults};
    test::ScriptedFilePicker picker;
    BackgroundController background{AutostartEntry(fixture.folder / "autostart.desktop"), "/x"};
    std::unique_ptr<ApplicationShell> shell;

    Shell() {
        flags.setFlag("hasSeenWelcome", true);
        fixture.history.record("a.mov", fixture.folder / "a.mp4", "H.264", false, "Disk full");
        shell = std::make_unique<ApplicationShell>(
            ApplicationShell::Services{ui::WindowEnvironment{*coordinator, presets, flags, picker}, background,
                                       [this] { return QuitGuard::askDuringRun(&shell->mainWindow(), *coordinator); }});
    }
    ~Shell() { coordinator->setRunning(false); }
};

enum class Opened { byKeyboard, byClick };

TEST(KeyboardFocus, TheRingComesBackWithTheFocusWhenADialogCloses) {
    const struct {
        const char* name;
        // Given "Save current as preset…", which the keyboard focused (or the click focuses).
        std::function<void(Shell&, QWidget* control)> open;
        Opened opened;
    } rows[] = {
        {"Save Preset", [](Shell&, QWidget* control) { QTest::keyClick(control, Qt::Key_Space); }, Opened::byKeyboard},
        {"Settings", [](Shell&, QWidget* control) { QTest::keyClick(control, Qt::Key_Comma, Qt::ControlModifier); },
         Opened::byKeyboard},
        {"History", [](Shell&, QWidget* control) { QTest::keyClick(control, Qt::Key_Y, Qt::ControlModifier); },
         Opened::byKeyboard},
        {"Quit while encoding?",
         [](Shell& shell, QWidget* control) {
             shell.coordinator->setRunning(true);
             QTest::keyClick(control, Qt::Key_Q, Qt::ControlModifier);
         },
         Opened::byKeyboard},
        // The mouse moved the focus there: no ring before, none after.
        {"Save Preset, clicked", [](Shell&, QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); },
         Opened::byClick},
    };
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            Shell shell;
            ui::MainWindow& main = shell.shell->mainWindow();
            main.resize(960, 720);
            ASSERT_TRUE(showActive(main));
            auto* control = main.findChild<QWidget*>(QStringLiteral("savePreset"));
            if (row.opened == Opened::byKeyboard) {
                ASSERT_TRUE(pressUntilFocused(&main, control, Qt::Key_Tab));
            }

            // The user moves on inside the dialog, then leaves it with Esc;
            // the question of a Quit holds the call that opened it until then.
            bool closed = false;
            QTimer::singleShot(0, &main, [&] {
                ASSERT_TRUE(QTest::qWaitFor([&] {
                    return QApplication::activeWindow() && QApplication::activeWindow() != &main;
                }));
                QWidget* dialog = QApplication::activeWindow();
                for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Escape})
                    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog, key);
                closed = !dialog->isVisible();
            });
            row.open(shell, control);
            ASSERT_TRUE(QTest::qWaitFor([&] { return closed; })) << "Esc left the dialog open";
            // As the desktop gives the main window back its activation.
            ASSERT_TRUE(showActive(main));
            ASSERT_EQ(QApplication::focusWidget(), control);

            const QRect area = inWindow(control, 4);
            const QImage shown = main.grab(area).toImage();
            main.centralWidget()->setFocus(Qt::OtherFocusReason);
            const QImage hidden = main.grab(area).toImage();
            if (row.opened == Opened::byKeyboard)
                EXPECT_GE(strongChanges(hidden, shown), ringPixels(control)) << "no ring came back";
            else
                EXPECT_EQ(strongChanges(hidden, shown), 0) << "a ring the mouse never asked for";
        }
}

TEST(KeyboardFocus, TheAboutLinkIsATabStopThatOpensAsAClickDoes) {
    OpenedUrls browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    const struct {
        const char* name;
        Qt::Key reach;  // pressed until the link has the focus
        Qt::Key open;
    } rows[] = {
        {"Tab, Return", Qt::Key_Tab, Qt::Key_Return},
        {"Shift+Tab, Enter", Qt::Key_Backtab, Qt::Key_Enter},
    };
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            AboutWindow window(QStringLiteral("1.2"), QStringLiteral("45"));
            ASSERT_TRUE(showActive(window));
            auto* link = window.findChild<QLabel*>(QStringLiteral("aboutLink"));
            ASSERT_TRUE(link);
            const QImage plain = window.grab(inWindow(link, 4)).toImage();
            if (!pressUntilFocused(&window, link, row.reach)) {
                ADD_FAILURE() << "the keyboard never reaches the link";
                continue;
            }
            EXPECT_GE(strongChanges(plain, window.grab(inWindow(link, 4)).toImage()), ringPixels(link));

            browser.urls.clear();
            QTest::keyClick(link, row.open);
            EXPECT_EQ(browser.urls, std::vector<QUrl>{QUrl(AboutWindow::kWebPage)});
        }
    // The path a click takes.
    AboutWindow window;
    ASSERT_TRUE(showActive(window));
    browser.urls.clear();
    QLabel* link = window.findChild<QLabel*>(QStringLiteral("aboutLink"));
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    EXPECT_EQ(browser.urls, std::vector<QUrl>{QUrl(AboutWindow::kWebPage)});
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

TEST(KeyboardFocus, TextPanesShowTheirFocusInsideTheirFrame) {
    test::CoordinatorFixture fixture;
    ui::UiFlags flags{fixture.defaults};
    const auto welcome = [&flags] { return new WelcomeWindow(flags, {}); };
    const struct {
        const char* name;
        std::function<QWidget*()> make;
        const char* pane;  // the window itself when null
        Qt::Key key;
    } rows[] = {
        {"the manual's page, Tab", [] { return new ManualWindow; }, nullptr, Qt::Key_Tab},
        {"the manual's page, Shift+Tab", [] { return new ManualWindow; }, nullptr, Qt::Key_Backtab},
        {"the welcome text, Tab", welcome, "welcomeScroll", Qt::Key_Tab},
        {"the welcome text, Shift+Tab", welcome, "welcomeScroll", Qt::Key_Backtab},
    };
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            const std::unique_ptr<QWidget> window(row.make());
            ASSERT_TRUE(showActive(*window));
            QWidget* pane = row.pane ? window->findChild<QWidget*>(row.pane) : window.get();
            ASSERT_TRUE(pane);
            const QImage plain = window->grab(inWindow(pane, 4)).toImage();
            ASSERT_TRUE(pressUntilFocused(window.get(), pane, row.key));
            EXPECT_GE(strongChanges(plain, window->grab(inWindow(pane, 4)).toImage()), ringPixels(pane));
        }
}

}  // namespace
}  // namespace fw::app

#include "KeyboardFocusTest.moc"

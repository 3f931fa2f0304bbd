// Where the keyboard focus is shows in the secondary windows and after them,
// on the pixels drawn in a light and a dark palette: the ring comes back with
// the focus to the main window's control when a dialog or window opened from
// the keyboard closes (and not to a control the mouse focused); About's link
// is a Tab stop that Return opens as a click does; the manual's page and the
// welcome text show a ring inside their frame when tabbed to.

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

// At least a ring of pixels, one all round `widget`.
int ringPixels(const QWidget* widget) { return 2 * (widget->width() + widget->height()); }

// Presses `key` where the focus is, at least once, until `target` has it.
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

// The shell over a coordinator that stands in for a run; its Quit asks the
// usual question over the main window, and its history has a row.
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

TEST(KeyboardFocus, TheRingComesBackWithTheFocusWhenADialogCloses) {
    const auto keys = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return [key, modifiers](Shell&, QWidget* control) { QTest::keyClick(control, key, modifiers); };
    };
    const struct {
        const char* name;
        // Given "Save current as preset…", focused by Tab (when `byKeyboard`) or by the click.
        std::function<void(Shell&, QWidget* control)> open;
        bool byKeyboard;
    } rows[] = {
        {"Save Preset", keys(Qt::Key_Space), true},
        {"Settings", keys(Qt::Key_Comma, Qt::ControlModifier), true},
        {"History", keys(Qt::Key_Y, Qt::ControlModifier), true},
        {"Quit while encoding?",
         [](Shell& shell, QWidget* control) {
             shell.coordinator->setRunning(true);
             QTest::keyClick(control, Qt::Key_Q, Qt::ControlModifier);
         },
         true},
        // No ring before, none after.
        {"Save Preset, clicked", [](Shell&, QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }, false},
    };
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            Shell shell;
            ui::MainWindow& main = shell.shell->mainWindow();
            ASSERT_TRUE(showActive(main));
            auto* control = main.findChild<QWidget*>(QStringLiteral("savePreset"));
            if (row.byKeyboard) {
                ASSERT_TRUE(pressUntilFocused(&main, control, Qt::Key_Tab));
            }
            // The user moves on inside the dialog and leaves it with Esc (a
            // Quit's question holds the call that opened it until then).
            bool closed = false;
            QTimer::singleShot(0, &main, [&] {
                ASSERT_TRUE(QTest::qWaitFor([&] {
                    const QWidget* active = QApplication::activeWindow();
                    return active && active != &main;
                }));
                QWidget* dialog = QApplication::activeWindow();
                for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Escape})
                    QTest::keyClick(QApplication::focusWidget(), key);
                closed = !dialog->isVisible();
            });
            row.open(shell, control);
            ASSERT_TRUE(QTest::qWaitFor([&] { return closed; })) << "Esc left the dialog open";
            ASSERT_TRUE(showActive(main));  // as the desktop makes it active again
            ASSERT_EQ(QApplication::focusWidget(), control);

            const QImage shown = test::grabAround(*control, 4);
            main.centralWidget()->setFocus(Qt::OtherFocusReason);
            const int changes = test::strongChanges(test::grabAround(*control, 4), shown);
            if (row.byKeyboard)
                EXPECT_GE(changes, ringPixels(control)) << "no ring came back";
            else
                EXPECT_EQ(changes, 0) << "a ring the mouse never asked for";
        }
}

TEST(KeyboardFocus, TheAboutLinkIsATabStopThatOpensAsAClickDoes) {
    OpenedUrls browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    const std::vector<QUrl> page{QUrl(AboutWindow::kWebPage)};
    const struct {
        const char* name;
        Qt::Key reach;
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
            const QImage plain = test::grabAround(*link, 4);
            if (!pressUntilFocused(&window, link, row.reach)) {
                ADD_FAILURE() << "the keyboard never reaches the link";
                continue;
            }
            EXPECT_GE(test::strongChanges(plain, test::grabAround(*link, 4)), ringPixels(link));
            browser.urls.clear();
            QTest::keyClick(link, row.open);
            EXPECT_EQ(browser.urls, page);
        }
    // The way a click takes.
    AboutWindow window;
    ASSERT_TRUE(showActive(window));
    browser.urls.clear();
    auto* link = window.findChild<QLabel*>(QStringLiteral("aboutLink"));
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    EXPECT_EQ(browser.urls, page);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

TEST(KeyboardFocus, TextPanesShowTheirFocusInsideTheirFrame) {
    test::CoordinatorFixture fixture;
    ui::UiFlags flags{fixture.defaults};
    const auto manual = [] { return new ManualWindow; };
    const auto welcome = [&flags] { return new WelcomeWindow(flags, {}); };
    const struct {
        const char* name;
        std::function<QWidget*()> make;
        const char* pane;  // the window itself when null
        Qt::Key key;
    } rows[] = {
        {"the manual's page, Tab", manual, nullptr, Qt::Key_Tab},
        {"the manual's page, Shift+Tab", manual, nullptr, Qt::Key_Backtab},
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
            const QImage plain = test::grabAround(*pane, 4);
            ASSERT_TRUE(pressUntilFocused(window.get(), pane, row.key));
            EXPECT_GE(test::strongChanges(plain, test::grabAround(*pane, 4)), ringPixels(pane));
        }
}

}  // namespace
}  // namespace fw::app

#include "KeyboardFocusTest.moc"

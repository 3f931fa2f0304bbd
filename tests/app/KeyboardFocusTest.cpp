// Where the keyboard focus is shows in the secondary windows and after them,
// on the pixels drawn in a light and a dark palette: the ring comes back with
// the focus to the main window's control when a dialog or window opened from
// the keyboard closes (and not to a control the mouse focused), and when the
// menu bar gives back the keys, having marked the title that held them; the
// Save Preset prompt opens on its name field each time; About's link is a
// Tab stop that Return opens as a click does; the manual's page and History's
// list have the focus when they open; the last queue row removed leaves it
// on Add Files…; the manual's page and the welcome text show a ring inside
// their frame when tabbed to, along their viewport as a resize brings or takes
// the scroll bar, also once the ring has come from another window's text.

#include "TestShell.h"
#include "UiTestSupport.h"
#include "app/AboutWindow.h"
#include "app/ManualWindow.h"
#include "app/WelcomeWindow.h"
#include "app/WindowScenes.h"
#include "ui/ControlStyle.h"
#include "ui/JobRowDelegate.h"
#include "ui/MainWindow.h"
#include "ui/QueueCard.h"
#include "ui/QueueListView.h"
#include "ui/UiFlags.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <optional>

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

// The object name of the widget with the focus, or "nothing".
std::string focusedName() {
    const QWidget* focused = QApplication::focusWidget();
    return focused ? focused->objectName().toStdString() : "nothing";
}

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

// Presses `key` as the desktop does: to the window that has the keyboard,
// which hands it to its focused widget, an open menu or a shortcut.
void pressOnDesktop(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWindow* window = QGuiApplication::focusWindow();
    // Qt's offscreen screen gives the focus to no window when a menu closes.
    if (!window && QApplication::activeWindow()) window = QApplication::activeWindow()->windowHandle();
    ASSERT_TRUE(window);
    QTest::keyClick(window, key, modifiers);
}

bool showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

using test::Shell;

TEST(KeyboardFocus, TheRingComesBackWithTheFocusWhenADialogCloses) {
    const auto keys = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return [key, modifiers](Shell&, QWidget* control) { QTest::keyClick(control, key, modifiers); };
    };
    const struct {
        const char* name;
        // Given `control`, focused by Tab (when `byKeyboard`) or by the click.
        std::function<void(Shell&, QWidget* control)> open;
        bool byKeyboard;
        const char* control = "savePreset";
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
        {"Add Files…", keys(Qt::Key_Space), true, "addFiles"},
        {"Add Files…, clicked", [](Shell&, QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }, false,
         "addFiles"},
    };
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            Shell shell;
            ui::MainWindow& main = shell.shell->mainWindow();
            ASSERT_TRUE(showActive(main));
            auto* control = main.findChild<QWidget*>(row.control);
            if (row.byKeyboard) {
                ASSERT_TRUE(pressUntilFocused(&main, control, Qt::Key_Tab));
            }
            // Add Files…'s chooser leaves the window with nothing focused, as
            // a window manager was seen to, and the files are chosen.
            shell.picker.files = {test::touch(shell.fixture.folder / "a.mov")};
            shell.picker.whileChoosing = [](QWidget* parent) {
                QInputDialog::getText(parent, {}, {});
                if (QWidget* focused = parent->window()->focusWidget()) focused->clearFocus();
            };
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

// However the prompt was left, it opens again with the name field focused:
// a name typed and Return save it.
TEST(KeyboardFocus, TheSavePresetPromptOpensOnItsNameField) {
    const struct {
        const char* name;
        std::vector<Qt::Key> leftWith;  // pressed in the prompt
    } rows[] = {
        {"Tab to Save, Esc", {Qt::Key_Tab, Qt::Key_Escape}},
        {"Tab to Cancel, Esc", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Escape}},
        {"Shift+Tab to Cancel, Esc", {Qt::Key_Backtab, Qt::Key_Escape}},
    };
    // A lambda, so that a failed assertion ends only its row.
    const auto check = [](const auto& row) {
        Shell shell;
        ui::MainWindow& main = shell.shell->mainWindow();
        ASSERT_TRUE(showActive(main));
        auto* control = main.findChild<QWidget*>(QStringLiteral("savePreset"));
        ASSERT_TRUE(pressUntilFocused(&main, control, Qt::Key_Tab));
        QWidget* prompt = main.findChild<QWidget*>(QStringLiteral("savePresetPrompt"));
        const auto open = [&] {
            pressOnDesktop(Qt::Key_Space);
            return QTest::qWaitFor([&] { return prompt->isVisible() && QApplication::activeWindow() == prompt; });
        };
        ASSERT_TRUE(open());
        for (const Qt::Key key : row.leftWith)
            pressOnDesktop(key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        ASSERT_FALSE(prompt->isVisible());
        ASSERT_TRUE(showActive(main));
        ASSERT_EQ(QApplication::focusWidget(), control);

        ASSERT_TRUE(open());
        EXPECT_EQ(QApplication::focusWidget(), prompt->findChild<QLineEdit*>(QStringLiteral("presetName")));
        for (const Qt::Key key : {Qt::Key_M, Qt::Key_I, Qt::Key_N, Qt::Key_E}) pressOnDesktop(key);
        pressOnDesktop(Qt::Key_Return);
        EXPECT_FALSE(prompt->isVisible());
        ASSERT_EQ(shell.presets.userPresets().size(), 1u);
        EXPECT_EQ(shell.presets.userPresets()[0].name, "mine");
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        check(row);
    }
}

// A menu opened with Alt+H and left with Esc leaves the keys with the menu
// bar, which marks the Help title; the next Esc gives them back to the
// control, ringed as before. An item chosen from the menu (About) gives them
// back, ringed, when its window closes.
TEST(KeyboardFocus, TheMenuBarMarksTheTitleHoldingTheKeysAndGivesTheRingBack) {
    const struct {
        const char* name;
        bool chooseAbout;  // else the menu is left with Esc
    } rows[] = {
        {"Alt+H, Esc, Esc", false},
        {"Alt+H, About, Esc", true},
    };
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            Shell shell;
            ui::MainWindow& main = shell.shell->mainWindow();
            ASSERT_TRUE(showActive(main));
            auto* control = main.findChild<QWidget*>(QStringLiteral("savePreset"));
            ASSERT_TRUE(pressUntilFocused(&main, control, Qt::Key_Tab));
            const QImage ringed = test::grabAround(*control, 4);
            QMenuBar* bar = main.menuBar();
            QAction* help = bar->actions().last();
            const QRect title = bar->actionGeometry(help);
            const QImage plainTitle = bar->grab(title).toImage();

            pressOnDesktop(Qt::Key_H, Qt::AltModifier);
            ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_TRUE(menu);
            if (row.chooseAbout) {
                for (int press = 0; press < 8 && !(menu->activeAction() &&
                                                   menu->activeAction()->objectName() == QLatin1String("about"));
                     ++press)
                    pressOnDesktop(Qt::Key_Down);
                ASSERT_TRUE(menu->activeAction() && menu->activeAction()->objectName() == QLatin1String("about"));
                pressOnDesktop(Qt::Key_Return);
                QWidget* about = nullptr;
                ASSERT_TRUE(QTest::qWaitFor([&] {
                    about = shell.shell->scenes().window(QStringLiteral("about"));
                    return about && QApplication::activeWindow() == about;
                }));
                pressOnDesktop(Qt::Key_Escape);
                ASSERT_FALSE(about->isVisible());
            } else {
                pressOnDesktop(Qt::Key_Escape);
                ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }));
                // The keys are the bar's: its title shows it, and no control is ringed.
                ASSERT_EQ(QApplication::focusWidget(), bar);
                EXPECT_GE(test::strongChanges(plainTitle, bar->grab(title).toImage()),
                          title.width() * title.height() / 3)
                    << "the title holding the keys is not marked";
                EXPECT_GE(test::strongChanges(ringed, test::grabAround(*control, 4)), ringPixels(control))
                    << "a ring on a control that has not got the keys";
                pressOnDesktop(Qt::Key_Escape);
            }
            ASSERT_TRUE(showActive(main));  // as the desktop makes it active again
            ASSERT_EQ(QApplication::focusWidget(), control);
            EXPECT_EQ(test::strongChanges(plainTitle, bar->grab(title).toImage()), 0) << "the title stays marked";

            const QImage shown = test::grabAround(*control, 4);
            main.centralWidget()->setFocus(Qt::OtherFocusReason);
            EXPECT_GE(test::strongChanges(test::grabAround(*control, 4), shown), ringPixels(control))
                << "no ring came back";
        }
}

// A window opened from the main window, where a control has the focus, has
// it on its content: the manual on its page (Tab, where the desktop sends it,
// rings the page), History on its records rather than on "Clear".
TEST(KeyboardFocus, WindowsOpenWithTheFocusOnTheirContent) {
    const struct {
        const char* menuItem;
        const char* window;
        const char* content;  // the window itself when null
    } rows[] = {
        {"manual", "manual", nullptr},
        {"encodeHistory", "history", "historyList"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.window);
        Shell shell;
        ui::MainWindow& main = shell.shell->mainWindow();
        ASSERT_TRUE(showActive(main));
        ASSERT_TRUE(pressUntilFocused(&main, main.findChild<QWidget*>(QStringLiteral("savePreset")), Qt::Key_Tab));
        main.findChild<QAction*>(row.menuItem)->trigger();
        QWidget* window = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            window = shell.shell->scenes().window(row.window);
            return window && QApplication::activeWindow() == window;
        }));
        QWidget* content = row.content ? window->findChild<QWidget*>(row.content) : window;
        EXPECT_EQ(focusedName(), content->objectName().toStdString());
        if (content != window) continue;  // Tab moves on from a list
        const QImage plain = test::grabAround(*window, 0);
        pressOnDesktop(Qt::Key_Tab);
        EXPECT_GE(test::strongChanges(plain, test::grabAround(*window, 0)), ringPixels(window)) << "Tab shows nothing";
    }
}

// The queue's last row removed while the list has the focus, or cleared by
// Clear Finished (which then hides): the focus goes to Add Files…, not to the
// drop prompt, which has no name, nor to what follows in the Tab order;
// ringed when the keyboard removed the row.
TEST(KeyboardFocus, TheLastQueueRowRemovedLeavesTheFocusOnAddFiles) {
    const struct {
        const char* name;
        bool byKeyboard;             // Delete or Space, else a click
        bool clearFinished = false;  // the finished job cleared, else its row removed
    } rows[] = {{"Delete", true},
                {"remove clicked", false},
                {"Clear Finished by Space", true, true},
                {"Clear Finished clicked", false, true}};
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            Shell shell;
            shell.coordinator->addFiles({test::touch(shell.fixture.folder / "a.mov")},
                                        EncodingCoordinator::Duplicates::allowed);
            ui::MainWindow& main = shell.shell->mainWindow();
            ASSERT_TRUE(showActive(main));
            ui::QueueListView* list = main.queueCard()->list();
            auto* addFiles = main.findChild<QWidget*>(QStringLiteral("addFiles"));
            const QImage plain = test::grabAround(*addFiles, 4);
            if (row.clearFinished) {
                shell.coordinator->jobs()[0]->setStatus(EncodeJob::Status::finished);
                test::processEvents();
                auto* clear = main.findChild<QWidget*>(QStringLiteral("clearFinished"));
                if (row.byKeyboard) {
                    ASSERT_TRUE(pressUntilFocused(&main, clear, Qt::Key_Tab));
                    pressOnDesktop(Qt::Key_Space);
                } else {
                    QTest::mouseClick(clear, Qt::LeftButton);
                }
                test::processEvents();
            } else if (row.byKeyboard) {
                ASSERT_TRUE(pressUntilFocused(&main, list, Qt::Key_Tab));
                pressOnDesktop(Qt::Key_Delete);
            } else {
                const QRect remove =
                    main.queueCard()->delegate()->controlRect(list->model()->index(0, 0), ui::RowControl::remove);
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, remove.center());
            }
            ASSERT_TRUE(shell.coordinator->jobs().empty());
            EXPECT_EQ(focusedName(), "addFiles");
            const int changes = test::strongChanges(plain, test::grabAround(*addFiles, 4));
            if (row.byKeyboard)
                EXPECT_GE(changes, ringPixels(addFiles)) << "no ring on Add Files";
            else
                EXPECT_EQ(changes, 0) << "a ring the mouse never asked for";
        }
}

// A user preset deleted from the keyboard leaves the focus, ringed, in its
// card: on the delete button now in its place, the one above when it was the
// last, "Save current as preset…" (-1) when none is left.
TEST(KeyboardFocus, APresetDeletedLeavesTheFocusOnANeighbour) {
    // Presets, the one deleted, the delete button focused after.
    for (const auto& [presets, deleted, focusedAfter] : {std::tuple{2, 0, 0}, {2, 1, 0}, {1, 0, -1}}) {
        Shell shell;
        for (int index = 0; index < presets; ++index)
            shell.presets.savePreset(std::to_string(index), shell.coordinator->primaryConfiguration());
        ui::MainWindow& main = shell.shell->mainWindow();
        ASSERT_TRUE(showActive(main));
        const auto buttons = [&main] { return main.findChildren<QWidget*>(QStringLiteral("deletePreset")); };
        ASSERT_TRUE(QTest::qWaitFor([&] { return buttons().size() == presets; }));
        buttons()[deleted]->setFocus(Qt::TabFocusReason);  // as Tab gives it
        pressOnDesktop(Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor([&] { return buttons().size() == presets - 1; }));
        const QWidget* focused = QApplication::focusWidget();
        EXPECT_EQ(focused, focusedAfter < 0 ? main.findChild<QWidget*>("savePreset") : buttons()[focusedAfter]);
        EXPECT_TRUE(focused && ui::showsFocusRing(*focused)) << "no ring";
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
    // Tall enough for the manual's whole page, and the least it allows.
    const QSize whole(900, 3000), least(520, 480);
    const struct {
        const char* name;
        std::function<QWidget*()> make;
        const char* pane;  // the window itself when null
        Qt::Key key;
        std::optional<QSize> shownAt = std::nullopt;
        std::optional<QSize> resizedTo = std::nullopt;  // once ringed
        // A window whose text the ring was on first, open still.
        std::function<QWidget*()> ringedBefore = {};
    } rows[] = {
        {"the manual's page, Tab", manual, nullptr, Qt::Key_Tab},
        {"the manual's page, Shift+Tab", manual, nullptr, Qt::Key_Backtab},
        {"the welcome text, Tab", welcome, "welcomeScroll", Qt::Key_Tab},
        {"the welcome text, Shift+Tab", welcome, "welcomeScroll", Qt::Key_Backtab},
        {"the manual's page, its scroll bar gone by a resize", manual, nullptr, Qt::Key_Tab, least, whole},
        {"the manual's page, its scroll bar come by a resize", manual, nullptr, Qt::Key_Tab, whole, least},
        {"the manual's page after the welcome text, resized", manual, nullptr, Qt::Key_Tab, least, whole, welcome},
    };
    for (const bool dark : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + row.name);
            const test::ApplicationPalette palette(dark ? test::darkDesktopPalette() : QApplication::palette());
            std::unique_ptr<QWidget> before;
            if (row.ringedBefore) {
                before.reset(row.ringedBefore());
                ASSERT_TRUE(showActive(*before));
                ASSERT_TRUE(pressUntilFocused(before.get(), before->findChild<QWidget*>("welcomeScroll"), Qt::Key_Tab));
            }
            const std::unique_ptr<QWidget> window(row.make());
            if (row.shownAt) window->resize(*row.shownAt);
            ASSERT_TRUE(showActive(*window));
            QWidget* pane = row.pane ? window->findChild<QWidget*>(row.pane) : window.get();
            const auto settle = [&](QSize size) {
                window->resize(size);
                test::processEvents();
            };
            QImage plainResized;
            if (row.resizedTo) {
                settle(*row.resizedTo);
                plainResized = window->grab().toImage();
                settle(*row.shownAt);
            }
            const QImage plain = test::grabAround(*pane, 4);
            ASSERT_TRUE(pressUntilFocused(window.get(), pane, row.key));
            const QImage ringed = test::grabAround(*pane, 4);
            EXPECT_GE(test::strongChanges(plain, ringed), ringPixels(pane));
            if (!row.resizedTo) continue;
            // Along each edge of the viewport as the resize left it.
            settle(*row.resizedTo);
            const QWidget* viewport = static_cast<QAbstractScrollArea*>(pane)->viewport();
            const QRect area(viewport->mapTo(window.get(), QPoint()), viewport->size());
            const int width = ui::kFocusRingWidth;
            const std::pair<const char*, QRect> edges[] = {
                {"top", QRect(area.topLeft(), QSize(area.width(), width))},
                {"bottom", QRect(area.left(), area.bottom() + 1 - width, area.width(), width)},
                {"left", QRect(area.topLeft(), QSize(width, area.height()))},
                {"right", QRect(area.right() + 1 - width, area.top(), width, area.height())},
            };
            for (const auto& [side, edge] : edges)
                EXPECT_GE(test::strongChanges(plainResized.copy(edge), window->grab(edge).toImage()),
                          std::max(edge.width(), edge.height()))
                    << "the ring is not along the viewport's " << side << " edge";
        }
}

}  // namespace
}  // namespace fw::app

#include "KeyboardFocusTest.moc"

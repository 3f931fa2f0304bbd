// Where the keyboard focus is in the main window shows, measured on the
// pixels drawn. Walked with Tab and with Shift+Tab through a fresh window
// and through one with every card open and jobs queued, in a light and a
// dark palette: each control the focus stops on changes, once focused, at
// least a ring of pixels (one pixel all round it) at 3:1 or more against
// what they showed before; the settings column's scroll area takes no stop;
// a control focused in the column, from inside it or from elsewhere in the
// window, lies in view with its ring; and the stops go through the column
// in the order its controls are laid out, cards made later included. A
// fresh window focuses no control until the first Tab, and the rotation
// picker is one Tab stop, on the chosen rotation.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/CollapsibleCard.h"
#include "ui/MainWindow.h"
#include "ui/QueueListView.h"
#include "ui/SettingsColumn.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

constexpr int kRing = 2;  // the ring's width, outside the control

// `widget`'s rectangle in its window, grown by `margin` on every side.
QRect inWindow(const QWidget* widget, int margin = 0) {
    return QRect(widget->mapTo(widget->window(), QPoint()), widget->size()).adjusted(-margin, -margin, margin, margin);
}

std::string describe(const QWidget* widget) {
    return widget->metaObject()->className() + std::string(" '") + widget->objectName().toStdString() + "' " +
           widget->property("text").toString().toStdString();
}

enum class Cards {
    fresh,
    everyOpen,  // the advanced cards shown, every card and switch open, two jobs queued
    madeLater,  // the advanced cards shown by More settings and a preset saved, once the window is up
};

struct Walk {
    const char* name;
    Cards cards;
    Qt::Key key;
};

TEST(FocusVisibility, EveryStopOfTheTabChainShowsItsFocusInView) {
    const Walk walks[] = {
        {"fresh window, Tab", Cards::fresh, Qt::Key_Tab},
        {"fresh window, Shift+Tab", Cards::fresh, Qt::Key_Backtab},
        {"every card open, Tab", Cards::everyOpen, Qt::Key_Tab},
        {"every card open, Shift+Tab", Cards::everyOpen, Qt::Key_Backtab},
        {"More settings pressed and a preset saved, Tab", Cards::madeLater, Qt::Key_Tab},
        {"More settings pressed and a preset saved, Shift+Tab", Cards::madeLater, Qt::Key_Backtab},
    };
    for (const bool dark : {false, true})
        for (const Walk& walk : walks) {
            SCOPED_TRACE(std::string(dark ? "dark, " : "light, ") + walk.name);
            const ApplicationPalette palette(dark ? darkDesktopPalette() : QApplication::palette());
            CoordinatorFixture fixture;
            auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
            PresetStore presets{fixture.defaults};
            ScriptedFilePicker picker;
            ui::UiFlags flags{fixture.defaults};
            if (walk.cards == Cards::everyOpen) {
                flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, true);
                for (const char* card : {"destinations", "transform", "trim", "filters", "audio", "color", "metadata",
                                         "filename", "proxy", "publish"})
                    flags.setFlag(QStringLiteral("card.%1.expanded").arg(QLatin1String(card)), true);
                GeometrySettings geometry;
                geometry.cropEnabled = geometry.frameRateEnabled = true;
                coordinator->setGeometry(geometry);
                coordinator->addFiles({touch(fixture.folder / "a.mov"), touch(fixture.folder / "b.mov")},
                                      EncodingCoordinator::Duplicates::allowed);
            }
            ui::MainWindow window(ui::WindowEnvironment{
                .coordinator = *coordinator, .presets = presets, .flags = flags, .picker = picker});
            window.resize(960, 720);
            window.show();
            window.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
            if (walk.cards == Cards::madeLater) {
                window.settingsColumn()->moreSettingsToggle()->click();
                presets.savePreset("Mine", coordinator->primaryConfiguration());
                ASSERT_TRUE(QTest::qWaitFor([&] { return window.findChild<QWidget*>("deletePreset"); }));
                // Laid out: no two controls of the column on top of each other.
                QWidget* column = window.settingsColumn();
                ASSERT_TRUE(QTest::qWaitFor([column] {
                    if (!column->findChild<QWidget*>(QStringLiteral("advancedCards"))->isVisible()) return false;
                    std::vector<QRect> placed;
                    for (QWidget* control : column->findChildren<QWidget*>()) {
                        if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisibleTo(column)) continue;
                        const QRect rect(control->mapTo(column, QPoint()), control->size());
                        for (const QRect& other : placed)
                            if (rect.intersects(other) && !rect.contains(other) && !other.contains(rect)) return false;
                        placed.push_back(rect);
                    }
                    return true;
                })) << "the new cards are never laid out";
            }
            auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("settingsScroll"));
            const QRect viewport = inWindow(scroll->viewport());
            QWidget* elsewhere = window.centralWidget();  // draws no focus

            std::vector<QWidget*> stops;
            for (int press = 0; press < 300; ++press) {
                QWidget* before = QApplication::focusWidget();
                QTest::keyClick(before ? before : &window, walk.key,
                                walk.key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
                QWidget* focused = QApplication::focusWidget();
                ASSERT_TRUE(focused && focused->window() == &window);
                if (!stops.empty() && focused == stops.front()) break;
                // Through the column from top to bottom (Shift+Tab: upwards).
                QWidget* column = window.settingsColumn();
                if (!stops.empty() && column->isAncestorOf(stops.back()) && column->isAncestorOf(focused)) {
                    const QRect from(stops.back()->mapTo(column, QPoint()), stops.back()->size());
                    const QRect to(focused->mapTo(column, QPoint()), focused->size());
                    EXPECT_TRUE(walk.key == Qt::Key_Tab ? to.center().y() >= from.top()
                                                        : to.center().y() <= from.bottom())
                        << describe(stops.back()) << " is followed by " << describe(focused);
                }
                stops.push_back(focused);
                const std::string name = describe(focused);
                EXPECT_NE(focused, scroll) << "a stop that shows nothing";
                EXPECT_NE(focused, scroll->viewport()) << "a stop that shows nothing";

                // Focused, and then with the focus moved out of the way.
                const QRect area = inWindow(focused, 4) & (scroll->isAncestorOf(focused) ? viewport : window.rect());
                const QImage shown = window.grab(area).toImage();
                elsewhere->setFocus(Qt::OtherFocusReason);
                const QImage hidden = window.grab(area).toImage();
                focused->setFocus(walk.key == Qt::Key_Tab ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                EXPECT_GE(strongChanges(hidden, shown), 2 * (focused->width() + focused->height()))
                    << name << " shows too little of its focus";
                if (scroll->isAncestorOf(focused)) {
                    EXPECT_TRUE(viewport.contains(inWindow(focused, kRing))) << name << " is focused out of view";
                }
            }
            EXPECT_GT(stops.size(), walk.cards == Cards::fresh ? 10u : 20u) << "the walk never came round";
        }
}

// A main window at 960 × 720, shown and active, over a fresh coordinator;
// flags and settings are set before show().
struct ShownWindow {
    CoordinatorFixture fixture;
    std::unique_ptr<TestCoordinator> coordinator = fixture.make(EncodingCoordinator::Restore::no);
    PresetStore presets{fixture.defaults};
    ScriptedFilePicker picker;
    ui::UiFlags flags{fixture.defaults};
    std::unique_ptr<ui::MainWindow> window;

    void show() {
        window = std::make_unique<ui::MainWindow>(
            ui::WindowEnvironment{.coordinator = *coordinator, .presets = presets, .flags = flags, .picker = picker});
        window->resize(960, 720);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // Presses `key` where the focus is; returns where it is then.
    QWidget* press(Qt::Key key) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : window.get(), key,
                        key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        return QApplication::focusWidget();
    }
};

// The strong changes between two grabs of a control with `margin` pixels
// round it, in that margin only: a ring outside the control.
int changesOutside(QImage before, QImage after, int margin) {
    const QRect inside = before.rect().adjusted(margin, margin, -margin, -margin);
    for (QImage* image : {&before, &after}) QPainter(image).fillRect(inside, Qt::black);
    return strongChanges(before, after);
}

// What has the focus in a fresh window is no control, so the first Space acts
// on nothing; the first Tab lands on the first control and rings it outside
// (with jobs queued the list, which frames its current row too), Shift+Tab on
// the last.
TEST(FocusVisibility, AFreshWindowFocusesNoControlUntilTheFirstTab) {
    const struct {
        const char* name;
        bool jobs;
        Qt::Key key;
        bool dark = false;
    } rows[] = {
        {"empty queue, Tab", false, Qt::Key_Tab},
        {"empty queue, Shift+Tab", false, Qt::Key_Backtab},
        {"jobs queued, Tab", true, Qt::Key_Tab},
        {"jobs queued, Tab, dark", true, Qt::Key_Tab, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ApplicationPalette palette(row.dark ? darkDesktopPalette() : QApplication::palette());
        ShownWindow shown;
        if (row.jobs)
            shown.coordinator->addFiles({touch(shown.fixture.folder / "a.mov"), touch(shown.fixture.folder / "b.mov")},
                                        EncodingCoordinator::Duplicates::allowed);
        shown.show();
        ui::MainWindow& window = *shown.window;
        QWidget* start = QApplication::focusWidget();
        ASSERT_TRUE(start);
        EXPECT_FALSE(start->focusPolicy() & Qt::TabFocus) << describe(start) << " has the focus unseen";
        EXPECT_EQ(shown.press(Qt::Key_Space), start);
        EXPECT_TRUE(window.settingsColumn()->cards().front()->isExpanded()) << "Space folded the Preset card";
        for (const auto& job : shown.coordinator->jobs()) EXPECT_TRUE(job->enabled()) << "Space switched a job off";

        QWidget* first = shown.press(row.key);
        ASSERT_TRUE(first && first != start);
        auto* list = window.findChild<ui::QueueListView*>(QStringLiteral("queueList"));
        if (row.key == Qt::Key_Backtab)
            EXPECT_EQ(shown.press(Qt::Key_Tab), window.settingsColumn()->cards().front()->header()) << "the last";
        else if (row.jobs)
            EXPECT_TRUE(first == list && list->showsCurrentRow()) << describe(first);
        else
            EXPECT_EQ(first, window.settingsColumn()->cards().front()->header()) << describe(first);
        // Rung: against the same place with the focus out of the way.
        QWidget* focused = QApplication::focusWidget();
        const QImage ringed = window.grab(inWindow(focused, 4)).toImage();
        start->setFocus(Qt::OtherFocusReason);
        const QImage plain = window.grab(inWindow(focused, 4)).toImage();
        EXPECT_GE(strongChanges(plain, ringed), 2 * (focused->width() + focused->height())) << describe(focused);
        EXPECT_GE(changesOutside(plain, ringed, 4), 2 * (focused->width() + focused->height()))
            << describe(focused) << " has no ring outside";
    }
}

// The rotation picker is one Tab stop, as a radio group is: Tab and Shift+Tab
// land on the chosen rotation, however it came to be chosen (a preset may
// change it after the picker had the focus), and the arrows choose from it.
TEST(FocusVisibility, TheRotationPickerIsOneTabStopOnTheChosenRotation) {
    const struct {
        const char* name;
        Rotation chosen;
        std::optional<Rotation> later;  // chosen once the focus has been in the picker and left
        Qt::Key arrow;
        Rotation arrowed;
    } rows[] = {
        {"None", Rotation::none, std::nullopt, Qt::Key_Right, Rotation::r90},
        {"180°", Rotation::r180, std::nullopt, Qt::Key_Left, Rotation::r90},
        {"270°", Rotation::r270, std::nullopt, Qt::Key_Left, Rotation::r180},
        {"90° after a visit to None", Rotation::none, Rotation::r90, Qt::Key_Right, Rotation::r180},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ShownWindow shown;
        shown.flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, true);
        shown.flags.setFlag(QStringLiteral("card.transform.expanded"), true);
        const auto rotate = [&shown](Rotation rotation) {
            GeometrySettings geometry = shown.coordinator->geometry();
            geometry.rotation = rotation;
            shown.coordinator->setGeometry(geometry);
        };
        rotate(row.chosen);
        shown.show();
        const auto segment = [&shown](Rotation rotation) {
            return shown.window->findChild<QWidget*>(QStringLiteral("rotation%1").arg(rawValue(rotation)));
        };
        auto* after = shown.window->findChild<QWidget*>(QStringLiteral("flipHorizontal"));
        after->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(shown.press(Qt::Key_Backtab), segment(row.chosen));
        QWidget* before = shown.press(Qt::Key_Backtab);
        EXPECT_NE(before->parentWidget(), segment(Rotation::none)->parentWidget()) << "one stop";
        if (row.later) rotate(*row.later);
        const Rotation chosen = row.later.value_or(row.chosen);
        EXPECT_EQ(shown.press(Qt::Key_Tab), segment(chosen));
        EXPECT_EQ(shown.press(Qt::Key_Tab), after) << "one stop";
        EXPECT_EQ(shown.press(Qt::Key_Backtab), segment(chosen));
        EXPECT_EQ(shown.press(row.arrow), segment(row.arrowed));
        EXPECT_EQ(shown.coordinator->geometry().rotation, row.arrowed);
    }
}

}  // namespace
}  // namespace fw::test

// Where the keyboard focus is in the main window shows, measured on the
// pixels drawn. Walked with Tab and with Shift+Tab through a fresh window
// and through one with every card open and jobs queued, in a light and a
// dark palette: each control the focus stops on changes, once focused, at
// least a ring of pixels (one pixel all round it) at 3:1 or more against
// what they showed before; the settings column's scroll area takes no stop;
// a control focused in the column, from inside it or from elsewhere in the
// window, lies in view with its ring; and the stops go through the column
// in the order its controls are laid out, cards made later included.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/Contrast.h"
#include "ui/MainWindow.h"
#include "ui/SettingsColumn.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QImage>
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

}  // namespace
}  // namespace fw::test

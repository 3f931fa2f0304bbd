// The Settings window as a user meets it: the Updates tab's switches kept
// in the user defaults, the background switches shared with the tray menu,
// its symbols and controls standing out in a dark palette, and Escape
// closing the window.

#include "CoordinatorTestSupport.h"
#include "app/BackgroundController.h"
#include "app/QueueWatcher.h"
#include "app/SettingsWindow.h"
#include "app/TrayMenu.h"
#include "app/UpdateService.h"
#include "platform/core/UserDefaults.h"
#include "ui/UiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace fw::app {
namespace {

struct SettingsFixture {
    test::CoordinatorFixture base;
    std::unique_ptr<test::TestCoordinator> coordinator = base.make(EncodingCoordinator::Restore::no);
    BackgroundController background{AutostartEntry(base.folder / "autostart/app.desktop"), "/x"};

    std::unique_ptr<UpdateService> updateService(UserDefaults& defaults) const {
        UpdateService::Configuration configuration;
        configuration.feed = QUrl(QStringLiteral("https://127.0.0.1:1/feed.xml"));
        configuration.currentVersion = QStringLiteral("1.0");
        configuration.defaults = &defaults;
        return std::make_unique<UpdateService>(configuration);
    }
    std::unique_ptr<SettingsWindow> window(UpdateService& service) {
        return std::make_unique<SettingsWindow>(*coordinator, background,
                                                UpdateService::settingsOf([&]() -> UpdateService& { return service; }));
    }
};

// Each switch of the Updates tab is kept in the user defaults' file, and the
// next window (the next launch) shows it as left.
TEST(SettingsWindow, TheUpdatesTabKeepsBothSwitches) {
    const struct {
        const char* control;
        const char* key;
        bool initially;
    } rows[] = {
        {"receivesBetaUpdates", UpdateService::kReceiveBetaKey, false},
        {"automaticallyChecks", UpdateService::kAutomaticallyChecksKey, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.control);
        SettingsFixture fixture;
        const auto file = fixture.base.folder / "updates.json";
        {
            UserDefaults defaults(file);
            const auto service = fixture.updateService(defaults);
            const auto window = fixture.window(*service);
            window->findChild<QTabWidget*>("settingsTabs")->setCurrentIndex(2);
            window->show();
            auto* box = window->findChild<QCheckBox*>(row.control);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->isChecked(), row.initially);
            box->click();
            EXPECT_EQ(box->isChecked(), !row.initially);
        }
        UserDefaults reread(file);
        EXPECT_EQ(reread.boolean(row.key), std::optional<bool>(!row.initially));
        const auto service = fixture.updateService(reread);
        const auto window = fixture.window(*service);
        EXPECT_EQ(window->findChild<QCheckBox*>(row.control)->isChecked(), !row.initially);
    }
}

// In a dark palette the tabs' symbols and the Performance tab's own stand
// out from what they are drawn on, as the tabs' titles do.
TEST(SettingsWindow, ItsSymbolsStandOutInADarkPalette) {
    const test::ApplicationPalette dark(test::darkDesktopPalette());
    SettingsFixture fixture;
    UserDefaults defaults(fixture.base.folder / "updates.json");
    const auto service = fixture.updateService(defaults);
    const auto window = fixture.window(*service);
    window->show();
    test::processEvents();
    const QImage drawn = window->grab().toImage();
    const auto* tabs = window->findChild<QTabWidget*>("settingsTabs");
    const QTabBar* bar = tabs->tabBar();
    ASSERT_EQ(bar->count(), 3);
    for (int tab = 0; tab < bar->count(); ++tab) {
        SCOPED_TRACE(tab);
        const QRect place = bar->tabRect(tab);
        const QColor face = drawn.pixelColor(bar->mapTo(window.get(), QPoint(place.left() + 4, place.center().y())));
        const QPixmap symbol = bar->tabIcon(tab).pixmap(bar->iconSize());
        EXPECT_GE(test::inkContrast(symbol, face), 3.0);
    }
    int labels = 0;
    for (const QLabel* label : tabs->currentWidget()->findChildren<QLabel*>()) {
        if (label->pixmap().isNull() || !label->isVisible()) continue;
        const QColor page = drawn.pixelColor(label->mapTo(window.get(), QPoint(-3, label->height() / 2)));
        EXPECT_GE(test::inkContrast(label->pixmap(), page), 3.0);
        ++labels;
    }
    EXPECT_EQ(labels, 1) << "the parallel encodes' symbol";
}

// Each kind of control stands out from the page it lies on, in a light
// palette and in a dark one: the boxes of check boxes (unchecked), the
// slider's handle and track, the button's frame.
TEST(SettingsWindow, ItsControlsStandOutFromTheirPageInLightAndDarkPalettes) {
    const struct {
        int tab;
        const char* control;
    } rows[] = {
        {0, "parallelEncodes"}, {0, "notifyOnCompletion"},  {1, "launchAtLogin"},
        {2, "checkForUpdates"}, {2, "receivesBetaUpdates"},
    };
    for (const bool darkened : {false, true}) {
        SCOPED_TRACE(darkened ? "dark" : "light");
        const test::ApplicationPalette palette(darkened ? test::darkDesktopPalette() : QApplication::palette());
        SettingsFixture fixture;
        fixture.coordinator->setMaxConcurrentJobs(2);
        fixture.coordinator->setNotifyOnCompletion(false);
        UserDefaults defaults(fixture.base.folder / "updates.json");
        const auto service = fixture.updateService(defaults);
        const auto window = fixture.window(*service);
        window->show();
        for (const auto& row : rows) {
            SCOPED_TRACE(row.control);
            window->findChild<QTabWidget*>("settingsTabs")->setCurrentIndex(row.tab);
            test::processEvents();
            const auto* control = window->findChild<QWidget*>(row.control);
            ASSERT_TRUE(control && control->isVisible());
            if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
                ASSERT_FALSE(box->isChecked());
            }
            const QImage drawn = window->grab().toImage();
            const QColor page = drawn.pixelColor(control->mapTo(window.get(), QPoint(-3, control->height() / 2)));
            EXPECT_GE(test::controlEdgeContrast(drawn, *control, page), 3.0);
        }
    }
}

// The tray menu and the window show one background controller: a switch
// turned in either place shows at once in the other.
TEST(SettingsWindow, BackgroundSwitchesAgreeWithTheTrayMenu) {
    const struct {
        const char* trayAction;
        const char* control;
    } rows[] = {
        {"trayAgentMode", "runAsMenuBarAgent"},
        {"trayLaunchAtLogin", "launchAtLogin"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.control);
        SettingsFixture fixture;
        QueueWatcher watcher(*fixture.coordinator);
        TrayMenu tray(*fixture.coordinator, fixture.background, watcher, TrayMenu::Actions{[] {}, [] {}});
        UserDefaults defaults(fixture.base.folder / "updates.json");
        const auto service = fixture.updateService(defaults);
        const auto window = fixture.window(*service);
        auto* action = tray.menu().findChild<QAction*>(row.trayAction);
        auto* box = window->findChild<QCheckBox*>(row.control);
        ASSERT_TRUE(action && box);
        for (const bool on : {true, false}) {
            action->trigger();
            EXPECT_EQ(action->isChecked(), on);
            EXPECT_EQ(box->isChecked(), on) << "the window missed the tray's change";
        }
        for (const bool on : {true, false}) {
            box->click();
            EXPECT_EQ(box->isChecked(), on);
            EXPECT_EQ(action->isChecked(), on) << "the tray missed the window's change";
        }
    }
}

// The help lines under each section read as text on their tab page, also
// once the desktop has switched between light and dark.
TEST(SettingsWindow, HelpLinesReadOnTheirPageInLightAndDarkPalettes) {
    const struct {
        int tab;
        const char* startsWith;
    } rows[] = {
        {0, "Number of files encoded"},
        {0, "Shows a desktop notification"},
        {1, "Keeps watch folders"},
        {2, "Updates are checked"},
        // Red, where a file in the autostart folder's place turned "Launch at login" down.
        {1, "Could not update the autostart entry"},
    };
    const QPalette light = QApplication::palette();
    for (const test::PaletteSwitch desktop : test::kPaletteSwitches) {
        SCOPED_TRACE(desktop.name());
        const test::ApplicationPalette palette(desktop.builtDark ? test::darkDesktopPalette() : light);
        SettingsFixture fixture;
        UserDefaults defaults(fixture.base.folder / "updates.json");
        const auto service = fixture.updateService(defaults);
        std::ofstream(fixture.base.folder / "autostart") << "";
        fixture.background.setLaunchAtLogin(true);
        const auto window = fixture.window(*service);
        window->show();
        QApplication::setPalette(desktop.darkened ? test::darkDesktopPalette() : light);
        for (const auto& row : rows) {
            SCOPED_TRACE(row.startsWith);
            window->findChild<QTabWidget*>("settingsTabs")->setCurrentIndex(row.tab);
            test::processEvents();
            QLabel* help = nullptr;
            for (QLabel* label : window->findChildren<QLabel*>())
                if (label->isVisible() && label->text().startsWith(QLatin1String(row.startsWith))) help = label;
            ASSERT_TRUE(help);
            EXPECT_GE(test::textContrast(*help), 4.5);
        }
    }
}

// A screen reader names each control of each tab by the label shown with it.
TEST(SettingsWindow, EveryControlIsNamedByItsVisibleLabel) {
    SettingsFixture fixture;
    UserDefaults defaults(fixture.base.folder / "updates.json");
    const auto service = fixture.updateService(defaults);
    const auto window = fixture.window(*service);
    window->show();
    auto* tabs = window->findChild<QTabWidget*>("settingsTabs");
    for (int tab = 0; tab < tabs->count(); ++tab) {
        SCOPED_TRACE(tabs->tabText(tab).toStdString());
        tabs->setCurrentIndex(tab);
        test::processEvents();
        EXPECT_EQ(test::controlsNamedBadly(*window), std::vector<std::string>{});
    }
}

TEST(SettingsWindow, EscapeClosesIt) {
    SettingsFixture fixture;
    UserDefaults defaults(fixture.base.folder / "updates.json");
    const auto service = fixture.updateService(defaults);
    const auto window = fixture.window(*service);
    window->show();
    auto* box = window->findChild<QCheckBox*>("notifyOnCompletion");
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
    QTest::keyClick(box, Qt::Key_A);
    EXPECT_TRUE(window->isVisible());
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace fw::app

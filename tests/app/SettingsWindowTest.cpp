// The Settings window as a user meets it: the Updates tab's switches kept
// in the user defaults, the background switches shared with the tray menu,
// and Escape closing the window.

#include "CoordinatorTestSupport.h"
#include "app/BackgroundController.h"
#include "app/QueueWatcher.h"
#include "app/SettingsWindow.h"
#include "app/TrayMenu.h"
#include "app/UpdateService.h"
#include "platform/core/UserDefaults.h"
#include "ui/UiTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

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

// The welcome, manual and about windows, offscreen.

#include "app/AboutWindow.h"
#include "app/BuildInfo.h"
#include "app/ManualWindow.h"
#include "app/UpdateDialog.h"
#include "app/WelcomeWindow.h"
#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"
#include "ui/UiFlags.h"
#include "ui/UiTestSupport.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>

#include <functional>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

TEST(WelcomeWindow, OnlyGetStartedRecordsThatTheWelcomeWasSeen) {
    const struct {
        const char* name;
        std::function<void(WelcomeWindow&)> act;
        bool seen;
        bool stillOpen;
        QStringList opened;
    } cases[] = {
        {"Get Started",
         [](WelcomeWindow& w) { QTest::mouseClick(w.findChild<QPushButton*>("getStarted"), Qt::LeftButton); },
         true,
         false,
         {}},
        {"Return key", [](WelcomeWindow& w) { QTest::keyClick(&w, Qt::Key_Return); }, true, false, {}},
        {"close button", [](WelcomeWindow& w) { w.close(); }, false, false, {}},
        {"Escape key", [](WelcomeWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }, false, false, {}},
        {"User Manual",
         [](WelcomeWindow& w) { QTest::mouseClick(w.findChild<QPushButton*>("userManual"), Qt::LeftButton); },
         false,
         true,
         {QStringLiteral("manual")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        UserDefaults defaults(folder / "defaults.json");
        ui::UiFlags flags(defaults);
        QStringList opened;
        WelcomeWindow window(flags, [&](const QString& id) { opened << id; });
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        c.act(window);
        test::processEvents();
        EXPECT_EQ(window.isVisible(), c.stillOpen);
        EXPECT_EQ(opened, c.opened);
        // What the next launch reads from the file.
        UserDefaults reread(folder / "defaults.json");
        EXPECT_EQ(reread.boolean(WelcomeWindow::kHasSeenWelcomeKey).value_or(false), c.seen);
    }
}

// The steps' coloured symbols and the buttons' edges stand out from the
// window, light or dark, and its title and Get Started's label read; also
// once the desktop has switched between light and dark.
TEST(WelcomeWindow, ItsSymbolsAndButtonsStandOutInLightAndDarkPalettes) {
    const QPalette light = QApplication::palette();
    for (const test::PaletteSwitch row : test::kPaletteSwitches) {
        SCOPED_TRACE(row.name());
        const test::ApplicationPalette palette(row.builtDark ? test::darkDesktopPalette() : light);
        test::TempDir folder;
        UserDefaults defaults(folder / "defaults.json");
        ui::UiFlags flags(defaults);
        WelcomeWindow window(flags, [](const QString&) {});
        window.show();
        QApplication::setPalette(row.darkened ? test::darkDesktopPalette() : light);
        test::processEvents();
        const QImage drawn = window.grab().toImage();
        const auto beside = [&](const QWidget* widget) {
            return drawn.pixelColor(widget->mapTo(&window, QPoint(-3, widget->height() / 2)));
        };
        int symbols = 0;
        for (const QLabel* label : window.findChildren<QLabel*>()) {
            if (label->pixmap().isNull()) continue;
            EXPECT_GE(test::inkContrast(label->pixmap(), beside(label)), 3.0) << symbols;
            ++symbols;
        }
        EXPECT_EQ(symbols, 4);
        auto* title = window.findChild<QLabel*>(QStringLiteral("welcomeTitle"));
        ASSERT_TRUE(title);
        EXPECT_GE(test::textContrast(*title), 4.5) << "title";
        for (const char* name : {"userManual", "getStarted"}) {
            const auto* button = window.findChild<QPushButton*>(name);
            ASSERT_TRUE(button);
            EXPECT_GE(test::controlEdgeContrast(drawn, *button, beside(button)), 3.0) << name;
        }
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        for (const auto state : {test::ButtonState::plain, test::ButtonState::hovered, test::ButtonState::pressed,
                                 test::ButtonState::focused})
            EXPECT_GE(test::labelContrast(*window.findChild<QPushButton*>("getStarted"), state), 4.5) << int(state);
    }
}

TEST(ManualWindow, EveryParagraphWrapsWhole) {
    ManualWindow window;
    for (const QSize size : {QSize(520, 480), QSize(1100, 700), QSize(300, 200)}) {
        SCOPED_TRACE(size.width());
        window.resize(size);
        window.show();
        test::processEvents();
        EXPECT_GE(window.width(), 520);
        EXPECT_GE(window.height(), 480);
        const QList<QLabel*> paragraphs = window.findChildren<QLabel*>(QStringLiteral("manualParagraph"));
        ASSERT_EQ(paragraphs.size(), 11);
        for (const QLabel* paragraph : paragraphs) {
            EXPECT_TRUE(paragraph->wordWrap());
            EXPECT_GE(paragraph->height(), paragraph->heightForWidth(paragraph->width()));
            EXPECT_LE(paragraph->geometry().right(), window.viewport()->width());
        }
        // The page is taller than the window: it scrolls instead of squeezing.
        EXPECT_GT(window.verticalScrollBar()->maximum(), 0);
    }
}

// A format with no encoder here is named only to say so.
TEST(ManualWindow, NamesTheFormatsThisSystemCannotProduceAsUnavailable) {
    ManualWindow window;
    QStringList sentences;
    for (const QLabel* paragraph : window.findChildren<QLabel*>(QStringLiteral("manualParagraph")))
        sentences << paragraph->text().split(QStringLiteral(". "));
    int named = 0;
    for (const QString& sentence : sentences)
        for (const char* format : {"HEVC+Alpha", "HEVC + Alpha", "HEVC with alpha", "NotchLC"})
            if (sentence.contains(QLatin1String(format), Qt::CaseInsensitive)) {
                ++named;
                EXPECT_TRUE(sentence.contains(QStringLiteral("not available on this system")))
                    << sentence.toStdString();
            }
    EXPECT_GE(named, 1) << "the manual says nothing about HEVC with alpha";
}

TEST(AboutWindow, ShowsTheBuildNumberOnlyWhenThereIsOne) {
    const struct {
        QString version, build, shown;
    } cases[] = {
        {"1.2", "45", "Version 1.2 (45)"},
        {"1.2", "", "Version 1.2"},
    };
    for (const auto& c : cases) {
        const AboutWindow window(c.version, c.build);
        EXPECT_EQ(window.findChild<QLabel*>("aboutVersion")->text(), c.shown);
    }
    const AboutWindow built;
    EXPECT_TRUE(built.findChild<QLabel*>("aboutVersion")->text().startsWith("Version " + applicationVersion()));
}

// Every line of About reads as text on the window, the link and the faint
// © line included; also once the desktop has switched between light and dark.
TEST(AboutWindow, ItsLinesReadInLightAndDarkPalettes) {
    const QPalette light = QApplication::palette();
    for (const test::PaletteSwitch row : test::kPaletteSwitches) {
        SCOPED_TRACE(row.name());
        const test::ApplicationPalette palette(row.builtDark ? test::darkDesktopPalette() : light);
        AboutWindow window(QStringLiteral("1.0"), QStringLiteral("42"));
        window.show();
        QApplication::setPalette(row.darkened ? test::darkDesktopPalette() : light);
        test::processEvents();
        int lines = 0;
        for (QLabel* label : window.findChildren<QLabel*>()) {
            if (label->text().isEmpty()) continue;  // the icon
            SCOPED_TRACE(label->text().toStdString());
            EXPECT_GE(test::textContrast(*label), 4.5);
            ++lines;
        }
        EXPECT_EQ(lines, 5);
    }
}

TEST(UpdateDialog, ShowsTheNotesAndOpensOnlyTheDownloadPage) {
    const UpdateItem item{"Framewright 1.3", "1.3", "beta", "<ul><li>Faster <b>HEVC</b></li></ul>",
                          QUrl("https://framewright.io/download/1.3")};
    std::vector<QUrl> opened;
    UpdateDialog dialog(item, "1.2", nullptr, [&](const QUrl& url) { opened.push_back(url); });
    dialog.show();
    EXPECT_EQ(dialog.findChild<QTextBrowser*>("releaseNotes")->toPlainText().trimmed(), "Faster HEVC");
    EXPECT_TRUE(dialog.findChild<QLabel*>("updateSummary")->text().contains("1.3 (beta)"));
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(opened, std::vector<QUrl>{item.downloadPage});
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace fw::app

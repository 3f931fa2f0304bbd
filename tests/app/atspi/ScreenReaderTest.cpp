// The windows as a screen reader reads them over AT-SPI: a combo box gives
// its choice as its text and announces a new one as that text changing, and
// every control a reader can land on has a name.

#include "AtSpiSession.h"
#include "PrivateSessionBus.h"
#include "TestShell.h"
#include "app/SettingsWindow.h"
#include "app/WindowScenes.h"
#include "ui/CollapsibleCard.h"
#include "ui/MainWindow.h"
#include "ui/SettingsColumn.h"

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

// Long enough for any loaded machine; conditions are awaited, not times.
constexpr int kReadLimit_ms = 60000;

using test::Shell;

ui::MainWindow& shownMainWindow(Shell& shell) {
    ui::MainWindow& main = shell.shell->mainWindow();
    main.show();
    main.activateWindow();
    return main;
}

// The object a reader finds for `window`: this application's window of that title.
test::AtSpiObject windowRead(test::AtSpiReader& reader, const QWidget& window) {
    test::AtSpiObject found;
    const bool listed = test::waitUntil(
        [&] {
            for (const test::AtSpiObject& application : reader.applications())
                for (const test::AtSpiObject& shown : reader.children(application))
                    if (reader.name(shown) == window.windowTitle()) {
                        found = shown;
                        return true;
                    }
            return false;
        },
        kReadLimit_ms);
    EXPECT_TRUE(listed) << window.windowTitle().toStdString() << " is not in the accessibility tree";
    return found;
}

// Each box is found by its label; its choice is read before and after a key
// or a preset changes it, and the change comes as the text replaced.
TEST(ScreenReaders, ComboBoxesReadTheirChoiceAndHearItChange) {
    if (!test::atSpiUnavailable().empty()) GTEST_SKIP() << "no accessibility bus: " << test::atSpiUnavailable();
    const struct {
        const char* box;
        const char* label;
        Qt::Key key;
        const char* before;
        const char* after;
        const char* preset = nullptr;  // applied from the card's menu instead of the key
    } rows[] = {
        {"proResVariant", "Quality", Qt::Key_Up, "422 HQ", "422"},
        {"outputCodec", "Format", Qt::Key_Down, "ProRes", "H.264"},
        {"outputCodec", "Format", Qt::Key_unknown, "ProRes", "H.264", "H.264 1080p (delivery)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Shell shell;
        shell.coordinator->setSelectedCodec(OutputCodec::proRes);
        shell.coordinator->setProResVariant(ProResVariant::hq);
        test::AtSpiReader reader;
        reader.listen(QStringLiteral("object:text-changed"));
        const test::AtSpiObject window = windowRead(reader, shownMainWindow(shell));
        const std::vector<test::AtSpiObject> boxes = reader.find(window, [&](const test::AtSpiObject& object) {
            return reader.role(object) == QLatin1String("combo box") && reader.name(object) == row.label &&
                   reader.has(object, test::AtSpiState::showing);
        });
        ASSERT_EQ(boxes.size(), 1u) << "no one box reads as " << row.label;
        EXPECT_EQ(reader.text(boxes[0]).toStdString(), row.before);

        if (row.preset) {
            for (QAction* item : shell.shell->mainWindow().findChild<QMenu*>("presetMenu")->actions())
                if (item->text() == QLatin1String(row.preset)) item->trigger();
        } else {
            QTest::keyClick(shell.shell->mainWindow().findChild<QComboBox*>(row.box), row.key);
        }
        const auto announced = [&] {
            for (const test::AtSpiEvent& event : reader.events())
                if (event.source == boxes[0] && event.name == QLatin1String("TextChanged") &&
                    event.detail == QLatin1String("insert") && event.data.toString() == QLatin1String(row.after))
                    return true;
            return false;
        };
        EXPECT_TRUE(test::waitUntil(announced, kReadLimit_ms)) << "the new choice was not announced";
        EXPECT_EQ(reader.text(boxes[0]).toStdString(), row.after);
    }
}

// What a reader lands on, by Tab or by its own review keys, says what it is:
// each control shown, scrolled into view or not.
TEST(ScreenReaders, EveryFocusableObjectHasAName) {
    if (!test::atSpiUnavailable().empty()) GTEST_SKIP() << "no accessibility bus: " << test::atSpiUnavailable();
    const struct {
        const char* name;
        std::function<QWidget*(Shell&)> open;
    } rows[] = {
        {"the main window, every card open",
         [](Shell& shell) {
             ui::MainWindow& main = shownMainWindow(shell);
             shell.flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, true);
             for (ui::CollapsibleCard* card : main.settingsColumn()->cards()) card->setExpanded(true);
             return &main;
         }},
        {"Welcome",
         [](Shell& shell) {
             shell.shell->scenes().open(QStringLiteral("welcome"));
             return shell.shell->scenes().window(QStringLiteral("welcome"));
         }},
        {"Settings",
         [](Shell& shell) {
             shell.shell->showSettings();
             return static_cast<QWidget*>(shell.shell->settingsWindow());
         }},
        {"History",
         [](Shell& shell) {
             shell.shell->scenes().open(QStringLiteral("history"));
             return shell.shell->scenes().window(QStringLiteral("history"));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Shell shell;
        shownMainWindow(shell);
        QWidget* opened = row.open(shell);
        ASSERT_TRUE(opened);
        test::AtSpiReader reader;
        const test::AtSpiObject window = windowRead(reader, *opened);
        std::vector<std::string> unnamed;
        reader.find(window, [&](const test::AtSpiObject& object) {
            if (reader.has(object, test::AtSpiState::focusable) && reader.has(object, test::AtSpiState::visible) &&
                reader.name(object).isEmpty())
                unnamed.push_back(reader.role(object).toStdString());
            return false;
        });
        EXPECT_EQ(unnamed, std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace fw::app

// The history window over a persisting store: what each row offers, the
// reveal button's file check at the moment of the click, the keyboard's way
// to it, clearing, and colours that read on the rows in light and dark.

#include "CoordinatorTestSupport.h"
#include "app/HistoryListModel.h"
#include "app/HistoryRowDelegate.h"
#include "app/HistoryWindow.h"
#include "platform/core/Json.h"
#include "ui/UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

struct Row {
    std::string outputName;
    bool succeeded;
    std::string message;  // shown under the caption; empty: no message line
    bool revealable;
    std::string heard;  // how a screen reader's reading of the row starts
};

TEST(HistoryWindow, RowsRevealOnlyExistingFilesAndClearAsksFirst) {
    test::TempDir folder;
    const auto kept = test::touch(folder / "kept.mov");
    const auto removedLater = test::touch(folder / "removed_later.mp4");
    EncodeHistoryStore store(folder / "support");
    store.record("a.mov", kept, "ProRes", true, "ignored for successes");
    store.record("b.mov", folder / "never_written.mp4", "H.264", false, "Disk full");
    store.record("c.mov", std::nullopt, "HEVC", false, std::nullopt);
    store.record("d.mov", removedLater, "Hap", true, std::nullopt, {}, {0.46, 12, 1.04});

    HistoryWindow window(store);
    std::vector<std::filesystem::path> revealed;
    window.setRevealer([&](const std::filesystem::path& path) { revealed.push_back(path); });
    int asked = 0;
    bool answer = false;
    window.setConfirmation([&](QWidget*) {
        ++asked;
        return answer;
    });
    window.resize(600, 500);
    window.show();
    test::processEvents();

    auto* list = window.findChild<QListView*>(QStringLiteral("historyList"));
    auto* clear = window.findChild<QPushButton*>(QStringLiteral("clearHistory"));
    auto* content = window.findChild<QStackedWidget*>(QStringLiteral("historyContent"));
    ASSERT_TRUE(list && clear && content);
    EXPECT_EQ(content->currentWidget(), list);
    EXPECT_TRUE(clear->isEnabled());

    std::filesystem::remove(removedLater);  // after the rows were drawn
    const Row expected[] = {
        {"removed_later.mp4", true,
         "12 damaged pictures left out; 0.5 s of damaged sound replaced by silence; 1.0 s of damaged sound left out",
         false, "removed_later.mp4, Succeeded, Hap · "},
        {"c.mov", false, "", false, "c.mov, Failed, HEVC · "},  // never written: named by its source
        {"never_written.mp4", false, "Disk full", false, "never_written.mp4, Failed, H.264 · "},
        {"kept.mov", true, "", true, "kept.mov, Succeeded, ProRes · "},
    };
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(list);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Encode History");
    ASSERT_EQ(list->model()->rowCount(), static_cast<int>(std::size(expected)));
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const Row& want = expected[row];
        SCOPED_TRACE(want.outputName);
        const QModelIndex index = list->model()->index(row, 0);
        EXPECT_EQ(index.data().toString().toStdString(), want.outputName);
        EXPECT_EQ(index.data(HistoryListModel::SucceededRole).toBool(), want.succeeded);
        EXPECT_EQ(index.data(HistoryListModel::MessageRole).toString().toStdString(), want.message);
        EXPECT_TRUE(index.data(HistoryListModel::CaptionRole).toString().contains(QStringLiteral(" · ")));
        // Read by a screen reader: the name, the outcome, the caption, then the message.
        const QString heard = accessible->tableInterface()->cellAt(row, 0)->text(QAccessible::Name);
        EXPECT_TRUE(heard.startsWith(QString::fromStdString(want.heard))) << heard.toStdString();
        EXPECT_TRUE(heard.endsWith(QString::fromStdString(want.message))) << heard.toStdString();
        const std::size_t before = revealed.size();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          HistoryRowDelegate::revealRect(list->visualRect(index)).center());
        EXPECT_EQ(revealed.size(), before + (want.revealable ? 1 : 0));
    }
    ASSERT_EQ(revealed.size(), 1u);
    EXPECT_EQ(revealed[0], kept);

    // A record made while the window is open appears at the top.
    store.record("e.mov", std::nullopt, "GIF", true, std::nullopt);
    test::processEvents();
    ASSERT_EQ(list->model()->rowCount(), 5);
    EXPECT_TRUE(list->model()->index(0, 0).data(HistoryListModel::CaptionRole).toString().startsWith("GIF"));

    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(store.records().size(), 5u);
    answer = true;
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(store.records().empty());
    EXPECT_EQ(Json::parse(std::ifstream(*store.file())), Json::array());
    EXPECT_EQ(content->currentWidget()->objectName(), QStringLiteral("emptyHistory"));
    EXPECT_FALSE(clear->isEnabled());
}

// The current row's file is shown by Return or keypad Enter, or from the
// row's menu (the menu key, Shift+F10), as by its button; a row whose file is
// gone, or went after the window opened, offers nothing and asks for nothing.
TEST(HistoryWindow, TheKeyboardRevealsTheCurrentRowsFile) {
    const struct {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool menu;                 // the key opens the row's menu, whose item reveals
        bool keptRemoved = false;  // the file of the second row goes once the window is open
    } rows[] = {
        {"Return", Qt::Key_Return, {}, false},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, false},
        {"menu key", Qt::Key_Menu, {}, true},
        {"Shift+F10", Qt::Key_F10, Qt::ShiftModifier, true},
        {"Return, the file removed after the window opened", Qt::Key_Return, {}, false, true},
    };
    // A lambda, so that a failed assertion ends only its row.
    const auto check = [](const auto& row) {
        test::TempDir folder;
        const auto kept = test::touch(folder / "kept\xe9.mov");  // a Latin-1 name
        EncodeHistoryStore store(folder / "support");
        store.record("a.mov", kept, "ProRes", true, std::nullopt);
        store.record("b.mov", folder / "gone.mp4", "H.264", true, std::nullopt);
        HistoryWindow window(store);
        std::vector<std::filesystem::path> revealed;
        window.setRevealer([&](const std::filesystem::path& path) { revealed.push_back(path); });
        window.resize(600, 400);
        window.show();
        test::processEvents();
        auto* list = window.findChild<QListView*>(QStringLiteral("historyList"));
        ASSERT_TRUE(list);
        list->setFocus(Qt::TabFocusReason);
        // What the rows ask of the file manager, before the window looks again.
        QSignalSpy asked(list->itemDelegate(), SIGNAL(revealRequested(QByteArray)));

        list->setCurrentIndex(list->model()->index(0, 0));  // gone.mp4, the newest
        QTest::keyClick(list, row.key, row.modifiers);
        EXPECT_EQ(window.findChild<QMenu*>(QStringLiteral("rowMenu")), nullptr) << "a menu with nothing to do";
        EXPECT_TRUE(revealed.empty());
        EXPECT_EQ(asked.count(), 0) << "asked for a file that is gone";

        QTest::keyClick(list, Qt::Key_Down);
        ASSERT_EQ(list->currentIndex().row(), 1);
        if (row.keptRemoved) {
            std::filesystem::remove(kept);
            QTest::keyClick(list, row.key, row.modifiers);
            EXPECT_TRUE(revealed.empty());
            EXPECT_EQ(asked.count(), 0) << "asked for a file that is gone";
            return;
        }
        QTest::keyClick(list, row.key, row.modifiers);
        if (row.menu) {
            auto* menu = window.findChild<QMenu*>(QStringLiteral("rowMenu"));
            ASSERT_NE(menu, nullptr);
            ASSERT_EQ(menu->actions().size(), 1);
            EXPECT_EQ(menu->actions().front()->text(), QStringLiteral("Show in File Manager"));
            menu->actions().front()->trigger();
            delete menu;
        }
        ASSERT_EQ(revealed.size(), 1u);
        EXPECT_EQ(revealed[0], kept);
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        check(row);
    }
}

// The name, the failure's message and the captions read at 4.5:1 on the
// row, the status marks and the reveal button stand out at 3:1, as the
// window draws them, on a plain row, on the selection, and on the current
// row that the style frames once the keyboard has moved the focus; the
// window's title reads too. Also once the desktop has switched between
// light and dark under the open window.
TEST(HistoryWindow, TextAndMarksReadOnTheRowsInLightAndDarkPalettes) {
    const struct {
        const char* name;
        bool dark;
        bool selected;
        bool current = false;   // the failed row, unselected, reached by Tab
        bool switched = false;  // built in the other palette
    } rows[] = {
        {"light", false, false},
        {"dark", true, false},
        {"light, selected", false, true},
        {"dark, selected", true, true},
        {"light, current", false, false, true},
        {"dark, current", true, false, true},
        {"light, then dark", true, false, false, true},
        {"dark, then light", false, false, false, true},
    };
    const QPalette light = QApplication::palette();
    const auto check = [&light](const auto& row) {
        const test::ApplicationPalette palette(row.dark != row.switched ? test::darkDesktopPalette() : light);
        test::TempDir folder;
        EncodeHistoryStore store(folder / "support");
        store.record("a.mov", test::touch(folder / "a.mov"), "ProRes", true, std::nullopt, {}, {1.5});
        store.record("b.mov", folder / "b.mp4", "H.264", false, "Could not read the video track.");
        HistoryWindow window(store);
        window.resize(600, 400);
        window.show();
        test::processEvents();
        if (row.switched) {
            QApplication::setPalette(row.dark ? test::darkDesktopPalette() : light);
            test::processEvents();
        }
        auto* title = window.findChild<QLabel*>(QStringLiteral("historyTitle"));
        ASSERT_TRUE(title);
        EXPECT_GE(test::textContrast(*title), 4.5) << "title";
        auto* list = window.findChild<QListView*>(QStringLiteral("historyList"));
        ASSERT_TRUE(list);
        if (row.current) {
            window.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
            for (int press = 0; press < 10 && (press == 0 || !list->hasFocus()); ++press)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            ASSERT_TRUE(list->hasFocus());
            list->selectionModel()->setCurrentIndex(list->model()->index(0, 0), QItemSelectionModel::Clear);
        }
        // Both rows at once (the list itself selects one at a time).
        if (row.selected)
            list->selectionModel()->select(QItemSelection(list->model()->index(0, 0), list->model()->index(1, 0)),
                                           QItemSelectionModel::Select);
        // Strokes wide enough to show their ink whole, not only blended at their edges.
        QFont large = list->font();
        large.setPointSize(18);
        list->setFont(large);
        test::processEvents();
        const QImage drawn = list->viewport()->grab().toImage();
        for (int record = 0; record < 2; ++record) {
            const QModelIndex index = list->model()->index(record, 0);
            const QRect rect = list->visualRect(index);
            const auto parts =
                HistoryRowDelegate::parts(rect, list->font(), index.data(HistoryListModel::MessageRole).toString());
            // What a part lies on, beside it: the current row's frame shades from top to bottom.
            const auto ink = [&](const QRect& part) {
                const QColor under = QColor::fromRgb(drawn.pixel(rect.left() + 2, part.center().y()));
                return test::inkContrast(drawn, part, under);
            };
            const bool failed = record == 0;
            SCOPED_TRACE(failed ? "failed" : "succeeded");
            // The mark's disc, left of what is cut out of it.
            EXPECT_GE(ink(QRect(parts.mark.left() + 2, parts.mark.center().y(), 1, 1)), 3.0) << "status mark";
            EXPECT_GE(ink(parts.name), 4.5) << "name";
            if (!failed) {
                EXPECT_GE(ink(parts.reveal), 3.0) << "reveal button";
            }
            EXPECT_GE(ink(parts.caption), 4.5) << "caption";
            ASSERT_FALSE(parts.message.isEmpty());
            EXPECT_GE(ink(parts.message), 4.5) << "message";
        }
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        check(row);
    }
}

// Real encodes through the coordinator: what the history window then shows
// for a picture source, a sound-only source and a source that cannot be read.
TEST(HistoryWindow, RealEncodesAreNamedAndLabelledByWhatWasWritten) {
    test::CoordinatorFixture fixture;
    const auto movie = test::generated(
        "history_movie.mov", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:d=0.5", "-c:v", "mjpeg", "-an"});
    const auto sound = test::generated("history_sound.wav",
                                       {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=0.5"});
    ASSERT_FALSE(movie.empty() || sound.empty());
    const auto broken = test::touch(fixture.folder / "broken.mov");
    auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
    coordinator->setSelectedCodec(OutputCodec::h264);
    coordinator->setOutputDirectory(fixture.folder / "out");
    std::filesystem::create_directories(fixture.folder / "out");
    coordinator->addFiles({movie, sound, broken}, EncodingCoordinator::Duplicates::allowed);
    bool finished = false;
    QObject::connect(coordinator.get(), &EncodingCoordinator::batchFinished, [&] { finished = true; });
    coordinator->startEncoding();
    for (int turn = 0; turn < 3000 && !finished; ++turn) {
        test::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(finished);

    HistoryListModel model(fixture.history);
    struct Expected {
        std::string name;
        std::string codec;  // the caption's first part
        bool succeeded;
    };
    const std::map<std::string, Expected> expected = {
        {"history_movie.mov", {"history_movie_H264", "H.264", true}},
        {"history_sound.wav", {"history_sound_audio.m4a", "Audio (AAC)", true}},
        {"broken.mov", {"broken.mov", "H.264", false}},
    };
    ASSERT_EQ(model.rowCount(), 3);
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row, 0);
        const std::string source = fixture.history.records()[row].sourceName;
        SCOPED_TRACE(source);
        ASSERT_TRUE(expected.contains(source));
        const Expected& want = expected.at(source);
        EXPECT_TRUE(index.data().toString().toStdString().starts_with(want.name))
            << index.data().toString().toStdString();
        EXPECT_EQ(
            index.data(HistoryListModel::CaptionRole).toString().section(QStringLiteral(" · "), 0, 0).toStdString(),
            want.codec);
        EXPECT_EQ(index.data(HistoryListModel::SucceededRole).toBool(), want.succeeded);
    }
}

}  // namespace
}  // namespace fw::app

// The queue card against a real coordinator: drops, the rows' decisions at
// their boundaries, the rows' controls clicked in the list and worked from
// the keyboard, per-job outputs read back from the queue file, and a
// thousand-job queue scrolled to the files added to it.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/JobListModel.h"
#include "ui/JobRowDelegate.h"
#include "ui/QueueCard.h"
#include "ui/QueueListView.h"
#include "ui/SettingsCards.h"
#include "ui/UiFlags.h"

#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QUrl>

#include <QAccessible>

#include <cmath>
#include <thread>

#include <gtest/gtest.h>

namespace fw::ui {
namespace {

namespace fs = std::filesystem;
using Status = EncodeJob::Status;

struct QueueCardTest : ::testing::Test {
    test::CoordinatorFixture fixture;
    std::unique_ptr<test::TestCoordinator> coordinator = fixture.make();
    PresetStore presets{fixture.defaults};
    UiFlags flags{fixture.defaults};
    test::ScriptedFilePicker picker;
    CardContext context{*coordinator, presets, flags, picker, {}, {}};
    QueueCard card{context};

    QueueCardTest() {
        card.resize(640, 480);
        card.show();
    }
    std::vector<std::string> queue() const {
        std::vector<std::string> names;
        for (const auto& job : coordinator->jobs()) names.push_back(job->fileName());
        return names;
    }
    QModelIndex row(int number) const { return card.model()->index(number); }
    // Clicks `control` of a row; false when the row does not show it.
    bool click(int number, RowControl control) {
        const QRect area = card.delegate()->controlRect(row(number), control);
        if (area.isEmpty()) return false;
        QTest::mouseClick(card.list()->viewport(), Qt::LeftButton, {}, area.center());
        test::processEvents();
        return true;
    }
};

// A drag's data of file URLs or web addresses.
std::unique_ptr<QMimeData> urls(const std::vector<QString>& items) {
    QList<QUrl> list;
    for (const auto& item : items) list << (item.startsWith('/') ? QUrl::fromLocalFile(item) : QUrl(item));
    auto data = std::make_unique<QMimeData>();
    data->setUrls(list);
    return data;
}

TEST_F(QueueCardTest, DropsQueueLocalFilesWithDuplicatesAndShowTheCount) {
    const auto clip = QString::fromStdString(test::touch(fixture.folder / "clip.mov").string());
    const auto notes = QString::fromStdString(test::touch(fixture.folder / "notes.txt").string());
    fs::create_directories(fixture.folder / "folder.mov");
    const auto folder = QString::fromStdString((fixture.folder / "folder.mov").string());
    auto* count = card.findChild<QLabel*>("queueCount");
    auto* body = card.findChild<QStackedWidget*>();
    EXPECT_EQ(body->currentWidget()->objectName(), "dropPrompt");
    EXPECT_TRUE(count->isHidden());

    struct Row {
        std::vector<QString> items;
        bool hovers;
        bool handled;
        std::vector<std::string> queue;
        QString count;
    } rows[] = {
        {{"https://example.com/clip.mov"}, false, false, {}, ""},
        {{notes}, true, true, {}, ""},
        {{clip}, true, true, {"clip.mov"}, "1 file"},
        {{clip, "https://example.com/b.mov", folder, notes}, true, true, {"clip.mov", "clip.mov"}, "2 files"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.items.front().toStdString());
        auto data = urls(row.items);
        // The list takes the drag once the queue has rows; the card before.
        QWidget* target = coordinator->jobs().empty() ? static_cast<QWidget*>(&card) : card.list()->viewport();
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, data.get(), Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        EXPECT_EQ(card.isTargeted(), row.hovers);
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, data.get(), Qt::LeftButton, {});
        QApplication::sendEvent(target, &drop);
        EXPECT_EQ(drop.isAccepted(), row.handled);
        EXPECT_FALSE(card.isTargeted());
        EXPECT_EQ(queue(), row.queue);
        EXPECT_EQ(count->isHidden() ? QString() : count->text(), row.count);
    }
    EXPECT_EQ(body->currentWidget(), card.list());
    EXPECT_EQ(card.model()->rowCount(), 2);
}

TEST(JobRowContent, ShowsEachStateAndItsControls) {
    using C = RowControl;
    const double nan = std::nan("");
    struct Row {
        Status status;
        double progress;
        std::vector<std::string> outputNames;
        std::optional<std::string> error;
        bool hasOutput;
        bool showControls;
        QString line, summary, percentage;
        std::vector<C> buttons;
        QString retryHelp;
        double concealedSoundSeconds = 0;
        std::int64_t damagedPictures = 0;
        double leftOutSoundSeconds = 0;
    } rows[] = {
        {Status::waiting, 0, {}, {}, false, true, "Waiting", "", "", {C::outputsMenu, C::remove}, ""},
        {Status::waiting,
         0,
         {"Web"},
         {},
         false,
         true,
         "Waiting",
         "· 1 output: Web",
         "",
         {C::outputsMenu, C::remove},
         ""},
        {Status::cancelled,
         0,
         {"Web", "Archive"},
         {},
         false,
         true,
         "Cancelled",
         "· 2 outputs: Web, Archive",
         "",
         {C::retry, C::outputsMenu, C::remove},
         "Retry this file"},
        {Status::encoding, 0.999, {}, {}, false, true, "", "", "99%", {}, ""},
        {Status::encoding, 1.0, {}, {}, false, false, "", "", "100%", {}, ""},
        {Status::encoding, 0.29, {}, {}, false, true, "", "", "29%", {}, ""},
        {Status::encoding, nan, {}, {}, false, true, "", "", "0%", {}, ""},
        {Status::encoding, -0.5, {}, {}, false, true, "", "", "0%", {}, ""},
        {Status::encoding, 7.5, {}, {}, false, true, "", "", "100%", {}, ""},
        {Status::failed,
         0,
         {},
         {},
         false,
         true,
         "Failed",
         "",
         "",
         {C::retry, C::outputsMenu, C::remove},
         "Retry this file"},
        {Status::failed, 0, {}, "Line one\nline two", false, false, "Line one\nline two", "", "", {}, ""},
        {Status::finished,
         1,
         {},
         {},
         false,
         true,
         "Done",
         "",
         "",
         {C::retry, C::outputsMenu, C::remove},
         "Encode this file again"},
        {Status::finished,
         1,
         {},
         {},
         true,
         true,
         "out.mov",
         "",
         "",
         {C::reveal, C::retry, C::outputsMenu, C::remove},
         "Encode this file again"},
        {Status::finished,
         1,
         {},
         {},
         true,
         false,
         "out.mov (3.2 s of damaged sound replaced by silence; 1.0 s of damaged sound left out)",
         "",
         "",
         {},
         "",
         3.24,
         0,
         0.96},
        {Status::finished, 1, {}, {}, true, false, "out.mov (1 damaged picture left out)", "", "", {}, "", 0, 1},
    };
    for (const auto& row : rows) {
        EncodeJob job("/clips/source.mov");
        job.setStatus(row.status);
        job.setProgress(row.progress);
        job.setErrorMessage(row.error);
        for (const auto& name : row.outputNames) job.appendOutput(JobOutputSpec(name, {}));
        if (row.hasOutput) job.setOutputURL("/out/out.mov");
        job.setConcealedSoundSeconds(row.concealedSoundSeconds);
        job.setDamagedPictures(row.damagedPictures);
        job.setLeftOutSoundSeconds(row.leftOutSoundSeconds);
        const auto content = JobRowContent::of(job, row.showControls);
        SCOPED_TRACE(row.line.toStdString() + row.percentage.toStdString());
        EXPECT_EQ(content.lineText, row.line);
        EXPECT_EQ(content.outputsSummary, row.summary);
        EXPECT_EQ(content.percentage, row.percentage);
        EXPECT_EQ(content.showsToggle, row.showControls);
        EXPECT_GE(content.progress, 0.0);
        EXPECT_LE(content.progress, 1.0);
        std::vector<C> buttons;
        for (const auto& button : content.buttons) {
            buttons.push_back(button.control);
            if (button.control == C::retry) {
                EXPECT_EQ(button.help, row.retryHelp);
            }
        }
        EXPECT_EQ(buttons, row.buttons);
    }

    EncodeJob uploaded("/clips/a.mov");
    uploaded.setStatus(Status::finished);
    uploaded.setUploadState(EncodeJob::UploadState::failed);
    EXPECT_EQ(JobRowContent::of(uploaded, true).badge->help, "Upload failed");
    uploaded.setUploadMessage("HTTP 503");
    EXPECT_EQ(JobRowContent::of(uploaded, true).badge->help, "HTTP 503");
    uploaded.setEnabled(false);
    EXPECT_TRUE(JobRowContent::of(uploaded, true).dimmed);
}

TEST_F(QueueCardTest, RowControlsCallTheCoordinatorAndOutputsAreSavedWithTheQueue) {
    coordinator->addFiles({test::touch(fixture.folder / "a.mov"), test::touch(fixture.folder / "b.mov"),
                           test::touch(fixture.folder / "c.mov")},
                          EncodingCoordinator::Duplicates::allowed);
    test::processEvents();
    const auto jobs = coordinator->jobs();
    const auto savedOutputs = [&](std::size_t index) {
        std::vector<std::string> names;
        for (const auto& output : QueuePersistence::load(fixture.queueFolder()).at(index)->outputs())
            names.push_back(output.name);
        return names;
    };
    const auto menuAction = [&](const QString& path, const QString& item) {
        EXPECT_TRUE(click(1, RowControl::outputsMenu));
        auto* menu = card.findChild<QMenu*>("outputsMenu");
        QMenu* inner = menu;
        for (QAction* action : menu->actions())
            if (action->text() == path && action->menu()) inner = action->menu();
        for (QAction* action : inner->actions())
            if (action->text() == item) action->trigger();
        menu->close();
        delete menu;
    };

    const auto allPresets = presets.allPresets();
    const QString first = QString::fromStdString(allPresets[0].name);
    const QString second = QString::fromStdString(allPresets[1].name);
    menuAction("Add output", first);
    menuAction("Add output", first);
    EXPECT_EQ(savedOutputs(1), (std::vector<std::string>{allPresets[0].name, allPresets[0].name}));
    EXPECT_NE(jobs[1]->outputs()[0].id, jobs[1]->outputs()[1].id);
    menuAction("Set to preset", second);
    EXPECT_EQ(savedOutputs(1), std::vector<std::string>{allPresets[1].name});
    menuAction("", "Use main settings");
    EXPECT_TRUE(savedOutputs(1).empty());

    EXPECT_TRUE(click(0, RowControl::enabledToggle));
    EXPECT_FALSE(jobs[0]->enabled());
    EXPECT_FALSE(QueuePersistence::load(fixture.queueFolder()).at(0)->enabled());

    std::vector<fs::path> revealed;
    card.setRevealHandler([&](const fs::path& file) { revealed.push_back(file); });
    jobs[2]->setStatus(Status::finished);
    jobs[2]->setOutputURL(fixture.folder / "gone.mov");
    test::processEvents();
    EXPECT_TRUE(click(2, RowControl::reveal));
    auto* gone = card.findChild<QMessageBox*>("revealMissing");
    ASSERT_NE(gone, nullptr) << "a deleted output is said to be gone";
    EXPECT_TRUE(gone->isVisible());
    EXPECT_TRUE(gone->text().contains("gone.mov"));
    delete gone;
    jobs[2]->setOutputURL(fixture.folder / "a.mov");
    EXPECT_TRUE(click(2, RowControl::reveal));
    EXPECT_EQ(revealed, std::vector<fs::path>{fixture.folder / "a.mov"}) << "only an existing file is revealed";

    // Dropping the first row into the lower half of the last moves it to the end.
    const auto dropRow = [&](int from, int onto) {
        QMimeData data;
        data.setData(QueueListView::kRowMimeType, QByteArray::number(from));
        const QRect target = card.list()->visualRect(row(onto));
        const QPoint point(target.center().x(), target.bottom() - 2);
        QDragEnterEvent enter(point, Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(card.list()->viewport(), &enter);
        QDropEvent drop(point, Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(card.list()->viewport(), &drop);
    };
    coordinator->setRunning(true);
    test::processEvents();
    EXPECT_FALSE(click(2, RowControl::retry)) << "no buttons during a run";
    EXPECT_FALSE(click(1, RowControl::remove));
    EXPECT_TRUE(card.delegate()->controlRect(row(0), RowControl::enabledToggle).isEmpty());
    coordinator->setOutputs(*jobs[1], {JobOutputSpec("Late", {})});
    EXPECT_TRUE(jobs[1]->outputs().empty()) << "outputs changed during a run";
    dropRow(0, 2);
    EXPECT_EQ(queue(), (std::vector<std::string>{"a.mov", "b.mov", "c.mov"})) << "reordered during a run";

    coordinator->setRunning(false);
    test::processEvents();
    EXPECT_TRUE(click(2, RowControl::retry));
    EXPECT_EQ(jobs[2]->status(), Status::waiting);
    dropRow(0, 2);
    EXPECT_EQ(queue(), (std::vector<std::string>{"b.mov", "c.mov", "a.mov"}));
    EXPECT_TRUE(click(0, RowControl::remove));
    EXPECT_EQ(queue(), (std::vector<std::string>{"c.mov", "a.mov"}));
    for (int index = 0; index < card.model()->rowCount(); ++index)
        EXPECT_EQ(card.model()->data(row(index), Qt::DisplayRole).toString().toStdString(), queue()[index]);
}

// The keyboard reaches the rows: focus gives the list a current row, drawn
// framed; the arrows move it, Space and Delete press its checkbox and remove
// button, and the menu key or Shift+F10 offers what its buttons do.
TEST_F(QueueCardTest, TheKeyboardWorksTheCurrentRow) {
    coordinator->addFiles({test::touch(fixture.folder / "a.mov"), test::touch(fixture.folder / "b.mov"),
                           test::touch(fixture.folder / "c.mov"), test::touch(fixture.folder / "d.mov")},
                          EncodingCoordinator::Duplicates::allowed);
    const auto jobs = coordinator->jobs();
    jobs[1]->setStatus(Status::failed);
    test::processEvents();
    QueueListView* list = card.list();
    card.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&card));
    list->clearFocus();
    const QImage unfocused = list->viewport()->grab().toImage();
    // Reached with Tab from above or with Shift+Tab from below.
    for (const Qt::FocusReason reason : {Qt::TabFocusReason, Qt::BacktabFocusReason}) {
        list->clearFocus();
        list->setFocus(reason);
        ASSERT_TRUE(list->hasFocus());
        ASSERT_EQ(list->currentIndex().row(), 0);
        EXPECT_NE(list->viewport()->grab().toImage(), unfocused) << "the current row is not drawn, " << reason;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row(0)).center());
        EXPECT_EQ(list->viewport()->grab().toImage(), unfocused) << "a click frames the row";
    }

    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_FALSE(jobs[0]->enabled());
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentIndex().row(), 1);
    const std::pair<Qt::Key, Qt::KeyboardModifiers> openers[] = {{Qt::Key_Menu, {}}, {Qt::Key_F10, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : openers) {
        QTest::keyClick(list, key, modifiers);
        auto* menu = card.findChild<QMenu*>("rowMenu");
        ASSERT_NE(menu, nullptr) << key;
        QStringList items;
        for (QAction* action : menu->actions()) items << action->text();
        EXPECT_EQ(items, QStringList({"Retry", "Outputs", "Remove from Queue"}));
        if (modifiers) menu->actions().front()->trigger();
        delete menu;
    }
    EXPECT_EQ(jobs[1]->status(), Status::waiting);
    // Not the last row: the next one takes its place, not the one after.
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(queue(), (std::vector<std::string>{"a.mov", "c.mov", "d.mov"}));
    EXPECT_EQ(list->currentIndex().row(), 1);

    coordinator->setRunning(true);
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Delete, Qt::Key_Menu}) QTest::keyClick(list, key);
    EXPECT_TRUE(jobs[2]->enabled());
    EXPECT_EQ(queue().size(), 3u) << "no row is changed during a run";
    EXPECT_EQ(card.findChild<QMenu*>("rowMenu"), nullptr);
}

// A screen reader reads each row as its file and its state, as the row
// shows them, and follows a change of state.
TEST_F(QueueCardTest, ScreenReadersHearEachRowsFileAndState) {
    const struct {
        Status status;
        double progress;
        std::optional<std::string> error;
        bool hasOutput;
        bool enabled;
        const char* heard;
    } rows[] = {
        {Status::waiting, 0, {}, false, true, "a0.mov, Waiting"},
        {Status::waiting, 0, {}, false, false, "a1.mov, Waiting, left out of the next run"},
        {Status::encoding, 0.42, {}, false, true, "a2.mov, Encoding 42%"},
        {Status::failed, 0, "Disk full", false, true, "a3.mov, Failed: Disk full"},
        {Status::failed, 0, {}, false, true, "a4.mov, Failed"},
        {Status::finished, 1, {}, true, true, "a5.mov, Done, out.mov"},
        {Status::cancelled, 0, {}, false, true, "a6.mov, Cancelled"},
        // Done, whatever its tick.
        {Status::finished, 1, {}, true, false, "a7.mov, Done, out.mov"},
    };
    std::vector<fs::path> files;
    for (std::size_t index = 0; index < std::size(rows); ++index)
        files.push_back(test::touch(fixture.folder / ("a" + std::to_string(index) + ".mov")));
    coordinator->addFiles(files, EncodingCoordinator::Duplicates::allowed);
    const auto jobs = coordinator->jobs();
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        jobs[index]->setStatus(rows[index].status);
        jobs[index]->setProgress(rows[index].progress);
        jobs[index]->setErrorMessage(rows[index].error);
        if (rows[index].hasOutput) jobs[index]->setOutputURL("/out/out.mov");
        coordinator->setEnabled(*jobs[index], rows[index].enabled);
    }
    test::processEvents();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(card.list());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->text(QAccessible::Name), "Queue");
    const auto heard = [list](int row) {
        QAccessibleTableInterface* table = list->tableInterface();
        QAccessibleInterface* cell = table ? table->cellAt(row, 0) : nullptr;
        return cell ? cell->text(QAccessible::Name).toStdString() : std::string("no cell");
    };
    for (std::size_t index = 0; index < std::size(rows); ++index) EXPECT_EQ(heard(int(index)), rows[index].heard);
    jobs[0]->setStatus(Status::failed);
    test::processEvents();
    EXPECT_EQ(heard(0), "a0.mov, Failed");
}

TEST_F(QueueCardTest, AThousandJobsFillScrollAndRepaintOnlyTheChangedRow) {
    std::vector<fs::path> files;
    for (int index = 0; index < 1000; ++index) files.push_back("/clips/clip" + std::to_string(index) + ".mov");
    auto loose = fixture.make(EncodingCoordinator::Restore::no);
    CardContext looseContext{*loose, presets, flags, picker, {}, {}};
    QueueCard big(looseContext);
    big.resize(640, 480);
    big.show();
    loose->addFiles(files, EncodingCoordinator::Duplicates::allowed);
    test::processEvents();
    ASSERT_EQ(big.model()->rowCount(), 1000);
    big.list()->scrollToBottom();
    big.list()->viewport()->grab();
    EXPECT_EQ(big.list()->indexAt(QPoint(20, big.list()->viewport()->height() - 4)).row(), 999);
    // Files added later are scrolled to, wherever the list was.
    big.list()->scrollToTop();
    loose->addFiles({"/clips/late.mov", "/clips/later.mov"}, EncodingCoordinator::Duplicates::allowed);
    test::processEvents();
    EXPECT_TRUE(big.list()->viewport()->rect().contains(big.list()->visualRect(big.model()->index(1000, 0))));

    // Reports from an encoder's thread reach the row once, on this thread.
    QSignalSpy changes(big.model(), &QAbstractItemModel::dataChanged);
    const auto job = loose->jobs()[500];
    std::thread encoder([&job] {
        job->setStatus(Status::encoding);
        for (int step = 1; step <= 100; ++step) job->setProgress(step / 100.0);
    });
    encoder.join();
    test::processEvents();
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0][0].value<QModelIndex>().row(), 500);
    EXPECT_EQ(changes[0][1].value<QModelIndex>().row(), 500);
}

}  // namespace
}  // namespace fw::ui

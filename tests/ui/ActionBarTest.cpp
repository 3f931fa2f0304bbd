// The action bar against a real coordinator: what each button shows and
// allows per codec, queue and running state, and what its clicks do.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/ActionBar.h"
#include "ui/SettingsCards.h"
#include "ui/UiFlags.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace fw::ui {
namespace {

namespace fs = std::filesystem;
using Status = EncodeJob::Status;

struct ActionBarTest : ::testing::Test {
    test::CoordinatorFixture fixture;
    std::unique_ptr<test::TestCoordinator> coordinator = fixture.make(EncodingCoordinator::Restore::no);
    PresetStore presets{fixture.defaults};
    UiFlags flags{fixture.defaults};
    test::ScriptedFilePicker picker;
    CardContext context{*coordinator, presets, flags, picker, {}, {}};
    QWidget window;
    QLineEdit* field = new QLineEdit(&window);
    ActionBar* bar = new ActionBar(context, &window);

    ActionBarTest() {
        auto* column = new QVBoxLayout(&window);
        column->addWidget(field);
        column->addWidget(bar);
    }
    QPushButton* button(const char* name) const { return bar->findChild<QPushButton*>(name); }
};

TEST_F(ActionBarTest, ButtonsFollowTheQueueTheCodecAndTheRun) {
    // One character per button (add, clear, cancel, proxies, stitch, encode):
    // '1' enabled, '0' disabled, '-' hidden.
    struct Row {
        OutputCodec codec;
        std::vector<Status> jobs;
        bool lastDisabled;
        bool running;
        std::string buttons;
        QString title;
    } rows[] = {
        {OutputCodec::proRes, {}, false, false, "1--000", "Encode 0 Files"},
        {OutputCodec::proRes, {Status::waiting}, false, false, "1--101", "Encode 1 File"},
        {OutputCodec::h264, {Status::waiting, Status::failed}, false, false, "1--111", "Encode 2 Files"},
        {OutputCodec::hevcAlpha, {Status::waiting, Status::waiting}, false, false, "1--100", "Encode 2 Files"},
        {OutputCodec::gif, {Status::waiting, Status::waiting}, false, false, "1--101", "Encode 2 Files"},
        {OutputCodec::hap, {Status::waiting, Status::waiting}, false, false, "1--101", "Encode 2 Files"},
        {OutputCodec::notchLC, {Status::waiting, Status::waiting}, false, false, "1--100", "Encode 2 Files"},
        {OutputCodec::proRes, {Status::waiting, Status::waiting}, true, false, "1--101", "Encode 2 Files"},
        {OutputCodec::proRes, {Status::finished, Status::failed}, false, false, "11-101", "Encode 2 Files"},
        {OutputCodec::proRes,
         {Status::finished, Status::waiting, Status::waiting},
         false,
         true,
         "001000",
         "Encode 3 Files"},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(index++);
        coordinator->setRunning(false);
        for (const auto& job : std::vector(coordinator->jobs())) coordinator->remove(*job);
        coordinator->setSelectedCodec(row.codec);
        coordinator->addFiles(std::vector<fs::path>(row.jobs.size(), "/clips/a.mov"),
                              EncodingCoordinator::Duplicates::allowed);
        // Statuses change inside the jobs, as a run changes them.
        for (std::size_t job = 0; job < row.jobs.size(); ++job) coordinator->jobs()[job]->setStatus(row.jobs[job]);
        if (row.lastDisabled) coordinator->setEnabled(*coordinator->jobs().back(), false);
        coordinator->setRunning(row.running);
        test::processEvents();

        std::string buttons;
        for (const char* name : {"addFiles", "clearFinished", "cancel", "makeProxies", "stitch", "encode"})
            buttons += button(name)->isHidden() ? '-' : button(name)->isEnabled() ? '1' : '0';
        EXPECT_EQ(buttons, row.buttons);
        EXPECT_EQ(button("encode")->text(), row.title);
    }
}

// A format that cannot be written greys Encode and Stitch, and the bar says
// why beside them and in their tooltips; any other reason to grey them
// (nothing queued, a run) says nothing of the format.
TEST_F(ActionBarTest, GreyedForTheFormatEncodeAndStitchSayWhy) {
    struct Row {
        OutputCodec codec;
        bool alpha;
        std::size_t jobs;
        bool running;
        const char* reasonMentions;  // nullptr: no reason shown
    } rows[] = {
        {OutputCodec::hevc, true, 2, false, "alpha"},       {OutputCodec::hevc, true, 0, false, "alpha"},
        {OutputCodec::notchLC, false, 2, false, "NotchLC"}, {OutputCodec::hevc, false, 2, false, nullptr},
        {OutputCodec::proRes, true, 2, false, nullptr},     {OutputCodec::proRes, false, 0, false, nullptr},
        {OutputCodec::hevc, true, 2, true, nullptr},
    };
    const QString stitchHelp = QStringLiteral("Concatenate all enabled clips into one output, in queue order.");
    window.resize(960, 60);
    window.show();
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(index++);
        coordinator->setRunning(false);
        for (const auto& job : std::vector(coordinator->jobs())) coordinator->remove(*job);
        coordinator->addFiles(std::vector<fs::path>(row.jobs, "/clips/a.mov"),
                              EncodingCoordinator::Duplicates::allowed);
        coordinator->setSelectedCodec(row.codec);
        coordinator->setOutputAlpha(row.alpha);
        coordinator->setRunning(row.running);
        test::processEvents();

        const auto* caption = bar->findChild<QLabel*>(QStringLiteral("actionCaption"));
        ASSERT_TRUE(caption);
        if (!row.reasonMentions) {
            EXPECT_FALSE(caption->isVisible()) << caption->text().toStdString();
            EXPECT_EQ(button("encode")->toolTip(), QString());
            EXPECT_EQ(button("stitch")->toolTip(), stitchHelp);
            continue;
        }
        EXPECT_FALSE(button("encode")->isEnabled());
        EXPECT_FALSE(button("stitch")->isEnabled());
        EXPECT_TRUE(caption->isVisible());
        EXPECT_TRUE(caption->text().contains(QLatin1String(row.reasonMentions))) << caption->text().toStdString();
        EXPECT_EQ(button("encode")->toolTip(), caption->text());
        EXPECT_EQ(button("stitch")->toolTip(), caption->text());
    }
}

TEST_F(ActionBarTest, ClicksReachTheCoordinatorAndReturnNeverStartsABatch) {
    const fs::path clip = test::touch(fixture.folder / "clip.mov");
    picker.files = {clip, clip, test::touch(fixture.folder / "notes.txt")};
    QTest::mouseClick(button("addFiles"), Qt::LeftButton);
    ASSERT_EQ(coordinator->jobs().size(), 2u) << "duplicates are allowed, unsupported files skipped";
    test::processEvents();
    EXPECT_TRUE(button("encode")->isEnabled());

    window.show();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    test::processEvents();
    EXPECT_FALSE(coordinator->isRunning()) << "Return in a field started a batch";

    coordinator->jobs()[0]->setStatus(Status::finished);
    test::processEvents();
    ASSERT_FALSE(button("clearFinished")->isHidden());
    QTest::mouseClick(button("clearFinished"), Qt::LeftButton);
    EXPECT_EQ(coordinator->jobs().size(), 1u);
    test::processEvents();
    EXPECT_TRUE(button("clearFinished")->isHidden());

    coordinator->setRunning(true);
    QTest::mouseClick(button("cancel"), Qt::LeftButton);
    QTest::mouseClick(button("cancel"), Qt::LeftButton);
    EXPECT_EQ(coordinator->jobs().size(), 1u);
}

}  // namespace
}  // namespace fw::ui

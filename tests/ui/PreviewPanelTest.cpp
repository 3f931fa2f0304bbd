// The live preview and the ring against a real coordinator: placeholder,
// ring and frame states, percentages and countdowns at their boundaries;
// and the Binder's behaviour once, through a number field.

#include "CoordinatorTestSupport.h"
#include "UiTestSupport.h"
#include "platform/media/PixelBuffer.h"
#include "ui/Binding.h"
#include "ui/PreviewPanel.h"
#include "ui/ProgressRing.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTest>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

using Status = EncodeJob::Status;

class PreviewCoordinator : public TestCoordinator {
public:
    using EncodingCoordinator::setLivePreviewImage;
    using TestCoordinator::TestCoordinator;
};

class PreviewPanelTest : public ::testing::Test {
protected:
    CoordinatorFixture fixture;
    PreviewCoordinator coordinator{fixture.services(), EncodingCoordinator::Restore::no};
    ui::PreviewPanel panel{coordinator};

    void SetUp() override { panel.show(); }

    std::vector<std::shared_ptr<EncodeJob>> queue(int count) {
        std::vector<std::filesystem::path> files;
        for (int i = 0; i < count; ++i) files.push_back(touch(fixture.folder / ("clip" + std::to_string(i) + ".mov")));
        coordinator.addFiles(files, EncodingCoordinator::Duplicates::allowed);
        processEvents();
        return coordinator.jobs();
    }
    QString text(const char* name) const { return panel.findChild<QLabel*>(name)->text(); }
    bool shown(const char* name) const { return panel.findChild<QWidget*>(name)->isVisible(); }
    ui::ProgressRing& ring() const { return *panel.findChild<ui::ProgressRing*>(); }
};

TEST_F(PreviewPanelTest, IdleShowsWhetherAnythingWasEncoded) {
    EXPECT_TRUE(shown("previewPlaceholderText"));
    EXPECT_FALSE(shown("previewProgress"));
    EXPECT_EQ(text("previewPlaceholderText"), "Frames appear here while encoding");
    EXPECT_EQ(ring().statusText(), "Ready");
    EXPECT_EQ(ring().countText(), "0 / 0");

    const auto jobs = queue(2);
    jobs[0]->setStatus(Status::finished);
    jobs[1]->setStatus(Status::failed);
    processEvents();
    EXPECT_EQ(text("previewPlaceholderText"), "Encoding complete");
    EXPECT_EQ(ring().statusText(), "Complete");
    EXPECT_EQ(ring().countText(), "1 / 2");

    coordinator.clearFinished();
    processEvents();
    EXPECT_EQ(text("previewPlaceholderText"), "Frames appear here while encoding");
}

TEST_F(PreviewPanelTest, RunningShowsTheRingAndClampedPercentages) {
    const auto jobs = queue(2);
    jobs[1]->setStatus(Status::failed);  // counted in the total, not in the progress
    coordinator.setRunning(true);
    processEvents();
    EXPECT_FALSE(shown("previewPlaceholderText"));
    EXPECT_TRUE(ring().isVisible());
    EXPECT_TRUE(shown("previewProgress"));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // 100 % only once everything is done: 99.5 % still has files encoding.
    const std::vector<std::pair<double, int>> cases = {{0.125, 13},  {0.124, 12}, {0.994, 99}, {0.995, 99},
                                                       {0.9999, 99}, {0, 0},      {1, 100},    {nan, 0},
                                                       {inf, 100},   {-inf, 0},   {-1, 0},     {2, 100}};
    for (const auto& [progress, percent] : cases) {
        jobs[0]->setProgress(progress);
        processEvents();
        EXPECT_EQ(text("previewProgressText"), QString("%1% · 0/2").arg(percent)) << progress;
        EXPECT_EQ(ring().percentText(), QString("%1%").arg(percent)) << progress;
    }
}

TEST_F(PreviewPanelTest, CountdownFollowsTheEstimate) {
    const auto jobs = queue(1);
    coordinator.setRunning(true);
    struct Case {
        double progress;
        double elapsedSeconds;
        const char* countdown;
    };
    for (const Case& c :
         {Case{0.01, 60, "estimating…"}, Case{0.5, 75, "1:15"}, Case{0.5, 3600, "1:00:00"}, Case{1.0, 60, "0:00"}}) {
        jobs[0]->setProgress(c.progress);
        coordinator.setRunStartedAt(
            fixedNow() - std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(c.elapsedSeconds)));
        processEvents();
        EXPECT_EQ(text("previewCountdown"), c.countdown);
        EXPECT_EQ(ring().statusText(), c.countdown);
    }
}

TEST_F(PreviewPanelTest, AFrameReplacesTheRingWithItsPixels) {
    queue(1);
    coordinator.setRunning(true);
    auto buffer = media::PixelBuffer::create(2, 1, media::PixelFormat::bgra8);
    const std::uint8_t pixels[8] = {0x10, 0x20, 0x30, 0xFF, 0xF0, 0xE0, 0xD0, 0x80};  // B, G, R, A
    std::copy(std::begin(pixels), std::end(pixels), buffer->row(0));
    coordinator.setLivePreviewImage(buffer);
    processEvents();
    EXPECT_FALSE(ring().isVisible());
    EXPECT_TRUE(shown("previewProgress"));
    ASSERT_EQ(panel.frame().size(), QSize(2, 1));
    EXPECT_EQ(panel.frame().pixel(0, 0), qRgba(0x30, 0x20, 0x10, 0xFF));
    EXPECT_EQ(panel.frame().pixel(1, 0), qRgba(0xD0, 0xE0, 0xF0, 0x80));

    coordinator.setLivePreviewImage(nullptr);
    coordinator.setRunning(false);
    processEvents();
    EXPECT_TRUE(panel.frame().isNull());
    EXPECT_TRUE(shown("previewPlaceholderText"));
}

// The binding helper, once: locale numbers, bad text, typing, running.
TEST_F(PreviewPanelTest, ANumberFieldBindsInTheUsersLocale) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QWidget owner;
    auto* edit = new QLineEdit(&owner);
    auto* binder = new ui::Binder(coordinator, &owner);
    binder->number(edit, ui::setting(coordinator, &EncodingCoordinator::trimStart, &EncodingCoordinator::setTrimStart,
                                     &EncodingCoordinator::trimStartChanged));
    owner.show();
    QApplication::setActiveWindow(&owner);

    // Shown without digit grouping, so that the text types back as it is.
    const struct {
        QString text;
        double stored;
        QString shown;
    } typed[] = {{"29,97", 29.97, "29,97"}, {"abc", 29.97, "29,97"}, {"1.234,5", 1234.5, "1234,5"}};
    for (const auto& [text, stored, shown] : typed) {
        edit->setText(text);
        emit edit->editingFinished();
        EXPECT_DOUBLE_EQ(coordinator.trimStart(), stored) << text.toStdString();
        EXPECT_EQ(edit->text(), shown);
    }

    // A field being typed in keeps its text when the value changes elsewhere.
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "12");
    coordinator.setTrimStart(5);
    EXPECT_EQ(edit->text(), "12");

    coordinator.setRunning(true);
    EXPECT_FALSE(edit->isEnabled());
    coordinator.setRunning(false);
    EXPECT_TRUE(edit->isEnabled());
    QLocale::setDefault(previous);
}

}  // namespace
}  // namespace fw::test

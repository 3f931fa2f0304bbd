#include "ScreenshotScene.h"

#include "ui/MainWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace fw::screenshots {

ScreenshotScene::ScreenshotScene() {
    CoordinatorServices services = fixture_.services();
    services.encoders = encoders_;
    services.clock = [base = clockBase_, offset = clockOffset_] { return base + *offset; };
    coordinator_ = std::make_unique<test::TestCoordinator>(services, EncodingCoordinator::Restore::yes);
    flags_.setFlag(QStringLiteral("hasSeenWelcome"), true);
}

ScreenshotScene::~ScreenshotScene() {
    if (coordinator_->isRunning()) coordinator_->prepareToQuit(std::chrono::seconds(5));
    if (savedFont_) QApplication::setFont(*savedFont_);
}

ui::WindowEnvironment ScreenshotScene::environment() {
    return ui::WindowEnvironment{.coordinator = *coordinator_, .presets = presets_, .flags = flags_, .picker = picker_};
}

ui::MainWindow* ScreenshotScene::mainWindow() {
    setSizes({QSize(960, 720), QSize(1440, 900)});
    return new ui::MainWindow(environment());
}

std::vector<std::shared_ptr<EncodeJob>> ScreenshotScene::queue(std::initializer_list<const char*> fileNames) {
    const std::size_t before = coordinator_->jobs().size();
    std::vector<std::filesystem::path> files;
    for (const char* name : fileNames) files.push_back(test::touch(folder() / name));
    coordinator_->addFiles(files, EncodingCoordinator::Duplicates::allowed);
    return {coordinator_->jobs().begin() + std::ptrdiff_t(before), coordinator_->jobs().end()};
}

void ScreenshotScene::useDarkPalette() {
    palette_ = std::make_unique<test::ApplicationPalette>(test::darkDesktopPalette());
}

void ScreenshotScene::switchPalette() {
    if (palette_)
        palette_.reset();
    else
        useDarkPalette();
}

void ScreenshotScene::useLargerFont(double factor) {
    if (!savedFont_) savedFont_ = QApplication::font();
    QFont larger = *savedFont_;
    larger.setPointSizeF(larger.pointSizeF() * factor);
    QApplication::setFont(larger);
}

void ScreenshotScene::advanceClock(std::chrono::seconds seconds) { *clockOffset_ += seconds; }

bool ScreenshotScene::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

}  // namespace fw::screenshots

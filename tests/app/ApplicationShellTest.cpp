// The shell over a real coordinator: menu enabling, single windows, the tray's
// status line, the settings window and quitting during a run.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "app/ApplicationShell.h"
#include "app/BackgroundController.h"
#include "app/ManualWindow.h"
#include "app/QuitGuard.h"
#include "app/SettingsWindow.h"
#include "app/TrayMenu.h"
#include "app/WindowScenes.h"
#include "coordinator/EncoderBackend.h"
#include "model/Presets.h"
#include "platform/core/StagedFile.h"
#include "ui/CollapsibleCard.h"
#include "ui/FilePicker.h"
#include "ui/JobListModel.h"
#include "ui/JobRowDelegate.h"
#include "ui/MainWindow.h"
#include "ui/QueueCard.h"
#include "ui/SettingsColumn.h"
#include "ui/UiFlags.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QWindow>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <tuple>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;
using Status = EncodeJob::Status;

// Writes a staged partial output and holds it until stopped.
class HoldingBackend final : public EncoderBackend {
public:
    jobs::SourceProbe probe(const fs::path& source, const ExportConfiguration&) const override {
        return jobs::SourceProbe::sized(source, {64, 48});
    }
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback&,
                        std::stop_token stop) const override {
        const fs::path& destination = plan.destination;
        StagedFile staged(destination);
        std::ofstream(staged.path()) << "partial";
        progress(0.5);
        std::mutex mutex;
        std::condition_variable_any stopped;
        std::unique_lock lock(mutex);
        stopped.wait(lock, stop, [] { return false; });
        throw EncodingError::cancelled();
    }
    fs::path stitch(const std::vector<fs::path>&, const ExportConfiguration&, const SourceEncodeOptions&,
                    const std::function<fs::path(IntSize)>&, const ProgressCallback&, const PreviewCallback&,
                    std::stop_token) const override {
        throw EncodingError::cancelled();
    }
};

// Encodes that hold until the test releases them (they then finish) or the
// run is cancelled.
class GateBackend final : public EncoderBackend {
public:
    void release() {
        const std::lock_guard lock(mutex_);
        released_ = true;
        opened_.notify_all();
    }
    jobs::SourceProbe probe(const fs::path& source, const ExportConfiguration&) const override {
        return jobs::SourceProbe::sized(source, {64, 48});
    }
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback& progress, const PreviewCallback&,
                        std::stop_token stop) const override {
        const fs::path& destination = plan.destination;
        progress(0.5);
        std::unique_lock lock(mutex_);
        if (!opened_.wait(lock, stop, [this] { return released_; })) throw EncodingError::cancelled();
        std::ofstream(destination) << "done";
        return {};
    }
    fs::path stitch(const std::vector<fs::path>&, const ExportConfiguration&, const SourceEncodeOptions&,
                    const std::function<fs::path(IntSize)>&, const ProgressCallback&, const PreviewCallback&,
                    std::stop_token) const override {
        throw EncodingError::cancelled();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable_any opened_;
    bool released_ = false;
};

class MemorySecretStore final : public SecretStore {
public:
    std::optional<std::string> stored;
    std::optional<std::string> secret() const override { return stored; }
    void setSecret(std::string_view value) override {
        stored = value.empty() ? std::nullopt : std::optional<std::string>(value);
    }
};

struct ShellFixture {
    test::CoordinatorFixture coordinatorFixture;
    std::unique_ptr<EncodingCoordinator> coordinator;
    PresetStore presets{coordinatorFixture.defaults};
    ui::UiFlags flags{coordinatorFixture.defaults};
    test::ScriptedFilePicker picker;
    BackgroundController background{AutostartEntry(coordinatorFixture.folder / "autostart.desktop"), "/x"};
    int questions = 0;
    bool answer = false;
    std::unique_ptr<ApplicationShell> shell;

    explicit ShellFixture(std::shared_ptr<EncoderBackend> encoders = std::make_shared<HoldingBackend>(),
                          std::shared_ptr<SecretStore> secrets = nullptr,
                          std::shared_ptr<Uploader> uploader = nullptr) {
        auto services = coordinatorFixture.services();
        services.encoders = std::move(encoders);
        services.secrets = std::move(secrets);
        services.uploader = std::move(uploader);
        coordinator = std::make_unique<EncodingCoordinator>(services, EncodingCoordinator::Restore::yes);
        shell = std::make_unique<ApplicationShell>(
            ApplicationShell::Services{ui::WindowEnvironment{*coordinator, presets, flags, picker}, background, [this] {
                                           ++questions;
                                           return answer;
                                       }});
    }
    fs::path folder() const { return coordinatorFixture.folder.path(); }
    void add(const std::vector<std::string>& names) {
        std::vector<fs::path> files;
        for (const auto& name : names) files.push_back(test::touch(folder() / name));
        coordinator->addFiles(files, EncodingCoordinator::Duplicates::allowed);
    }
    // The enabled flags of the Encode menu's four items.
    std::vector<bool> encodeMenu() {
        test::processEvents();
        std::vector<bool> enabled;
        for (const char* name : {"startEncoding", "makeProxies", "cancelEncoding", "clearFinished"})
            enabled.push_back(shell->mainWindow().findChild<QAction*>(name)->isEnabled());
        return enabled;
    }
    bool waitFor(const std::function<bool()>& condition) {
        for (int turn = 0; turn < 500 && !condition(); ++turn) {
            test::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return condition();
    }
};

TEST(ApplicationShell, EncodeMenuFollowsTheQueueAndTheRun) {
    ShellFixture fixture;
    EXPECT_EQ(fixture.encodeMenu(), (std::vector<bool>{false, false, false, true})) << "empty queue";
    fixture.add({"a.mov", "b.mov"});
    EXPECT_EQ(fixture.encodeMenu(), (std::vector<bool>{true, true, false, true}));
    fixture.coordinator->setSelectedCodec(OutputCodec::notchLC);
    EXPECT_EQ(fixture.encodeMenu(), (std::vector<bool>{false, true, false, true})) << "codec not producible";
    fixture.coordinator->setSelectedCodec(OutputCodec::proRes);
    for (const auto& job : fixture.coordinator->jobs()) fixture.coordinator->setEnabled(*job, false);
    EXPECT_EQ(fixture.encodeMenu(), (std::vector<bool>{false, false, false, true})) << "every job disabled";
    // A job changing on its own (as a run's report does) re-enables the items.
    fixture.coordinator->jobs()[0]->setEnabled(true);
    fixture.coordinator->jobs()[0]->setStatus(Status::failed);
    EXPECT_EQ(fixture.encodeMenu(), (std::vector<bool>{true, true, false, true})) << "failed counts as pending";

    fixture.shell->mainWindow().findChild<QAction*>("startEncoding")->trigger();
    EXPECT_EQ(fixture.encodeMenu(), (std::vector<bool>{false, false, true, false})) << "during the run";
    ASSERT_TRUE(fixture.waitFor([&] { return fixture.coordinator->jobs()[0]->progress() == 0.5; }));
    fixture.shell->mainWindow().findChild<QAction*>("cancelEncoding")->trigger();
    ASSERT_TRUE(fixture.waitFor([&] { return !fixture.coordinator->isRunning(); }));
    EXPECT_EQ(fixture.coordinator->jobs()[0]->status(), Status::cancelled);
    EXPECT_EQ(fixture.encodeMenu(), (std::vector<bool>{false, false, false, true}));
}

// What the runs received: the width and still-clip length each output was
// planned with, and the secret each upload sent. Outputs are written at once.
class RecordingBackend final : public EncoderBackend, public Uploader {
public:
    struct Received {
        std::optional<int> width;
        std::optional<double> stillSeconds;
        std::optional<std::string> secret;
    };
    Received take() {
        const std::lock_guard lock(mutex_);
        return std::exchange(received_, {});
    }
    jobs::SourceProbe probe(const fs::path& source, const ExportConfiguration&) const override {
        return jobs::SourceProbe::sized(source, {1440, 1080});
    }
    EncodeResult encode(const jobs::OutputPlan& plan, const ProgressCallback&, const PreviewCallback&,
                        std::stop_token) const override {
        record(plan.configuration, plan.options);
        std::ofstream(plan.destination) << "done";
        return {};
    }
    fs::path stitch(const std::vector<fs::path>&, const ExportConfiguration& configuration,
                    const SourceEncodeOptions& options, const std::function<fs::path(IntSize)>& destination,
                    const ProgressCallback&, const PreviewCallback&, std::stop_token) const override {
        record(configuration, options);
        const fs::path file = destination({1440, 1080});
        std::ofstream(file) << "done";
        return file;
    }
    std::optional<std::string> upload(const fs::path&, const PublishSettings&, const std::optional<std::string>& secret,
                                      std::stop_token) override {
        const std::lock_guard lock(mutex_);
        received_.secret = secret.value_or("");
        return std::nullopt;
    }

private:
    void record(const ExportConfiguration& configuration, const SourceEncodeOptions& options) const {
        const std::lock_guard lock(mutex_);
        received_.width = configuration.resize.width;
        received_.stillSeconds = options.stillClipSeconds;
    }
    mutable std::mutex mutex_;
    mutable Received received_;
};

// Every way of starting takes what the focused field shows, though the
// caret is still in it and its edit has not ended: a number field, the
// still-clip stepper and the publishing token, each where its run uses it
// (proxies take no resize and upload nothing; a stitch uploads nothing).
// Return never starts from a text field, so its edit has always ended.
TEST(ApplicationShell, EveryStartTakesTheEditStillInProgress) {
    auto backend = std::make_shared<RecordingBackend>();
    auto secrets = std::make_shared<MemorySecretStore>();
    ShellFixture fixture(backend, secrets, backend);
    EncodingCoordinator& coordinator = *fixture.coordinator;
    ui::MainWindow& window = fixture.shell->mainWindow();
    window.settingsColumn()->moreSettingsToggle()->click();
    for (ui::CollapsibleCard* card : window.settingsColumn()->cards())
        if (card->title() == "Publish") card->setExpanded(true);
    coordinator.setSelectedCodec(OutputCodec::h264);
    coordinator.setPublish(
        {true, "https://example.test/up/", PublishSettings::Method::put, PublishSettings::Auth::bearer, ""});
    fixture.flags.setFlag("hasSeenWelcome", true);
    fixture.shell->showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    using Received = RecordingBackend::Received;
    struct Field {
        const char* name;
        QString typed;
        std::function<void()> reset;
        std::function<std::optional<std::string>(const Received&)> received;
    };
    const auto text = [](const auto& value) -> std::optional<std::string> {
        if (!value) return std::nullopt;
        if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, std::string>)
            return *value;
        else
            return std::to_string(int(*value));
    };
    const Field width{"resizeWidth", "160",
                      [&] {
                          coordinator.setResize({true, 1440, 1080, ResizeMode::aspect});
                      },
                      [&](const Received& r) { return text(r.width); }};
    const Field still{"stillDuration", "9", [&] { coordinator.setStillDuration(6); },
                      [&](const Received& r) { return text(r.stillSeconds); }};
    const Field token{"publishSecret", "newtok", [&] { coordinator.setPublishSecret("s3cr3t"); },
                      [&](const Received& r) { return text(r.secret); }};

    const auto menuItem = [&window](const char* name) {
        return [&window, name] { window.findChild<QAction*>(name)->trigger(); };
    };
    const auto button = [&window](const char* name) {
        return [&window, name] { QTest::mouseClick(window.findChild<QPushButton*>(name), Qt::LeftButton); };
    };
    const auto keys = [](Qt::KeyboardModifiers modifiers) {
        return [modifiers] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_R, modifiers); };
    };
    const auto tray = [&fixture] { fixture.shell->tray().menu().findChild<QAction*>("trayStart")->trigger(); };
    const struct {
        const char* path;
        std::function<void()> start;
        std::vector<const Field*> fields;
    } rows[] = {
        {"Ctrl+R", keys(Qt::ControlModifier), {&width, &still, &token}},
        {"Start Encoding menu item", menuItem("startEncoding"), {&width, &still, &token}},
        {"tray Start", tray, {&width, &still, &token}},
        {"Encode button", button("encode"), {&width, &still, &token}},
        {"Ctrl+Alt+R", keys(Qt::ControlModifier | Qt::AltModifier), {&still}},
        {"Make Proxies menu item", menuItem("makeProxies"), {&still}},
        {"Make Proxies button", button("makeProxies"), {&still}},
        {"Stitch button", button("stitch"), {&width, &still}},
    };
    for (const auto& row : rows)
        for (const Field* field : row.fields) {
            SCOPED_TRACE(std::string(row.path) + " in " + field->name);
            // Two waiting clips (Stitch needs two) and the stored value to be replaced.
            const auto jobs = coordinator.jobs();
            for (const auto& job : jobs) coordinator.remove(*job);
            fixture.add({"a.mov", "b.mov"});
            field->reset();
            test::processEvents();  // the menus and the tray read the queue again
            auto* edit = window.findChild<QWidget*>(field->name);
            ASSERT_TRUE(edit && edit->isVisible() && edit->isEnabled());
            edit->setFocus(Qt::OtherFocusReason);
            ASSERT_TRUE(edit->hasFocus());
            if (auto* line = qobject_cast<QLineEdit*>(edit)) line->selectAll();
            if (auto* spin = qobject_cast<QAbstractSpinBox*>(edit)) spin->selectAll();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
            QTest::keyClicks(QApplication::focusWidget(), field->typed);
            backend->take();
            row.start();
            ASSERT_TRUE(coordinator.isRunning()) << "not started";
            ASSERT_TRUE(fixture.waitFor([&] { return !coordinator.isRunning(); }));
            EXPECT_EQ(field->received(backend->take()), field->typed.toStdString());
        }
}

// The main window opens centred on its screen, where a plain window manager
// would put it in a corner, inside the screen's free area with its frame: one
// taller or wider than that opens as large as the area allows (down to its
// minimum size), its top-left corner (the title bar) on it. Moved, hidden to
// the tray and shown again, it stays where it was.
TEST(ApplicationShell, TheMainWindowOpensCentredOnItsScreen) {
    enum class Size { fits, larger, tallerByItsFrame, belowItsMinimum };
    const struct {
        const char* name;
        Size size;
    } rows[] = {
        {"fits the screen", Size::fits},
        {"larger than the screen", Size::larger},
        {"as tall as the free area, without its frame", Size::tallerByItsFrame},
        {"larger than the screen, with a minimum that fits", Size::belowItsMinimum},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ShellFixture fixture;
        fixture.flags.setFlag("hasSeenWelcome", true);
        ui::MainWindow& main = fixture.shell->mainWindow();
        const QRect screen = main.screen()->availableGeometry();
        const bool fits = row.size == Size::fits;
        switch (row.size) {
        case Size::fits: main.resize(main.minimumSizeHint() + QSize(40, 40)); break;
        case Size::larger: main.resize(screen.size() + QSize(100, 80)); break;
        case Size::tallerByItsFrame:
            main.setMinimumSize(screen.size() / 2);
            main.resize(screen.width() / 2 + 40, screen.height());
            break;
        case Size::belowItsMinimum:
            main.setMinimumSize(screen.size() / 2);
            main.resize(screen.size() + QSize(100, 80));
            break;
        }
        ASSERT_EQ(screen.contains(QRect(screen.topLeft(), main.size())),
                  row.size != Size::larger && row.size != Size::belowItsMinimum);
        fixture.shell->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        QRect placed = main.frameGeometry();
        if (row.size == Size::tallerByItsFrame || row.size == Size::belowItsMinimum) {
            // Its frame is known once shown: it is fitted with it then.
            EXPECT_TRUE(QTest::qWaitFor([&] { return screen.contains(main.frameGeometry()); }))
                << "the frame is off the free area";
            placed = main.frameGeometry();
            EXPECT_EQ(placed.height(), screen.height()) << "as tall as the area allows";
            EXPECT_GE(main.height(), main.minimumHeight());
        } else if (fits) {
            // Its frame is unknown until it is first shown: centred within that.
            const QSize frame = placed.size() - main.size();
            EXPECT_LE(std::abs(placed.center().x() - screen.center().x()), frame.width() / 2 + 1) << placed.x();
            EXPECT_LE(std::abs(placed.center().y() - screen.center().y()), frame.height() / 2 + 1) << placed.y();
        } else {
            EXPECT_EQ(placed.topLeft(), screen.topLeft());
        }

        const QPoint moved = screen.topLeft() + QPoint(30, 20);
        main.move(moved);
        main.hide();
        fixture.shell->showMainWindow();
        test::processEvents();
        EXPECT_EQ(main.frameGeometry().topLeft(), moved) << "shown again";
    }
}

// Each secondary window opens centred over the main window, wherever that
// stands (one larger than the screen's free area made as large as the area);
// the application's shortcuts work in it (Ctrl+Q asks, during a run, whether
// to quit), and Esc closes it.
TEST(ApplicationShell, SecondaryWindowsOpenCentredOverTheMainWindowAndEscClosesThem) {
    ShellFixture fixture;
    fixture.flags.setFlag("hasSeenWelcome", true);
    fixture.add({"a.mov"});
    fixture.coordinator->startEncoding();
    ASSERT_TRUE(fixture.waitFor([&] { return fixture.coordinator->jobs()[0]->progress() == 0.5; }));
    ui::MainWindow& main = fixture.shell->mainWindow();
    fixture.shell->showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    // Away from the screen's corner and centre, with room for each window around it.
    main.resize(main.minimumSize());
    main.move(120, 90);
    test::processEvents();
    const QRect screen = main.screen()->availableGeometry();
    const QPoint centre = main.frameGeometry().center();
    ASSERT_TRUE(screen.contains(main.frameGeometry()));
    const struct {
        const char* name;
        std::function<QWidget*()> open;
        bool fillsTheArea = false;
    } windows[] = {
        {"Settings",
         [&]() -> QWidget* {
             fixture.shell->showSettings();
             return fixture.shell->settingsWindow();
         }},
        {"History",
         [&] {
             main.findChild<QAction*>("encodeHistory")->trigger();
             return fixture.shell->scenes().window("history");
         }},
        {"Manual",
         [&] {
             main.findChild<QAction*>("manual")->trigger();
             return fixture.shell->scenes().window("manual");
         }},
        {"About",
         [&] {
             main.findChild<QAction*>("about")->trigger();
             return fixture.shell->scenes().window("about");
         }},
        {"Welcome",
         [&] {
             main.findChild<QAction*>("welcome")->trigger();
             return fixture.shell->scenes().window("welcome");
         }},
        {"Manual, larger than the free area",
         [&] {
             fixture.shell->scenes().add(QStringLiteral("manual"), [&] {
                 auto* manual = new ManualWindow;
                 manual->resize(screen.size() + QSize(200, 150));
                 return manual;
             });
             main.findChild<QAction*>("manual")->trigger();
             return fixture.shell->scenes().window("manual");
         },
         true},
    };
    for (const auto& entry : windows) {
        SCOPED_TRACE(entry.name);
        QWidget* window = entry.open();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        const QRect placed = window->frameGeometry();
        const QPoint over = entry.fillsTheArea ? screen.center() : centre;
        EXPECT_LE((placed.center() - over).manhattanLength(), 2)
            << placed.center().x() << "," << placed.center().y() << " over " << over.x() << "," << over.y();
        EXPECT_TRUE(screen.contains(placed));
        const QPointer<QWidget> open(window);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        // Where the user's key lands: the window's focused control, if any.
        const int questions = fixture.questions;
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(fixture.questions, questions + 1) << "Ctrl+Q did nothing";
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Escape);
        test::processEvents();
        EXPECT_TRUE(!open || !open->isVisible()) << "Esc left it open";
    }
    fixture.coordinator->prepareToQuit(std::chrono::seconds(5));
}

TEST(ApplicationShell, EachSceneHasOneWindowBroughtForward) {
    ShellFixture fixture;
    WindowScenes& scenes = fixture.shell->scenes();
    for (const QString id : {"about", "manual", "history", "welcome"}) {
        fixture.shell->mainWindow().findChild<QAction*>(id == "history" ? "encodeHistory" : id)->trigger();
        QWidget* first = scenes.window(id);
        ASSERT_NE(first, nullptr) << id.toStdString();
        first->showMinimized();
        scenes.open(id);
        EXPECT_EQ(scenes.window(id), first) << id.toStdString();
        EXPECT_FALSE(first->isMinimized());
        first->close();
        test::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(scenes.window(id), nullptr) << "a closed window goes";
    }
}

TEST(ApplicationShell, OnFirstStartTheWelcomeWindowOpensInFrontOfTheMainWindow) {
    for (const bool seen : {false, true}) {
        ShellFixture fixture;
        fixture.flags.setFlag("hasSeenWelcome", seen);
        fixture.shell->start();
        QMainWindow& main = fixture.shell->mainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        QWidget* welcome = fixture.shell->scenes().window("welcome");
        if (seen) {
            test::processEvents();
            EXPECT_EQ(fixture.shell->scenes().window("welcome"), nullptr);
            continue;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] {
            welcome = fixture.shell->scenes().window("welcome");
            return welcome && QApplication::activeWindow() == welcome;
        })) << "the active window is "
            << (QApplication::activeWindow() ? "the main window" : "none");
        ASSERT_NE(welcome->windowHandle(), nullptr);
        EXPECT_EQ(welcome->windowHandle()->transientParent(), main.windowHandle()) << "attached to the main window";
        EXPECT_TRUE(main.isVisible());
    }
}

TEST(ApplicationShell, TheMenuAndTheButtonOpenOneAddFilesChooser) {
    ShellFixture fixture;
    const fs::path shoot = fixture.folder() / "shoot";
    fs::create_directories(shoot);
    fixture.picker.files = {test::touch(shoot / "a.mov")};
    fixture.shell->mainWindow().findChild<QAction*>("addFiles")->trigger();
    const QString menuTitle = fixture.picker.lastFilesTitle;
    fixture.shell->mainWindow().findChild<QPushButton*>("addFiles")->click();
    EXPECT_EQ(fixture.picker.lastFilesTitle, menuTitle);
    EXPECT_EQ(fixture.picker.lastFilesStart, shoot) << "the button starts where the menu's chooser ended";
    EXPECT_EQ(fixture.coordinator->jobs().size(), 2u);
}

TEST(ApplicationShell, TrayStatusTextAtTheBoundaries) {
    const struct {
        bool running;
        int finished, total;
        double progress;
        const char* text;
    } rows[] = {
        {false, 2, 5, 0.4, "Idle"},
        {true, 2, 5, 0.4999, "Encoding 2/5 · 49%"},
        {true, 0, 3, 0.0, "Encoding 0/3 · 0%"},
        {true, 3, 3, 1.0, "Encoding 3/3 · 100%"},
        {true, 1, 3, 1.7, "Encoding 1/3 · 100%"},
        {true, 1, 3, -0.2, "Encoding 1/3 · 0%"},
        {true, 1, 3, std::numeric_limits<double>::quiet_NaN(), "Encoding 1/3 · 0%"},
        {true, 1, 3, std::numeric_limits<double>::infinity(), "Encoding 1/3 · 0%"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TrayMenu::statusText(row.running, row.finished, row.total, row.progress).toStdString(), row.text);
}

TEST(ApplicationShell, SettingsWindowWritesTheOwnersAndLocksOnlyTheSliderDuringARun) {
    ShellFixture fixture;
    fixture.shell->showSettings();
    SettingsWindow* settings = fixture.shell->settingsWindow();
    ASSERT_NE(settings, nullptr);
    auto* slider = settings->findChild<QSlider*>("parallelEncodes");
    slider->setValue(3);
    EXPECT_EQ(fixture.coordinator->maxConcurrentJobs(), 3);
    EXPECT_EQ(settings->findChild<QLabel*>("parallelEncodesLabel")->text(), "Parallel encodes: 3");

    fixture.add({"a.mov"});
    fixture.coordinator->startEncoding();
    EXPECT_FALSE(slider->isEnabled());
    auto* notify = settings->findChild<QCheckBox*>("notifyOnCompletion");
    EXPECT_TRUE(notify->isEnabled());
    notify->click();
    EXPECT_FALSE(fixture.coordinator->notifyOnCompletion());

    // The tray menu and the settings window show one background controller.
    fixture.shell->tray().menu().findChild<QAction*>("trayLaunchAtLogin")->trigger();
    EXPECT_TRUE(settings->findChild<QCheckBox*>("launchAtLogin")->isChecked());
    fixture.background.setAgentModeUnavailableReason("no tray here");
    EXPECT_FALSE(settings->findChild<QCheckBox*>("runAsMenuBarAgent")->isEnabled());
    EXPECT_FALSE(fixture.shell->tray().menu().findChild<QAction*>("trayAgentMode")->isEnabled());
    fixture.coordinator->prepareToQuit(std::chrono::seconds(5));
}

// Quitting during a run asks; "no" keeps it running, "yes" cancels it, leaves
// no partial output and saves the queue with the run's jobs cancelled.
TEST(ApplicationShell, QuittingDuringARunAsksThenWindsTheRunDown) {
    ShellFixture fixture;
    fixture.add({"a.mov", "b.mov"});
    fixture.coordinator->startEncoding();
    ASSERT_TRUE(fixture.waitFor([&] { return fixture.coordinator->jobs()[0]->progress() == 0.5; }));

    fixture.shell->mainWindow().findChild<QAction*>("quit")->trigger();
    EXPECT_EQ(fixture.questions, 1);
    EXPECT_TRUE(fixture.coordinator->isRunning());
    // In agent mode closing the window only hides it: the run goes on in the tray.
    fixture.shell->showMainWindow();
    fixture.background.setRunAsMenuBarAgent(true);
    EXPECT_FALSE(fixture.shell->mainWindow().isVisible());
    fixture.shell->showMainWindow();
    fixture.shell->mainWindow().close();
    EXPECT_EQ(fixture.questions, 1);
    EXPECT_FALSE(fixture.shell->mainWindow().isVisible());
    fixture.background.setRunAsMenuBarAgent(false);

    fixture.answer = true;
    fixture.shell->mainWindow().close();
    EXPECT_EQ(fixture.questions, 2);
    EXPECT_FALSE(fixture.coordinator->isRunning());
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(fixture.folder()))
        if (entry.is_regular_file() && entry.path().filename() != "defaults.json")
            left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.mov", "b.mov"}));
    const auto saved = FolderQueueStore(fixture.coordinatorFixture.queueFolder()).load();
    EXPECT_EQ(saved.size(), 2u);
    for (const auto& job : fixture.coordinator->jobs()) EXPECT_EQ(job->status(), Status::cancelled);
}

// From the click on Cancel until the workers have stopped, the action bar,
// the encoding rows and the preview say the batch is cancelling; afterwards
// the preview says it was cancelled.
TEST(ApplicationShell, CancellingShowsUntilTheWorkersStopAndThePreviewSaysSo) {
    ShellFixture fixture(std::make_shared<GateBackend>());
    // Two encode while the third waits its turn.
    fixture.add({"a.mov", "b.mov", "c.mov"});
    fixture.coordinator->setMaxConcurrentJobs(2);
    fixture.coordinator->startEncoding();
    // The two workers report on their own threads, in either order.
    ASSERT_TRUE(fixture.waitFor([&] {
        return fixture.coordinator->jobs()[0]->progress() == 0.5 && fixture.coordinator->jobs()[1]->progress() == 0.5;
    }));
    ui::MainWindow& window = fixture.shell->mainWindow();
    auto* cancel = window.findChild<QPushButton*>("cancel");
    auto* countdown = window.findChild<QLabel*>("previewCountdown");
    ui::QueueCard* queue = window.queueCard();
    const auto rowLine = [&](int row) {
        return queue->delegate()->contentAt(queue->model()->index(row, 0))->lineText.toStdString();
    };
    EXPECT_EQ(cancel->text(), "Cancel");
    EXPECT_TRUE(cancel->isEnabled());
    EXPECT_EQ(rowLine(0), "");  // a progress bar
    EXPECT_EQ(rowLine(2), "Waiting");

    // The workers' reports wait in the event loop: the batch is stopping.
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_TRUE(fixture.coordinator->isRunning());
    EXPECT_EQ(cancel->text(), "Cancelling…");
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_EQ(countdown->text(), "Cancelling…");
    for (int row = 0; row < 3; ++row) EXPECT_EQ(rowLine(row), "Cancelling…") << row;

    ASSERT_TRUE(fixture.waitFor([&] { return !fixture.coordinator->isRunning(); }));
    EXPECT_TRUE(cancel->isHidden());
    EXPECT_EQ(window.findChild<QLabel*>("previewPlaceholderText")->text(), "Encoding cancelled");
    for (int row = 0; row < 3; ++row) EXPECT_EQ(rowLine(row), "Cancelled") << row;
}

// A quit question left open stays as it was while the batch is cancelled or
// ends on its own: nothing moves under the pointer, and the button aimed at
// is the answer given.
TEST(ApplicationShell, AnOpenQuitQuestionNeverChangesUnderThePointer) {
    struct Case {
        bool cancel;  // else the batch is let finish
        bool quit;    // the button aimed at
    } const cases[] = {{false, true}, {true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancel ? "cancelled" : "finished");
        auto gate = std::make_shared<GateBackend>();
        ShellFixture fixture(gate);
        fixture.add({"a.mov"});
        fixture.coordinator->startEncoding();
        ASSERT_TRUE(fixture.waitFor([&] { return fixture.coordinator->jobs()[0]->progress() == 0.5; }));
        QuitQuestion question(*fixture.coordinator, &fixture.shell->mainWindow());
        question.open();
        test::processEvents();
        const auto at = [&question](QWidget* button) { return button->mapTo(&question, button->rect().center()); };
        const auto looks = [&] {
            return std::make_tuple(question.windowTitle(), question.text(), question.stayButton()->text(),
                                   question.size(), at(question.quitButton()), at(question.stayButton()),
                                   question.defaultButton());
        };
        const auto before = looks();
        const QPoint aim = at(c.quit ? question.quitButton() : question.stayButton());
        if (c.cancel)
            fixture.coordinator->cancelEncoding();
        else
            gate->release();
        ASSERT_TRUE(fixture.waitFor([&] { return !fixture.coordinator->isRunning(); }));
        test::processEvents();
        EXPECT_TRUE(question.isVisible());
        EXPECT_TRUE(looks() == before) << question.text().toStdString();
        QWidget* under = question.childAt(aim);
        ASSERT_NE(under, nullptr);
        QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(&question, aim));
        EXPECT_EQ(question.quitChosen(), c.quit);
    }
}

}  // namespace
}  // namespace fw::app

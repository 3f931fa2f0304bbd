// A settings file that cannot be read: the window starts on defaults, the
// file's bytes are kept beside it and the window says where, once; the
// command line leaves the file as it is. Each start goes the way the
// program's own does: the shell's start, and the built program itself.

#include "CoordinatorTestSupport.h"
#include "ProgramRun.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "app/ApplicationShell.h"
#include "app/BackgroundController.h"
#include "model/Presets.h"
#include "ui/MainWindow.h"
#include "ui/UiFlags.h"

#include <QFile>
#include <QLabel>

#include <signal.h>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;

std::string nested(std::size_t depth) { return std::string(depth, '[') + "1" + std::string(depth, ']'); }

// Each kind of damage a settings file meets: a slip made by hand, a cut-off
// write, bytes of something else, JSON of another shape, nesting too deep to walk.
const struct {
    const char* name;
    std::string text;
} kDamagedSettings[] = {
    {"trailing comma", R"({"DidMigrateFromSandboxContainer": true, "hasSeenWelcome": true,})"},
    {"truncated", R"({"hasSeenWelcome": true, "userPresets.v1": [{"id": "5A)"},
    {"garbage", std::string("\x7f"
                            "ELF\x02\x01\x01\0\0\xff\xfe",
                            11)},
    {"top-level array", R"([{"hasSeenWelcome": true}])"},
    {"nested 100,000 deep", R"({"hasSeenWelcome": true, "deep": )" + nested(100000) + "}"},
};

// The objects the windowed start builds, over one settings file, started.
struct Start {
    UserDefaults defaults;
    PresetStore presets{defaults};
    ui::UiFlags flags{defaults};
    test::ScriptedFilePicker picker;
    BackgroundController background;
    std::unique_ptr<EncodingCoordinator> coordinator;
    std::unique_ptr<ApplicationShell> shell;

    Start(test::CoordinatorFixture& fixture, const fs::path& settings)
        : defaults(settings), background(AutostartEntry(fixture.folder / "autostart.desktop"), "/x") {
        CoordinatorServices services = fixture.services();
        services.userDefaults = &defaults;
        coordinator = std::make_unique<EncodingCoordinator>(services, EncodingCoordinator::Restore::yes);
        shell = std::make_unique<ApplicationShell>(ApplicationShell::Services{
            ui::WindowEnvironment{*coordinator, presets, flags, picker}, background, [] { return false; }});
        shell->start();
        test::processEvents();
    }
    // The text of the window's notice; empty when it shows none.
    QString notice() const {
        const auto* band = shell->mainWindow().findChild<QWidget*>(QStringLiteral("windowNotice"));
        if (!band || !band->isVisibleTo(&shell->mainWindow())) return {};
        for (const QLabel* label : band->findChildren<QLabel*>())
            if (!label->text().isEmpty()) return label->text();
        return {};
    }
};

TEST(StoredSettings, AnUnreadableFileIsKeptBesideItAndTheWindowSaysWhereOnce) {
    for (const auto& damage : kDamagedSettings) {
        SCOPED_TRACE(damage.name);
        test::CoordinatorFixture fixture;
        const fs::path settings = fixture.folder / "defaults.json";
        const fs::path kept = fixture.folder / "defaults.unreadable.json";
        std::ofstream(settings, std::ios::binary) << damage.text;
        {
            Start start(fixture, settings);
            EXPECT_EQ(test::readText(kept), damage.text) << "the bytes are kept whole";
            const QString notice = start.notice();
            EXPECT_TRUE(notice.contains(QFile::decodeName(kept.c_str()))) << notice.toStdString();
            EXPECT_TRUE(start.presets.userPresets().empty());
            // The settings live on in a new file.
            start.flags.setFlag(QStringLiteral("hasSeenWelcome"), true);
        }
        Start again(fixture, settings);
        EXPECT_EQ(again.notice(), QString()) << "said once, not at every start";
        EXPECT_TRUE(again.flags.flag(QStringLiteral("hasSeenWelcome"), false));
        EXPECT_EQ(test::readText(kept), damage.text);
        EXPECT_FALSE(fs::exists(fixture.folder / "defaults.unreadable-2.json"));
    }
}

TEST(StoredSettings, AReadableFileStartsWithoutANotice) {
    test::CoordinatorFixture fixture;
    const fs::path settings = fixture.folder / "defaults.json";
    std::ofstream(settings) << R"({"hasSeenWelcome": true})";
    Start start(fixture, settings);
    EXPECT_EQ(start.notice(), QString());
    EXPECT_TRUE(start.flags.flag(QStringLiteral("hasSeenWelcome"), false));
    EXPECT_FALSE(fs::exists(fixture.folder / "defaults.unreadable.json"));
}

// The built program: the command line leaves an unreadable settings file as it
// is; the window, started over settings, queue and history nested 100,000
// deep, comes up and sets the settings file aside.
TEST(StoredSettings, TheProgramNeverWritesOverAnUnreadableSettingsFile) {
    test::TempDir home;
    const fs::path settings = home / "config/Framewright/defaults.json";
    const fs::path data = home / "data/Framewright";
    fs::create_directories(settings.parent_path());
    fs::create_directories(data);
    for (const auto& damage : kDamagedSettings) {
        SCOPED_TRACE(damage.name);
        std::ofstream(settings, std::ios::binary) << damage.text;
        auto command = test::isolatedWindow(home);
        command.insert(command.end(), {FW_PROGRAM, "--encode", "--codec", "h264", (home / "missing.mov").string()});
        const auto result = test::runCommand(command);
        EXPECT_EQ(result.exitStatus, 1) << result.standardError;
        EXPECT_EQ(test::readText(settings), damage.text);
        EXPECT_FALSE(fs::exists(settings.parent_path() / "defaults.unreadable.json"));
    }

    const std::string deep = kDamagedSettings[std::size(kDamagedSettings) - 1].text;
    const std::string deepList = "[" + nested(100000) + "]";
    for (const char* name : {"queue.json", "history.json"}) std::ofstream(data / name) << deepList;
    const fs::path kept = settings.parent_path() / "defaults.unreadable.json";
    auto command = test::isolatedWindow(home);
    command.push_back(FW_PROGRAM);
    bool started = false;
    test::runCommand(command, [&](int process) {
        // Up once the settings file is aside and a new one written.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!started && std::chrono::steady_clock::now() < deadline) {
            started = fs::exists(kept) && UserDefaults(settings).boolean("DidMigrateFromSandboxContainer") == true;
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(process, SIGTERM);
    });
    ASSERT_TRUE(started);
    EXPECT_EQ(test::readText(kept), deep);
    // Left where they were, or set aside whole by a save.
    for (const char* name : {"queue", "history"}) {
        const fs::path file = data / (std::string(name) + ".json");
        const fs::path aside = data / (std::string(name) + ".unreadable.json");
        EXPECT_EQ(test::readText(fs::exists(aside) ? aside : file), deepList) << name;
    }
}

}  // namespace
}  // namespace fw::app

// A settings file that cannot be read: the window starts on defaults, the
// file's bytes are kept beside it and the window says where, once; the
// command line leaves the file as it is. Each start goes the way the
// program's own does: the shell's start, and the built program itself.
// The window also says when settings, presets, queue or history could not
// be saved, or their files were set aside.

#include "CoordinatorTestSupport.h"
#include "ProgramRun.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "app/ApplicationShell.h"
#include "app/BackgroundController.h"
#include "app/QuitGuard.h"
#include "model/EncodeHistory.h"
#include "model/Presets.h"
#include "model/QueuePersistence.h"
#include "ui/MainWindow.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <signal.h>
#include <fstream>
#include <functional>

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
    {"presets an object", R"({"hasSeenWelcome": true, "userPresets.v1": {"id": "5A"}})"},
    {"presets a string", R"({"hasSeenWelcome": true, "userPresets.v1": "Mine"})"},
    {"presets key twice", R"({"hasSeenWelcome": true, "userPresets.v1": [], "userPresets.v1": []})"},
};

// The objects the windowed start builds, over one settings file, the
// fixture's queue folder and a history in its folder "data", started.
struct Start {
    UserDefaults defaults;
    EncodeHistoryStore history;
    PresetStore presets{defaults};
    ui::UiFlags flags{defaults};
    test::ScriptedFilePicker picker;
    BackgroundController background;
    std::unique_ptr<EncodingCoordinator> coordinator;
    // What each Quit asked of stores left unsaved; the answer is Cancel.
    std::vector<std::vector<UnsavedStore>> unsavedQuestions;
    std::unique_ptr<ApplicationShell> shell;

    Start(test::CoordinatorFixture& fixture, const fs::path& settings)
        : defaults(settings),
          history(fixture.folder / "data"),
          background(AutostartEntry(fixture.folder / "autostart.desktop"), "/x") {
        CoordinatorServices services = fixture.services();
        services.userDefaults = &defaults;
        services.history = &history;
        coordinator = std::make_unique<EncodingCoordinator>(services, EncodingCoordinator::Restore::yes);
        shell = std::make_unique<ApplicationShell>(
            ApplicationShell::Services{ui::WindowEnvironment{*coordinator, presets, flags, picker},
                                       background,
                                       [] { return false; },
                                       {},
                                       [this](const std::vector<UnsavedStore>& unsaved) {
                                           unsavedQuestions.push_back(unsaved);
                                           return false;
                                       }});
        shell->start();
        test::processEvents();
    }
    // The texts of the window's notices, one a line; empty when it shows none.
    QString notice() const {
        const auto* area = shell->mainWindow().findChild<QWidget*>(QStringLiteral("windowNotice"));
        if (!area || !area->isVisibleTo(&shell->mainWindow())) return {};
        QStringList texts;
        for (const QLabel* label : area->findChildren<QLabel*>())
            if (!label->text().isEmpty()) texts.append(label->text());
        return texts.join(QLatin1Char('\n'));
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

// A save of each store, and how many of what it saved a start holds.
const struct {
    const char* name;
    const char* file;  // in the fixture's folder
    std::function<void(Start&, int)> save;
    std::function<int(Start&)> count;  // what the start holds
} kFailedSaves[] = {
    {"settings", "defaults.json",
     [](Start& start, int index) { start.flags.setFlag(QStringLiteral("flag%1").arg(index), true); },
     [](Start& start) {
         return int(start.flags.flag(QStringLiteral("flag0"), false)) +
                start.flags.flag(QStringLiteral("flag1"), false);
     }},
    {"presets", "defaults.json",
     [](Start& start, int index) { start.presets.savePreset("Mine " + std::to_string(index), {}); },
     [](Start& start) { return int(start.presets.userPresets().size()); }},
    {"queue", "support/queue.json",
     [](Start& start, int index) {
         start.coordinator->addFiles(
             {test::touch(start.history.file()->parent_path() / (std::to_string(index) + ".mov"))},
             EncodingCoordinator::Duplicates::allowed);
     },
     [](Start& start) { return int(start.coordinator->jobs().size()); }},
    {"history", "data/history.json",
     [](Start& start, int) { start.history.record("clip.mov", std::nullopt, "x", true, std::nullopt); },
     [](Start& start) { return int(start.history.records().size()); }},
};

// A folder where the store's `file` should be, so that its saves fail; the
// rest of the fixture's folder as a start expects it.
fs::path blockedFile(const test::CoordinatorFixture& fixture, const char* file) {
    const fs::path blocked = fixture.folder / file;
    fs::create_directories(blocked);
    fs::create_directories(fixture.folder / "data");
    return blocked;
}

// A save that fails (a folder in the file's place) is said once, with the
// file and the system's reason, and is tried again at the next save; once a
// save works, the notice goes, and a restart finds all that was saved before
// and after.
TEST(StoredSettings, AFailedSaveIsSaidOnceAndNothingIsLostOnceItWorksAgain) {
    for (const auto& row : kFailedSaves) {
        SCOPED_TRACE(row.name);
        test::CoordinatorFixture fixture;
        const fs::path settings = fixture.folder / "defaults.json";
        const fs::path blocked = blockedFile(fixture, row.file);
        {
            Start start(fixture, settings);
            row.save(start, 0);
            test::processEvents();
            const QString said = start.notice();
            EXPECT_TRUE(said.contains(QFile::decodeName(blocked.c_str()))) << said.toStdString();
            EXPECT_TRUE(said.contains(QStringLiteral("Is a directory"))) << said.toStdString();
            fs::remove(blocked);
            row.save(start, 1);
            test::processEvents();
            EXPECT_EQ(start.notice(), QString()) << "gone once saved";
        }
        Start again(fixture, settings);
        EXPECT_EQ(row.count(again), 2);
        EXPECT_EQ(again.notice(), QString());
    }
}

// A store's notice that it could not save stays, said once, while its saves
// fail, and goes with the first that works. Another store's that still
// cannot save stays, and so does where the store's own unreadable file was
// set aside at start.
TEST(StoredSettings, AStoreThatSavesAgainTakesAwayItsOwnUnsavedNoticeOnly) {
    const struct {
        std::size_t store, other;  // rows of kFailedSaves
        const char* unreadable;    // the store's file at start
    } rows[] = {{0, 2, "{damaged"}, {1, 3, "{damaged"}, {2, 0, "{}"}, {3, 1, "{}"}};
    for (const auto& row : rows) {
        const auto& store = kFailedSaves[row.store];
        const auto& other = kFailedSaves[row.other];
        SCOPED_TRACE(store.name);
        test::CoordinatorFixture fixture;
        const fs::path file = fixture.folder / store.file;
        const fs::path kept = file.parent_path() / (file.stem().string() + ".unreadable.json");
        const fs::path otherFile = fixture.folder / other.file;
        fs::create_directories(fixture.folder / "data");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << row.unreadable;
        fs::create_directories(otherFile);
        Start start(fixture, fixture.folder / "defaults.json");
        ASSERT_EQ(test::readText(kept), row.unreadable);
        fs::remove(file);
        fs::create_directories(file);
        other.save(start, 0);
        store.save(start, 0);
        store.save(start, 1);
        test::processEvents();
        const auto unsaved = [](const fs::path& blocked) {
            return QFile::decodeName(blocked.c_str()) + QStringLiteral(": Is a directory.");
        };
        const QStringList shown = start.shell->mainWindow().notices();
        ASSERT_EQ(shown.size(), 3) << shown.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(shown.filter(QFile::decodeName(kept.c_str())).size(), 1);
        EXPECT_EQ(shown.filter(unsaved(otherFile)).size(), 1);
        ASSERT_EQ(shown.filter(unsaved(file)).size(), 1) << "said once";

        fs::remove(file);
        store.save(start, 2);
        test::processEvents();
        QStringList left = shown;
        left.removeAll(shown.filter(unsaved(file)).front());
        EXPECT_EQ(start.shell->mainWindow().notices(), left);
        EXPECT_TRUE(start.shell->mainWindow().findChild<QWidget*>(QStringLiteral("windowNotice"))->isVisible());
    }
}

// Quit saves what a failed save left unsaved. While it still cannot, it
// asks, naming the file and the system's reason; after Cancel and the folder
// fixed, the next Quit saves it without asking.
TEST(StoredSettings, QuitSavesWhatAFailedSaveLeftOnceItCanAndAsksWhileItCannot) {
    for (const auto& row : kFailedSaves) {
        SCOPED_TRACE(row.name);
        test::CoordinatorFixture fixture;
        const fs::path settings = fixture.folder / "defaults.json";
        const fs::path blocked = blockedFile(fixture, row.file);
        {
            Start start(fixture, settings);
            row.save(start, 0);
            start.shell->requestQuit();
            ASSERT_EQ(start.unsavedQuestions.size(), 1u);
            ASSERT_EQ(start.unsavedQuestions[0].size(), 1u) << "only the store that failed";
            const StoredFileReport& told = start.unsavedQuestions[0][0].report;
            EXPECT_EQ(told.file, blocked);
            EXPECT_EQ(told.reason, "Is a directory");
            fs::remove(blocked);
            start.shell->requestQuit();
            EXPECT_EQ(start.unsavedQuestions.size(), 1u) << "saved, so not asked again";
        }
        Start again(fixture, settings);
        EXPECT_EQ(row.count(again), 1);
    }
}

// The question itself: each store's file and reason, then what Cancel is
// for; Cancel is the default, and only "Quit Anyway" quits.
TEST(StoredSettings, TheUnsavedQuitQuestionNamesEachFileAndQuitsOnlyWhenTold) {
    test::CoordinatorFixture fixture;
    Start start(fixture, fixture.folder / "defaults.json");
    const std::vector<UnsavedStore> unsaved = {
        {StoredData::queue,
         {StoredFileReport::Kind::writeFailed, "/full/queue.json", {}, "No space left on device", {}}},
        {StoredData::settings,
         {StoredFileReport::Kind::writeFailed, "/locked/defaults.json", {}, "Read-only file system", {}}}};
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit);
        QString text;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* question = qobject_cast<UnsavedQuitQuestion*>(QApplication::activeModalWidget());
            if (!question) return;
            answer.stop();
            text = question->informativeText();
            EXPECT_EQ(question->defaultButton(), question->stayButton());
            (quit ? question->quitButton() : question->stayButton())->click();
        });
        answer.start(10);
        EXPECT_EQ(QuitGuard::askWithUnsaved(&start.shell->mainWindow(), unsaved), quit);
        EXPECT_EQ(text.toStdString(),
                  "The queue could not be saved to /full/queue.json: No space left on device.\n\n"
                  "Settings and presets could not be saved to /locked/defaults.json: Read-only file system.\n\n"
                  "Cancel keeps Framewright open, so you can make room or fix the folder, then quit again.");
    }
}

// A queue or history file that is no readable list is set aside at start,
// and the window says where it was kept.
TEST(StoredSettings, ASetAsideQueueOrHistoryIsSaidWithWhereItWasKept) {
    for (const char* name : {"support/queue", "data/history"}) {
        SCOPED_TRACE(name);
        test::CoordinatorFixture fixture;
        const fs::path file = fixture.folder / (std::string(name) + ".json");
        const fs::path kept = fixture.folder / (std::string(name) + ".unreadable.json");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "{}";
        Start start(fixture, fixture.folder / "defaults.json");
        EXPECT_EQ(test::readText(kept), "{}");
        EXPECT_TRUE(start.notice().contains(QFile::decodeName(kept.c_str()))) << start.notice().toStdString();
    }
}

// A stored file reached through a relative link into the user's dotfiles:
// the bytes of the file it names are kept beside that file, the link stays,
// and the next save goes through it to the same file.
TEST(StoredSettings, AnUnreadableLinkedFileIsKeptBesideWhatTheLinkNamesAndTheLinkStays) {
    const struct {
        const char* name;
        const char* file;  // in the fixture's folder
        std::function<void(Start&, const fs::path& folder)> save;
        std::function<bool(const fs::path& folder)> saved;  // read anew
    } rows[] = {
        {"settings", "defaults.json",
         [](Start& start, const fs::path&) { start.flags.setFlag(QStringLiteral("hasSeenWelcome"), true); },
         [](const fs::path& folder) {
             return UserDefaults(folder / "defaults.json").boolean("hasSeenWelcome") == true;
         }},
        {"queue", "support/queue.json",
         [](Start& start, const fs::path& folder) {
             start.coordinator->addFiles({test::touch(folder / "clip.mov")}, EncodingCoordinator::Duplicates::allowed);
         },
         [](const fs::path& folder) { return QueuePersistence::load(folder / "support").size() == 1; }},
        {"history", "data/history.json",
         [](Start& start, const fs::path&) { start.history.record("clip.mov", {}, "H.264", false, "no"); },
         [](const fs::path& folder) { return EncodeHistoryStore(folder / "data").records().size() == 1; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::CoordinatorFixture fixture;
        const fs::path link = fixture.folder / row.file;
        const fs::path target = fixture.folder / "dotfiles/framewright.json";
        const fs::path kept = fixture.folder / "dotfiles/framewright.unreadable.json";
        fs::create_directories(target.parent_path());
        fs::create_directories(link.parent_path());
        std::ofstream(target, std::ios::binary) << "{damaged";
        fs::create_symlink(fs::relative(target, link.parent_path()), link);
        {
            Start start(fixture, fixture.folder / "defaults.json");
            EXPECT_EQ(test::readText(kept), "{damaged");
            EXPECT_TRUE(start.notice().contains(QFile::decodeName(kept.c_str()))) << start.notice().toStdString();
            row.save(start, fixture.folder.path());
        }
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(row.saved(fixture.folder.path())) << test::readText(target);
        EXPECT_EQ(test::readText(kept), "{damaged");
        EXPECT_FALSE(fs::exists(fixture.folder / "dotfiles/framewright.unreadable-2.json"));
    }
}

// A damaged settings file that cannot be moved aside (here its name is too
// long to take ".unreadable") is said to be so, and is never written over.
TEST(StoredSettings, AnUnreadableFileThatCannotBeSetAsideIsSaidSoAndLeftAlone) {
    test::CoordinatorFixture fixture;
    const fs::path settings = fixture.folder / (std::string(245, 's') + ".json");
    std::ofstream(settings) << "{damaged";
    Start start(fixture, settings);
    const std::string said = start.notice().toStdString();
    EXPECT_NE(said.find("could not be set aside either (File name too long)"), std::string::npos) << said;
    EXPECT_NE(said.find(settings.string()), std::string::npos) << said;
    start.flags.setFlag(QStringLiteral("hasSeenWelcome"), true);
    EXPECT_EQ(test::readText(settings), "{damaged");
    // The change it holds is unsaved: Quit tries once more, then asks.
    start.shell->requestQuit();
    ASSERT_EQ(start.unsavedQuestions.size(), 1u);
    ASSERT_EQ(start.unsavedQuestions[0].size(), 1u);
    EXPECT_EQ(unsavedNotice(StoredData::settings, start.unsavedQuestions[0][0].report).toStdString(),
              "Settings and presets could not be saved: " + settings.string() +
                  " could not be read, nor set aside (File name too long).");
    EXPECT_EQ(test::readText(settings), "{damaged");
}

// The built program: the command line leaves an unreadable settings file as it
// is; the window, started over settings, queue and history nested 100,000
// deep, comes up and sets the settings file aside.
// Runs the built program until the damaged bytes are `kept` aside and its start
// has written `settings` anew, then ends it; false if that never happened.
bool upOnceSetAside(const std::vector<std::string>& command, const fs::path& kept, const fs::path& settings) {
    return test::runUntil(
               command,
               [&] {
                   return fs::exists(kept) && UserDefaults(settings).boolean("DidMigrateFromSandboxContainer") == true;
               },
               [](int process) { ::kill(process, SIGTERM); })
        .second;
}

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
    ASSERT_TRUE(upOnceSetAside(command, kept, settings));
    EXPECT_EQ(test::readText(kept), deep);
    // Left where they were, or set aside whole by the start.
    for (const char* name : {"queue", "history"}) {
        const fs::path file = data / (std::string(name) + ".json");
        const fs::path aside = data / (std::string(name) + ".unreadable.json");
        EXPECT_EQ(test::readText(fs::exists(aside) ? aside : file), deepList) << name;
    }
}

// The built program over a settings file linked into the user's dotfiles
// (relative link): the link stays, the damaged bytes are kept beside the file
// it names, and the settings the start writes reach that file.
TEST(StoredSettings, TheProgramKeepsALinkedSettingsFileALink) {
    test::TempDir home;
    const fs::path settings = home / "config/Framewright/defaults.json";
    const fs::path target = home / "dotfiles/framewright.json";
    fs::create_directories(settings.parent_path());
    fs::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << "{damaged";
    fs::create_symlink("../../dotfiles/framewright.json", settings);
    const fs::path kept = home / "dotfiles/framewright.unreadable.json";
    auto command = test::isolatedWindow(home);
    command.push_back(FW_PROGRAM);
    ASSERT_TRUE(upOnceSetAside(command, kept, target));
    EXPECT_TRUE(fs::is_symlink(settings));
    EXPECT_EQ(fs::read_symlink(settings), "../../dotfiles/framewright.json");
    EXPECT_EQ(test::readText(kept), "{damaged");
}

}  // namespace
}  // namespace fw::app

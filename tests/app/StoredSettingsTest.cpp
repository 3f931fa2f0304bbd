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
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
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
            std::ofstream(blocked) << "[]";  // a list, or what settings replace: made private
            fs::permissions(blocked, fs::perms(0600));
            row.save(start, 1);
            test::processEvents();
            EXPECT_EQ(start.notice(), QString()) << "gone once saved";
            EXPECT_EQ(fs::status(blocked).permissions(), fs::perms(0600)) << "the mode of the file replaced";
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

// Queued files that are not there at start (a drive not plugged in) are
// said once, by how many; other notices and later saves do not repeat it.
// The notice's button forgets them: the notice goes, and so do their entries.
TEST(StoredSettings, QueuedFilesNotFoundAtStartAreCountedOnce) {
    const struct {
        std::size_t absent, present;
        const char* said;
        const char* button;
    } rows[] = {
        {1, 0, "One queued file could not be found, so it was left out of the queue.", "Forget This File"},
        {2, 1, "2 queued files could not be found, so they were left out of the queue.", "Forget These Files"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.absent);
        test::CoordinatorFixture fixture;
        fs::create_directories(fixture.folder / "data");
        fs::create_directories(fixture.folder / "drive");
        QueuePersistence::JobList jobs;
        for (std::size_t index = 0; index < row.absent + row.present; ++index)
            jobs.push_back(std::make_shared<EncodeJob>(
                test::touch(fixture.folder / (index < row.absent ? "drive" : "") / (std::to_string(index) + ".mov"))));
        QueuePersistence::save(jobs, fixture.queueFolder());
        fs::rename(fixture.folder / "drive", fixture.folder / "unplugged");
        Start start(fixture, fixture.folder / "defaults.json");
        EXPECT_EQ(start.coordinator->jobs().size(), row.present);
        kFailedSaves[2].save(start, 0);
        test::processEvents();
        const QStringList shown = start.shell->mainWindow().notices();
        EXPECT_EQ(shown.size(), 1) << shown.join(QLatin1Char('\n')).toStdString();
        const QString said = shown.value(0);
        EXPECT_TRUE(said.startsWith(QString::fromUtf8(row.said))) << said.toStdString();
        EXPECT_TRUE(said.contains(QFile::decodeName((fixture.queueFolder() / "queue.json").c_str())));
        auto* forget = start.shell->mainWindow().findChild<QPushButton*>(QStringLiteral("bannerButton"));
        ASSERT_EQ(forget ? forget->text().toStdString() : "", row.button);
        forget->click();
        EXPECT_EQ(start.shell->mainWindow().notices(), QStringList());
        EXPECT_TRUE(QueuePersistence::loadKeepingAbsent(fixture.queueFolder()).absent.empty()) << "forgotten";
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

// A stored file reached through a relative link to a file in a folder within
// its own: the bytes of the file it names are kept beside that file, the link
// stays, and the next save goes through it to the same file. A link to a file
// elsewhere (the user's dotfiles) is left as it is, and so is that file: it is
// not this program's to rename, so nothing is saved over it.
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
    for (const bool outside : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (outside ? " outside" : " inside"));
            test::CoordinatorFixture fixture;
            const test::TempDir dotfiles;
            const fs::path link = fixture.folder / row.file;
            const fs::path folder = outside ? dotfiles.path() : link.parent_path() / "mine";
            const fs::path target = folder / "framewright.json";
            const fs::path kept = folder / "framewright.unreadable.json";
            fs::create_directories(target.parent_path());
            fs::create_directories(link.parent_path());
            std::ofstream(target, std::ios::binary) << "{damaged";
            fs::create_symlink(fs::relative(target, link.parent_path()), link);
            {
                Start start(fixture, fixture.folder / "defaults.json");
                const QString said = start.notice();
                EXPECT_TRUE(said.contains(outside ? QStringLiteral("a link to \u201c%1\u201d, outside its folder")
                                                        .arg(QFile::decodeName(target.c_str()))
                                                  : QFile::decodeName(kept.c_str())))
                    << said.toStdString();
                row.save(start, fixture.folder.path());
            }
            EXPECT_EQ(fs::read_symlink(link), fs::relative(target, link.parent_path()));
            EXPECT_EQ(row.saved(fixture.folder.path()), !outside) << test::readText(target);
            EXPECT_EQ(test::readText(outside ? target : kept), "{damaged");
            EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), outside ? 1 : 2);
        }
}

// How a stored file can be no file to read: a FIFO put in its place, a
// device, a link to a device elsewhere, a file far larger than any store
// writes (sparse: no disk used), a link to a file of the user's elsewhere (19
// bytes, private), or to JSON of the user's of the store's kind (a list, an
// object of other keys). The devices are nodes of the test's own (of /dev/zero's
// kind), so that code that renames them harms nothing.
enum class NoFile { fifo, device, deviceLink, huge, socket, linkLoop, foreignLink, userJson };
constexpr std::uintmax_t kHugeBytes = std::uintmax_t(512) << 20;

// Where place() puts the device a link names.
fs::path linkedDevice() {
    static const test::TempDir devices;
    return devices / "zero";
}

fs::path foreignFile() { return linkedDevice().parent_path() / "notes.txt"; }
constexpr std::string_view kForeignText = "my own notes, keep\n";
std::string_view foreignText(NoFile kind, const fs::path& file) {
    if (kind == NoFile::foreignLink) return kForeignText;
    return file.filename() == "defaults.json" ? R"({"editor.fontSize": 14})" : R"(["milk", "eggs"])";
}

// Why a save leaves what place() made as it is.
std::string heldReason(NoFile kind) {
    if (kind == NoFile::linkLoop) return "Too many levels of symbolic links";
    if (kind == NoFile::foreignLink || kind == NoFile::userJson)
        return "it is a link to \u201c" + foreignFile().string() + "\u201d, which holds something else";
    if (kind == NoFile::deviceLink)
        return "it is a link to \u201c" + linkedDevice().string() + "\u201d, which is not a regular file";
    return "it is not a regular file";
}

bool isZeroDevice(const fs::path& file) {
    struct stat status {};
    return ::lstat(file.c_str(), &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == ::makedev(1, 5);
}

void place(NoFile kind, const fs::path& file) {
    fs::create_directories(file.parent_path());
    const fs::path device = kind == NoFile::deviceLink ? linkedDevice() : file;
    if (kind == NoFile::fifo) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    } else if (kind == NoFile::socket) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(file.native().size(), sizeof address.sun_path);
        std::strcpy(address.sun_path, file.c_str());
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(listener);  // the socket's node stays
    } else if (kind == NoFile::linkLoop) {
        fs::create_symlink(file.filename(), file);
    } else if (kind == NoFile::foreignLink || kind == NoFile::userJson) {
        std::ofstream(foreignFile(), std::ios::trunc) << foreignText(kind, file);
        fs::permissions(foreignFile(), fs::perms(0600));
        fs::create_symlink(foreignFile(), file);
    } else if (kind == NoFile::huge) {
        fs::resize_file(test::touch(file), kHugeBytes);
    } else if (!isZeroDevice(device)) {
        ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0644, ::makedev(1, 5)), 0) << std::strerror(errno);
    }
    if (kind == NoFile::deviceLink) fs::create_symlink(device, file);
}

// What place() made is still there as it made it.
bool leftAlone(NoFile kind, const fs::path& file) {
    std::error_code error;
    switch (kind) {
    case NoFile::fifo: return fs::is_fifo(fs::symlink_status(file, error));
    case NoFile::device: return isZeroDevice(file);
    case NoFile::deviceLink: return fs::read_symlink(file, error) == linkedDevice() && isZeroDevice(linkedDevice());
    case NoFile::huge: return fs::file_size(file, error) == kHugeBytes;
    case NoFile::socket: return fs::is_socket(fs::symlink_status(file, error));
    case NoFile::linkLoop: return fs::read_symlink(file, error) == file.filename();
    case NoFile::foreignLink:
    case NoFile::userJson:
        return fs::read_symlink(file, error) == foreignFile() &&
               test::readText(foreignFile()) == foreignText(kind, file) &&
               fs::status(foreignFile()).permissions() == fs::perms(0600);
    }
    return false;
}

// Opens the FIFO `file` for writing whenever something has waited 10 s to
// read it, so that a test of code that waits on it fails rather than hangs.
class FifoRelease {
public:
    explicit FifoRelease(fs::path file)
        : thread_([this, file = std::move(file)] {
              std::unique_lock lock(mutex_);
              while (!stopped_.wait_for(lock, std::chrono::seconds(10), [this] { return stopping_; })) {
                  waitedOn_ = true;
                  ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
              }
          }) {}
    ~FifoRelease() { stop(); }
    // Ends the watch; whether anything was waiting.
    bool stop() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        stopped_.notify_all();
        if (thread_.joinable()) thread_.join();
        return waitedOn_;
    }

private:
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    bool waitedOn_ = false;
    std::thread thread_;  // last: it uses the members above
};

// The bytes this process has read so far ("rchar", proc(5)).
std::uint64_t bytesRead() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        std::uint64_t count = 0;
        io >> count;
        if (key == "rchar:") return count;
    }
    return 0;
}

// The window's start over a stored file that is no file to read never waits
// on it nor reads it: it starts empty and says so. A FIFO or a
// device is left where it is and never written over; a huge file is set aside.
TEST(StoredSettings, AStoredFileThatIsNoRegularFileOrAHugeOneIsNeitherWaitedOnNorReadWhole) {
    const struct {
        const char* file;  // in the fixture's folder
        NoFile kind;
    } rows[] = {
        {"defaults.json", NoFile::huge},       {"support/queue.json", NoFile::huge},
        {"defaults.json", NoFile::fifo},       {"support/queue.json", NoFile::fifo},
        {"data/history.json", NoFile::fifo},   {"defaults.json", NoFile::device},
        {"defaults.json", NoFile::deviceLink}, {"data/history.json", NoFile::deviceLink},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + std::to_string(int(row.kind)));
        test::CoordinatorFixture fixture;
        const fs::path file = fixture.folder / row.file;
        const fs::path kept = file.parent_path() / (file.stem().string() + ".unreadable.json");
        fs::create_directories(fixture.folder / "data");
        place(row.kind, file);
        FifoRelease release(file);
        const std::uint64_t readBefore = bytesRead();
        {
            Start start(fixture, fixture.folder / "defaults.json");
            const std::string said = start.notice().toStdString();
            const std::string reason =
                row.kind == NoFile::deviceLink
                    ? "it is a link to \u201c" + linkedDevice().string() + "\u201d, outside its folder"
                    : "it is not a regular file";
            const std::string expected = row.kind == NoFile::huge
                                             ? "kept as " + kept.string()
                                             : "set aside either (" + reason + "), so " + file.string();
            EXPECT_NE(said.find(expected), std::string::npos) << said;
            for (const auto& store : kFailedSaves) store.save(start, 0);
        }
        EXPECT_FALSE(release.stop()) << "waited on";
        EXPECT_LT(bytesRead() - readBefore, 16u << 20) << "read whole";
        EXPECT_TRUE(row.kind == NoFile::huge ? leftAlone(row.kind, kept)
                                             : leftAlone(row.kind, file) && !fs::exists(fs::symlink_status(kept)));
    }
}

// Settings started over something that is no file to read are saved once it
// is gone: the next change writes all that was set since, presets too, and
// Quit then has nothing left to ask about.
TEST(StoredSettings, SettingsHeldByWhatWasNoFileAreSavedOnceItIsGone) {
    for (const NoFile kind : {NoFile::fifo, NoFile::socket, NoFile::linkLoop, NoFile::deviceLink}) {
        SCOPED_TRACE(int(kind));
        test::CoordinatorFixture fixture;
        const fs::path settings = fixture.folder / "defaults.json";
        fs::create_directories(fixture.folder / "data");
        place(kind, settings);
        {
            Start start(fixture, settings);
            ASSERT_NE(start.notice().toStdString().find("set aside either"), std::string::npos);
            start.presets.savePreset("Mine", {});
            start.flags.setFlag(QStringLiteral("hasSeenWelcome"), true);
            fs::remove(settings);
            start.flags.setFlag(QStringLiteral("flag0"), true);
            EXPECT_EQ(UserDefaults(settings).boolean("hasSeenWelcome"), true) << "written by the next change";
            start.shell->requestQuit();
            EXPECT_TRUE(start.unsavedQuestions.empty());
        }
        Start again(fixture, settings);
        EXPECT_EQ(again.presets.userPresets().size(), 1u);
        EXPECT_EQ(kFailedSaves[0].count(again), 1);
        EXPECT_EQ(again.notice(), QString());
    }
}

// A FIFO, a device node or a socket put in a store's place while the window
// runs, or a link to one, to a file of the user's or to itself, is never
// written over: the save is held and said, with the reason, and Quit asks.
// Once it is gone, the next save writes all.
TEST(StoredSettings, ANodePutInAStoresPlaceWhileRunningIsNeverWrittenOver) {
    const struct {
        std::size_t store;  // row of kFailedSaves
        NoFile kind;
    } rows[] = {
        {0, NoFile::deviceLink}, {0, NoFile::socket},      {1, NoFile::fifo},        {3, NoFile::deviceLink},
        {3, NoFile::device},     {3, NoFile::fifo},        {0, NoFile::foreignLink}, {3, NoFile::foreignLink},
        {3, NoFile::linkLoop},   {2, NoFile::foreignLink}, {2, NoFile::userJson},    {3, NoFile::userJson},
        {0, NoFile::userJson},
    };
    for (const auto& row : rows) {
        const auto& store = kFailedSaves[row.store];
        SCOPED_TRACE(std::string(store.name) + " " + std::to_string(int(row.kind)));
        test::CoordinatorFixture fixture;
        const fs::path settings = fixture.folder / "defaults.json";
        const fs::path file = fixture.folder / store.file;
        fs::create_directories(fixture.folder / "data");
        {
            Start start(fixture, settings);
            place(row.kind, file);
            store.save(start, 0);
            test::processEvents();
            EXPECT_TRUE(leftAlone(row.kind, file));
            const std::string reason = heldReason(row.kind);
            const std::string said = start.notice().toStdString();
            EXPECT_NE(said.find(file.string() + ": " + reason), std::string::npos) << said;
            EXPECT_EQ(said.find("could not be read"), std::string::npos) << "said as at launch: " << said;
            start.shell->requestQuit();
            EXPECT_EQ(start.unsavedQuestions.size(), 1u);
            if (!start.unsavedQuestions.empty()) {
                EXPECT_EQ(start.unsavedQuestions[0].at(0).report.reason, reason);
            }
            EXPECT_TRUE(leftAlone(row.kind, file));
            fs::remove(file);
            store.save(start, 1);
            test::processEvents();
            EXPECT_EQ(start.notice(), QString());
        }
        Start again(fixture, settings);
        EXPECT_EQ(store.count(again), 2);
    }
}

// The autostart entry as a FIFO, a device node, or a link to one (an entry
// masked by a link to a device) or to a file of the user's: ticking "Launch
// at login" leaves it as it is, and the switch springs back with the reason;
// unticking an entry masked while the window runs leaves the mask.
TEST(StoredSettings, AnAutostartEntryThatIsANodeOrLinksToOneIsLeftAsItIs) {
    const struct {
        NoFile kind;
        bool enabledBefore;  // a regular entry was written, then masked
    } rows[] = {
        {NoFile::deviceLink, false}, {NoFile::device, false},    {NoFile::fifo, false},
        {NoFile::socket, false},     {NoFile::deviceLink, true}, {NoFile::foreignLink, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(int(row.kind)) + (row.enabledBefore ? " enabled before" : ""));
        test::CoordinatorFixture fixture;
        const fs::path entry = fixture.folder / "autostart.desktop";
        BackgroundController background(AutostartEntry(entry), "/usr/bin/framewright");
        if (row.enabledBefore) {
            background.setLaunchAtLogin(true);
            ASSERT_TRUE(background.launchAtLogin());
            fs::remove(entry);
        }
        place(row.kind, entry);
        background.setLaunchAtLogin(!row.enabledBefore);
        EXPECT_TRUE(leftAlone(row.kind, entry));
        EXPECT_FALSE(background.launchAtLogin());
        // Unticked, the masked entry is off already: nothing to say.
        EXPECT_EQ(background.lastError().contains(QString::fromStdString(heldReason(row.kind))), !row.enabledBefore)
            << background.lastError().toStdString();
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

// The built program over a stored file that is no file to read (an older
// installation's settings included): the command line encodes and ends, the
// window comes up, encodes and quits, neither waiting on the file nor
// reading it whole, and the file is left as it was. A store that could not
// save over its file has Quit ask first.
TEST(StoredSettings, TheProgramNeitherWaitsOnNorReadsWholeAStoredFileThatIsNoRegularFile) {
    const fs::path source = test::generated(
        "short.mov", {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=1", "-c:v", "mpeg4"});
    ASSERT_FALSE(source.empty());
    const struct {
        const char* file;  // in the home folder
        NoFile kind;
        bool window;
        bool unsaved = false;  // Quit asks
    } rows[] = {
        {"config/Framewright/defaults.json", NoFile::fifo, false},
        {"config/Framewright/defaults.json", NoFile::deviceLink, false},
        {"config/Framewright/defaults.json", NoFile::huge, false},
        {".var/app/org.framewright.Framewright/config/Framewright/defaults.json", NoFile::fifo, false},
        {"config/Framewright/defaults.json", NoFile::fifo, true, true},
        {"data/Framewright/queue.json", NoFile::fifo, true, true},
        {"data/Framewright/history.json", NoFile::device, true, true},
        {"config/autostart/org.framewright.Framewright.desktop", NoFile::fifo, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + (row.window ? " window " : " command line ") +
                     std::to_string(int(row.kind)));
        test::TempDir home;
        const fs::path file = home / row.file, output = home / "media/clip_ProRes.mov";
        place(row.kind, file);
        // Killed if it waits; stopped short of what would take the machine's memory if it reads on.
        std::vector<std::string> command = {"timeout", "-s", "KILL", "60", "prlimit", "--as=4294967296"};
        if (row.window) {
            const auto window = test::encodingWindow(home, source, {"clip.mov"}, {"FW_QUIT_WHEN=" + output.string()});
            command.insert(command.end(), window.begin(), window.end());
        } else {
            const auto shell = test::isolatedWindow(home);
            command.insert(command.end(), shell.begin(), shell.end());
            fs::create_directories(output.parent_path());
            fs::copy_file(source, home / "media/clip.mov");
            command.insert(command.end(), {FW_PROGRAM, "--encode", "--codec", "prores", "--output",
                                           output.parent_path().string(), (home / "media/clip.mov").string()});
        }
        const auto result = test::runCommand(command);
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_TRUE(fs::exists(output));
        EXPECT_LT(result.peakResidentKilobytes, 256 << 10) << "read whole";
        EXPECT_EQ(result.standardError.find("answered unsavedQuitQuestion") != std::string::npos, row.unsaved)
            << result.standardError;
        EXPECT_TRUE(leftAlone(row.kind, file));
    }
}

// The built program started over settings that are no file to read: once
// that is gone, a signal's Quit writes the settings set since the start.
TEST(StoredSettings, TheProgramSavesSettingsAtASignalOnceWhatHeldThemIsGone) {
    for (const NoFile kind : {NoFile::fifo, NoFile::socket, NoFile::linkLoop, NoFile::deviceLink}) {
        SCOPED_TRACE(int(kind));
        test::TempDir home;
        const fs::path settings = home / "config/Framewright/defaults.json";
        const fs::path queue = home / "data/Framewright/queue.json";
        place(kind, settings);
        auto command = test::isolatedWindow(home);
        command.insert(command.end(), {FW_PROGRAM, test::touch(home / "clip.mov").string()});
        // Up once the file given is queued and saved.
        const auto [result, up] = test::runUntil(
            command, [&] { return fs::exists(queue); },
            [&](int process) {
                fs::remove(settings);
                ::kill(process, SIGTERM);
            });
        ASSERT_TRUE(up) << result.standardError;
        EXPECT_EQ(result.exitStatus, 128 + SIGTERM) << result.standardError;
        EXPECT_EQ(result.standardError.find("Framewright: "), std::string::npos) << result.standardError;
        EXPECT_EQ(UserDefaults(settings).boolean("DidMigrateFromSandboxContainer"), true);
    }
}

// The built program over a settings file linked to a file in a folder of its
// own folder (relative link): the link stays, the damaged bytes are kept
// beside the file it names, and the settings the start writes reach that file.
TEST(StoredSettings, TheProgramKeepsALinkedSettingsFileALink) {
    test::TempDir home;
    const fs::path settings = home / "config/Framewright/defaults.json";
    const fs::path target = home / "config/Framewright/mine/framewright.json";
    fs::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << "{damaged";
    fs::create_symlink("mine/framewright.json", settings);
    const fs::path kept = home / "config/Framewright/mine/framewright.unreadable.json";
    auto command = test::isolatedWindow(home);
    command.push_back(FW_PROGRAM);
    ASSERT_TRUE(upOnceSetAside(command, kept, target));
    EXPECT_TRUE(fs::is_symlink(settings));
    EXPECT_EQ(fs::read_symlink(settings), "mine/framewright.json");
    EXPECT_EQ(test::readText(kept), "{damaged");
}

}  // namespace
}  // namespace fw::app

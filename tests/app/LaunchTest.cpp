// Start-up: which mode the arguments select, the command-line mode without
// any display, and the single-instance hand-over.

#include "ProgramRun.h"
#include "UiTestSupport.h"
#include "app/ApplicationIdentity.h"
#include "app/LaunchArguments.h"
#include "app/SingleInstance.h"
#include "model/QueuePersistence.h"
#include "support/TestSupport.h"

#include <QLocalServer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TempDir;

TEST(Launch, OnlyTheExactWordAfterTheProgramPathSelectsTheCommandLine) {
    const struct {
        std::vector<std::string> arguments;
        bool selects;
    } rows[] = {
        {{"framewright", "--encode", "a.mov"}, true},
        {{"framewright", "a.mov", "--codec", "h264", "--encode"}, true},
        {{"--encode"}, false},
        {{"--encode", "a.mov"}, false},
        {{"framewright", "encode", "a.mov"}, false},
        {{"framewright", "-encode", "a.mov"}, false},
        {{"framewright", "--encode=x", "a.mov"}, false},
        {{"framewright", "--ENCODE", "a.mov"}, false},
        {{"framewright", " --encode"}, false},
        {{"framewright"}, false},
    };
    for (const auto& row : rows) EXPECT_EQ(selectsCommandLine(row.arguments), row.selects) << row.arguments.at(0);
}

// The runner works with no display, no platform plug-in named and an empty
// home, and the first run of any mode performs the migration.
TEST(Launch, CommandLineModeNeedsNoDisplayAndMigratesFirst) {
    TempDir home;
    const fs::path old = home / ".var/app" / kApplicationId / "data/Framewright";
    fs::create_directories(old);
    std::ofstream(old / "queue.json") << "[]";
    ASSERT_TRUE(test::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=0.3", "-c:v", "libx264",
                              "-pix_fmt", "yuv420p", (home / "clip.mp4").string()}));
    std::ofstream(home / "broken.mov") << "not a movie";
    // No display, no platform plug-in named, and a home of its own.
    std::vector<std::string> environment = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
    environment.push_back("HOME=" + home.path().string());
    environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    environment.push_back("XDG_DATA_HOME=" + (home / "data").string());
    const std::pair<const char*, int> rows[] = {{"clip.mp4", 0}, {"broken.mov", 1}};
    for (const auto& [input, status] : rows) {
        auto command = environment;
        command.insert(command.end(), {FW_PROGRAM, "--encode", "--codec", "h264", "--output", home.path().string(),
                                       (home / input).string()});
        const auto result = test::runCommand(command);
        EXPECT_EQ(result.exitStatus, status) << result.standardError;
    }
    EXPECT_FALSE(test::ffprobeJson(home / "clip_H264.mp4").empty());
    EXPECT_TRUE(fs::exists(home / "data/Framewright/queue.json")) << "the runner never writes the queue";
}

// Any start of the window without a display says how to go on and exits 2,
// instead of the windowing library aborting the process.
TEST(Launch, TheWindowWithoutADisplaySaysSoAndPointsToTheCommandLine) {
    TempDir home;
    const std::vector<std::string> environment = {"env",
                                                  "-u",
                                                  "DISPLAY",
                                                  "-u",
                                                  "WAYLAND_DISPLAY",
                                                  "-u",
                                                  "QT_QPA_PLATFORM",
                                                  "HOME=" + home.path().string(),
                                                  "XDG_CONFIG_HOME=" + (home / "config").string(),
                                                  "XDG_DATA_HOME=" + (home / "data").string(),
                                                  "XDG_RUNTIME_DIR=" + home.path().string()};
    const std::vector<std::string> rows[] = {{}, {"--help"}, {(home / "clip.mov").string()}};
    for (const auto& arguments : rows) {
        auto command = environment;
        command.push_back(FW_PROGRAM);
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto result = test::runCommand(command);
        SCOPED_TRACE(arguments.empty() ? std::string("no arguments") : arguments.front());
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_NE(result.standardError.find("the window needs a display"), std::string::npos) << result.standardError;
        EXPECT_NE(result.standardError.find("--encode"), std::string::npos) << result.standardError;
    }
}

// A launch is told its files were taken only once the first's receivers
// have returned. One that stops waiting before the first reads it is
// dropped; one of the previous build, which waits for no answer, is taken
// when it closes.
TEST(Launch, ASecondLaunchHandsItsFilesToTheFirst) {
    using enum SingleInstance::HandOff;
    using Peer = SingleInstance::Peer;
    TempDir folder;
    const QString name = QString::fromStdString((folder / "instance.socket").string());
    EXPECT_EQ(SingleInstance(name).handOff({{"/a.mov"}}), unreached) << "nobody listens yet";
    {
        std::ofstream(folder / "instance.socket") << "left by a crash";
        SingleInstance first(name);
        ASSERT_TRUE(first.listen()) << "a stale socket file is replaced";
        QSignalSpy activated(&first, &SingleInstance::activated);
        bool saved = true;
        first.setSavedCheck([&saved] { return saved; });
        std::future<SingleInstance::HandOff>* waiting = nullptr;  // a launch that waits for an answer
        QObject::connect(&first, &SingleInstance::activated, [&] {
            EXPECT_TRUE(!waiting || waiting->wait_for(200ms) == std::future_status::timeout)
                << "told before it was taken";
        });
        const struct {
            std::vector<fs::path> files;
            Peer peer;
            bool firstRuns;  // while the launch waits
            SingleInstance::HandOff handOff;
            qsizetype activations;  // so far
            bool saved = true;      // the first's queue, once it has queued them
        } rows[] = {
            {{"/media/a clip.mov", "/b\xC3\xA9.mov"}, Peer::answers, true, taken, 1},
            {{}, Peer::answers, true, taken, 2},
            {{"/gave up.mov"}, Peer::answers, false, unanswered, 2},
            {{"/previous build.mov"}, Peer::previousBuild, true, takenAsText, 3},
            {{"/d.mov"}, Peer::answers, true, taken, 4},
            {{"/caf\xE9.mov"}, Peer::answers, true, taken, 5},
            {{"/held.mov"}, Peer::answers, true, unsaved, 6, false},
        };
        for (const auto& row : rows) {
            saved = row.saved;
            auto launch = std::async(std::launch::async, [&] {
                return SingleInstance(name).handOff({row.files}, row.peer, row.firstRuns ? 10s : 100ms);
            });
            waiting = row.peer == Peer::answers ? &launch : nullptr;
            if (!row.firstRuns) launch.wait();
            while (launch.wait_for(5ms) != std::future_status::ready) QCoreApplication::processEvents();
            EXPECT_EQ(launch.get(), row.handOff);
            ASSERT_TRUE(QTest::qWaitFor([&] { return activated.size() >= row.activations; }));
            EXPECT_EQ(activated.size(), row.activations);
        }
        const auto files = [&](int index) { return activated.at(index).at(0).value<std::vector<fs::path>>(); };
        EXPECT_EQ(files(0), (std::vector<fs::path>{"/media/a clip.mov", "/b\xC3\xA9.mov"}));
        EXPECT_EQ(files(2), std::vector<fs::path>{"/previous build.mov"});
        EXPECT_EQ(files(4), std::vector<fs::path>{"/caf\xE9.mov"}) << "as bytes, not as text";
    }
    EXPECT_EQ(SingleInstance(name).handOff({}), unreached) << "gone with the first instance";
}

// A window that ends once the launch has looked longer than its reach time,
// its lock outliving its connection a moment: the launch takes its place.
TEST(Launch, AWindowEndingLateIsTakenOver) {
    TempDir home;
    auto holder = std::make_unique<DataFolderLock>(home.path());
    QLocalServer window;  // where a window of this session listens
    ASSERT_TRUE(window.listen(QString::fromStdString((home / "window.socket").string())));
    DataFolderLock lock(home.path());
    Launch launched{};
    const std::unique_ptr<QThread> launch(QThread::create([&] {
        SingleInstance instance(window.fullServerName());
        launched = claimDataFolder(lock, instance, {{"/b.mov"}}, 100ms, 10s);
    }));
    launch->start();
    ASSERT_TRUE(window.waitForNewConnection(10'000));
    std::this_thread::sleep_for(300ms);  // past the reach time
    window.close();                      // with the connection, unanswered
    std::this_thread::sleep_for(300ms);
    holder.reset();
    launch->wait();
    EXPECT_EQ(launched, Launch::first);
}

// What may lie at the data folder's lock file: only a regular file of its
// own is locked, a dead owner's record is no record, and nothing else there
// is followed, waited on or written: the built program says so, naming it,
// and leaves the queue alone. So does a launch (with no runtime folder) that
// meets another user's window, or another user's folder where it puts its
// socket. A window of the previous build is handed the files, answering nothing.
TEST(Launch, TheDataFolderLockTakesOnlyARegularFileOfItsOwn) {
    using State = DataFolderLock::State;
    enum class Place { nothing, deadOwnersRecord, link, pipe, linkToADevice, linkLoop, folder, device, hardLink };
    enum class Meets { nothing, previousBuildsWindow, othersWindow, othersSocketFolder };
    const struct {
        const char* name;
        Place place;
        State state;
        Meets meets = Meets::nothing;
    } rows[] = {
        {"nothing", Place::nothing, State::owned},
        {"a dead owner's record", Place::deadOwnersRecord, State::owned},
        {"a link to a file elsewhere", Place::link, State::unavailable},
        {"a named pipe", Place::pipe, State::unavailable},
        {"a link to a device", Place::linkToADevice, State::unavailable},
        {"a link loop", Place::linkLoop, State::unavailable},
        {"a folder", Place::folder, State::unavailable},
        {"a device", Place::device, State::unavailable},
        {"a hard link to a file elsewhere", Place::hardLink, State::unavailable},
        {"a previous build's window", Place::nothing, State::heldElsewhere, Meets::previousBuildsWindow},
        {"another user's window", Place::nothing, State::heldElsewhere, Meets::othersWindow},
        {"another user's socket folder", Place::nothing, State::owned, Meets::othersSocketFolder},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir home;
        const fs::path folder = home / "data/Framewright", file = folder / "instance.lock";
        fs::create_directories(folder);
        std::ofstream(folder / "elsewhere") << "/run/gone.socket\n42\n";
        std::ofstream(folder / "queue.json") << "[]";
        // A device node of the test's own, numbered as the null device (where one may be made).
        const fs::path device = row.place == Place::device ? file : home / "device";
        if ((row.place == Place::device || row.place == Place::linkToADevice) &&
            ::mknod(device.c_str(), S_IFCHR | 0600, ::makedev(1, 3)) != 0)
            continue;
        switch (row.place) {
        case Place::nothing:
        case Place::device: break;
        case Place::deadOwnersRecord: fs::copy_file(folder / "elsewhere", file); break;
        case Place::link: fs::create_symlink(folder / "elsewhere", file); break;
        case Place::pipe: ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); break;
        case Place::linkToADevice: fs::create_symlink(device, file); break;
        case Place::linkLoop: fs::create_symlink(file, file); break;
        case Place::folder: fs::create_directory(file); break;
        case Place::hardLink: fs::create_hard_link(folder / "elsewhere", file); break;
        }
        const fs::path socketFolder = home / ("framewright-" + std::to_string(::getuid())), socket = home / "old";
        if (row.meets == Meets::othersSocketFolder &&
            (!fs::create_directory(socketFolder) || ::chown(socketFolder.c_str(), 65534, 65534)))
            continue;  // no other user to be
        // A window holding the lock file, its record the previous build's, listening (as the user a launch
        // meets there) and answering nothing.
        int held = -1, window = -1;
        if (row.meets == Meets::previousBuildsWindow || row.meets == Meets::othersWindow) {
            std::ofstream(file) << socket.string() << "\n4242\n";
            sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
            socket.native().copy(address.sun_path, sizeof address.sun_path - 1);
            held = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            window = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const bool listens = !::flock(held, LOCK_EX) && !::bind(window, (sockaddr*)&address, sizeof address) &&
                                 !::seteuid(row.meets == Meets::othersWindow ? 65534 : ::getuid()) &&
                                 !::listen(window, 1);
            if (::seteuid(::getuid()) || !listens) continue;
        }
        DataFolderLock first(folder);
        EXPECT_EQ(first.state(), row.state);
        EXPECT_EQ(test::readText(folder / "elsewhere"), "/run/gone.socket\n42\n");
        if (row.state != State::owned || row.meets != Meets::nothing) {
            std::vector<std::string> command{"timeout", "-s", "KILL", "30"};
            std::ranges::copy(test::isolatedWindow(home), std::back_inserter(command));
            const std::string b = (home / "b.mov").string();
            command.insert(command.end(), {"XDG_RUNTIME_DIR=", "TMPDIR=" + home.path().string(), FW_PROGRAM, b});
            const auto launch = test::runCommand(command);
            const bool handed = row.meets == Meets::previousBuildsWindow;
            EXPECT_EQ(launch.exitStatus, handed ? 0 : 1);
            const std::string said = row.meets == Meets::nothing ? file.string() + " is a" : "another user";
            EXPECT_EQ(launch.standardError.find(said) != std::string::npos, !handed) << launch.standardError;
            EXPECT_EQ(test::readText(folder / "queue.json"), "[]");
            std::string told(4096, '\0');  // by the launch: nothing to another user's window
            const int at = ::accept(window, nullptr, nullptr);
            told.resize(std::max<ssize_t>(::read(at, told.data(), told.size()), 0));
            // To a previous build's window: its paths first, and no newline, which it would not wait for.
            EXPECT_TRUE(handed ? told.starts_with("[\"" + b + "\",") && told.find('\n') == std::string::npos
                               : told.empty())
                << told;
            for (const int descriptor : {held, window, at}) ::close(descriptor);
            continue;
        }
        DataFolderLock second(folder);
        EXPECT_EQ(second.state(), State::heldElsewhere);
        EXPECT_EQ(second.recorded().address, "") << "a dead owner's record";
        first.record("/run/user/1000/framewright.socket");
        EXPECT_EQ(second.recorded().address, "/run/user/1000/framewright.socket");
        EXPECT_EQ(second.recorded().processId, std::to_string(::getpid()));
    }
}

// Whether `holds` holds within `limit`, looked at every 20 ms.
bool within(std::chrono::seconds limit, const std::function<bool()>& holds) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!holds())
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
}

// Whether the process is stopped.
bool stopped(int process) {
    return test::readText("/proc/" + std::to_string(process) + "/stat").find(") T ") != std::string::npos;
}

// The sockets bound in `folder`: a window's listening one, and its end of
// each connection to it, accepted or not, until the window closes it.
int socketsIn(const fs::path& folder) {
    std::ifstream table("/proc/net/unix");
    int count = 0;
    for (std::string line; std::getline(table, line);) count += line.find(" " + folder.string() + "/") != line.npos;
    return count;
}

// The built program: two windows never share one data folder's queue,
// whatever their runtime folders and however the folder is spelt. A later
// launch hands its file to the first window, ending once it is queued, or,
// where it cannot reach it, or the window does not answer, says so and ends
// leaving the queue alone; where the first ends while it waits, it takes its
// place. A lock file deleted or swapped while the window runs opens no door.
// A launch with a data folder of its own opens its own window. The command
// line encodes beside a window, and a killed first window leaves the data
// folder to the next launch.
TEST(Launch, OneWindowPerDataFolderWhateverTheRuntimeFolder) {
    enum class Second { handsOver, refused, ownWindow, unanswered, takesOver };
    enum class LockFile { kept, deleted, swappedForAFile, swappedForAPipe, impossible };
    // While the second waits: stopped; stopped, then killed or quitting once the second has reached it;
    // stopped once it has saved the second's file (before answering), then killed, or until the second ends.
    enum class First { answers, stopped, killed, quits, killedOnceSaved, stoppedOnceSaved };
    const struct {
        const char* name;
        const char* runtime;  // the second launch's runtime folder
        const char* data;     // its data home
        bool firstRuntimeCleared;
        Second second;
        LockFile lockFile = LockFile::kept;
        First first = First::answers;
    } rows[] = {
        {"another runtime folder", "run2", "data", false, Second::handsOver},
        {"another runtime folder, the first's cleared", "run2", "data", true, Second::refused},
        {"the same runtime folder, another data folder", "run1", "data2", false, Second::ownWindow},
        {"another runtime folder, the lock file deleted", "run2", "data", false, Second::refused, LockFile::deleted},
        {"the same runtime folder through a link, the lock file deleted", "run1", "link", false, Second::handsOver,
         LockFile::deleted},
        {"another runtime folder, the lock file swapped", "run2", "data", false, Second::refused,
         LockFile::swappedForAFile},
        {"the same runtime folder as x/../data, a pipe swapped in", "run1", "x/../data", false, Second::handsOver,
         LockFile::swappedForAPipe},
        {"the first stopped", "run2", "data", false, Second::unanswered, LockFile::kept, First::stopped},
        {"no data folder possible, the first stopped", "run1", "data", false, Second::unanswered, LockFile::impossible,
         First::stopped},
        {"the first stopped, then killed", "run2", "data", false, Second::takesOver, LockFile::kept, First::killed},
        {"the first stopped, then quitting", "run2", "data", false, Second::takesOver, LockFile::kept, First::quits},
        {"the first killed once it saved the file", "run2", "data", false, Second::takesOver, LockFile::kept,
         First::killedOnceSaved},
        {"the first stopped once it saved the file", "run2", "data", false, Second::handsOver, LockFile::kept,
         First::stoppedOnceSaved},
    };
    const fs::path clip =
        test::generated("clip.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=0.3", "-c:v", "mpeg4"});
    ASSERT_FALSE(clip.empty());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir home;
        for (const char* name : {"run1", "run2", "run3", "media", "x", "data"}) fs::create_directories(home / name);
        for (const char* name : {"run1", "run2", "run3"})
            fs::permissions(home / name, fs::perms::owner_all);  // as a runtime folder is
        fs::create_directory_symlink(home / "data", home / "link");
        for (const char* name : {"a.mov", "b.mov", "c.mov"}) std::ofstream(home / "media" / name) << "movie";
        fs::create_directory(home / "caf\xE9");  // a Latin-1 name
        std::ofstream(home / "caf\xE9/a.mov") << "movie";
        const fs::path lockFile = home / "data/Framewright/instance.lock";
        // A file where the data folder goes: no queue either, the socket alone guards.
        const bool folder = row.lockFile != LockFile::impossible;
        if (!folder) std::ofstream(home / "data/Framewright") << "";
        const auto queueOf = [&](const char* data) { return test::readText(home / data / "Framewright/queue.json"); };
        const auto queues = [&](const char* data, const char* file) {
            const auto jobs = QueuePersistence::load(home / data / "Framewright");
            return std::ranges::count_if(jobs, [&](const auto& job) { return job->sourceURL().filename() == file; });
        };
        // A launch in `runtime` over `data`; but for the first, killed after 30 s should it never end.
        const auto launch = [&](const char* runtime, const char* data, std::vector<std::string> arguments,
                                bool first = false) {
            std::vector<std::string> command;
            if (!first) command = {"timeout", "-s", "KILL", "30"};
            const auto window = test::isolatedWindow(home);
            command.insert(command.end(), window.begin(), window.end());
            command.push_back("XDG_RUNTIME_DIR=" + (home / runtime).string());
            command.push_back("XDG_DATA_HOME=" + (home / data).string());
            if (first && (row.first == First::killedOnceSaved || row.first == First::stoppedOnceSaved))
                command.push_back("LD_PRELOAD=" FW_STOP_AFTER_SAVING);
            command.push_back(FW_PROGRAM);
            command.insert(command.end(), arguments.begin(), arguments.end());
            return command;
        };
        const std::string b = (home / "media/b.mov").string();
        const auto first =
            test::runCommand(launch("run1", "data", {(home / "caf\xE9/a.mov").string()}, true), [&](int pid) {
                EXPECT_TRUE(within(std::chrono::seconds(30),
                                   [&] { return folder ? queues("data", "a.mov") : socketsIn(home / "run1"); }));
                if (row.firstRuntimeCleared) fs::remove_all(home / "run1");
                switch (row.lockFile) {
                default: break;
                case LockFile::deleted: fs::remove(lockFile); break;
                case LockFile::swappedForAFile:
                    std::ofstream(home / "swapped") << "";
                    fs::rename(home / "swapped", lockFile);
                    break;
                case LockFile::swappedForAPipe:
                    fs::remove(lockFile);
                    ASSERT_EQ(::mkfifo(lockFile.c_str(), 0600), 0);
                    break;
                }
                if (row.first != First::answers && row.first < First::killedOnceSaved) ::kill(pid, SIGSTOP);
                const std::string before = queueOf("data");
                switch (row.second) {
                case Second::handsOver: {
                    const auto second = test::runCommand(launch(row.runtime, row.data, {b}));
                    ::kill(pid, SIGCONT);  // stopped once saved, past the second's wait
                    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
                    EXPECT_EQ(queues("data", "b.mov"), 1) << "told before it was queued";
                    break;
                }
                case Second::refused:
                case Second::unanswered: {
                    const auto second = test::runCommand(launch(row.runtime, row.data, {b}));
                    EXPECT_EQ(second.exitStatus, 1) << second.standardError;
                    const char* failure = row.second == Second::refused ? "could not be reached" : "did not answer";
                    EXPECT_NE(second.standardError.find(failure), std::string::npos) << second.standardError;
                    EXPECT_NE(second.standardError.find((home / "data/Framewright").string()), std::string::npos);
                    EXPECT_EQ(queueOf("data"), before);
                    if (row.second == Second::refused) break;
                    // Going on, it drops the launch that has given up, and takes the next.
                    ::kill(pid, SIGCONT);
                    const auto again = test::runCommand(launch(row.runtime, row.data, {b}));
                    EXPECT_EQ(again.exitStatus, folder ? 0 : 1) << again.standardError;  // saved or not
                    EXPECT_EQ(queues("data", "b.mov"), folder);
                    break;
                }
                case Second::ownWindow: {
                    const auto [second, queued] = test::runUntil(
                        launch(row.runtime, row.data, {b}), [&] { return queues(row.data, "b.mov"); },
                        [](int process) { ::kill(process, SIGTERM); });
                    EXPECT_TRUE(queued) << second.standardError;
                    EXPECT_FALSE(queues("data", "b.mov"));
                    break;
                }
                case Second::takesOver: {
                    // Once the second has reached the stopped first, the first ends; the
                    // second ends once the first has queued its file (a first that quits
                    // may), or opens the window in its place.
                    bool window = false;
                    const auto second = test::runCommand(launch(row.runtime, row.data, {b}), [&](int process) {
                        EXPECT_TRUE(within(std::chrono::seconds(30), [&] {
                            return row.first == First::killedOnceSaved ? stopped(pid) : socketsIn(home / "run1") > 1;
                        }));
                        ::kill(pid, row.first == First::quits ? SIGTERM : SIGKILL);
                        ::kill(pid, SIGCONT);
                        // A window in its place is up (quits on a signal) once it has saved the queue.
                        const auto firstSaved = fs::last_write_time(home / "data/Framewright/queue.json");
                        EXPECT_TRUE(within(std::chrono::seconds(60), [&] {
                            siginfo_t end{};  // left to be waited for
                            window = socketsIn(home / row.runtime) > 0 &&
                                     fs::last_write_time(home / "data/Framewright/queue.json") != firstSaved;
                            return queues("data", "b.mov") &&
                                   (window || (::waitid(P_PID, process, &end, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                                               end.si_pid == process));
                        }));
                        ::kill(process, SIGTERM);
                    });
                    EXPECT_EQ(second.exitStatus, window ? 128 + SIGTERM : 0) << second.standardError;
                    EXPECT_TRUE(window || row.first == First::quits);
                    EXPECT_EQ(queues("data", "a.mov"), 1);
                    EXPECT_EQ(queues("data", "b.mov"), 1);
                    break;
                }
                }
                // The command line takes no part in it.
                auto encode =
                    launch(row.runtime, "data",
                           {"--encode", "--codec", "h264", "--output", (home / "media").string(), clip.string()});
                const auto encoded = test::runCommand(encode);
                EXPECT_EQ(encoded.exitStatus, 0) << encoded.standardError;
                EXPECT_TRUE(fs::exists(home / "media/clip_H264.mp4"));
                ::kill(pid, SIGKILL);
            });
        EXPECT_NE(first.exitStatus, 0);
        if (!folder) continue;
        EXPECT_EQ(queues("data", "b.mov"), row.second != Second::refused && row.second != Second::ownWindow);
        // Killed, the first window held nothing: the next launch has the folder (a pipe there keeps it shut).
        if (row.lockFile == LockFile::swappedForAPipe) fs::remove(lockFile);
        const auto [next, queued] = test::runUntil(
            launch("run3", "data", {(home / "media/c.mov").string()}),
            [&] { return queues("data", "a.mov") && queues("data", "c.mov"); },
            [](int process) { ::kill(process, SIGTERM); });
        EXPECT_TRUE(queued) << next.standardError;
    }
}

}  // namespace
}  // namespace fw::app
